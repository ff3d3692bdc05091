// One line at a time: what may stand in an interface file outside announced text records.
#include "driver/interface_file.h"

#include <gtest/gtest.h>

#include <random>

#include "rtl/vector.h"

namespace {

using quil::NotInterface;

const std::string kRecord = "GCOORD   1.000000000E+00-2.564999962E+01 -2.96328430E+01+5.382842541e+00";

TEST(InterfaceFile, LinesByTheRule) {
  const struct {
    std::string line;
    bool data_record;  // the line read as a data record
    NotInterface why;
  } rows[] = {
      {kRecord, true, NotInterface::no},
      {"        " + kRecord.substr(8), true, NotInterface::no},         // a continuation
      {"TDSET_2 ", true, NotInterface::no},                             // a short record
      {"        Load case 1, 100-year wave", false, NotInterface::no},  // a note: commas may stand there
      {"        a\tnote", false, NotInterface::no},
      {kRecord + "        ", true, NotInterface::no},  // blanks past the record
      {kRecord + "1", true, NotInterface::past_last_column},
      {"        a note that runs on and on past the seventy-second column of the line", false,
       NotInterface::past_last_column},
      {"gcoord  " + kRecord.substr(8), true, NotInterface::name_characters},
      {"1COORD  " + kRecord.substr(8), true, NotInterface::name_characters},
      {"SOL 159", true, NotInterface::name_characters},  // a blank inside the name
      {" GCOORD " + kRecord.substr(8), true, NotInterface::name_not_in_column_1},
      {"GCOORD,1,2,3", true, NotInterface::comma},
      {kRecord.substr(0, 30) + "," + kRecord.substr(31), true, NotInterface::comma},
      {"GCOORD\t1", true, NotInterface::tab},
      {"GCOORD  " + std::string(16, ' ') + "   1.0     2.0  ", true, NotInterface::blank_in_number},
      {"NAME          HS21", false, NotInterface::not_a_number},
      {kRecord.substr(0, 20) + '\x01' + kRecord.substr(21), false, NotInterface::binary},
      // A long line is judged at its 1,025th byte, a control byte where it stands before that.
      {std::string(1024, ' '), false, NotInterface::no},
      {std::string(1025, ' '), false, NotInterface::long_line},
      {std::string(1024, ' ') + '\0', false, NotInterface::long_line},
      {std::string(5000, '\0'), false, NotInterface::binary},
  };
  for (const auto& row : rows) {
    unsigned char byte = 0;
    std::size_t column = 0;
    EXPECT_EQ(quil::look_at_line(row.line, row.data_record, false, &byte, &column), row.why) << row.line;
  }
}

// The fast look at a record never passes what the close look refuses, and tells touching numbers as the
// record's columns do: records, continuations, numbers written from the left and lines shorter than a
// record, with one byte changed anywhere, to any byte the rule asks about.
TEST(InterfaceFile, TheFastLookAgreesWithTheCloseOne) {
  const char kBytes[] = {' ', ',', '\t', '\0', 'a', 'Z', '_', '0', '.', '-', '\x80', '\xFF', '@', '[', '`'};
  const std::string kRecords[] = {kRecord, "        " + kRecord.substr(8),
                                  "GCOORD  1.0E+00         -2.5E+01        7.0             3.0E+00         "};
  std::mt19937 random(7);
  quil::KnownNames known;
  int plain = 0, open = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string line = kRecords[i % 3].substr(0, i % 4 == 0 ? random() % 73 : 72);
    for (int k = random() % 3; k >= 0 && !line.empty(); --k)
      line[random() % line.size()] = kBytes[random() % sizeof kBytes];
    unsigned char byte = 0;
    std::size_t column = 0;
    const quil::Plain look = quil::plain_record(line, known);
    const bool fast = look != quil::Plain::no;
    plain += fast;
    bool touching = false;
    for (std::size_t at = 8; at < line.size(); at += 16) touching |= line[at] != ' ';
    ASSERT_TRUE(!fast || touching == (look == quil::Plain::touching)) << line;
    open += fast && (line.size() < 72 || i % 3 == 2);
    ASSERT_TRUE(!fast || quil::look_at_line(line, true, false, &byte, &column) == NotInterface::no) << line;
  }
  // Without the vector roads every line is looked at closely.
  EXPECT_TRUE(plain > 1000 || !QUIL_VECTOR) << plain;
  EXPECT_TRUE(open > 1000 || !QUIL_VECTOR) << open;
}

}  // namespace
