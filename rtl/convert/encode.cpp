#include "rtl/convert/encode.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace rtl::convert {
namespace {

EncodeStatus asterisks(char* field, int width) {
  std::memset(field, '*', static_cast<std::size_t>(width));
  return EncodeStatus::overflowed;
}

// NaN and infinity are words, left-aligned after one blank.
EncodeStatus put_word(char* field, int width, bool negative, const char* word) {
  int length = 1 + (negative ? 1 : 0) + static_cast<int>(std::strlen(word));
  if (length > width) return asterisks(field, width);
  char* p = field + 1;
  if (negative) *p++ = '-';
  std::memcpy(p, word, std::strlen(word));
  return EncodeStatus::converted;
}

// The n correctly rounded significant digits of |value| and the exponent X of 0.D1D2...Dn.
struct Digits {
  char digit[40];
  int exponent;
};

// Exact: the standard library's conversion of the exact binary value, ties to even.
bool exact_digits(double magnitude, int n, Digits* out) {
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific, n - 1);
  if (ec != std::errc{}) return false;
  // "D.DDDDe+XX" or, for one digit, "De+XX".
  const char* p = text;
  int count = 0;
  for (; p < end && *p != 'e'; ++p) {
    if (*p != '.') out->digit[count++] = *p;
  }
  int e10 = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), end, e10);
  out->exponent = e10 + 1;
  return count == n;
}

// Quick: the value scaled by an exact power of ten in 64-bit extended precision, one rounding away from
// the truth. It answers only when that rounding cannot have moved the result across a half-way point
// between two n-digit results; otherwise the exact conversion decides.
constexpr bool kExtendedPrecision = std::numeric_limits<long double>::digits == 64 && sizeof(long double) >= 10 &&
                                    std::endian::native == std::endian::little;
constexpr long double kPowers[] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,
                                   1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L,
                                   1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};

bool quick_digits(double magnitude, int n, Digits* out) {
  if (!kExtendedPrecision || n > 15 || !std::isnormal(magnitude)) return false;
  // magnitude lies in [2^e2, 2^(e2+1)); floor(e2 * log10(2)) estimates its decimal exponent, and the
  // loop below corrects an estimate that is one off.
  const int e2 = static_cast<int>((std::bit_cast<std::uint64_t>(magnitude) >> 52) & 0x7FF) - 1023;
  int e10 = (e2 * 78913) >> 18;
  const long double low = kPowers[n - 1];
  const long double high = kPowers[n];
  long double scaled = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int k = e10 - (n - 1);
    if (k > 27 || k < -27) return false;
    scaled = k >= 0 ? static_cast<long double>(magnitude) / kPowers[k]
                    : static_cast<long double>(magnitude) * kPowers[-k];
    if (scaled >= high) {
      ++e10;
    } else if (scaled < low) {
      --e10;
    } else {
      break;
    }
  }
  if (scaled < low || scaled >= high) return false;
  // Adding 2^63 rounds to a whole number (64 significant bits), whose bits are then the integer itself;
  // this avoids the slow switch of rounding mode that a plain conversion costs.
  const long double shifted = scaled + 0x1p63L;
  std::uint64_t integer;
  std::memcpy(&integer, &shifted, sizeof integer);
  integer -= std::uint64_t{1} << 63;
  long double rest = scaled - (shifted - 0x1p63L);
  // The scaled value is within 2^-64 of the truth, relative; stay well clear of the half-way point.
  if (rest < 0) rest = -rest;
  if (rest > 0.5L - high * 0x1p-58L) return false;
  if (static_cast<long double>(integer) >= high) {  // the rounding carried into a new digit
    integer /= 10;
    ++e10;
  }
  for (int i = n - 1; i >= 0; --i) {
    out->digit[i] = static_cast<char>('0' + integer % 10);
    integer /= 10;
  }
  out->exponent = e10 + 1;
  return true;
}

bool significant_digits(double magnitude, int n, Digits* out) {
  return quick_digits(magnitude, n, out) || exact_digits(magnitude, n, out);
}

int decimal_length(int v) {
  int n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

}  // namespace

EncodeStatus encode_exponential(double value, char* field, int width, int digits, int scale,
                                int exponent_digits, bool plus_sign) {
  std::memset(field, ' ', static_cast<std::size_t>(width));
  if (std::isnan(value)) return put_word(field, width, false, "NaN");
  if (std::isinf(value)) return put_word(field, width, value < 0, "Infinity");

  const bool zero = value == 0.0;
  const bool negative = !zero && std::signbit(value);
  // Zero is written as if there were no scale factor.
  const int k = zero ? 0 : scale;
  const int n = k >= 1 ? digits + 1 : digits + k;
  if (k > digits + 1 || n < 1 || n > 39) {
    if (!zero) return asterisks(field, width);
  }

  Digits d{};
  int printed_exponent = 0;
  if (zero) {
    std::memset(d.digit, '0', sizeof d.digit);
  } else {
    if (!significant_digits(std::fabs(value), n, &d)) return asterisks(field, width);
    printed_exponent = d.exponent - (k >= 1 ? k : 0);
  }

  const int magnitude = printed_exponent < 0 ? -printed_exponent : printed_exponent;
  const int m = decimal_length(magnitude);
  int exponent_width;
  bool letter;
  if (exponent_digits > 0) {
    if (m > exponent_digits) return asterisks(field, width);
    exponent_width = exponent_digits;
    letter = true;
  } else {
    if (m > 3) return asterisks(field, width);
    exponent_width = m < 2 ? 2 : m;
    letter = m <= 2;
  }
  const bool sign = negative || plus_sign;
  const int required = digits + 2 + exponent_width + (k >= 1 ? 1 : 0) + (letter ? 1 : 0) + (sign ? 1 : 0);
  if (required > width) return asterisks(field, width);

  // Built from the right end.
  char* p = field + width;
  for (int i = 0, v = magnitude; i < exponent_width; ++i, v /= 10) *--p = static_cast<char>('0' + v % 10);
  *--p = printed_exponent < 0 ? '-' : '+';
  if (letter) *--p = 'E';
  if (k >= 1) {
    const int after = digits - k + 1;
    p -= after;
    std::memcpy(p, d.digit + k, static_cast<std::size_t>(after));
    *--p = '.';
    p -= k;
    std::memcpy(p, d.digit, static_cast<std::size_t>(k));
  } else {
    const int shown = zero ? digits : n;
    p -= shown;
    std::memcpy(p, d.digit, static_cast<std::size_t>(shown));
    for (int i = 0; i < digits - shown; ++i) *--p = '0';
    *--p = '.';
    // The leading "0" only where a column is free for it beside the sign.
    if (p - field > (sign ? 1 : 0)) *--p = '0';
  }
  if (sign) *--p = negative ? '-' : '+';
  return EncodeStatus::converted;
}

}  // namespace rtl::convert
