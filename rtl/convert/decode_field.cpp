// The 16-column real field, the one every data record holds four of: a field of a shape met before is
// read by that shape without a scan, the others by the whole decoder.
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

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
// which is zero. The gather puts the exponent's digits in bytes 1 to 3 and the mantissa's in bytes 4 to 15,
// both ending at the last; whatever has none of them reads zeros there.
struct Form {
  unsigned char gather[16];
  int decimals;
  bool negative, exponent_negative;
};
bool is_digit_char(char c) { return c >= '0' && c <= '9'; }
bool is_sign_char(char c) { return c == '+' || c == '-'; }

// The columns of a field's parts, as the plain scan finds them (-1: none).
struct Scan {
  int mantissa_sign = -1, digits[16] = {}, count = 0, point = -1, decimals = 0;
  int letter = -1, exponent_sign = -1, exponent_begin = 16;
};

// The mantissa from column i, the first that is no blank: a sign, then digits with at most one point.
// Returns the first column after it.
int scan_mantissa(const char* f, int i, Scan* s) {
  if (is_sign_char(f[i])) s->mantissa_sign = i++;
  for (; i < 16; ++i) {
    if (is_digit_char(f[i])) {
      s->digits[s->count++] = i;
      s->decimals += s->point >= 0;
    } else if (f[i] == '.' && s->point < 0) {
      s->point = i;
    } else {
      break;
    }
  }
  return i;
}

// The exponent from column i, if any: E or D (either case) with or without a sign, or a sign alone, then
// one to three digits to the last column.
bool scan_exponent(const char* f, int i, Scan* s) {
  if (i == 16) return true;
  const char c = f[i];
  if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
    s->letter = i++;
    if (i < 16 && is_sign_char(f[i])) s->exponent_sign = i++;
  } else if (is_sign_char(c)) {
    s->exponent_sign = i++;
  } else {
    return false;
  }
  s->exponent_begin = i;
  if (16 - i < 1 || 16 - i > 3) return false;
  for (; i < 16; ++i) {
    if (!is_digit_char(f[i])) return false;
  }
  return true;
}

bool field_form(const char* f, Form* form) {
  for (auto& g : form->gather) g = 0x80;
  int i = 0;
  while (i < 16 && f[i] == ' ') ++i;
  if (i == 16) {
    form->decimals = 8;
    form->negative = false;
    form->exponent_negative = false;
    return true;
  }
  Scan s;
  i = scan_mantissa(f, i, &s);
  if (s.count == 0 || s.count > 12 || !scan_exponent(f, i, &s)) return false;
  for (int k = s.exponent_begin; k < 16; ++k) form->gather[k - 12] = static_cast<unsigned char>(k);
  for (int k = 0; k < s.count; ++k) form->gather[16 - s.count + k] = static_cast<unsigned char>(s.digits[k]);
  form->decimals = s.point >= 0 ? s.decimals : 8;
  form->negative = s.mantissa_sign >= 0 && f[s.mantissa_sign] == '-';
  form->exponent_negative = s.exponent_sign >= 0 && f[s.exponent_sign] == '-';
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
// The same by word arithmetic. One to three exponent digits end in the last column; no branch on how many.
FieldNumbers numbers_of(const char* field, const Shape& s) {
  const int eb = s.exponent_begin;
  return {mantissa_of(field, s), (field[15] - '0') + ((field[14] - '0') * 10 & -static_cast<int>(eb <= 14)) +
                                     ((field[13] - '0') * 100 & -static_cast<int>(eb <= 13))};
}

// A field as its shape's pattern: every digit a '0', every other byte as it stands. Fields of one pattern
// have one shape, whatever their digits; the signs, of the mantissa and of the exponent, are the pattern's
// own, so that the shape holds them and a field's value needs no look at its sign.
inline __m128i pattern_of(__m128i v, __m128i offset) {
  const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset);
  // A digit less its own offset from '0' is '0'.
  return _mm_sub_epi8(v, _mm_and_si128(digit, offset));
}

