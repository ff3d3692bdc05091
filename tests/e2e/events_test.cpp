// Console control events, delivered as real signals while the program waits or works.
#include <gtest/gtest.h>
#include <signal.h>

#include "e2e/harness.h"

namespace e2e {
namespace {

TEST(Events, SignalsAtTheFirstQuestion) {
  struct Case {
    int sig;
    const char* name;
    int status;
  } cases[] = {{SIGINT, "control-C", 0}, {SIGQUIT, "control-BREAK", 1}, {SIGHUP, "window-CLOSE", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    Child child({.cwd = dir.path()});
    ASSERT_TRUE(child.wait_for_output(kInputPrompt));
    child.signal(c.sig);
    Result r = child.finish(60, false);
    EXPECT_EQ(r.out, banner() + kInputPrompt);
    EXPECT_EQ(r.err, std::string("rtl: error (200): program aborting due to ") + c.name + " event\r\r\n");
    EXPECT_EQ(r.status, c.status);
  }
}

TEST(Events, TerminateKeepsItsDefaultAction) {
  TempDir dir;
  Child child({.cwd = dir.path()});
  ASSERT_TRUE(child.wait_for_output(kInputPrompt));
  child.signal(SIGTERM);
  Result r = child.finish(60, false);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.signal, SIGTERM);
}

// Closing the window while the repaired file is written leaves only whole records in it.
TEST(Events, HangUpDuringTheRepairPass) {
  for (const char* buffered : {"RTL_BUFFERED=0", "RTL_BUFFERED=1"}) {
    SCOPED_TRACE(buffered);
    TempDir dir;
    const std::string in = "N        1.000000000E+00-2.500000000E-01 2.000000000E+02-3.000000000E+00\n";
    const std::string out = "N         1.00000000E+00 -2.50000000E-01  2.00000000E+02 -3.00000000E+00\r\n";
    std::string input;
    for (int i = 0; i < 3000000; ++i) input += in;
    write_file(dir.file("in.fem"), input);
    input.clear();
    Child child({.input = "in.fem\nout.fem\n", .env = {buffered}, .cwd = dir.path()});
    ASSERT_TRUE(child.wait_for_output(kOutputPrompt));
    for (int i = 0; i < 500 && read_file(dir.file("out.fem")).size() < 74 * 1000; ++i) usleep(2000);
    child.signal(SIGHUP);
    Result r = child.finish(60, false);
    EXPECT_EQ(r.err, "rtl: error (200): program aborting due to window-CLOSE event\r\r\n");
    EXPECT_EQ(r.status, 2);
    std::string written = read_file(dir.file("out.fem"));
    ASSERT_EQ(written.size() % 74, 0u);
    for (std::size_t i = 0; i < written.size(); i += 74) {
      if (written.compare(i, 74, out) != 0) {
        ADD_FAILURE() << "record " << i / 74 << " differs";
        break;
      }
    }
  }
}

}  // namespace
}  // namespace e2e
