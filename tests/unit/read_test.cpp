// Record reading and the step back, with record buffers small enough to force every growth path.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "rtl/statements/io.h"
#include "rtl/units/unit_io.h"
#include "test_support.h"

namespace {

constexpr std::int32_t kUnit = 42;
constexpr rtl::Layout kText{"(A)"};
constexpr rtl::Layout kData{"(A8,4E16.8)"};
constexpr rtl::Layout kThreeText{"(A3,A5,A)"};
constexpr rtl::Handlers kBoth{true, true};

// Reads every record of `content` as 20-character texts until the end of file.
std::vector<std::string> records(const std::string& content, std::size_t buffer) {
  rtl::initial_sizes().record_buffer = buffer;
  test::connect_reading(kUnit, content);
  std::vector<std::string> out;
  for (int guard = 0; guard < 100; ++guard) {
    char text[20];
    int rc = rtl::read<kText>(kUnit, kBoth, std::span<char>(text));
    if (rc != 0) break;
    out.emplace_back(text, sizeof text);
  }
  rtl::release(kUnit);
  rtl::initial_sizes() = {};
  return out;
}

std::string blank_padded(std::string s) {
  s.resize(20, ' ');
  return s;
}

TEST(Read, RecordsEndAtLineFeeds) {
  const std::string long_line(45, 'L');
  struct Row {
    const char* what;
    std::string content;
    std::vector<std::string> texts;
  } rows[] = {
      {"an empty file", "", {}},
      {"a last line without a line end", "one\ntwo", {"one", "two"}},
      {"a long last line without a line end", "one\n" + long_line, {"one", long_line.substr(0, 20)}},
      {"CR LF and LF alike", "a\r\nb\n", {"a", "b"}},
      {"CR CR LF keeps one CR", "a\r\r\n", {"a\r"}},
      {"a lone CR is data", "a\rb\n", {"a\rb"}},
      {"a Ctrl-Z line ends the input", "a\n\x1a\nb\n", {"a"}},
      {"a Ctrl-Z last line without a line end", "a\n\x1a", {"a"}},
      {"a Ctrl-Z in a longer line is data", "\x1a\x1a\n", {"\x1a\x1a"}},
      {"an empty line", "\n", {""}},
      {"a line longer than the buffer", long_line + "\nz\n", {long_line.substr(0, 20), "z"}},
      // A model's lines, and lines beyond the first 80 bytes that a line end is looked for in at once.
      {"lines of 74 and 101 bytes",
       "a\n" + std::string(72, 'M') + "\r\n" + std::string(100, 'W') + "\nz\n",
       {"a", std::string(20, 'M'), std::string(20, 'W'), "z"}},
      {"NUL bytes are data", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (std::size_t buffer : {2u, 3u, 7u, 64u, 65536u}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(testing::Message() << row.what << ", buffer " << buffer);
      std::vector<std::string> expected;
      for (const auto& t : row.texts) expected.push_back(blank_padded(t));
      EXPECT_EQ(records(row.content, buffer), expected);
    }
  }
}

TEST(Read, FieldsAreCutByColumn) {
  struct Row {
    const char* what;
    std::string line;
    std::string name;
    double values[4];
    int outcome;
  } rows[] = {
      {"only a name", "NODE", "NODE    ", {0, 0, 0, 0}, 0},
      {"an empty line", "", "        ", {0, 0, 0, 0}, 0},
      {"touching fields",
       "GRID     1.000000000E+00-2.500000000E-01 2.000000000E+02-3.000000000E+00",
       "GRID    ",
       {1.0, -0.25, 200.0, -3.0},
       0},
      {"a comma ends a numeric field early", "GRID    1.0,2.0,3.0,4.0", "GRID    ", {1.0, 2.0, 3.0, 4.0}, 0},
      {"a comma at the field start gives zero", "GRID    ,,,5.", "GRID    ", {0, 0, 0, 5.0}, 0},
      {"a comma in the name is an ordinary character", "A,B,C,D 1.0", "A,B,C,D ", {1.0, 0, 0, 0}, 0},
      {"a comma in a record of 72 columns",
       "GRID    1.0,2.0" + std::string(57, ' '),
       "GRID    ",
       {1, 2, 0, 0},
       0},
      {"a word in a real field", "TEXT     some words here", "TEXT    ", {0, 0, 0, 0}, 64},
      {"columns after 72 are not looked at",
       "GRID     1.000000000E+00 1.000000000E+00 1.000000000E+00 1.000000000E+00 words",
       "GRID    ",
       {1, 1, 1, 1},
       0},
      {"nor is a comma after column 72",
       "GRID     1.000000000E+00 1.000000000E+00 1.000000000E+00 1.000000000E+00 a,b",
       "GRID    ",
       {1, 1, 1, 1},
       0},
      {"the record ends inside a field: blanks complete it",
       std::string("GRID    ") + " 1.0            " + " 2.0            " + "3",
       "GRID    ",
       {1, 2, 3e-8, 0},
       0},
  };
  // The data record's own statement and the layout walk must agree on every row.
  for (bool walk : {false, true}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.what) + (walk ? " (walk)" : ""));
      test::connect_reading(kUnit, row.line + "\n");
      char name[8];
      double v[4] = {-9, -9, -9, -9};
      const rtl::InDatum items[] = {rtl::in_datum(std::span<char>(name)), rtl::in_datum(v[0]),
                                    rtl::in_datum(v[1]), rtl::in_datum(v[2]), rtl::in_datum(v[3])};
      int rc = walk ? rtl::read_statement(kUnit, kData, kBoth, items)
                    : rtl::read<kData>(kUnit, kBoth, std::span<char>(name), v[0], v[1], v[2], v[3]);
      EXPECT_EQ(rc, row.outcome);
      EXPECT_EQ(std::string(name, 8), row.name);
      if (rc == 0) {
        for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i], row.values[i]) << i;
      }
      rtl::release(kUnit);
    }
  }
}

