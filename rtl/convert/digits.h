// Eight decimal digits at a time, read as one little-endian word: shared by the decoder's stages.
#pragma once

#include <cstdint>

namespace rtl::convert {

// Whether eight characters, read as one little-endian word, are all digits. A byte above '9' gets bit 7
// from the sum ('9' + 0x46 = 0x7F, ':' + 0x46 = 0x80) or, from 0xB0 up, from the difference; a byte below
// '0' borrows and gets it from the difference; a carry or a borrow between bytes starts only at a byte
// that is caught already.
inline bool eight_digits(std::uint64_t chunk) {
  return (((chunk + 0x4646464646464646u) | (chunk - 0x3030303030303030u)) & 0x8080808080808080u) == 0;
}

// The value of eight digit values 0 to 9, the first the most significant. First each byte i becomes
// 10 d(i) + d(i+1), at most 99, so no byte carries; the pairs p0..p3 stand in bytes 0, 2, 4 and 6. Then
// (p0 + p2 << 32) * (10^6 << 32 | 100) and (p1 + p3 << 32) * (10^4 << 32 | 1) leave
// p0 10^6 + p2 10^2 and p1 10^4 + p3 in their upper halves: together the value, below 10^8 < 2^32; the
// lower halves, p0 100 + p1 <= 9999, carry nothing into them.
inline std::uint32_t combine_eight(std::uint64_t chunk) {
  chunk = chunk * 10 + (chunk >> 8);
  constexpr std::uint64_t kPairs = 0x000000FF000000FFu;
  chunk = (((chunk & kPairs) * 0x000F424000000064u) + (((chunk >> 16) & kPairs) * 0x0000271000000001u)) >> 32;
  return static_cast<std::uint32_t>(chunk);
}

// The value of eight digit characters.
inline std::uint32_t eight_digits_value(std::uint64_t chunk) {
  return combine_eight(chunk - 0x3030303030303030u);
}

}  // namespace rtl::convert
