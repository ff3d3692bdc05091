// The connection routine, its wrapper and the significant length of a name.
#include "fileconn/connect.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "fileconn/significant_length.h"
#include "rtl/statements/io.h"
#include "rtl/units/units.h"
#include "test_support.h"

namespace {

constexpr std::int32_t kMessages = 51;

TEST(SignificantLength, LastNonBlankPosition) {
  auto text = [](std::size_t last, char fill = 'x') {
    std::string s(256, ' ');
    for (std::size_t i = 0; i < last; ++i) s[i] = fill;
    return s;
  };
  struct Row {
    std::string text;
    std::int32_t declared;
    std::int32_t length;
  } rows[] = {
      {text(0), 256, 0},
      {text(26), 256, 26},  // the probe at 26 fails, the one at 51 succeeds, the scan
                            // from 51 finds 26
      {text(25), 256, 25},  // the first probe succeeds and the scan starts at 26
      {text(256), 256, 256},
      {text(180), 256, 180},
      {text(1), 256, 1},
      {"ab\t ", 4, 3},  // a tab is significant
      {"a", 0, 0},
      {"a", -3, 0},
      {"a ", 2, 1},  // no probe for lengths of 2 or less
      {" ", 1, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(quil::significant_length(row.text.data(), row.declared), row.length) << row.text.size();
  }
  // A blank run that a probe skips must not hide a later character.
  std::string gap = text(10);
  gap[200] = 'y';
  EXPECT_EQ(quil::significant_length(gap.data(), 256), 201);
}

std::string file_status(std::int32_t unit) {
  rtl::Unit* u = rtl::find_unit(unit, false);
  return u != nullptr && u->connected ? "connected" : "unconnected";
}

TEST(ConnectionRoutine, ResultsWithoutTouchingTheDisk) {
  struct Row {
    std::int32_t unit, access, record_length;
    std::int32_t result;
  } rows[] = {
      {0, 0, 0, quil::kBadUnit},
      {100, 0, 0, quil::kBadUnit},
      {-1, 0, 0, quil::kBadUnit},
      {52, 20, 0, quil::kBadRecordLength},
  };
  std::string name = test::temp_path("never-made");
  for (const Row& row : rows) {
    std::int32_t result = 77;
    quil::connect_file(name.c_str(), static_cast<std::int32_t>(name.size()), row.unit, 1, row.access, 1, 0,
                       row.record_length, 0, 0, result);
    EXPECT_EQ(result, row.result);
    EXPECT_NE(access(name.c_str(), F_OK), 0);
  }
}

std::string diagnostics(const std::function<void()>& call) { return test::written_by(kMessages, call); }

TEST(ConnectionRoutine, Diagnostics) {
  std::string missing = test::temp_path("missing.fem");
  std::string made = test::temp_path("made.fem");
  std::int32_t result = 0;

  EXPECT_EQ(diagnostics([&] { quil::connect_file("x", 1, 100, 1, 0, 1, 0, 0, 1, kMessages, result); }),
            "\r\n\r\n\r\n *** ERROR DURING OPENING OF FILE UNIT  100\r\n     ILLEGAL FILE UNIT\r\n");
  EXPECT_EQ(
      diagnostics([&] { quil::connect_file("x", 1, 52, 1, 20, 1, 0, -7, 1, kMessages, result); }),
      "\r\n\r\n\r\n *** ERROR DURING OPENING OF FILE UNIT   52\r\n     ILLEGAL RECORD LENGTH =   -7\r\n");
  EXPECT_EQ(diagnostics([&] {
              quil::connect_file(missing.c_str(), static_cast<std::int32_t>(missing.size()), 52, 2, 0, 1, 0,
                                 0, 1, kMessages, result);
            }),
            "\r\n\r\n\r\n *** ERROR DURING OPENING OF FILE UNIT   52\r\n     ERROR CODE =   29  (SYSTEM "
            "PARAMETER)\r\n");
  EXPECT_EQ(result, -29);
  EXPECT_EQ(file_status(52), "unconnected");

  // A success is described only when asked; the length is in characters for formatted direct files.
  EXPECT_EQ(diagnostics([&] {
              quil::connect_file(made.c_str(), static_cast<std::int32_t>(made.size()), 52, 1, 20, 1, 0, 10, 1,
                                 kMessages, result);
            }),
            "\r\n\r\n\r\n     FILE  " + made +
                "\r\n     IS OPENED ON UNIT NO.  52\r\n"
                "     FILE CHARACTERISTICS :\r\n          STATUS =UNKNOWN\r\n          ACCESS =DIRECT    \r\n"
                "          FORM   =FORMATTED  \r\n          LENGTH =   40 WORDS/BYTES PER RECORD (SECTOR)\r\n"
                "          BLANK  =NULL\r\n");
  EXPECT_EQ(result, 0);
  rtl::release(52);

  EXPECT_EQ(diagnostics([&] { quil::connect_file("ignored", 7, 52, 4, 0, 0, 1, 0, 1, kMessages, result); }),
            "\r\n\r\n\r\n     A SCRATCH FILE IS OPENED ON UNIT NO.  52\r\n"
            "     FILE CHARACTERISTICS :\r\n          STATUS =SCRATCH\r\n          ACCESS =SEQUENTIAL\r\n"
            "          FORM   =FORMATTED  \r\n          LENGTH =    0 WORDS/BYTES PER RECORD (SECTOR)\r\n"
            "          BLANK  =ZERO\r\n");
  rtl::release(52);

  // Unformatted files show no blank mode; access 30 has 128 whatever the form.
  EXPECT_EQ(diagnostics([&] { quil::connect_file("ignored", 7, 52, 4, 30, 0, 1, 0, 1, kMessages, result); }),
            "\r\n\r\n\r\n     A SCRATCH FILE IS OPENED ON UNIT NO.  52\r\n"
            "     FILE CHARACTERISTICS :\r\n          STATUS =SCRATCH\r\n          ACCESS =DIRECT    \r\n"
            "          FORM   =UNFORMATTED\r\n          LENGTH =  128 WORDS/BYTES PER RECORD (SECTOR)\r\n");
  rtl::release(52);

  // No report without the switch, and none at all without a message unit.
  EXPECT_EQ(diagnostics([&] {
              quil::connect_file(made.c_str(), static_cast<std::int32_t>(made.size()), 52, 1, 0, 1, 0, 0, 0,
                                 kMessages, result);
            }),
            "");
  rtl::release(52);
  unlink(made.c_str());
}

TEST(ConnectionWrapper, ModeWordsAndTheErrorWord) {
  std::string existing = test::temp_path("existing.fem");
  std::string missing = test::temp_path("missing.fem");
  test::write_file(existing, "x\n");
  auto name = [](const std::string& s) {
    std::string padded = s;
    padded.resize(256, ' ');
    return padded;
  };
  struct Row {
    const char* what;
    std::string name;
    std::int32_t mode;
    std::int32_t error_before, error_after;
    bool created;
  } rows[] = {
      {"-3 on the first call is UNKNOWN", name(missing), -3, 0, 0, true},
      {"mode 5 is like 1: the file must exist", name(missing), 5, 0, -1, false},
      {"-3 after mode 1 is OLD again", name(missing), -3, 0, -1, false},
      {"success leaves the error word alone", name(existing), 1, -1, -1, false},
      {"an all-blank name is refused", name(""), 0, 0, -1, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::int32_t error = row.error_before;
    quil::connect_answer(row.name.data(), 256, 53, row.mode, error);
    EXPECT_EQ(error, row.error_after);
    EXPECT_EQ(access(missing.c_str(), F_OK) == 0, row.created);
    rtl::release(53);
    unlink(missing.c_str());
  }
  unlink(existing.c_str());
}

}  // namespace
