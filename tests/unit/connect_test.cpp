// The dialogue's connection of an answer and the significant length of a name.
#include "fileconn/connect.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "fileconn/significant_length.h"
#include "rtl/statements/io.h"
#include "test_support.h"

namespace {

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
      {text(0), 256, 0}, {text(26), 256, 26}, {text(256), 256, 256}, {text(180), 256, 180},
      {text(1), 256, 1}, {"ab\t ", 4, 3},  // a tab is significant
      {"a", 0, 0},       {"a", -3, 0},        {"a ", 2, 1},          {" ", 1, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(quil::significant_length(row.text.data(), row.declared), row.length) << row.text.size();
  }
  // A blank run must not hide a later character.
  std::string gap = text(10);
  gap[200] = 'y';
  EXPECT_EQ(quil::significant_length(gap.data(), 256), 201);
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
