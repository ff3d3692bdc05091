// Letters as the record layer compares them: ASCII alone, whatever the locale (setting words, device
// names, exponent letters, layouts).
#pragma once

namespace rtl {

constexpr char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace rtl
