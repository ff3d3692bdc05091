#include "rtl/convert/decode.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

#include "rtl/vector.h"
#if QUIL_VECTOR
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

#include "rtl/ascii.h"
#include "rtl/convert/fast_paths.h"
#include "rtl/convert/powers.h"

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

double exact_power_of_ten(int e) {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  return kPowers[e];
}

// The double of a mantissa just rounded to 53 bits and its biased exponent; a carry into bit 53 makes
// the mantissa one bit longer. False for a result that is not a normal double.
bool rounded_double(std::uint64_t mantissa, int biased, double* out) {
  const int carry = static_cast<int>(mantissa >> 53);
  mantissa >>= carry;
  biased += carry;
  if (biased < 1 || biased > 2046) return false;
  *out = std::bit_cast<double>((static_cast<std::uint64_t>(biased) << 52) |
                               (mantissa & ((std::uint64_t{1} << 52) - 1)));
  return true;
}

// A normalised w times the 128-bit cut of 10^q as a double, from the bits of the whole 192-bit product;
// false where its rounding to 53 bits is not proven.
bool wide_product_to_double(std::uint64_t w, int lz, const Power& p, double* out) {
  const U192 z = multiply(w, p.mantissa);
  // z lies in [2^190, 2^192): its top 53 bits end 139 or 138 bits above its last one.
  const int top = static_cast<int>(z.word[0] >> 63);
  const int cut = 10 + top;
  const WideRounding r = wide_rounding(z, cut);
  if (r.near_half & !r.up) return false;  // within reach of one half
  return rounded_double((z.word[0] >> cut) + r.up, p.exponent + top - lz + 1086, out);
}

// The Eisel-Lemire method, its first product alone where that proves the rounding: the product of w,
// normalised to 64 bits, with the top half of 10^q's 128-bit cut. What the bottom half and the cut add
// stays below one unit of the first product's high word, so the rounding is already certain unless the
// bits below the 53 lie one unit under one half, or exactly at one half with nothing below. Those take
// the whole product; the cases it cannot prove, and results that are not normal doubles, are left to the
// exact conversion.
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
  if ((rest == half - 1) | ((rest == half) & (z.low == 0))) [[unlikely]] {
    return wide_product_to_double(w, lz, p, out);
  }
  // Subtle: rounding up or down is for the data to decide, at random; it costs no branch.
  return rounded_double((z.high >> cut) + (rest >= half), p.exponent + top - lz + 1086, out);
}

