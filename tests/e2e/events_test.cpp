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

// A console event while the repaired file is written, at any moment and with or without blocks, leaves
// only whole records in it: the event waits for a write under way instead of cutting it short.
TEST(Events, EventsDuringTheRepairPassLeaveWholeRecords) {
  TempDir dir;
  const std::string in = "N        1.000000000E+00-2.500000000E-01 2.000000000E+02-3.000000000E+00\n";
  const std::string out = "N         1.00000000E+00 -2.50000000E-01  2.00000000E+02 -3.00000000E+00\r\n";
  std::string input;
  for (int i = 0; i < 300000; ++i) input += in;
  write_file(dir.file("in.fem"), input);
  input.clear();
  struct Event {
    int sig;
    const char* name;
    int status;
  } events[] = {{SIGINT, "control-C", 0}, {SIGQUIT, "control-BREAK", 1}, {SIGHUP, "window-CLOSE", 2}};
  for (int trial = 0; trial < 24; ++trial) {
    const Event& e = events[trial % 3];
    const char* buffered = trial % 4 == 3 ? "RTL_BUFFERED=0" : "RTL_BUFFERED=1";
    SCOPED_TRACE(std::string(e.name) + " " + buffered + " trial " + std::to_string(trial));
    Child child({.input = "in.fem\nout.fem\n", .env = {buffered}, .cwd = dir.path()});
    ASSERT_TRUE(child.wait_for_output(kOutputPrompt));
    usleep(static_cast<useconds_t>(5000 + (trial * 7919) % 60000));
    child.signal(e.sig);
    Result r = child.finish(60, false);
    EXPECT_EQ(r.err, std::string("rtl: error (200): program aborting due to ") + e.name + " event\r\r\n");
    EXPECT_EQ(r.status, e.status);
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
