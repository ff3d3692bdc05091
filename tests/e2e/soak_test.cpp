// Generated lines through the real program (two million with the slow tests): one output record per input
// line, each 72 characters and CR LF, text records copied, every repaired field starting with a blank.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "e2e/harness.h"

namespace e2e {
namespace {

TEST(Soak, GeneratedLines) {
  TempDir dir;
#if defined(QUIL_SLOW_TESTS)
  const long lines = 2000000;
#else
  const long lines = 200000;
#endif
  std::string generate =
      std::string(QUIL_GENERATOR) + " " + std::to_string(lines) + " > " + dir.file("in.fem");
  ASSERT_EQ(std::system(generate.c_str()), 0);
  Result r = run({.input = "in.fem\nout.fem\n", .cwd = dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            banner() + kInputPrompt + kOutputPrompt +
                (lines > 999999 ? "\r\n****** lines with found\r\n\r\n" : summary(static_cast<int>(lines))));

  std::ifstream in(dir.file("in.fem"), std::ios::binary);
  std::ifstream out(dir.file("out.fem"), std::ios::binary);
  std::string input, output(74, '\0');
  long count = 0, copied = 0;
  while (std::getline(in, input)) {
    if (!input.empty() && input.back() == '\r') input.pop_back();
    ASSERT_TRUE(out.read(output.data(), 74)) << "output ends at record " << count;
    ASSERT_EQ(output.compare(72, 2, "\r\n"), 0) << "record " << count;
    if (input.compare(0, 11, "        LC_") == 0) {
      ASSERT_EQ(output.substr(0, 72), padded(input, 72)) << "record " << count;
      ++copied;
    } else {
      ASSERT_EQ(output.compare(0, 8, input, 0, 8), 0) << "record " << count;
      for (int column : {9, 25, 41, 57}) ASSERT_EQ(output[column - 1], ' ') << "record " << count;
    }
    ++count;
  }
  EXPECT_EQ(count, lines);
  EXPECT_FALSE(out.read(output.data(), 1)) << "output longer than the input";
  EXPECT_GT(copied, lines / 100);
}

}  // namespace
}  // namespace e2e