// Up to 19 significant digits m and a power of ten: one exact operation where both are exact, else the
// product method; false when neither proves the result.
[[gnu::always_inline]] inline bool quick_value(std::uint64_t m, long power, double* out) {
  // One test, not three: whether the data take this road is theirs to decide, at random.
  if ((m <= (std::uint64_t{1} << 53)) & (static_cast<unsigned long>(power + 22) <= 44)) {
    const double v = static_cast<double>(m);
    *out = power >= 0 ? v * exact_power_of_ten(static_cast<int>(power))
                      : v / exact_power_of_ten(static_cast<int>(-power));
    return true;
  }
  return product_value(m, power, out);
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
    double v = 0.0;
    if (quick_value(m, power, &v)) return signed_value(s, v, DecodeStatus::converted);
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

// Eight characters read as one little-endian word: all digits when no byte lies below '0' or above '9'.
bool eight_digits(std::uint64_t chunk) {
  return (((chunk + 0x4646464646464646u) | (chunk - 0x3030303030303030u)) & 0x8080808080808080u) == 0;
}

// The value of eight digit values 0 to 9, the first the most significant: neighbouring digits, then
// pairs, then quadruples combined by multiplications in place.
std::uint32_t combine_eight(std::uint64_t chunk) {
  chunk = chunk * 10 + (chunk >> 8);
  constexpr std::uint64_t kPairs = 0x000000FF000000FFu;
  chunk = (((chunk & kPairs) * 0x000F424000000064u) + (((chunk >> 16) & kPairs) * 0x0000271000000001u)) >> 32;
  return static_cast<std::uint32_t>(chunk);
}

// The value of eight digits.
std::uint32_t eight_digits_value(std::uint64_t chunk) { return combine_eight(chunk - 0x3030303030303030u); }

int significant_digits(std::uint32_t v) {
  int n = 0;
  for (; v != 0; v /= 10) ++n;
  return n;
}

// The mantissa of a quick field: up to 19 significant digits, at most one point.
struct QuickMantissa {
  std::uint64_t m = 0;
  int significant = 0, after_point = 0, digits_seen = 0;
  bool point = false;
};

// Eight digits at once wherever they stand (in these fields, the run of decimals): true when p begins
// with them, *fits false when they make more than 19 significant digits.
bool quick_eight(const char* p, const char* end, QuickMantissa& q, bool* fits) {
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
bool quick_mantissa(const char*& p, const char* end, QuickMantissa& q) {
  for (; p < end; ++p) {
    bool fits = true;
    if (quick_eight(p, end, q, &fits)) {
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

// The rest of a quick field: nothing, or an exponent of at most six digits after E, D, Q or a sign, up
// to the field's last column. False when it is anything else.
bool quick_exponent(const char* p, const char* end, bool* has_exponent, int* exponent) {
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

// m * 10^power beyond the exact powers: the library rounds the canonical "digits e power" text.
Decoded library_value(std::uint64_t m, int power, int significant, bool negative) {
  char text[48];
  char* end = std::to_chars(text, text + 20, m).ptr;
  *end++ = 'e';
  end = std::to_chars(end, text + sizeof text, power).ptr;
  double v = 0.0;
  auto result = std::from_chars(text, end, v);
  const bool too_large =
      result.ec == std::errc::result_out_of_range ? power + significant > 0 : v == kInfinity;
  if (too_large) return {negative ? -kInfinity : kInfinity, DecodeStatus::failed};
  if (result.ec == std::errc::result_out_of_range) v = 0.0;
  return {negative ? -v : v, DecodeStatus::converted};
}

// The common shape of a field, taken in one tight pass: blanks, a sign, digits with at most one point,
// and an exponent of at most six digits after E, D, Q or a sign, up to the field's last column. Any
// other field, and any value that needs more than one exact operation, is left to the full scan.
bool quick_decode(const char* p, const char* end, int digits, int scale, Decoded* out) {
  while (p < end && is_leading_space(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  QuickMantissa q;
  if (!quick_mantissa(p, end, q) || q.digits_seen == 0) return false;
  bool has_exponent = false;
  int exponent = 0;
  if (!quick_exponent(p, end, &has_exponent, &exponent)) return false;
  if (q.m == 0) {
    *out = {negative ? -0.0 : 0.0, DecodeStatus::converted};
    return true;
  }
  int power = exponent - (q.point ? q.after_point : digits);
  if (!has_exponent) power -= scale;
  double v = 0.0;
  if (!quick_value(q.m, power, &v)) {
    *out = library_value(q.m, power, q.significant, negative);
    return true;
  }
  *out = {negative ? -v : v, DecodeStatus::converted};
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

bool product_to_double(std::uint64_t w, long q, double* out) { return product_value(w, q, out); }

Decoded decode_real(const char* field, std::size_t count, int digits, int scale, bool blanks_are_zeros) {
  const char* p = field;
  const char* const end = field + count;
  Decoded quick;
  if (!blanks_are_zeros && quick_decode(p, end, digits, scale, &quick)) return quick;
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

namespace {

#if QUIL_VECTOR
unsigned mask_of(__m128i matches) { return static_cast<unsigned>(_mm_movemask_epi8(matches)); }

// The columns [from, to) of a 16-column mask.
constexpr unsigned columns(int from, int to) { return ((1u << to) - 1) & ~((1u << from) - 1); }

// Where the parts of a common field stand.
struct Shape {
  int begin = 0;           // the first mantissa digit
  int point = 0;           // the point
  int fraction_end = 0;    // after the last decimal
  int exponent_begin = 0;  // the first exponent digit
};

// What each column of a field is, one bit a column for each class.
struct Classes {
  unsigned digit, blank, dot, letter, sign;
};

Classes classes_of(const char* field) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(field));
  const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8('0'));
  const __m128i lower = _mm_or_si128(v, _mm_set1_epi8(0x20));
  return {
      mask_of(_mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset)),
      mask_of(_mm_cmpeq_epi8(v, _mm_set1_epi8(' '))), mask_of(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))),
      mask_of(
          _mm_or_si128(_mm_cmpeq_epi8(lower, _mm_set1_epi8('e')), _mm_cmpeq_epi8(lower, _mm_set1_epi8('d')))),
      mask_of(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('+')), _mm_cmpeq_epi8(v, _mm_set1_epi8('-'))))};
}

// The common field of a data record, as its columns' classes show it: blanks, a sign, digits, a point,
// digits, E or D and a sign (or a sign alone) and one to three exponent digits, to the last column.
bool common_shape(const Classes& c, Shape* s) {
  // One point, at most one exponent letter (without a counting instruction, which SSE2 lacks).
  if (c.dot == 0 || (c.dot & (c.dot - 1)) != 0 || (c.letter & (c.letter - 1)) != 0) return false;
  s->point = std::countr_zero(c.dot);
  s->begin = std::countr_one(c.blank);  // after the leading blanks
  if (s->begin > 12) return false;
  s->begin += static_cast<int>((c.sign >> s->begin) & 1);  // a sign before the digits
  // The exponent begins with E or D and a sign, or with a sign alone after the point.
  const unsigned after_point = c.sign & ~columns(0, s->point + 1);
  const int marker =
      c.letter != 0 ? std::countr_zero(c.letter) : std::countr_zero(after_point | 0x10000u) - 1;
  s->fraction_end = marker + (c.letter != 0 ? 0 : 1);
  s->exponent_begin = marker + 2;
  const bool exponent_fits = marker >= s->point && marker <= 13 && s->exponent_begin >= 13;
  return exponent_fits && ((c.sign >> (marker + 1)) & 1) != 0 && s->begin < s->point &&
         s->fraction_end - s->begin - 1 <= 19 &&
         c.digit == (columns(s->begin, s->point) | columns(s->point + 1, s->fraction_end) |
                     columns(s->exponent_begin, 16));
}

// The shapes of the fields met last, by their columns' classes: a model's fields come in a few shapes,
// so most fields find theirs here instead of working it out. Zero as a key is the all-blank field, which
// is no common field, as the zeroed table says.
struct KnownShape {
  std::uint64_t key = 0;
  Shape shape;
  bool common = false;
  // For the byte shuffle, for each byte the column it takes, or 0x80 for a zero: the exponent's digits
  // ending in byte 3, the mantissa's ending in byte 15. A mantissa of more than twelve digits does not
  // fit beside the exponent and takes the other road.
  bool gathers = false;
  unsigned char gather[16];
};
thread_local KnownShape t_known_shapes[64];

void make_gather(KnownShape& known) {
  const Shape& s = known.shape;
  std::memset(known.gather, 0x80, 16);
  for (int column = 15, to = 3; column >= s.exponent_begin; --column) {
    known.gather[to--] = static_cast<unsigned char>(column);
  }
  int to = 15;
  for (int column = s.fraction_end - 1; column >= s.begin && to >= 4; --column) {
    if (column != s.point) known.gather[to--] = static_cast<unsigned char>(column);
  }
  known.gathers = s.fraction_end - s.begin - 1 <= 12;
}

const KnownShape* shape_of(const char* field, bool* negative) {
  const Classes c = classes_of(field);
  // A column that is none of these holds another character: no common field has one.
  if (c.blank != (~(c.digit | c.dot | c.letter | c.sign) & 0xFFFFu)) return nullptr;
  const std::uint64_t key =
      c.digit | std::uint64_t{c.dot} << 16 | std::uint64_t{c.letter} << 32 | std::uint64_t{c.sign} << 48;
  KnownShape& known = t_known_shapes[(key * 0x9E3779B97F4A7C15u) >> 58];
  if (known.key != key) {
    known.key = key;
    known.common = common_shape(c, &known.shape);
    if (known.common) make_gather(known);
  }
  if (!known.common) return nullptr;
  // Subtle: the sign is the one class that stands for two characters; the shape knows where it is. A field
  // without a column before its digits looks at its last one, which is a digit: no branch either way.
  *negative = field[(known.shape.begin - 1) & 15] == '-';
  return &known;
}

// Masks of the first k columns of a 16-column field, k = 0 to 16, as a 128-bit number.
constexpr auto kFirstColumns = [] {
  std::array<unsigned __int128, 17> masks{};
  for (int k = 1; k <= 16; ++k) masks[k] = (masks[k - 1] << 8) | 0xFF;
  return masks;
}();

// The mantissa's digits as one number, without a branch: the field as a 128-bit number of digit values
// (the first column in its lowest byte), the point taken out by moving the columns before it up by one,
// the other columns cleared, and the digits moved up to end at the last column: two groups of eight
// then give the value. The digits end in column 11 to 14, so the last move is of 2 to 5 columns.
std::uint64_t mantissa_of(const char* field, const Shape& s) {
  using U128 = unsigned __int128;
  std::uint64_t low, high;
  std::memcpy(&low, field, 8);
  std::memcpy(&high, field + 8, 8);
  // Digits become their values (other columns are cleared below); no borrow crosses a column.
  constexpr std::uint64_t kZeros = 0x3030303030303030u;
  const U128 values = (static_cast<U128>(high ^ kZeros) << 64) | (low ^ kZeros);
  const U128 before_point = kFirstColumns[static_cast<std::size_t>(s.point)];
  U128 digits = ((values & before_point) << 8) | (values & ~(before_point << 8 | 0xFF));
  digits &= kFirstColumns[static_cast<std::size_t>(s.fraction_end)] &
            ~kFirstColumns[static_cast<std::size_t>(s.begin + 1)];
  const unsigned shift = 8 * static_cast<unsigned>(16 - s.fraction_end);
  low = static_cast<std::uint64_t>(digits);
  high = static_cast<std::uint64_t>(digits >> 64);
  high = (high << shift) | (low >> (64 - shift));
  low <<= shift;
  return std::uint64_t{combine_eight(low)} * 100000000 + combine_eight(high);
}

// Where the machine has a byte shuffle: the digits gathered into place at once, then combined in pairs
// and fours across the register.
#if defined(__SSSE3__)
const bool g_has_shuffle = true;
#else
const bool g_has_shuffle = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3") != 0);
#endif
bool g_shuffle = g_has_shuffle;
// The mantissa and the exponent's magnitude of a common field.
struct Digits {
  std::uint64_t mantissa;
  int exponent;
};
__attribute__((target("ssse3"))) Digits gathered_digits(const char* field, const unsigned char* gather) {
  const __m128i values =
      _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(field)), _mm_set1_epi8('0'));
  const __m128i digits = _mm_shuffle_epi8(values, _mm_loadu_si128(reinterpret_cast<const __m128i*>(gather)));
  const __m128i pairs =
      _mm_maddubs_epi16(digits, _mm_setr_epi8(10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1));
  const auto low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(fours));
  const auto high = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(fours, fours)));
  return {(low >> 32) * 100000000 + (high & 0xFFFFFFFFu) * 10000 + (high >> 32),
          static_cast<int>(low & 0xFFFFFFFFu)};
}

