// The 16-column real field, the one every data record holds four of: a field of a shape met before is
// read by that shape without a scan, the others by the whole decoder.
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

// Where the parts of a field of the fast path stand.
struct Shape {
  int begin;           // the first mantissa column, after the blanks and the sign
  int point;           // the point
  int fraction_end;    // after the last decimal: the exponent's letter, or its sign where it has none
  int exponent_begin;  // the first exponent digit, after the exponent's sign
};

// The shape of a field of the fast path: blanks, a sign, digits with one point (one digit at least), E or
// D (either case) and a sign, or a sign alone, and one to three exponent digits to the last column. Read
// off three masks of its columns (digits, blanks, the point) without a loop or a branch: the last column
// that is no digit is the exponent's sign; the one before it its letter, if it is one; every other column
// that is no digit must be the point or stand before the digits, blanks and at most one sign there.
bool fast_shape(const char* field, Shape* s) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(field));
  const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8('0'));
  const unsigned others = ~mask_of(_mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset)) & 0xFFFFu;
  const unsigned blanks = mask_of(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')));
  const unsigned dot = mask_of(_mm_cmpeq_epi8(v, _mm_set1_epi8('.')));
  const int sign = std::bit_width(others | 1u) - 1;
  const char exponent_sign = field[sign];
  const unsigned letter_byte = static_cast<unsigned char>(field[(sign - 1) & 15]) | 0x20u;
  const int letter = (letter_byte == 'e') | (letter_byte == 'd');
  s->fraction_end = sign - letter;
  s->exponent_begin = sign + 1;
  const unsigned lead = others & ~(dot | 1u << sign | static_cast<unsigned>(letter) << s->fraction_end);
  s->begin = std::countr_zero(lead + 1);
  s->point = std::countr_zero(dot | 0x10000u);
  // A lead column that is no blank may only be the last, and a sign.
  const unsigned marked = lead & ~blanks;
  const char before = field[(s->begin - 1) & 15];
  const bool signs = ((exponent_sign == '+') | (exponent_sign == '-')) &
                     ((marked & ~(lead ^ lead >> 1)) == 0) &
                     ((marked == 0) | (before == '+') | (before == '-'));
  return signs & (static_cast<unsigned>(sign - 12) <= 2u) & ((lead & (lead + 1)) == 0) & (dot != 0) &
         ((dot & (dot - 1)) == 0) & (s->fraction_end - s->begin >= 2);
}

// The forms the byte shuffle reads, worked out once for each pattern by a plain scan: blanks, a sign,
// one to twelve digits with at most one point, and an exponent or none: E or D (either case) with or
// without a sign, or a sign alone, and one to three digits to the last column; or a field of blanks alone,
// which is zero. The gather puts the exponent's digits in bytes 1 to 3 and the mantissa's in bytes 4 to
// 15, both ending at the last; whatever has none of them reads zeros there. A column that is never a
// minus stands for a sign the field does not have.
struct Form {
  unsigned char gather[16];
  int decimals, mantissa_sign, exponent_sign;
};
bool is_digit_char(char c) { return c >= '0' && c <= '9'; }
bool field_form(const char* f, Form* form) {
  for (auto& g : form->gather) g = 0x80;
  int i = 0;
  while (i < 16 && f[i] == ' ') ++i;
  if (i == 16) {
    *form = {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}, 8, 0, 0};
    return true;
  }
  int mantissa_sign = -1;
  if (f[i] == '+' || f[i] == '-') mantissa_sign = i++;
  int digits[16], count = 0, point = -1, decimals = 0;
  for (; i < 16; ++i) {
    if (is_digit_char(f[i])) {
      digits[count++] = i;
      decimals += point >= 0;
    } else if (f[i] == '.' && point < 0) {
      point = i;
    } else {
      break;
    }
  }
  if (count == 0 || count > 12) return false;
  int exponent_sign = -1, exponent_begin = 16;
  if (i < 16) {
    const char c = f[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      ++i;
      if (i < 16 && (f[i] == '+' || f[i] == '-')) exponent_sign = i++;
    } else if (c == '+' || c == '-') {
      exponent_sign = i++;
    } else {
      return false;
    }
    exponent_begin = i;
    if (16 - i < 1 || 16 - i > 3) return false;
    for (; i < 16; ++i) {
      if (!is_digit_char(f[i])) return false;
    }
  }
  for (int k = exponent_begin; k < 16; ++k) form->gather[k - 12] = static_cast<unsigned char>(k);
  for (int k = 0; k < count; ++k) form->gather[16 - count + k] = static_cast<unsigned char>(digits[k]);
  const int digit = digits[count - 1];  // never a minus
  form->decimals = point >= 0 ? decimals : 8;
  form->mantissa_sign = mantissa_sign >= 0 ? mantissa_sign : digit;
  form->exponent_sign = exponent_sign >= 0 ? exponent_sign : digit;
  return true;
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
      _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(field)), _mm_set1_epi8('0'));
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

