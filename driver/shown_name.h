// A name as the command's lines show it: a name holds whatever bytes its file system took, and a line
// goes to a terminal or a log.
#pragma once

#include <string>
#include <string_view>

namespace quil {

// The name itself where every character of it prints (blanks and UTF-8 letters included); else the
// name quoted as a shell reads it back, each control character or stray byte written in $'...'.
std::string shown_name(std::string_view name);

}  // namespace quil