// The data record's own road and the walk agree on records whose fields the record ends inside or
// before, that are blank, or hold numbers written from the left and words, whether blanks are ignored or
// read as zeros: outcome, name and every value, bit for bit, stored or left as it was. A '$' or '(' in a
// field's last column looks to the data road like a blank there.
TEST(Read, TheDataRoadAgreesWithTheWalkOnOpenFields) {
  const std::string kPieces[] = {
      "1.5E+00", "-2.25D-03", "1.23456789+100", "INF", "NAN", "-Infinity", "1.0E+999", "7", "+", ".",
      "1 .5",    "e5",        "1.5E",           ",",   "\t",  "1.5E+00$",  "("};
  std::mt19937 random(11);
  std::string content;
  for (int i = 0; i < 4000; ++i) {
    std::string line = "GRID    ";
    for (int f = 0; f < 4; ++f) {
      const std::string piece = random() % 4 == 0 ? "" : kPieces[random() % std::size(kPieces)];
      const std::size_t before = random() % (17 - piece.size());
      line += std::string(before, ' ') + piece + std::string(16 - piece.size() - before, ' ');
    }
    content += line.substr(0, random() % 2 ? 72 : random() % 73) + "\n";
  }
  const std::string path = test::temp_path("open-fields");
  test::write_file(path, content);
  for (const char* blanks : {"NULL", "ZERO"}) {
    SCOPED_TRACE(blanks);
    for (const std::int32_t unit : {kUnit, kUnit + 1, kUnit + 2}) {
      rtl::ConnectRequest request{path.c_str(), path.size()};
      request.status = "OLD";
      request.status_length = 3;
      request.blank = blanks;
      request.blank_length = 4;
      request.share = "DENYNONE";  // (the three units read one file; Windows refuses a second open else)
      request.share_length = 8;
      ASSERT_EQ(rtl::connect(unit, request), 0);
    }
    for (int i = 0; i < 4000; ++i) {
      // The walk, the statement with its items, and the one with an array, as the repair reads.
      char names[3][8];
      double values[3][4] = {{-9, -9, -9, -9}, {-9, -9, -9, -9}, {-9, -9, -9, -9}};
      const rtl::InDatum items[] = {rtl::in_datum(std::span<char>(names[0])), rtl::in_datum(values[0][0]),
                                    rtl::in_datum(values[0][1]), rtl::in_datum(values[0][2]),
                                    rtl::in_datum(values[0][3])};
      const int walked = rtl::read_statement(kUnit, kData, kBoth, items);
      ASSERT_EQ(rtl::read<kData>(kUnit + 1, kBoth, std::span<char>(names[1]), values[1][0], values[1][1],
                                 values[1][2], values[1][3]),
                walked);
      ASSERT_EQ(rtl::read_data_record(kUnit + 2, kBoth, names[2], values[2]), walked);
      for (int road = 1; road < 3; ++road) {
        ASSERT_EQ(std::memcmp(names[0], names[road], 8), 0) << i;
        ASSERT_EQ(std::memcmp(values[0], values[road], sizeof values[0]), 0) << i << " " << road;
      }
    }
    for (const std::int32_t unit : {kUnit, kUnit + 1, kUnit + 2}) rtl::release(unit);
  }
  std::remove(path.c_str());
}

