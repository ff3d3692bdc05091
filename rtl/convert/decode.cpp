#include "rtl/convert/decode.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

#include "rtl/ascii.h"
#include "rtl/convert/digits.h"
#include "rtl/convert/fast_paths.h"
#include "rtl/convert/powers.h"
#include "rtl/convert/scanned.h"

namespace rtl::convert {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// What one scan of the field found.
struct Scan {
  bool negative = false;
  bool zero_digit_seen = false;  // a 0 stood in the mantissa
  // Significant digits, the first kKept of them; later ones only leave a trace in `sticky`.
  static constexpr int kKept = 780;
  char digits[kKept + 1];
  int kept = 0;
  long significant = 0;  // all significant mantissa digits
  bool sticky = false;   // a non-zero digit beyond the kept ones
  bool point = false;
  long after_point = 0;  // digits, significant or not, after the point
  bool exponent_begun = false;
  bool exponent_negative = false;
  bool exponent_sign_seen = false;
  long exponent = 0;
  int exponent_significant = 0;
};

bool is_leading_space(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
char upper(char c) { return ascii_upper(c); }

bool matches_word(const char* p, const char* end, const char* word) {
  std::size_t n = std::strlen(word);
  if (static_cast<std::size_t>(end - p) != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (upper(p[i]) != word[i]) return false;
  }
  return true;
}

Decoded signed_value(const Scan& s, double magnitude, DecodeStatus status) {
  return {s.negative ? -magnitude : magnitude, status};
}

// Mantissa digits and a power of ten into the nearest double.
Decoded round_to_double(const Scan& s, long power) {
  long p = power + s.significant;  // the value lies in [10^(p-1), 10^p)
  if (p < -323) return signed_value(s, 0.0, DecodeStatus::converted);
  if (p > 309) return signed_value(s, kInfinity, DecodeStatus::failed);
  if (s.significant <= 19) {
    std::uint64_t m = 0;
    for (int i = 0; i < s.kept; ++i) m = m * 10 + static_cast<std::uint64_t>(s.digits[i] - '0');
    return value_of({m, power, s.negative});
  }
  char text[Scan::kKept + 32];
  std::memcpy(text, s.digits, static_cast<std::size_t>(s.kept));
  std::size_t n = static_cast<std::size_t>(s.kept);
  long shift = power + (s.significant - s.kept);
  if (s.sticky) {
    // A non-zero digit below the kept ones can only break a tie; one more digit 1 keeps its effect.
    text[n++] = '1';
    --shift;
  }
  text[n++] = 'e';
  auto [end, ec] = std::to_chars(text + n, text + sizeof text, shift);
  double v = 0.0;
  auto result = std::from_chars(text, end, v);
  if (result.ec == std::errc::result_out_of_range) {
    return p > 0 ? signed_value(s, kInfinity, DecodeStatus::failed)
                 : signed_value(s, 0.0, DecodeStatus::converted);
  }
  if (v == kInfinity) return signed_value(s, kInfinity, DecodeStatus::failed);
  return signed_value(s, v, DecodeStatus::converted);
}

int significant_digits(std::uint32_t v) {
  int n = 0;
  for (; v != 0; v /= 10) ++n;
  return n;
}

// The mantissa of a field of the fast scan: up to 19 significant digits, at most one point.
struct FastMantissa {
  std::uint64_t m = 0;
  int significant = 0, after_point = 0, digits_seen = 0;
  bool point = false;
};

// Eight digits at once wherever they stand (in these fields, the run of decimals): true when p begins
// with them, *fits false when they make more than 19 significant digits.
bool fast_eight(const char* p, const char* end, FastMantissa& q, bool* fits) {
  if constexpr (std::endian::native != std::endian::little) return false;
  std::uint64_t chunk;
  if (end - p < 8 || (std::memcpy(&chunk, p, 8), !eight_digits(chunk))) return false;
  const std::uint32_t v = eight_digits_value(chunk);
  q.significant += q.m != 0 ? 8 : significant_digits(v);
  *fits = q.significant <= 19;
  q.m = q.m * 100000000 + v;
  q.digits_seen += 8;
  q.after_point += q.point ? 8 : 0;
  return true;
}

// Takes digits and one point from p; false when they hold more than 19 significant digits.
bool fast_mantissa(const char*& p, const char* end, FastMantissa& q) {
  for (; p < end; ++p) {
    bool fits = true;
    if (fast_eight(p, end, q, &fits)) {
      if (!fits) return false;
      p += 7;
      continue;
    }
    const unsigned d = static_cast<unsigned char>(*p) - '0';
    if (d <= 9) {
      ++q.digits_seen;
      q.after_point += q.point;
      if (q.m == 0 && d == 0) continue;
      if (++q.significant > 19) return false;
      q.m = q.m * 10 + d;
    } else if (*p == '.' && !q.point) {
      q.point = true;
    } else {
      break;
    }
  }
  return true;
}

// The rest of a field of the fast scan: nothing, or an exponent of at most six digits after E, D, Q or a
// sign, up to the field's last column. False when it is anything else.
bool fast_exponent(const char* p, const char* end, bool* has_exponent, int* exponent) {
  *has_exponent = false;
  *exponent = 0;
  if (p == end) return true;
  char c = *p;
  if (c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == 'Q' || c == 'q') {
    ++p;
    if (p < end && (*p == '+' || *p == '-')) c = *p++;
  } else if (c == '+' || c == '-') {
    ++p;
  } else {
    return false;
  }
  *has_exponent = true;
  int exponent_digits = 0;
  for (; p < end; ++p) {
    unsigned d = static_cast<unsigned char>(*p) - '0';
    if (d > 9 || ++exponent_digits > 6) return false;
    *exponent = *exponent * 10 + static_cast<int>(d);
  }
  if (c == '-') *exponent = -*exponent;
  return true;
}

// The fast scan: the usual shape of a field, taken in one tight pass: blanks, a sign, digits with at most one
// point, and an exponent of at most six digits after E, D, Q or a sign, up to the field's last column. Any
// other field, and any value that needs more than one exact operation, is left to the full scan.
bool fast_decode(const char* p, const char* end, int digits, int scale, Decoded* out) {
  while (p < end && is_leading_space(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  FastMantissa q;
  if (!fast_mantissa(p, end, q) || q.digits_seen == 0) return false;
  bool has_exponent = false;
  int exponent = 0;
  if (!fast_exponent(p, end, &has_exponent, &exponent)) return false;
  if (q.m == 0) {
    *out = {negative ? -0.0 : 0.0, DecodeStatus::converted};
    return true;
  }
  int power = exponent - (q.point ? q.after_point : digits);
  if (!has_exponent) power -= scale;
  *out = value_of({q.m, power, negative});
  return true;
}

// ---- the full scan --------------------------------------------------------------------------------------

// INF, INFINITY or NAN standing alone: nothing, not even a blank, may follow them.
Decoded special_word(const char* p, const char* end, const Scan& s) {
  if (matches_word(p, end, "INF") || matches_word(p, end, "INFINITY")) {
    return signed_value(s, kInfinity, DecodeStatus::converted);
  }
  if (matches_word(p, end, "NAN")) {
    return {std::bit_cast<double>(std::uint64_t{0xFFF8000000000000}), DecodeStatus::converted};
  }
  return {0.0, DecodeStatus::failed};
}

void take_digit(char c, Scan& s) {
  if (s.point) ++s.after_point;
  if (c == '0' && s.significant == 0) {
    s.zero_digit_seen = true;
    return;
  }
  if (s.kept < Scan::kKept) {
    s.digits[s.kept++] = c;
  } else if (c != '0') {
    s.sticky = true;
  }
  ++s.significant;
}

// Digits and one point, up to an exponent letter or sign (taken too). False when another character
// stops the field.
bool scan_mantissa(const char*& p, const char* end, bool blanks_are_zeros, Scan& s) {
  for (; p < end; ++p) {
    char c = *p;
    if (c == ' ') {
      if (!blanks_are_zeros) continue;
      c = '0';
    }
    if (c >= '0' && c <= '9') {
      take_digit(c, s);
    } else if (c == '.' && !s.point) {
      s.point = true;
    } else if (const char u = upper(c); u == 'E' || u == 'D' || u == 'Q' || c == '+' || c == '-') {
      s.exponent_begun = true;
      s.exponent_sign_seen = c == '+' || c == '-';
      s.exponent_negative = c == '-';
      ++p;
      return true;
    } else {
      return false;
    }
  }
  return true;
}

// The exponent's sign and digits to the field's end. False when another character stops the field.
bool scan_exponent(const char* p, const char* end, bool blanks_are_zeros, Scan& s) {
  for (; p < end; ++p) {
    char c = *p;
    if (c == ' ') {
      if (!blanks_are_zeros) continue;
      c = '0';
    }
    if ((c == '+' || c == '-') && !s.exponent_sign_seen && s.exponent_significant == 0) {
      s.exponent_sign_seen = true;
      s.exponent_negative = c == '-';
    } else if (c >= '0' && c <= '9') {
      if (c == '0' && s.exponent_significant == 0) continue;
      if (s.exponent_significant < 7) s.exponent = s.exponent * 10 + (c - '0');
      ++s.exponent_significant;
    } else {
      return false;
    }
  }
  return true;
}

// What the scan found, as a value.
Decoded scanned_value(const Scan& s, int digits, int scale) {
  if (s.significant == 0) {
    return {s.negative && s.zero_digit_seen ? -0.0 : 0.0, DecodeStatus::converted};
  }
  if (s.exponent_significant > 6) {
    if (s.exponent_negative) return signed_value(s, 0.0, DecodeStatus::converted);
    return signed_value(s, kInfinity, DecodeStatus::failed);
  }
  long x = s.exponent_negative ? -s.exponent : s.exponent;
  long f = s.point ? s.after_point : digits;
  long power = x - f;
  if (!s.exponent_begun) power -= scale;
  // The kept digits stand for all significant digits; trailing ones beyond the kept are worth 10^k.
  return round_to_double(s, power);
}

}  // namespace

Decoded library_value(const ScannedReal& s) {
  char text[48];
  char* end = std::to_chars(text, text + 20, s.mantissa).ptr;
  *end++ = 'e';
  end = std::to_chars(end, text + sizeof text, s.power).ptr;
  double v = 0.0;
  const auto result = std::from_chars(text, end, v);
  const bool too_large = result.ec == std::errc::result_out_of_range ? s.power > 0 : v == kInfinity;
  if (too_large) return {s.negative ? -kInfinity : kInfinity, DecodeStatus::failed};
  if (result.ec == std::errc::result_out_of_range) v = 0.0;
  return {s.negative ? -v : v, DecodeStatus::converted};
}

bool product_to_double(std::uint64_t w, long q, double* out) { return product_value(w, q, out); }

Decoded decode_real(const char* field, std::size_t count, int digits, int scale, bool blanks_are_zeros) {
  const char* p = field;
  const char* const end = field + count;
  Decoded fast;
  if (!blanks_are_zeros && fast_decode(p, end, digits, scale, &fast)) return fast;
  Scan s;
  while (p < end && is_leading_space(static_cast<unsigned char>(*p))) ++p;
  if (p < end && (*p == '+' || *p == '-')) s.negative = *p++ == '-';
  if (!blanks_are_zeros) {
    while (p < end && *p == ' ') ++p;
  }
  if (p < end && (upper(*p) == 'I' || upper(*p) == 'N')) return special_word(p, end, s);
  if (!scan_mantissa(p, end, blanks_are_zeros, s)) return {0.0, DecodeStatus::failed};
  if (s.exponent_begun && !scan_exponent(p, end, blanks_are_zeros, s)) return {0.0, DecodeStatus::failed};
  return scanned_value(s, digits, scale);
}

}  // namespace rtl::convert
