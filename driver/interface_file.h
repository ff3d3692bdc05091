// What tells a formatted interface file from files of other formats that carry the same names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quil {

enum class NotInterface : std::uint8_t {
  no,
  binary,
  gzip,
  utf16,
  long_line,
  blank_in_number,
  no_data_record
};

struct InterfaceVerdict {
  NotInterface why = NotInterface::no;
  std::int64_t line = 0;   // 1-based; 0 for the whole file
  unsigned char byte = 0;  // for binary data: the byte and its column
  std::size_t column = 0;
};

// Looks at one line of the file, as it stands there without its line end. `data_record` says whether it
// read as a data record; lines of an announced text block are not looked at.
NotInterface look_at_line(std::string_view line, bool data_record, bool first_line, unsigned char* byte,
                          std::size_t* column);

// The reason in words, e.g. "line 6: blanks inside a number field".
std::string verdict_words(const InterfaceVerdict& verdict);

}  // namespace quil
