// Write statements: the layout walk, record areas, record ends, delivery and write failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "driver/driver.h"
#include "driver/layouts.h"
#include "rtl/platform/platform.h"
#include "rtl/statements/io.h"
#include "rtl/units/unit_io.h"
#include "test_support.h"

namespace {

constexpr std::int32_t kUnit = 41;

using rtl::out_datum;
using rtl::OutDatum;

std::string walk(const rtl::Layout& layout, const std::vector<OutDatum>& items) {
  return test::written_by(kUnit, [&] { rtl::write_statement(kUnit, layout, items); });
}

TEST(Write, WalkRules) {
  struct Row {
    const char* what;
    rtl::Layout layout;
    std::vector<OutDatum> items;
    std::string bytes;
  };
  const std::string name256 = "data.fem" + std::string(248, ' ');
  const Row rows[] = {
      {"summary of 0",
       "(/,I6,A,/)",
       {out_datum(0), out_datum(" lines with found")},
       "\r\n     0 lines with found\r\n\r\n"},
      {"summary of 999999",
       "(/,I6,A,/)",
       {out_datum(999999), out_datum(" lines with found")},
       "\r\n999999 lines with found\r\n\r\n"},
      {"an integer that does not fit shows asterisks",
       "(/,I6,A,/)",
       {out_datum(1000000), out_datum(" lines with found")},
       "\r\n****** lines with found\r\n\r\n"},
      {"the minus sign stands beside the digits", "(I5)", {out_datum(-1)}, "   -1\r\n"},
      {"the most negative integer", "(I12)", {out_datum(INT32_MIN)}, " -2147483648\r\n"},
      {"a name keeps its trailing blanks",
       "(A,1P,4E16.8)",
       {out_datum("GRID    "), out_datum(1.0), out_datum(-1.0), out_datum(0.0), out_datum(123.456)},
       "GRID      1.00000000E+00 -1.00000000E+00  0.00000000E+00  1.23456000E+02\r\n"},
      {"a prompt of no characters", "(' ',A,$)", {out_datum("")}, " "},
      {"the failure record of the input question is written whole",
       "(A,A)",
       {out_datum(" Nonexisting file :"), out_datum(name256)},
       " Nonexisting file :" + name256 + "\r\n"},
      {"and of the output question",
       "(A,A)",
       {out_datum(" Cannot Open  :"), out_datum(name256)},
       " Cannot Open  :" + name256 + "\r\n"},
      {"a move that nothing follows does not lengthen the record", "('ab',TR5)", {}, "ab\r\n"},
      {"a move that something follows leaves blanks", "('ab',TR3,'c')", {}, "ab   c\r\n"},
      {"nor does a move that only an empty text follows", "('ab',TR3,'')", {}, "ab\r\n"},
      {"text after the last field is still written",
       "(TR5,'ERROR CODE =',I5,'  (SYSTEM PARAMETER)')",
       {out_datum(29)},
       "     ERROR CODE =   29  (SYSTEM PARAMETER)\r\n"},
      {"the walk stops at a field without an item", "('a',I3,'b')", {}, "a\r\n"},
      {"Aw wider than the item right-aligns it", "(A6)", {out_datum("ab")}, "    ab\r\n"},
      {"Aw narrower than the item cuts it", "(A2)", {out_datum("abcdef")}, "ab\r\n"},
      {"a record end on an empty record gives an empty record", "(/,/)", {}, "\r\n\r\n\r\n"},
      {"the scale factor holds for the fields after it only",
       "(E16.8,1P,E16.8)",
       {out_datum(1.0), out_datum(1.0)},
       "  0.10000000E+01  1.00000000E+00\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(walk(row.layout, row.items), row.bytes);
  }
}

TEST(Write, StatementsStartAfresh) {
  static constexpr rtl::Layout kScaled{"(1P,E16.8)"};
  static constexpr rtl::Layout kPlain{"(E16.8)"};
  std::string bytes = test::written_by(kUnit, [] {
    rtl::write<kScaled>(kUnit, 2.0);
    rtl::write<kPlain>(kUnit, 2.0);
  });
  EXPECT_EQ(bytes, "  2.00000000E+00\r\n  0.20000000E+01\r\n");
}

TEST(Write, PromptWriterTakesAtMostEightyCharacters) {
  const std::string long_text(100, 'q');
  struct Row {
    std::int32_t length;
    std::string bytes;
  } rows[] = {
      {-5, " "}, {0, " "}, {3, " qqq"}, {80, " " + std::string(80, 'q')}, {100, " " + std::string(80, 'q')}};
  for (const Row& row : rows) {
    EXPECT_EQ(test::written_by(kUnit, [&] { quil::write_prompt(kUnit, long_text.c_str(), row.length); }),
              row.bytes);
  }
}

// A record area of one column must grow to hold every record, and the bytes stay the same.
TEST(Write, TinyRecordAreaGrows) {
  auto saved = rtl::initial_sizes();
  rtl::initial_sizes().record_area = 1;
  const std::string long_text(1500, 'z');
  std::string bytes = test::written_by(kUnit, [&] {
    rtl::write_statement(kUnit, quil::kBannerLayout, {});
    OutDatum d[] = {out_datum(" Nonexisting file :"), out_datum(std::string_view(long_text))};
    rtl::write_statement(kUnit, quil::kTwoTextLayout, d);
  });
  rtl::initial_sizes() = saved;
  EXPECT_EQ(bytes.size(), 54 + 2 + 17 * 61 + 19 + 1500 + 2);
  EXPECT_EQ(bytes.substr(bytes.size() - 4), "zz\r\n");
}

// The data record's own statement writes exactly what the walk writes, and after it the walk still
// starts from a blank area. A unit connected with a record length refuses a longer record (66).
TEST(Write, DataRecordsAndRecordLengths) {
  static constexpr rtl::Layout kData{"(A,1P,4E16.8)"};
  static constexpr rtl::Layout kMoved{"(TR70,'x')"};
  static constexpr rtl::Layout kLonger{"(TR71,'x')"};
  const double rows[][4] = {{1.0, -1.0, 0.0, 123.456}, {0x1p-1074, -0x1.fffffffffffffp+1023, NAN, -INFINITY}};
  for (const auto& v : rows) {
    std::string fast = test::written_by(kUnit, [&] {
      rtl::write<kData>(kUnit, "GRID    ", v[0], v[1], v[2], v[3]);
      rtl::write<kMoved>(kUnit);
    });
    std::string walked = walk(
        kData, {out_datum("GRID    "), out_datum(v[0]), out_datum(v[1]), out_datum(v[2]), out_datum(v[3])});
    EXPECT_EQ(fast, walked + std::string(70, ' ') + "x\r\n");
  }
  std::string path = test::temp_path("recl");
  for (bool data_record : {true, false}) {
    test::FatalRoad road;
    rtl::ConnectRequest req;
    req.name = path.c_str();
    req.name_length = path.size();
    req.has_record_length = true;
    req.record_length = 71;
    req.return_errors = true;
    ASSERT_EQ(rtl::connect(kUnit, req), 0);
    int status = -1;
    try {
      if (data_record) {
        rtl::write<kData>(kUnit, "GRID    ", 1.0, 2.0, 3.0, 4.0);
      } else {
        rtl::write<kLonger>(kUnit);
      }
    } catch (const test::Ended& e) {
      status = e.status;
    }
    EXPECT_EQ(status, static_cast<int>(0xC0000042u));
    EXPECT_EQ(road.error_output(),
              "rtl: severe (66): output statement overflows record, unit 41, file " + path + "\r\r\n");
  }
}

// A file that is written loses its old contents from the first record on, buffered or not.
TEST(Write, FirstRecordCutsTheOldContents) {
  static constexpr rtl::Layout kLine{"(A)"};
  for (bool buffered : {false, true}) {
    SCOPED_TRACE(buffered ? "buffered" : "unbuffered");
    test::set_env("RTL_BUFFERED", buffered ? "yes" : "no");
    std::string path = test::temp_path("old");
    test::write_file(path, std::string(5000, 'o'));
    ASSERT_EQ(test::connect_named(kUnit, path), 0);
    rtl::write<kLine>(kUnit, "first");
    rtl::write<kLine>(kUnit, "second");
    rtl::release(kUnit);
    EXPECT_EQ(test::read_file(path), "first\r\nsecond\r\n");
    test::unset_env("RTL_BUFFERED");
  }
}

// The seam around the system's write: interruptions and short writes are carried on, a refusal is
// "error during write" with the system's own text before the report.
struct WriteScript {
  static inline int calls = 0;
  static inline int fail_on = -1;
  static std::int64_t interrupt_then_short(std::intptr_t fd, const void* data, std::size_t size, int* error) {
    ++calls;
    if (calls % 3 == 1) {
      *error = rtl::platform::interrupted_code();
      return -1;
    }
    if (calls == fail_on) {
      *error = rtl::platform::no_space_code();
      return -1;
    }
    std::size_t n = size > 3 ? 3 : size;  // never more than three bytes at a time
    return rtl::platform::real_raw_write(fd, data, n, error);
  }
};

TEST(Write, InterruptedAndShortWritesStillDeliverEveryByte) {
  static constexpr rtl::Layout kLine{"(A)"};
  WriteScript::calls = 0;
  WriteScript::fail_on = -1;
  rtl::platform::set_raw_write(WriteScript::interrupt_then_short);
  std::string bytes = test::written_by(kUnit, [] {
    rtl::write<kLine>(kUnit, "a record longer than three bytes");
    rtl::write<kLine>(kUnit, "and another");
  });
  rtl::platform::set_raw_write(nullptr);
  EXPECT_EQ(bytes, "a record longer than three bytes\r\nand another\r\n");
  EXPECT_GT(WriteScript::calls, 20);
}

TEST(Write, RefusedWriteIsReportedAndEnds) {
  static constexpr rtl::Layout kLine{"(A)"};
  std::string path = test::temp_path("refused");
  int status = -1;
  {
    test::FatalRoad road;
    ASSERT_EQ(test::connect_named(kUnit, path), 0);
    rtl::write<kLine>(kUnit, "kept");
    WriteScript::calls = 1;
    WriteScript::fail_on = 3;
    rtl::platform::set_raw_write(WriteScript::interrupt_then_short);
    try {
      rtl::write<kLine>(kUnit, "lost");
    } catch (const test::Ended& e) {
      status = e.status;
    }
    rtl::platform::set_raw_write(nullptr);
    std::string err = road.error_output();
    EXPECT_EQ(err, test::system_error_line(rtl::platform::no_space_code()) +
                       "rtl: severe (38): error during write, unit 41, file " + path + "\r\r\n");
  }
  EXPECT_EQ(status, static_cast<int>(0xC0000026u));
  // The record before the failure stays; the unit was released by the exit handler.
  EXPECT_EQ(test::read_file(path).substr(0, 6), "kept\r\n");
  unlink(path.c_str());
}

}  // namespace
