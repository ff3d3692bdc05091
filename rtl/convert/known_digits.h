// The nine significant digits of values just decoded, kept for writing them again. A data record is
// read and written back field by field, and a field of at most ten digits already holds the nine its
// value is written with: the decoder leaves them here, under the value's bits, and the writer of the
// data record's fields takes them instead of working them out again. What is kept is always the
// correctly rounded nine digits of the double it is filed under, so a stale entry is never wrong.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace rtl::convert {

struct KnownDigits {
  std::uint64_t bits = 0;  // of the value's magnitude; zero (never filed) for an empty slot
  std::uint32_t digits = 0;
  std::int32_t exponent = 0;  // the value is 0.D1...D9 * 10^exponent
};

// Per thread, as the parts of a file are repaired side by side. The slots are many, so that the four
// fields of a record rarely take the same one.
inline thread_local KnownDigits t_known_digits[256];

inline KnownDigits& known_slot(std::uint64_t bits) {
  return t_known_digits[(bits * 0x9E3779B97F4A7C15u) >> 56];
}

// Files the nine digits of `magnitude`, the positive double nearest m * 10^power, where m is written
// with k digits. A double is within 2^-53 of its value, relatively, and a decimal of at most fifteen
// digits lies further than that from any point half-way between two nine-digit decimals unless it is
// one: so, ties and values that are not normal doubles aside, rounding either gives the same nine.
// Only what is cheap and certain is filed: k up to ten, the first digit not zero.
inline void note_known_digits(double magnitude, std::uint64_t m, int k, int power) {
  // By digit count: the factor that makes nine digits, and the least m with its first digit not zero
  // (beyond ten digits, more than any m: nothing is filed).
  struct ByCount {
    std::uint64_t scale, least;
  };
  static constexpr auto kByCount = [] {
    std::array<ByCount, 32> t{};
    std::uint64_t least = 1;
    for (int n = 1; n < 32; ++n, least *= 10) {
      std::uint64_t scale = 1;
      for (int i = n; i < 9; ++i) scale *= 10;
      t[static_cast<std::size_t>(n)] = {scale, n <= 10 ? least : ~std::uint64_t{0}};
    }
    return t;
  }();
  const ByCount& by = kByCount[static_cast<unsigned>(k) & 31];
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(magnitude);
  const bool ten = k == 10;
  const std::uint64_t tenth = m / 10, last = m - 10 * tenth;
  // Subtle: a field's digit count is for the data to say, so both roundings are made and one is kept;
  // no branch on it, nor on the tests below.
  const std::uint64_t rounded = tenth + (last > 5), scaled = m * by.scale;
  std::uint64_t d = scaled ^ ((scaled ^ rounded) & -std::uint64_t{ten});
  const bool carry = d == 1000000000;
  d -= 900000000 & -std::uint64_t{carry};
  const bool certain = (m >= by.least) & !(ten & (last == 5)) & ((bits >> 52) - 1 < 0x7FE);
  KnownDigits& slot = known_slot(bits);
  slot.bits = bits & -std::uint64_t{certain};
  slot.digits = static_cast<std::uint32_t>(d);
  slot.exponent = power + k + carry;
}

// The nine digits filed under the magnitude's bits, if any.
inline bool known_digits(std::uint64_t magnitude_bits, std::uint64_t* digits, int* exponent) {
  const KnownDigits& slot = known_slot(magnitude_bits);
  if (slot.bits != magnitude_bits) return false;
  *digits = slot.digits;
  *exponent = slot.exponent;
  return true;
}

}  // namespace rtl::convert