// The shapes of the fields met last, by their patterns: a model's fields come in a few shapes, so most
// fields find theirs here instead of working it out. A shape is read by the byte shuffle (the forms of
// field_form), by word arithmetic (the shapes of fast_shape), by both, or by neither, which leaves the field
// to the whole decoder; the shuffle's own road needs no mark (see kFieldScales).
struct KnownShape {
  alignas(16) unsigned char pattern[16];
  unsigned char gather[16];
  // The weights of the gathered pairs: the exponent's hundreds, and its tens and units, with its sign; then
  // the mantissa's pairs, each pair of pairs a group of four.
  std::int16_t weights[8];
  // The mantissa's sign at a double's bit 63, first in a 16-byte line that the shuffle's road ORs into the
  // mantissa's lane as it stands: the rest of the line lands in the lane above, which nothing reads.
  std::uint64_t sign_bit;
  std::int32_t decimals;  // the digits after the point
  bool words;             // word arithmetic reads it
  Shape shape;
};
inline void set_weights(KnownShape* known, bool exponent_negative) {
  const std::int16_t sign = exponent_negative ? -1 : 1;
  const std::int16_t weights[8] = {static_cast<std::int16_t>(100 * sign), sign, 100, 1, 100, 1, 100, 1};
  std::memcpy(known->weights, weights, sizeof weights);
}

// A slot that no field's pattern matches: the digit 1 stands where a pattern has a 0.
constexpr auto kEmptySlots = [] {
  std::array<KnownShape, 256> slots{};
  for (KnownShape& k : slots) k.pattern[0] = '1';
  return slots;
}();
constinit thread_local std::array<KnownShape, 256> t_known_shapes = kEmptySlots;
// For each slot, the pattern that a newer one moved out of it: see decode_field_learning.
constinit thread_local std::array<KnownShape, 256> t_moved_shapes = kEmptySlots;

// The slot of a field's pattern, by all of its bytes: its two halves folded and multiplied, the slot in the
// product's top bits. A file's forms (E or D, a sign or a blank, fixed point of every width, each exponent
// sign) are some dozens of patterns, and a few of them share a slot: the pattern that a newer one moves out
// waits beside it (see decode_field_learning).
inline std::size_t slot_index(__m128i pattern) {
  const auto folded =
      static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_xor_si128(pattern, _mm_shuffle_epi32(pattern, 0x4E))));
  return (folded * 0x9E3779B97F4A7C15u) >> 56;
}
inline KnownShape& slot_of(__m128i pattern) { return t_known_shapes[slot_index(pattern)]; }

// A field's value with its sign: set, not branched on, as the sign is the data's coin toss, and in the
// vector unit, where the value is. A zero mantissa makes 0 or -0.
inline double signed_field_value(double magnitude, bool negative) {
  const __m128i sign = _mm_cvtsi64_si128(static_cast<long long>(std::uint64_t{negative} << 63));
  return _mm_cvtsd_f64(_mm_or_pd(_mm_set_sd(magnitude), _mm_castsi128_pd(sign)));
}

// The stages after the exact operation each stand apart, their arguments in registers, so that the road
// before them only jumps to them and saves no register: the whole product or the library, for the rare
// values that the first product leaves open ...
[[gnu::cold, gnu::noinline]] double rare_field_value(double mantissa, long power) {
  return detail::packed(value_of({static_cast<std::uint64_t>(static_cast<std::int64_t>(std::fabs(mantissa))),
                                  power, std::signbit(mantissa)}));
}

