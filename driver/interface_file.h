// What tells a formatted interface file from files of other formats that carry the same names.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "rtl/statements/io.h"

namespace quil {

enum class NotInterface : std::uint8_t {
  no,
  binary,
  gzip,
  utf16,
  long_line,
  past_last_column,
  tab,
  comma,
  name_not_in_column_1,
  name_characters,
  blank_in_number,
  not_a_number,
  no_data_record,
  lines_after_end_mark,
  not_finite
};

struct InterfaceVerdict {
  NotInterface why = NotInterface::no;
  std::int64_t line = 0;   // 1-based; 0 for the whole file
  unsigned char byte = 0;  // for binary data: the byte and its column
  std::size_t column = 0;
};

namespace interface_rule {

using rtl::kFieldColumns;
using rtl::kNameColumns;
inline constexpr std::size_t kLastColumn = rtl::kRecordColumns;
// A line with more bytes than this is longer than any record; it is judged by these bytes alone.
inline constexpr std::size_t kLongestLine = 1024;

}  // namespace interface_rule

// Record names found good, 8 bytes as they stand, by a hash of them. An empty slot holds the blank name,
// which is good.
struct KnownNames {
  static constexpr std::uint64_t kBlankName = 0x2020'2020'2020'2020;
  KnownNames() { std::fill(std::begin(slot), std::end(slot), kBlankName); }
  std::uint64_t slot[64];  // in pairs, a name in either slot of its pair
};

// The usual line, a data record of exactly 72 columns, asked everything at once: not `no` when it holds a
// name as records have it, no byte below 32, no comma and number fields without a blank inside, and then
// whether its numbers touch (a field whose first column is not blank). `no` says only that the line must
// be looked at closely (always, where the machine has no vector compares).
enum class Plain : std::uint8_t { no, apart, touching };
Plain plain_record(std::string_view line, KnownNames& known);

// Looks at one line of the file outside announced text records, as it stands there without its line
// end. `data_record` says whether it read as a data record. Returns NotInterface::no when the line may
// stand in an interface file, else the first reason it may not (with the byte and its column for binary
// data). A line's first kLongestLine + 1 bytes, without the rest, get the verdict of the whole line.
NotInterface look_at_line(std::string_view line, bool data_record, bool first_line, unsigned char* byte,
                          std::size_t* column);

// The reason in words, e.g. "line 6: blanks inside a number field".
std::string verdict_words(const InterfaceVerdict& verdict);

}  // namespace quil
