// Powers of ten as 128-bit binary mantissas, and the wide products the conversions make with them.
// The table is computed while the program is built; nothing here touches floating point.
#pragma once

#include <cstdint>

namespace rtl::convert {

struct U128 {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
};

// The full product of two 64-bit numbers.
constexpr U128 multiply(std::uint64_t a, std::uint64_t b) {
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  return {static_cast<std::uint64_t>(p >> 64), static_cast<std::uint64_t>(p)};
#else
  const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & 0xFFFFFFFFu)};
#endif
}

// The 192-bit product of a 64-bit number and a 128-bit one, as three words, the highest first.
struct U192 {
  std::uint64_t word[3];
};
constexpr U192 multiply(std::uint64_t a, U128 b) {
  const U128 high = multiply(a, b.high);
  const U128 low = multiply(a, b.low);
  const std::uint64_t middle = high.low + low.high;
  return {{high.high + (middle < high.low ? 1 : 0), middle, low.low}};
}

// How the bits of a 192-bit product below its top ones round them; the last `cut` bits of its high word
// are the first of those. The cut power is low by less than one unit of its last bit, so the product is low
// by less than 2^64 units of its own: the rounding is proven unless those bits lie within 2^64 units under
// one half, or are exactly one half (near_half without up).
struct WideRounding {
  bool up, near_half, exact_half;
};
constexpr WideRounding wide_rounding(const U192& z, int cut) {
  const std::uint64_t rest = z.word[0] & ((std::uint64_t{1} << cut) - 1);
  const std::uint64_t half = std::uint64_t{1} << (cut - 1);
  // Subtle: joined without short-circuits, so that the direction, a coin toss, costs no branch.
  const bool at_half = rest == half, nothing_below = (z.word[1] | z.word[2]) == 0;
  const bool up = (rest > half) | (at_half & !nothing_below);
  const bool near_half = at_half | ((rest == half - 1) & (z.word[1] == ~std::uint64_t{0}));
  const bool exact_half = at_half & nothing_below;
  return {up, near_half, exact_half};
}

// Whether the first product alone leaves its rounding open: the `rest` below its top bits (whose half is
// `half`) lies one unit under one half, where the cut power's shortfall may carry it over, or at one half
// with nothing below (`low` is the product's low word), a tie the whole product must confirm.
constexpr bool first_product_undecided(std::uint64_t rest, std::uint64_t half, std::uint64_t low) {
  return (rest == half - 1) | ((rest == half) & (low == 0));
}

inline constexpr int kLowestPower = -350;
inline constexpr int kHighestPower = 350;

// 10^q = mantissa * 2^(exponent - 127) with the mantissa in [2^127, 2^128), cut (never rounded up) to
// 128 bits: the true power lies in [mantissa, mantissa + 1) * 2^(exponent - 127).
struct Power {
  U128 mantissa;
  int exponent;  // floor(log2(10^q))
};

namespace detail {

// Fixed-point numbers of 256 bits with a binary exponent: value = (bits / 2^255) * 2^exponent, the top
// bit always set. Each step below cuts the bits that fall off the end, so the value computed never
// exceeds the true one and falls short of it by less than one unit of the last bit per step.
struct Wide {
  std::uint64_t w[4];  // w[0] is the highest word
  int exponent;
};

constexpr Wide times_five(Wide x) {
  std::uint64_t r[5] = {};
  std::uint64_t carry = 0;
  for (int i = 3; i >= 0; --i) {
    const U128 p = multiply(x.w[i], 5);
    r[i + 1] = p.low + carry;
    carry = p.high + (r[i + 1] < p.low ? 1 : 0);
  }
  r[0] = carry;  // 1 to 4: five times a normalised number spills two or three bits
  const int spill = r[0] >= 4 ? 3 : 2;
  Wide y{{}, x.exponent + spill};
  for (int i = 0; i < 4; ++i) y.w[i] = (r[i] << (64 - spill)) | (r[i + 1] >> spill);
  return y;
}

constexpr Wide fifth(Wide x) {
  Wide q{{}, x.exponent};
  std::uint64_t rest = 0;
  for (int i = 0; i < 4; ++i) {
    const std::uint64_t high = (rest << 32) | (x.w[i] >> 32);
    const std::uint64_t qh = high / 5;
    rest = high % 5;
    const std::uint64_t low = (rest << 32) | (x.w[i] & 0xFFFFFFFFu);
    const std::uint64_t ql = low / 5;
    rest = low % 5;
    q.w[i] = (qh << 32) | ql;
  }
  // A fifth of a normalised number has two or three leading zero bits.
  const int shift = (q.w[0] >> 61) != 0 ? 2 : 3;
  for (int i = 0; i < 3; ++i) q.w[i] = (q.w[i] << shift) | (q.w[i + 1] >> (64 - shift));
  q.w[3] <<= shift;
  q.exponent -= shift;
  return q;
}

// The top 128 bits, refused when the bits that were cut might have carried into them.
constexpr Power top(Wide x, int q) {
  // Each step loses less than eight units of its last bit: a cut below one unit, which a fifth's shift by
  // up to three bits makes eight. The top bit is set, so that is under 8 * 2^-255 of the value; losses
  // add, so after at most 350 steps the value falls short by under 350 * 8 * 2^-255 of itself, and it is
  // below 2^256 units: under 5600 < 2^14 units. A carry into the top half needs its low half that close
  // to full.
  if (x.w[2] == ~std::uint64_t{0} && x.w[3] > ~std::uint64_t{0} - 16384) throw "power table cannot be proven";
  return {{x.w[0], x.w[1]}, x.exponent + q};
}

struct PowerTable {
  Power power[kHighestPower - kLowestPower + 1];
};

// 10^q = 5^q * 2^q, so the powers of five carry the digits and q joins the exponent.
constexpr PowerTable make_power_table() {
  PowerTable t{};
  const Wide one{{std::uint64_t{1} << 63, 0, 0, 0}, 0};
  Wide x = one;
  for (int q = 0; q <= kHighestPower; ++q) {
    t.power[q - kLowestPower] = top(x, q);
    x = times_five(x);
  }
  x = one;
  for (int q = 0; q >= kLowestPower; --q) {
    t.power[q - kLowestPower] = top(x, q);
    x = fifth(x);
  }
  return t;
}

inline constexpr PowerTable kPowerTable = make_power_table();

}  // namespace detail

constexpr const Power& power_of_ten(int q) { return detail::kPowerTable.power[q - kLowestPower]; }

// floor(log2(10) * q) and floor(log10(2) * e) for the ranges used here, without floating point.
constexpr int floor_log2_pow10(int q) { return (q * 217706) >> 16; }
constexpr int floor_log10_pow2(int e) { return (e * 78913) >> 18; }

}  // namespace rtl::convert