// A field as its shape's pattern: every digit a '0', a minus sign a plus, every other byte as it stands.
// Fields of one pattern have one shape, whatever their digits and signs.
inline __m128i pattern_of(__m128i v) {
  const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8('0'));
  const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset);
  const __m128i plus =
      _mm_xor_si128(v, _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('-')), _mm_set1_epi8(6)));
  return _mm_or_si128(_mm_andnot_si128(digit, plus), _mm_and_si128(digit, _mm_set1_epi8('0')));
}

// The shapes of the fields met last, by their patterns: a model's fields come in a few shapes, so most
// fields find theirs here instead of working it out. A slot of zeros matches only a field of zero bytes,
// and sends it to the whole decoder, as its `fast` says.
// The road of a shape: the whole decoder (zero, as an empty slot has it), the byte shuffle (a mantissa of
// up to twelve digits, gathered beside the exponent), or word arithmetic, which reads every shape of the
// fast path (and so every field while the shuffle is turned off).
enum class Road : unsigned char { none = 0, gathered = 1, words = 2, both = 3 };
struct KnownShape {
  alignas(16) unsigned char pattern[16];
  unsigned char gather[16];
  Shape shape;
  int decimals;       // the digits after the point
  int mantissa_sign;  // the column before the digits (the last one where there is none)
  int exponent_sign;  // the column of the exponent's sign
  Road road;
};
thread_local KnownShape t_known_shapes[128];

// The slot of a field's pattern, by all of its bytes: its two halves folded and multiplied, the slot in the
// product's top bits. A file's forms (E or D, a sign or a blank, fixed point of every width) are a few dozen
// patterns, which must not take each other's slots.
inline KnownShape& slot_of(__m128i pattern) {
  const auto low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(pattern));
  const auto high = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(pattern, pattern)));
  return t_known_shapes[((low ^ (high >> 1)) * 0x9E3779B97F4A7C15u) >> 57];
}

// A field's value with its sign: set, not branched on, as the sign is the data's coin toss. A zero
// mantissa makes 0 or -0.
inline Decoded signed_field_value(double magnitude, bool negative) {
  return {std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) | std::uint64_t{negative} << 63),
          DecodeStatus::converted};
}

// The stages after the exact operation each stand apart, their arguments in registers, so that the road
// before them only jumps to them and saves no register: the whole product or the library, for the rare
// values that the first product leaves open ...
[[gnu::cold, gnu::noinline]] Decoded rare_field_value(std::uint64_t mantissa, long power, bool negative) {
  return value_of({mantissa, power, negative});
}

// ... and the first product, for values beyond the exact operation.
[[gnu::noinline]] Decoded product_field_value(std::uint64_t mantissa, long power, bool negative) {
  double v = 0.0;
  if (!product_value<false>(mantissa, power, &v)) [[unlikely]]
    return rare_field_value(mantissa, power, negative);
  return signed_field_value(v, negative);
}

// What a field of a known shape stands for: its mantissa, power of ten and sign, its digits gathered by
// the byte shuffle or by word arithmetic.
struct FieldParts {
  std::uint64_t mantissa;
  long power;
  bool negative;
};
template <bool shuffle>
[[gnu::always_inline]] inline FieldParts parts_of(const char* field, const KnownShape& known) {
  FieldNumbers numbers;
  if constexpr (shuffle) {
    numbers = gathered_digits(field, known.gather);
  } else {
    numbers = numbers_of(field, known.shape);
  }
  // No branch on the exponent's sign either.
  const int minus = field[known.exponent_sign] == '-';
  // Twelve digits gathered, thirteen at most by words: below 10^13, so the exact operation's test of the
  // mantissa's size is known to pass.
  if (numbers.mantissa >= 10000000000000u) __builtin_unreachable();
  return {numbers.mantissa, ((numbers.exponent ^ -minus) + minus) - known.decimals,
          field[known.mantissa_sign] == '-'};
}

