// Scans of a whole file by name, for a program that cuts a file into parts at line ends: the records'
// rules (a line ends at LF, a lone Ctrl-Z ends the input) as the read statements apply them.
#pragma once

#include <cstdint>

namespace rtl {

// Where the first line that begins at or after `offset` begins (a line begins after an LF), or `end`
// when none does before it; -1 when the file cannot be read, or when no line begins within the longest
// record's length (kLongestRecord) of `offset`.
std::int64_t line_start_after(const char* name, std::int64_t offset, std::int64_t end);
// How many lines the bytes [from, to) of the file hold (a last one without LF counts); *ends_input
// tells whether one of them is a lone Ctrl-Z. -1 when the file cannot be read.
std::int64_t count_lines(const char* name, std::int64_t from, std::int64_t to, bool* ends_input);

}  // namespace rtl
