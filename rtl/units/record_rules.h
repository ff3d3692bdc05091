// What makes a line a record, wherever the record layer reads lines: the read statements, and the scans
// that cut a file into parts.
#pragma once

#include <cstddef>

namespace rtl {

inline constexpr char kLineEnd = '\n';
// Before the line end, a CR belongs to it, not to the record.
inline constexpr char kCarriageReturn = '\r';
// A record of this byte alone ends the input, as a console's end-of-file key does.
inline constexpr char kEndOfInputMark = 0x1A;
// The most bytes of one line, before its line end, that a unit holds unless told otherwise: a file
// without line ends takes no more memory than this.
inline constexpr std::size_t kLongestRecord = std::size_t{16} << 20;

// Whether a record (its line end and CR taken off) ends the input. Its first byte is read even where it
// is empty, so that nothing is branched on: its line end stands there then.
constexpr bool ends_input(const char* record, std::size_t size) {
  return (size == 1) & (record[0] == kEndOfInputMark);
}

}  // namespace rtl