// A line that outgrows the unit's longest line fails the read, however the buffer grew, and is not held
// beyond it; the bytes held are at hand.
TEST(Read, ALineLongerThanTheLongestFails) {
  for (std::size_t buffer : {2u, 5u, 16u}) {
    SCOPED_TRACE(buffer);
    rtl::initial_sizes().record_buffer = buffer;
    test::connect_reading(kUnit, "12345678\n" + std::string(100, 'x') + "\n");
    rtl::limit_lines(kUnit, 8);
    char text[8];
    EXPECT_EQ(rtl::read<kText>(kUnit, kBoth, std::span<char>(text)), 0);
    EXPECT_EQ(rtl::read<kText>(kUnit, kBoth, std::span<char>(text)), 22);
    const std::string_view held = rtl::unended_line(kUnit);
    EXPECT_TRUE(held.size() > 8 && held.size() <= 16 && held.find_first_not_of('x') == held.npos) << held;
    rtl::release(kUnit);
    rtl::initial_sizes() = {};
  }
}

TEST(Read, CharacterFields) {
  // A3 and A5 cut by column; an A field wider than its item keeps the rightmost characters.
  static constexpr rtl::Layout kNarrowItem{"(A6)"};
  test::connect_reading(kUnit, "abcdefghij,kl\nxy\n");
  char a[3], b[5], c[4];
  ASSERT_EQ(rtl::read<kThreeText>(kUnit, kBoth, std::span<char>(a), std::span<char>(b), std::span<char>(c)),
            0);
  EXPECT_EQ(std::string(a, 3), "abc");
  EXPECT_EQ(std::string(b, 5), "defgh");
  EXPECT_EQ(std::string(c, 4), "ij,k");
  char d[2];
  ASSERT_EQ(rtl::read<kNarrowItem>(kUnit, kBoth, std::span<char>(d)), 0);
  EXPECT_EQ(std::string(d, 2), "  ");  // columns 5 and 6 of "xy" are supplied blanks
  rtl::release(kUnit);
}

std::string read_text() {
  char text[12];
  int rc = rtl::read<kText>(kUnit, kBoth, std::span<char>(text));
  if (rc == -1) return "<end>";
  if (rc != 0) return "<failure>";
  std::string s(text, sizeof text);
  return s.substr(0, s.find_last_not_of(' ') + 1);
}

TEST(Read, StepBack) {
  const std::string content = "first\nsecond\nthird line\n";
  struct Row {
    const char* what;
    std::vector<const char*> steps;  // "r" reads, "b" steps back
    std::vector<std::string> texts;
  } rows[] = {
      {"before any read", {"b", "r"}, {"first"}},
      {"after the first record", {"r", "b", "r"}, {"first", "first"}},
      {"after a later record", {"r", "r", "b", "r", "r"}, {"first", "second", "second", "third line"}},
      {"twice in a row", {"r", "r", "r", "b", "b", "r"}, {"first", "second", "third line", "second"}},
      {"after the end of file",
       {"r", "r", "r", "r", "b", "r", "r"},
       {"first", "second", "third line", "<end>", "third line", "<end>"}},
  };
  for (std::size_t buffer : {2u, 5u, 9u, 65536u}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(testing::Message() << row.what << ", buffer " << buffer);
      rtl::initial_sizes().record_buffer = buffer;
      test::connect_reading(kUnit, content);
      std::vector<std::string> got;
      for (const char* step : row.steps) {
        if (*step == 'r') {
          got.push_back(read_text());
        } else {
          EXPECT_EQ(rtl::backspace(kUnit, true), 0);
        }
      }
      EXPECT_EQ(got, row.texts);
      rtl::release(kUnit);
      rtl::initial_sizes() = {};
    }
  }
}