// The same by word arithmetic. One to three exponent digits end in the last column; no branch on how many.
Digits digits_of(const char* field, const Shape& s) {
  const int eb = s.exponent_begin;
  return {mantissa_of(field, s), (field[15] - '0') + ((field[14] - '0') * 10 & -static_cast<int>(eb <= 14)) +
                                     ((field[13] - '0') * 100 & -static_cast<int>(eb <= 13))};
}

// The value of a common field; false for any other field, or one that needs more than one exact
// operation: the full decoder takes it.
bool decode_common_16(const char* field, double* out) {
  bool negative = false;
  const KnownShape* known = shape_of(field, &negative);
  if (known == nullptr) return false;
  const Shape& s = known->shape;
  const auto [m, magnitude] =
      g_shuffle && known->gathers ? gathered_digits(field, known->gather) : digits_of(field, s);
  // No branch on the exponent's sign either.
  const int minus = field[s.exponent_begin - 1] == '-';
  const int exponent = (magnitude ^ -minus) + minus;
  double value = 0.0;
  const int power = exponent - (s.fraction_end - s.point - 1);
  if (m != 0 && !quick_value(m, power, &value)) return false;
  *out = std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) | std::uint64_t{negative} << 63);
  return true;
}
#endif

}  // namespace

void use_digit_shuffle(bool on) {
#if QUIL_VECTOR
  g_shuffle = on && g_has_shuffle;
#else
  (void)on;
#endif
}

Decoded decode_field_16(const char* field, bool blanks_are_zeros) {
#if QUIL_VECTOR
  double value = 0.0;
  if (!blanks_are_zeros && decode_common_16(field, &value)) return {value, DecodeStatus::converted};
#endif
  return decode_real(field, 16, 8, 0, blanks_are_zeros);
}

}  // namespace rtl::convert