// ... and the first product, for values beyond the exact operation. The mantissa comes as the double it
// is exactly (below 2^53), with the field's sign: its bits are the mantissa normalised to 64 bits and, in its
// exponent, the count of the normalisation, so that no count of leading zeros is needed. The first product's
// rounding, as product_value has it, is left to the rare road where the bits below the 53 lie within one unit
// under one half or at one half (a tie or a near one: one field in a hundred).
// The top word of each power of ten, and what its binary exponent adds to a double's exponent field (see
// below), side by side: one line of the cache holds both. Only the powers whose every result is a normal
// double have one, so that the power's test is the only test of the result's range: with f the power's
// binary exponent and k the mantissa's (0 to 43: thirteen digits at most), the result's exponent field is
// 1023 + k + f, or one more, or two where the rounding carries (see below).
struct PowerTop {
  std::uint64_t high;
  std::uint64_t scale;
};
constexpr int kLowestFieldPower = -307, kHighestFieldPower = 294;
constexpr auto kPowerTops = [] {
  std::array<PowerTop, kHighestFieldPower - kLowestFieldPower + 1> tops{};
  for (int q = kLowestFieldPower; q <= kHighestFieldPower; ++q) {
    const int f = floor_log2_pow10(q);
    if (power_of_ten(q).exponent != f) throw "a power's exponent is not floor(q log2 10)";
    if (1023 + f < 1 || 1023 + 43 + f + 2 > 2046) throw "a power's results are not all normal doubles";
    tops[static_cast<std::size_t>(q - kLowestFieldPower)] = {power_of_ten(q).mantissa.high,
                                                             static_cast<std::uint64_t>(f - 1084) << 52};
  }
  return tops;
}();

// The product's high word h lies in [2^126, 2^128) / 2^64, and the value is h * 2^(k + f - 62), k the
// mantissa's binary exponent and f the power's. h / 2 becomes a double by the machine's own rounding to
// nearest, and its exponent field takes k + f - 61 by a sum (the mantissa's field holds k + 1023): no shift,
// no count. The shift drops h's last bit, which matters only where the bits it drops lie exactly at one half
// (h ends in 0x401 with its top bit set, 0x201 with it clear); those go, with the ties and near ones that the
// first product leaves open (the bits below the 53 within one unit under one half or at it), to the rare
// road: the bits below the 53 from 0x3FE to 0x402 of 11 (h's last 11 bits, its top bit set) or from 0x1FF to
// 0x201 of 10 (its last 10, clear). Both lie where h's last 9 bits are 0x1FE to 0x002 round the turn, which
// one test asks without the top bit: one field in a hundred takes the rare road, for no shift by a count.
// The sum, and the sign with it, is made in the vector unit where the conversion leaves the double, from a
// word ready before the product is: the mantissa's sign and exponent with the power's scale, added as
// one word whatever it borrows, since only the whole sum, a normal double's bits, is read.
[[gnu::noinline]] double product_field_value(double mantissa, long power) {
  const auto bits = std::bit_cast<std::uint64_t>(mantissa);
  if ((static_cast<unsigned long>(power - kLowestFieldPower) > kHighestFieldPower - kLowestFieldPower) |
      ((bits << 1) == 0)) [[unlikely]]
    return rare_field_value(mantissa, power);
  const PowerTop& ten = kPowerTops[static_cast<std::size_t>(power - kLowestFieldPower)];
  const std::uint64_t high = multiply(bits << 11 | std::uint64_t{1} << 63, ten.high).high;
  if (((high + 2) & 0x1FF) <= 4) [[unlikely]]
    return rare_field_value(mantissa, power);
  // Subtle: rounding up or down is for the data to decide, at random; it costs no branch. A carry into
  // a new binade is the conversion's own.
  const __m128d rounded = _mm_cvtsi64_sd(_mm_setzero_pd(), static_cast<long long>(high >> 1));
  const __m128i sum = _mm_cvtsi64_si128(static_cast<long long>((bits & 0xFFF0000000000000u) + ten.scale));
  return _mm_cvtsd_f64(_mm_castsi128_pd(_mm_add_epi64(_mm_castpd_si128(rounded), sum)));
}

[[gnu::noinline]] double whole_decoder(const char* field) {
  return detail::packed(decode_real(field, 16, 8, 0, false));
}