Decoded decode_field_learning(const char* field, bool blanks_are_zeros);
Decoded decode_16_shuffled(const char* field, bool blanks_are_zeros);
Decoded decode_16_words(const char* field, bool blanks_are_zeros);

// A 16-column field by its known shape; a field of a new pattern learns it first. Only tail calls leave
// it, written in its own body (a call's value passed up through an inlined function is no tail call), so
// that the usual road saves no register.
#define QUIL_DECODE_16(shuffle)                                                                            \
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(field));                              \
  const __m128i pattern = pattern_of(v);                                                                   \
  const KnownShape& known = slot_of(pattern);                                                              \
  const __m128i same =                                                                                     \
      _mm_cmpeq_epi8(pattern, _mm_load_si128(reinterpret_cast<const __m128i*>(known.pattern)));            \
  if (blanks_are_zeros || mask_of(same) != 0xFFFFu) [[unlikely]]                                           \
    return decode_field_learning(field, blanks_are_zeros);                                                 \
  if ((static_cast<unsigned>(known.road) & (shuffle ? 1u : 2u)) == 0) [[unlikely]]                         \
    return shuffle && known.road == Road::words ? decode_16_words(field, false)                            \
                                                : decode_real(field, 16, 8, 0, false);                     \
  const FieldParts parts = parts_of<shuffle>(field, known);                                                \
  double value = 0.0;                                                                                      \
  if (!exact_value(parts.mantissa, parts.power, &value))                                                   \
    return product_field_value(parts.mantissa, parts.power, parts.negative);                               \
  return signed_field_value(value, parts.negative)

[[gnu::noinline]] __attribute__((target("ssse3"))) Decoded decode_16_shuffled(const char* field,
                                                                              bool blanks_are_zeros) {
  QUIL_DECODE_16(true);
}

[[gnu::noinline]] Decoded decode_16_words(const char* field, bool blanks_are_zeros) { QUIL_DECODE_16(false); }
#undef QUIL_DECODE_16

// A field whose pattern is not in its slot: the pattern and its shape take the slot, then the field is
// read by the road of that shape. Blanks read as zeros take the whole decoder.
[[gnu::noinline]] Decoded decode_field_learning(const char* field, bool blanks_are_zeros) {
  if (blanks_are_zeros) return decode_real(field, 16, 8, 0, true);
  const __m128i pattern = pattern_of(_mm_loadu_si128(reinterpret_cast<const __m128i*>(field)));
  KnownShape& known = slot_of(pattern);
  _mm_store_si128(reinterpret_cast<__m128i*>(known.pattern), pattern);
  // The words read the shapes of fast_shape, the shuffle the forms of field_form; a pattern may have either
  // road, both, or neither.
  Shape& s = known.shape;
  const bool words = fast_shape(field, &s);
  Form form;
  const bool gathered = g_shuffle && field_form(field, &form);
  known.road = static_cast<Road>((gathered ? 1 : 0) | (words ? 2 : 0));
  if (gathered) {
    std::memcpy(known.gather, form.gather, 16);
    known.decimals = form.decimals;
    known.mantissa_sign = form.mantissa_sign;
    known.exponent_sign = form.exponent_sign;
    return decode_16_shuffled(field, false);
  }
  if (!words) return decode_real(field, 16, 8, 0, false);
  known.decimals = s.fraction_end - s.point - 1;
  known.mantissa_sign = (s.begin - 1) & 15;
  known.exponent_sign = s.exponent_begin - 1;
  return decode_16_words(field, false);
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
  return g_shuffle ? decode_16_shuffled(field, blanks_are_zeros) : decode_16_words(field, blanks_are_zeros);
#else
  return decode_real(field, 16, 8, 0, blanks_are_zeros);
#endif
}

}  // namespace rtl::convert
