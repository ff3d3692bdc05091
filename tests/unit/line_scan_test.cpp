// The line count that places the parts of a file: held against a count made a byte at a time, for lines
// of every length, Ctrl-Z lines lone or not, and the read blocks' ends falling anywhere in them.
#include "rtl/units/line_scan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "rtl/platform/platform.h"
#include "unit/test_support.h"

namespace {

// Lines of the bytes [from, to), and whether one of them is a Ctrl-Z alone (a CR before its LF aside).
std::pair<std::int64_t, bool> reference(const std::string& s, std::size_t from, std::size_t to) {
  std::int64_t lines = 0;
  bool lone = false;
  for (std::size_t begin = from; begin < to;) {
    std::size_t end = s.find('\n', begin);
    end = end == std::string::npos || end >= to ? to : end;
    const std::string line = s.substr(begin, end - begin);
    lone = lone || line == "\x1a" || line == "\x1a\r";
    ++lines;
    begin = end + 1;
  }
  return {lines, lone};
}

TEST(LineScan, CountsLinesAsTheyAreRead) {
  const std::string line = "GNODE    1.000000000E+00 1.000000000E+00 6.000000000E+00 1.234560000E+05\r\n";
  std::string big;
  while (big.size() < 600000) big += line;
  const std::size_t block = 1 << 18;
  struct Row {
    std::string content;
    std::size_t from, to;
  };
  const Row rows[] = {
      {"", 0, 0},
      {"a\nb\n", 0, 4},
      {"a\nb", 0, 3},  // a last line without its end
      {"a\n\x1a\nb\n", 0, 6},
      {"a\n\x1a\r\nb\n", 2, 7},
      {"a\nx\x1a\nb\n", 0, 7},  // a Ctrl-Z that is not alone on its line
      {big, 0, big.size()},
      {big, 75, 300000},  // a part of the file
      // A lone Ctrl-Z line across the end of the first read block, and just after it.
      {big.substr(0, block - 1) + "\n\x1a\r\n" + big, 0, big.size() + block + 3},
      {big.substr(0, block) + "\x1a\n" + big, 0, big.size() + block + 2},
      {big + "\x1a", 0, big.size() + 1},
      {std::string(9000, '\n'), 0, 9000},  // more line ends in a column than a byte counts
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.content.size()) + " bytes from " + std::to_string(row.from));
    const std::string path = test::temp_path("scan.fem");
    test::write_file(path, row.content);
    bool lone = false;
    const std::int64_t lines = rtl::count_lines(path.c_str(), static_cast<std::int64_t>(row.from),
                                                static_cast<std::int64_t>(row.to), &lone);
    std::remove(path.c_str());
    const auto [want_lines, want_lone] = reference(row.content, row.from, row.to);
    EXPECT_EQ(lines, want_lines);
    EXPECT_EQ(lone, want_lone);
  }
}

}  // namespace