double decode_field_learning(const char* field);
double decode_16_shuffled(const char* field);
double decode_16_words(const char* field);

// The known shape of a field, or none: its pattern is not the one in its slot.
#define QUIL_KNOWN_SHAPE(pattern)                                                               \
  const KnownShape& known = slot_of(pattern);                                                   \
  const __m128i same =                                                                          \
      _mm_cmpeq_epi8(pattern, _mm_load_si128(reinterpret_cast<const __m128i*>(known.pattern))); \
  if (mask_of(same) != 0xFFFFu) [[unlikely]]                                                    \
  return decode_field_learning(field)

// The exact operation's scales, and one more for the power 23: 0 / 0, the quiet NaN that says "not this road"
// (detail::unpacked reads such a field by the whole decoder). A shape that the shuffle does not read has
// no digits gathered and 23 decimals less than none, so that it comes here with no test of its own. A
// field of the power 23 itself comes here too, and the whole decoder reads it.
// The factors stand in two rows of one table, which one register addresses.
struct FieldScales {
  double times[46], over[46];
};
constexpr auto kFieldScales = [] {
  FieldScales scales{};
  for (std::size_t k = 0; k < 45; ++k) {
    scales.times[k] = kExactScales[k].times;
    scales.over[k] = kExactScales[k].over;
  }
  return scales;
}();
constexpr std::int32_t kNotGathered = -23;

// A 16-column field by its known shape, the digits gathered by the byte shuffle; a field of a new pattern
// learns it first. Only tail calls leave it, so that the usual road saves no register. The gather takes
// only digit columns, so the bytes less '0' need no clamping. The mantissa, twelve digits at most, becomes
// a double exactly in the vector unit: its groups of four as doubles, times 10^8 and 10^4, summed (every
// partial sum is an integer below 2^53).
[[gnu::noinline]] __attribute__((target("ssse3"))) double decode_16_shuffled(const char* field) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(field));
  const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8('0'));
  const __m128i pattern = pattern_of(v, offset);
  QUIL_KNOWN_SHAPE(pattern);
  const __m128i digits =
      _mm_shuffle_epi8(offset, _mm_loadu_si128(reinterpret_cast<const __m128i*>(known.gather)));
  const __m128i pairs =
      _mm_maddubs_epi16(digits, _mm_setr_epi8(0, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1));
  const __m128i fours =
      _mm_madd_epi16(pairs, _mm_load_si128(reinterpret_cast<const __m128i*>(known.weights)));
  // The exponent comes with its sign, which the shape holds: no branch on it.
  const int power = _mm_cvtsi128_si32(fours) - known.decimals;
  // The groups of four in 16-bit lanes: the first, and the last two as one number below 10^8.
  const __m128d halves = _mm_cvtepi32_pd(
      _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_setr_epi16(0, 1, 10000, 1, 0, 0, 0, 0)));
  const __m128d mantissa =
      _mm_or_pd(_mm_add_sd(_mm_mul_sd(halves, _mm_set_sd(1e8)),
                           _mm_castsi128_pd(_mm_shuffle_epi32(_mm_castpd_si128(halves), 0xEE))),
                _mm_load_pd(reinterpret_cast<const double*>(&known.sign_bit)));
  // One test, not three: whether the data take this road is theirs to decide.
  const unsigned scale_index = static_cast<unsigned>(power) + 22u;
  if (scale_index > 45) return product_field_value(_mm_cvtsd_f64(mantissa), power);
  return _mm_cvtsd_f64(mantissa) * kFieldScales.times[scale_index] / kFieldScales.over[scale_index];
}

