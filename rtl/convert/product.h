// The product stage of the decoder: significant digits and a power of ten made one double, by one exact
// operation or by the product with a power of ten's cut, where the margin proves the rounding.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <optional>

#include "rtl/convert/powers.h"

namespace rtl::convert {

// The exact operation's factors for a power of ten from -22 to 22: a mantissa of up to 53 bits times the
// first and divided by the second is rounded once, as one of them is 1 and every power up to 10^22 is a
// double exactly. The direction is the data's to decide: a multiplication and a division, no branch.
struct ExactScale {
  double times, over;
};
inline constexpr auto kExactScales = [] {
  std::array<ExactScale, 45> scales{};
  double power = 1.0;
  for (int e = 0; e <= 22; ++e, power *= 10.0) {
    scales[static_cast<std::size_t>(22 + e)] = {power, 1.0};
    scales[static_cast<std::size_t>(22 - e)] = {1.0, power};
  }
  return scales;
}();

// The double of a mantissa just rounded to 53 bits and its biased exponent; a carry into bit 53 makes
// the mantissa one bit longer. False for a result that is not a normal double.
inline bool rounded_double(std::uint64_t mantissa, int biased, double* out) {
  const int carry = static_cast<int>(mantissa >> 53);
  mantissa >>= carry;
  biased += carry;
  if (biased < 1 || biased > 2046) return false;
  *out = std::bit_cast<double>((static_cast<std::uint64_t>(biased) << 52) |
                               (mantissa & ((std::uint64_t{1} << 52) - 1)));
  return true;
}

// A normalised w times the 128-bit cut of 10^q as a double, from the bits of the whole 192-bit product;
// none where its rounding to 53 bits is not proven. Rare, and kept out of the usual road; it returns the
// double rather than writing it, so that no caller's variable is seen by another function.
[[gnu::cold, gnu::noinline]] inline std::optional<double> wide_product_to_double(std::uint64_t w, int lz,
                                                                                 const Power& p) {
  const U192 z = multiply(w, p.mantissa);
  // z lies in [2^190, 2^192): its top 53 bits end 139 or 138 bits above its last one.
  const int top = static_cast<int>(z.word[0] >> 63);
  const int cut = 10 + top;
  const WideRounding r = wide_rounding(z, cut);
  double value = 0.0;
  if ((r.near_half & !r.up) ||
      !rounded_double((z.word[0] >> cut) + r.up, p.exponent + top - lz + 1086, &value))
    return std::nullopt;  // within reach of one half, or not a normal double
  return value;
}

// The Eisel-Lemire method, its first product alone where that proves the rounding: the product of w,
// normalised to 64 bits, with the top half of 10^q's 128-bit cut. What the bottom half and the cut add
// stays below one unit of the first product's high word, so the rounding is already certain unless the
// bits below the 53 lie one unit under one half, or exactly at one half with nothing below. Those take
// the whole product; the cases it cannot prove, and results that are not normal doubles, are left to the
// exact conversion. Without `whole`, those the first product leaves open are refused too, so that a caller
// whose usual road must not call out can hand them on.
template <bool whole = true>
[[gnu::always_inline]] inline bool product_value(std::uint64_t w, long q, double* out) {
  if (w == 0 || q < kLowestPower || q > kHighestPower) return false;
  const int lz = std::countl_zero(w);
  w <<= lz;
  const Power& p = power_of_ten(static_cast<int>(q));
  const U128 z = multiply(w, p.mantissa.high);
  // z lies in [2^126, 2^128): its top 53 bits end 75 or 74 bits above its last one.
  const int top = static_cast<int>(z.high >> 63);
  const int cut = 10 + top;
  const std::uint64_t rest = z.high & ((std::uint64_t{1} << cut) - 1);
  const std::uint64_t half = std::uint64_t{1} << (cut - 1);
  if (first_product_undecided(rest, half, z.low)) [[unlikely]] {
    if constexpr (!whole) return false;
    const std::optional<double> wide = wide_product_to_double(w, lz, p);
    if (wide) *out = *wide;
    return wide.has_value();
  }
  // Subtle: rounding up or down is for the data to decide, at random; it costs no branch.
  return rounded_double((z.high >> cut) + (rest >= half), p.exponent + top - lz + 1086, out);
}

// Up to 53 bits m and a power of ten from -22 to 22 by one exact operation; false for any other.
[[gnu::always_inline]] inline bool exact_value(std::uint64_t m, long power, double* out) {
  // One test, not three: whether the data take this road is theirs to decide, at random.
  if ((m <= (std::uint64_t{1} << 53)) & (static_cast<unsigned long>(power + 22) <= 44)) {
    const ExactScale& scale = kExactScales[static_cast<std::size_t>(power + 22)];
    *out = static_cast<double>(m) * scale.times / scale.over;
    return true;
  }
  return false;
}

// Up to 19 significant digits m and a power of ten: one exact operation where both are exact, else the
// product method; false when neither proves the result (`whole` as product_value has it).
template <bool whole = true>
[[gnu::always_inline]] inline bool fast_value(std::uint64_t m, long power, double* out) {
  return exact_value(m, power, out) || product_value<whole>(m, power, out);
}

}  // namespace rtl::convert