TEST(Read, StepBackAfterAFailedRecordReturnsItAsText) {
  test::connect_reading(kUnit, "NODE 1\nTEXT     words\nlast\x1a\n\x1a\nafter\n");
  char name[8], copy[12];
  double v[4];
  auto data = [&] { return rtl::read<kData>(kUnit, kBoth, std::span<char>(name), v[0], v[1], v[2], v[3]); };
  EXPECT_EQ(data(), 0);
  EXPECT_EQ(data(), 64);
  EXPECT_EQ(rtl::backspace(kUnit), 0);
  EXPECT_EQ(rtl::read<kText>(kUnit, rtl::Handlers{true, false}, std::span<char>(copy)), 0);
  EXPECT_EQ(std::string(copy, 12), "TEXT     wor");
  EXPECT_EQ(data(), 0);   // "last^Z" is a record: its field is blank
  EXPECT_EQ(data(), -1);  // the Ctrl-Z line
  // After the Ctrl-Z line the step back returns to it, so the end of file comes again.
  EXPECT_EQ(rtl::backspace(kUnit), 0);
  EXPECT_EQ(data(), -1);
  rtl::release(kUnit);
}

TEST(Read, EndOfFileWithOnlyAnErrorHandlerIsReported) {
  test::connect_reading(kUnit, "");
  int status = 0;
  {
    test::FatalRoad road;
    char text[4];
    try {
      rtl::read<kText>(kUnit, rtl::Handlers{false, true}, std::span<char>(text));
    } catch (const test::Ended& e) {
      status = e.status;
    }
    EXPECT_NE(road.error_output().find("rtl: severe (24): end-of-file during read, unit 42, file "),
              std::string::npos);
  }
  EXPECT_EQ(status, static_cast<int>(0xC0000018u));
}

// The step back needs a file that can be positioned.
TEST(Read, StepBackOnAStreamIsRefused) {
  ASSERT_EQ(test::connect_named(kUnit, "NUL"), 0);
  EXPECT_EQ(rtl::backspace(kUnit, true), 264);
  rtl::release(kUnit);
}

}  // namespace

namespace {

// A file removed while it is connected is still read to its end.
TEST(Read, FileRemovedWhileConnected) {
  rtl::initial_sizes().record_buffer = 4;
  test::connect_reading(kUnit, "first\nsecond\n");  // the file's name is gone already
  EXPECT_EQ(read_text(), "first");
  EXPECT_EQ(read_text(), "second");
  EXPECT_EQ(read_text(), "<end>");
  rtl::release(kUnit);
  rtl::initial_sizes() = {};
}

}  // namespace

namespace {

// The seam around the system's read: interruptions and reads of one byte still give whole records;
// a refused read is "error during read" for a statement that handles errors.
struct ReadScript {
  static inline int calls = 0;
  static inline bool refuse = false;
  static std::int64_t dribble(std::intptr_t fd, void* data, std::size_t size, int* error) {
    if (++calls % 2 == 1) {
      *error = rtl::platform::interrupted_code();
      return -1;
    }
    if (refuse) {
      *error = rtl::platform::no_space_code();
      return -1;
    }
    return rtl::platform::real_raw_read(fd, data, size > 0 ? 1 : 0, error);
  }
};

TEST(Read, InterruptedAndOneByteReads) {
  ReadScript::calls = 0;
  ReadScript::refuse = false;
  test::connect_reading(kUnit, "first\r\nsecond");
  rtl::platform::set_raw_read(ReadScript::dribble);
  EXPECT_EQ(read_text(), "first");
  EXPECT_EQ(read_text(), "second");
  EXPECT_EQ(read_text(), "<end>");
  ReadScript::refuse = true;
  EXPECT_EQ(read_text(), "<failure>");
  rtl::platform::set_raw_read(nullptr);
  rtl::release(kUnit);
}

}  // namespace
