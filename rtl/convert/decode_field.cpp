// The 16-column real field, the one every data record holds four of: a field of a shape met before is
// read without a scan, the others by the whole decoder.
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "rtl/convert/decode.h"
#include "rtl/convert/digits.h"
#include "rtl/convert/scanned.h"
#include "rtl/vector.h"
#if QUIL_VECTOR
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

namespace rtl::convert {
namespace {

#if QUIL_VECTOR
unsigned mask_of(__m128i matches) { return static_cast<unsigned>(_mm_movemask_epi8(matches)); }

// The columns [from, to) of a 16-column mask.
constexpr unsigned columns(int from, int to) { return ((1u << to) - 1) & ~((1u << from) - 1); }

// Where the parts of a field that the fast path reads stand.
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

// The field of a data record that the fast path reads, as its columns' classes show it: blanks, a sign,
// digits, a point, digits, E or D and a sign (or a sign alone) and one to three exponent digits, to the last
// column.
bool fast_shape(const Classes& c, Shape* s) {
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
// is no field for the fast path, as the zeroed table says.
struct KnownShape {
  std::uint64_t key = 0;
  Shape shape;
  bool fast = false;
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
  // A column that is none of these holds another character: no field of the fast path has one.
  if (c.blank != (~(c.digit | c.dot | c.letter | c.sign) & 0xFFFFu)) return nullptr;
  const std::uint64_t key =
      c.digit | std::uint64_t{c.dot} << 16 | std::uint64_t{c.letter} << 32 | std::uint64_t{c.sign} << 48;
  KnownShape& known = t_known_shapes[(key * 0x9E3779B97F4A7C15u) >> 58];
  if (known.key != key) {
    known.key = key;
    known.fast = fast_shape(c, &known.shape);
    if (known.fast) make_gather(known);
  }
  if (!known.fast) return nullptr;
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
// The mantissa and the exponent's magnitude of a field of the fast path.
struct FieldNumbers {
  std::uint64_t mantissa;
  int exponent;
};
__attribute__((target("ssse3"))) FieldNumbers gathered_digits(const char* field,
                                                              const unsigned char* gather) {
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
FieldNumbers numbers_of(const char* field, const Shape& s) {
  const int eb = s.exponent_begin;
  return {mantissa_of(field, s), (field[15] - '0') + ((field[14] - '0') * 10 & -static_cast<int>(eb <= 14)) +
                                     ((field[13] - '0') * 100 & -static_cast<int>(eb <= 13))};
}

// The value of a field of the fast path's shape; false for any other field: the fast scan or the full
// scan takes it.
bool fast_field_16(const char* field, Decoded* out) {
  bool negative = false;
  const KnownShape* known = shape_of(field, &negative);
  if (known == nullptr) return false;
  const Shape& s = known->shape;
  const auto [m, magnitude] =
      g_shuffle && known->gathers ? gathered_digits(field, known->gather) : numbers_of(field, s);
  // No branch on the exponent's sign either.
  const int minus = field[s.exponent_begin - 1] == '-';
  const int exponent = (magnitude ^ -minus) + minus;
  const int power = exponent - (s.fraction_end - s.point - 1);
  // A zero mantissa is one exact operation too: the sign alone makes it 0 or -0.
  *out = value_of({m, power, negative});
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
  Decoded value;
  if (!blanks_are_zeros && fast_field_16(field, &value)) return value;
#endif
  return decode_real(field, 16, 8, 0, blanks_are_zeros);
}

}  // namespace rtl::convert