// The same by word arithmetic, which reads the shapes of fast_shape (and so every field of those while the
// shuffle is turned off).
[[gnu::noinline]] double decode_16_words(const char* field) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(field));
  const __m128i pattern = pattern_of(v, _mm_sub_epi8(v, _mm_set1_epi8('0')));
  QUIL_KNOWN_SHAPE(pattern);
  if (!known.words) [[unlikely]]
    return whole_decoder(field);
  const FieldNumbers numbers = numbers_of(field, known.shape);
  // Thirteen digits at most: below 10^13, so the exact operation's test of the mantissa's size passes.
  if (numbers.mantissa >= 10000000000000u) __builtin_unreachable();
  const long power = numbers.exponent * known.weights[1] - (known.shape.fraction_end - known.shape.point - 1);
  const bool negative = known.sign_bit != 0;
  double value = 0.0;
  if (!exact_value(numbers.mantissa, power, &value))
    return product_field_value(signed_field_value(static_cast<double>(numbers.mantissa), negative), power);
  return signed_field_value(value, negative);
}
#undef QUIL_KNOWN_SHAPE

// A field whose pattern is not in its slot: the pattern and its shape take the slot, then the field is
// read by the road of that shape. Two patterns of one slot that take turns would learn their shapes again
// and again: the one moved out waits beside the slot, and comes back from there by an exchange.
[[gnu::noinline]] double decode_field_learning(const char* field) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(field));
  const __m128i pattern = pattern_of(v, _mm_sub_epi8(v, _mm_set1_epi8('0')));
  const std::size_t slot = slot_index(pattern);
  KnownShape& known = t_known_shapes[slot];
  KnownShape& beside = t_moved_shapes[slot];
  const __m128i waiting = _mm_load_si128(reinterpret_cast<const __m128i*>(beside.pattern));
  if (mask_of(_mm_cmpeq_epi8(pattern, waiting)) == 0xFFFFu) {
    std::swap(known, beside);
    return detail::g_field_16(field);
  }
  beside = known;
  _mm_store_si128(reinterpret_cast<__m128i*>(known.pattern), pattern);
  // The words read the shapes of fast_shape, the shuffle the forms of field_form; a pattern may have either
  // road, both, or neither.
  Shape& s = known.shape;
  const bool words = fast_shape(field, &s);
  Form form;
  const bool gathered = g_shuffle && field_form(field, &form);
  known.words = words;
  if (gathered) {
    std::memcpy(known.gather, form.gather, 16);
    known.decimals = form.decimals;
    known.sign_bit = std::uint64_t{form.negative} << 63;
    set_weights(&known, form.exponent_negative);
    return decode_16_shuffled(field);
  }
  std::memset(known.gather, 0x80, 16);
  known.decimals = kNotGathered;
  if (!words) return whole_decoder(field);
  known.sign_bit = std::uint64_t{field[(s.begin - 1) & 15] == '-'} << 63;
  set_weights(&known, field[s.exponent_begin - 1] == '-');
  return decode_16_words(field);
}

double (*initial_road())(const char*) { return g_shuffle ? decode_16_shuffled : decode_16_words; }
#else
double whole_decoder(const char* field) { return detail::packed(decode_real(field, 16, 8, 0, false)); }
double (*initial_road())(const char*) { return whole_decoder; }
#endif

}  // namespace

namespace detail {
double (*g_field_16)(const char*) = initial_road();

Decoded unpacked(double packed_value, const char* field) {
  const auto bits = std::bit_cast<std::uint64_t>(packed_value);
  // A quiet NaN without payload: "not this road" (or a field that reads NAN, whose value it also is).
  if ((bits << 1) == 0xFFF0000000000000u) return decode_real(field, 16, 8, 0, false);
  if ((bits & ~std::uint64_t{3}) != kFailure) return {packed_value, DecodeStatus::converted};  // NaN itself
  const double magnitude = (bits & 1) != 0 ? std::numeric_limits<double>::infinity() : 0.0;
  return {(bits & 2) != 0 ? -magnitude : magnitude, DecodeStatus::failed};
}
}  // namespace detail

void use_digit_shuffle(bool on) {
#if QUIL_VECTOR
  g_shuffle = on && g_has_shuffle;
  detail::g_field_16 = initial_road();
#else
  (void)on;
#endif
}

}  // namespace rtl::convert
