#include "driver/shown_name.h"

#include <cstdint>

namespace quil {
namespace {

// The bytes of the printable character at the front of `s`; 0 for a control character (C0, DEL, C1) or
// a byte that begins no well-formed UTF-8 character.
std::size_t printable_length(std::string_view s) {
  const auto byte = [s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char first = byte(0);
  if (first >= 0x20 && first < 0x7f) return 1;
  const std::size_t n = first >= 0xc2 && first <= 0xdf   ? 2
                        : first >= 0xe0 && first <= 0xef ? 3
                        : first >= 0xf0 && first <= 0xf4 ? 4
                                                         : 0;
  if (n == 0 || s.size() < n) return 0;
  std::uint32_t code = first & (0x7fu >> n);
  for (std::size_t i = 1; i < n; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3fu);
  }
  constexpr std::uint32_t kLeast[] = {0, 0, 0xa0, 0x800, 0x10000};  // below 0xa0: C1 controls
  const bool surrogate = code >= 0xd800 && code <= 0xdfff;
  return code >= kLeast[n] && !surrogate && code <= 0x10ffff ? n : 0;
}

// A byte as $'...' writes it: \n and its kin by letter, any other in octal.
std::string escaped(unsigned char c) {
  constexpr char kLetters[] = "abtnvfr";  // bytes 7 to 13
  if (c >= 7 && c <= 13) return {'\\', kLetters[c - 7]};
  return {'\\', static_cast<char>('0' + (c >> 6)), static_cast<char>('0' + ((c >> 3) & 7)),
          static_cast<char>('0' + (c & 7))};
}

bool plain(std::string_view name) {
  for (std::size_t i = 0, n = 0; i < name.size(); i += n) {
    if ((n = printable_length(name.substr(i))) == 0) return false;
  }
  return true;
}

}  // namespace

std::string shown_name(std::string_view name) {
  if (plain(name)) return std::string(name);
  // Runs of printable characters in '...', a quote as \' between them, other bytes in $'...'.
  enum class Quotes { none, plain, escapes } open = Quotes::none;
  std::string shown;
  const auto enter = [&shown, &open](Quotes q) {
    if (open == q) return;
    if (open != Quotes::none) shown += '\'';
    if (q != Quotes::none) shown += q == Quotes::plain ? "'" : "$'";
    open = q;
  };
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t n = printable_length(name.substr(i));
    if (n == 0) {
      enter(Quotes::escapes);
      shown += escaped(static_cast<unsigned char>(name[i++]));
    } else if (name[i] == '\'') {
      enter(Quotes::none);
      shown += "\\'";
      ++i;
    } else {
      enter(Quotes::plain);
      shown.append(name.substr(i, n));
      i += n;
    }
  }
  enter(Quotes::none);
  return shown;
}

}  // namespace quil
