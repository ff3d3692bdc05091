#include "rtl/convert/encode.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "rtl/convert/fast_paths.h"
#include "rtl/convert/powers.h"
#include "rtl/vector.h"
#if QUIL_VECTOR
#include <emmintrin.h>
#endif

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

// Exact: the standard library's conversion of the exact binary value, ties to even. Writes the n digits
// to `digit` and returns the exponent X of 0.D1D2...Dn through *exponent. `text` holds n + 16 bytes.
bool exact_digits(double magnitude, int n, char* text, std::size_t text_size, char* digit, int* exponent) {
  auto [end, ec] = std::to_chars(text, text + text_size, magnitude, std::chars_format::scientific, n - 1);
  if (ec != std::errc{}) return false;
  // "D.DDDDe+XX" or, for one digit, "De+XX".
  const char* p = text;
  int count = 0;
  for (; p < end && *p != 'e'; ++p) {
    if (*p != '.') digit[count++] = *p;
  }
  int e10 = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), end, e10);
  *exponent = e10 + 1;
  return count == n;
}

constexpr std::uint64_t kTens[] = {1ull,
                                   10ull,
                                   100ull,
                                   1000ull,
                                   10000ull,
                                   100000ull,
                                   1000000ull,
                                   10000000ull,
                                   100000000ull,
                                   1000000000ull,
                                   10000000000ull,
                                   100000000000ull,
                                   1000000000000ull,
                                   10000000000000ull,
                                   100000000000000ull,
                                   1000000000000000ull,
                                   10000000000000000ull,
                                   100000000000000000ull};
constexpr int kFastDigits = 17;

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void put_pair(char* at, std::uint32_t pair) { std::memcpy(at, kDigitPairs + 2 * pair, 2); }

// The n digits of d from the right: eight at a time in 32-bit halves that do not wait for each other,
// then two at a time.
void put_digits(std::uint64_t d, int n, char* out) {
  char* p = out + n;
  while (p - out >= 8) {
    const auto eight = static_cast<std::uint32_t>(d % 100000000);
    d /= 100000000;
    const std::uint32_t high = eight / 10000, low = eight % 10000;
    p -= 8;
    put_pair(p, high / 100);
    put_pair(p + 2, high % 100);
    put_pair(p + 4, low / 100);
    put_pair(p + 6, low % 100);
  }
  while (p - out >= 2) {
    const std::uint64_t pair = d % 100;
    d /= 100;
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * pair, 2);
  }
  if (p > out) *--p = static_cast<char>('0' + d);
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

namespace {
// Whether the digits within reach of one half are an exact tie, which goes to even as the exact
// conversion takes it; *digits then holds them. Found where it is certain: the product is exact (10^q
// holds in 128 bits for q from 0 to 55) and its fraction is one half, or the value is an integer below
// 2^64 whose remainder by 10^-q is one half of it. Models hold such values often (2.5E+10 and the like).
bool exact_tie(std::uint64_t bits, int q, bool product_is_half, std::uint64_t* digits) {
  std::uint64_t d = 0;
  if (q >= 0) {
    if (q > 55 || !product_is_half) return false;
    d = *digits;  // the product's integer: a tie does not round it up
  } else {
    const int biased = static_cast<int>(bits >> 52);
    const int e = biased - 1075;
    const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    if (biased == 0 || -q > 17 || e > 11 || (e < 0 && (e < -52 || (m & ((std::uint64_t{1} << -e) - 1)) != 0)))
      return false;
    const std::uint64_t v = e >= 0 ? m << e : m >> -e;
    const std::uint64_t ten = kTens[-q];
    if (2 * (v % ten) != ten) return false;
    d = v / ten;
  }
  *digits = d + (d & 1);
  return true;
}

// The n digits from the whole 192-bit product, where the first product leaves the rounding open: the
// bits below the digits lie one unit under one half, or at one half. False when the digits are not
// certain.
bool wide_digits(std::uint64_t bits, std::uint64_t m, const Power& p, int q, int cut, std::uint64_t* digits) {
  const U192 z = multiply(m, p.mantissa);
  const WideRounding r = wide_rounding(z, cut);
  *digits = (z.word[0] >> cut) + r.up;
  // Within reach of one half, only an exact tie is certain.
  return r.near_half <= r.up || exact_tie(bits, q, r.exact_half, digits);
}

// The n (1 to 17) digits by the product, the body of fast_digits, inlined where a field is written in one
// piece: |value| = m * 2^e with m normalised to 64 bits, times the 128-bit cut of 10^(n - X), gives the
// n-digit integer and its fraction in a 192-bit product. The cut power is low by less than one unit of
// its last bit, so the product is low by less than m < 2^64 units of its own last bit: the digits are
// proven when the fraction is not within 2^64 units below one half, nor exactly one half (a tie, or a
// value just above one). Everything else goes to the exact conversion.
[[gnu::always_inline]] inline bool product_digits(double magnitude, int n, std::uint64_t* digits,
                                                  int* exponent) {
  if (n > kFastDigits) return false;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(magnitude);
  const int biased = static_cast<int>(bits >> 52);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int e = -1074;
  if (biased != 0) {
    m |= std::uint64_t{1} << 52;
    e = biased - 1075;
  }
  if (m == 0) return false;
  const int lz = std::countl_zero(m);
  m <<= lz;
  e -= lz;
  // |value| lies in [2^(e+63), 2^(e+64)), so X is one of two; comparing with the power of ten between
  // them picks one, and the check of the digit count below corrects a pick that is one off.
  int x = floor_log10_pow2(e + 63) + 1;
  if (x >= kLowestPower && x <= kHighestPower) {
    const Power& ten = power_of_ten(x);
    // Subtle: whether a value lies above its binade's power of ten is a coin toss; no branch on it.
    x += (ten.exponent < e + 63) | ((ten.exponent == e + 63) & (m >= ten.mantissa.high));
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int q = n - x;
    if (q < kLowestPower || q > kHighestPower) return false;
    const Power& p = power_of_ten(q);
    const U128 z = multiply(m, p.mantissa.high);
    // The product's value is z * 2^-(shift - 64): the integer is the top 192 - shift bits.
    const int shift = 127 - e - p.exponent;
    if (shift <= 128 || shift >= 192) return false;
    const int cut = shift - 128;
    const std::uint64_t integer = z.high >> cut;
    if (integer < kTens[n - 1]) {
      --x;
      continue;
    }
    if (integer >= kTens[n]) {
      ++x;
      continue;
    }
    const std::uint64_t fraction_high = z.high & ((std::uint64_t{1} << cut) - 1);
    const std::uint64_t half = std::uint64_t{1} << (cut - 1);
    // The rounding direction, too, is a coin toss: computed, not branched on.
    std::uint64_t d = integer + (fraction_high >= half);
    if (first_product_undecided(fraction_high, half, z.low)) [[unlikely]] {
      if (!wide_digits(bits, m, p, q, cut, &d)) return false;
    }
    if (d == kTens[n]) {  // the rounding carried into a new digit
      d = kTens[n - 1];
      ++x;
    }
    if (d >= kTens[n]) return false;
    *digits = d;
    *exponent = x;
    return true;
  }
  return false;
}
}  // namespace

bool fast_digits(double magnitude, int n, std::uint64_t* digits, int* exponent) {
  return product_digits(magnitude, n, digits, exponent);
}

namespace {

// The n significant digits of a value: in `number` where the product proves them, else as text in `text`.
struct SignificantDigits {
  std::uint64_t number = 0;
  const char* text = nullptr;
  int x = 0;  // the value is 0.D1D2... * 10^x
  char scratch[128];
  std::unique_ptr<char, void (*)(void*)> temporary{nullptr, std::free};
};

// The digits live in a fixed scratch area up to 62 digits after the point; more take temporary storage.
// False when they cannot be had.
bool significant_digits_of(double magnitude, int n, SignificantDigits& d) {
  if (fast_digits(magnitude, n, &d.number, &d.x)) return true;
  std::size_t text_size = static_cast<std::size_t>(n) + 16;
  char* text = d.scratch;
  if (text_size > sizeof d.scratch) {
    d.temporary.reset(static_cast<char*>(std::malloc(text_size)));
    if (d.temporary == nullptr) return false;
    text = d.temporary.get();
  } else {
    text_size = sizeof d.scratch;
  }
  // Subtle: the digits are gathered over the text they come from, never ahead of it.
  if (!exact_digits(magnitude, n, text, text_size, text, &d.x)) return false;
  d.text = text;
  return true;
}

// The exponent's columns: its digits and whether a letter stands before them. False when it does not fit.
bool exponent_shape(int magnitude, int exponent_digits, int* columns, bool* letter) {
  const int m = decimal_length(magnitude);
  if (exponent_digits > 0) {
    *columns = exponent_digits;
    *letter = true;
    return m <= exponent_digits;
  }
  *columns = m < 2 ? 2 : m;
  *letter = m <= 2;
  return m <= 3;
}

// Writes the exponent ending at p; returns where it begins.
char* put_exponent(char* p, int printed_exponent, int columns, bool letter) {
  const int magnitude = printed_exponent < 0 ? -printed_exponent : printed_exponent;
  if (columns == 2) {
    p -= 2;
    put_pair(p, static_cast<std::uint32_t>(magnitude));
  } else {
    for (int i = 0, v = magnitude; i < columns; ++i, v /= 10) *--p = static_cast<char>('0' + v % 10);
  }
  *--p = printed_exponent < 0 ? '-' : '+';
  if (letter) *--p = 'E';
  return p;
}

// Writes the digits and the point ending at p; returns where they begin. The first k digits stand
// before the point; under k <= 0 the point is followed by -k zeros and the digits, and zero shows
// `digits` zeros.
char* put_mantissa(char* p, const char* field, const SignificantDigits& d, int n, int digits, int k,
                   bool zero, bool sign) {
  const int shown = zero ? 0 : n;
  p -= shown;
  if (d.text != nullptr) {
    std::memcpy(p, d.text, static_cast<std::size_t>(shown));
  } else if (!zero) {
    put_digits(d.number, n, p);
  }
  if (k >= 1) {
    --p;
    for (int i = 0; i < k; ++i) p[i] = p[i + 1];
    p[k] = '.';
    return p;
  }
  p -= digits - shown;
  std::memset(p, '0', static_cast<std::size_t>(digits - shown));
  *--p = '.';
  // The leading "0" only where a column is free for it beside the sign.
  if (p - field > (sign ? 1 : 0)) *--p = '0';
  return p;
}

}  // namespace

EncodeStatus encode_exponential(double value, char* field, int width, int digits, int scale,
                                int exponent_digits, bool plus_sign) {
  std::memset(field, ' ', static_cast<std::size_t>(width));
  if ((std::bit_cast<std::uint64_t>(value) & 0x7FF0000000000000u) == 0x7FF0000000000000u) {
    if (std::isnan(value)) return put_word(field, width, false, "NaN");
    return put_word(field, width, value < 0, "Infinity");
  }
  const bool zero = value == 0.0;
  const bool negative = !zero && std::signbit(value);
  // Zero is written as if there were no scale factor.
  const int k = zero ? 0 : scale;
  const int n = k >= 1 ? digits + 1 : digits + k;
  if (!zero && (k > digits + 1 || n < 1)) return asterisks(field, width);
  SignificantDigits d;
  if (!zero && !significant_digits_of(std::fabs(value), n, d)) return asterisks(field, width);
  // The printed exponent makes D1.D2... * 10^P (k digits before the point) equal 0.D1D2... * 10^X.
  const int printed_exponent = zero ? 0 : d.x - k;
  int columns = 0;
  bool letter = false;
  if (!exponent_shape(printed_exponent < 0 ? -printed_exponent : printed_exponent, exponent_digits, &columns,
                      &letter)) {
    return asterisks(field, width);
  }
  const bool sign = negative || plus_sign;
  const long required =
      static_cast<long>(digits) + 2 + columns + (k >= 1 ? 1 : 0) + (letter ? 1 : 0) + (sign ? 1 : 0);
  if (required > width) return asterisks(field, width);
  // Built from the right end.
  char* p = put_exponent(field + width, printed_exponent, columns, letter);
  p = put_mantissa(p, field, d, n, digits, k, zero, sign);
  if (sign) *--p = negative ? '-' : '+';
  return EncodeStatus::converted;
}

namespace {

// The four exponent columns of a data record's field for every exponent from -999 to 999: E, the sign
// and two digits, or the sign and three digits. Whether a value needs two digits or three is for the
// data to say; a table has no branch on it.
constexpr auto kExponentTexts = [] {
  std::array<std::array<char, 4>, 1999> texts{};
  for (int p = -999; p <= 999; ++p) {
    const int m = p < 0 ? -p : p;
    const char sign = p < 0 ? '-' : '+';
    const char two = static_cast<char>('0' + m / 10 % 10), one = static_cast<char>('0' + m % 10);
    texts[static_cast<std::size_t>(p + 999)] =
        m >= 100 ? std::array<char, 4>{sign, static_cast<char>('0' + m / 100), two, one}
                 : std::array<char, 4>{'E', sign, two, one};
  }
  return texts;
}();

// Stage one of the data record's writer: the nine significant digits of a normal magnitude (the bits of
// a positive double) and the exponent P of D.DDDDDDDD * 10^P, by one 64-bit product; false for zero,
// subnormals, infinities and NaN, and where the product does not prove the digits, unless `settle`
// lets the whole product decide those (the road of the rare values, kept out of the usual one).
//
// The magnitude is m * 2^e with m normalised to 64 bits, in [2^(e+63), 2^(e+64)): its decimal exponent
// X (of 0.D1... * 10^X) is x or x + 1 for x = floor(log10 2^(e+63)) + 1, as 10^(x-1) <= 2^(e+63) and
// 2^(e+64) < 10^(x+1). 10^x >= 2^(e+63), so 10^x's binary exponent is e + 63 or more; where it is e + 63,
// m against its top word picks X. m times the top word of 10^(9-X), z, holds the nine digits in the top
// bits of its high word: z is at least 2^126 and its integer below 10^9, so the cut below them is 32
// to 41 bits (a comparison that met 10^x's cut exactly, m equal to the top word of a power that is not
// exact, gives eight digits, and the last test sends such a value to the general writer).
//
// The rounding: the cut power is low by less than one unit of its top word, so the true product lies in
// [z, z + 2^64); with the fraction below the digits left-aligned in a word f (z's low word left out),
// the true fraction lies in [f, f + 2^(65-cut)), within 2^33 of f. Below 2^63 - 2^33 it rounds down,
// above 2^63 up; in between, a tie or a near one, the whole product decides (wide_digits, ties to even).
template <bool settle>
[[gnu::always_inline]] inline bool nine_digits(std::uint64_t bits, std::uint32_t* digits, int* exponent) {
  const int biased = static_cast<int>(bits >> 52);
  if (static_cast<unsigned>(biased - 1) >= 2046u) return false;
  const std::uint64_t m = bits << 11 | std::uint64_t{1} << 63;
  const int e = biased - 1086;
  const int x = floor_log10_pow2(e + 63) + 1;
  const Power& ten = power_of_ten(x);
  // Subtle: whether a value lies above its binade's power of ten is a coin toss, and so is the rounding
  // direction: both computed, not branched on.
  const int above = (ten.exponent == e + 63) & (m >= ten.mantissa.high);
  const int q = 9 - x - above;
  const Power& p = power_of_ten(q);
  const U128 z = multiply(m, p.mantissa.high);
  const int cut = -1 - e - p.exponent;
  const std::uint64_t f = z.high << (64 - cut);
  std::uint64_t d = (z.high >> cut) + (f >> 63);
  constexpr std::uint64_t kReach = std::uint64_t{1} << 33, kHalf = std::uint64_t{1} << 63;
  if (f - (kHalf - kReach) <= kReach) [[unlikely]] {
    if (!settle || !wide_digits(bits, m, p, q, cut, &d)) return false;
  }
  // 999999999.5 and above round to 10^9, one digit and a greater exponent: rare enough for the rare road.
  const bool carry = settle && d == 1000000000;
  if (carry) d = 100000000;
  if (d - 100000000 >= 900000000) return false;
  *digits = static_cast<std::uint32_t>(d);
  *exponent = x - 1 + above + carry;
  return true;
}

// The exponent's four columns as one little-endian word.
inline std::uint32_t exponent_text(int exponent) {
  std::uint32_t text;
  std::memcpy(&text, kExponentTexts[static_cast<std::size_t>(exponent + 999)].data(), 4);
  return text;
}

// The writer's table, one entry for each binary exponent (the biased one, 0 to 2047): with m the
// significand of 53 bits (the implicit bit set), a value of the binade is m * 2^(b - 1075), and its nine
// digits are the integer part of m * M / 2^86 rounded, for the multiplier M of its decimal exponent, as
// one 64-bit product with the digits at a fixed place: no shift by a variable count, no second look-up.
//
// A binade holds at most one power of ten, 10^x; at and above it (m >= threshold) the value has one more
// integer digit, so the entry holds two multipliers and two exponent texts, below and above. The threshold
// is m >= T with T the top word of 10^x's cut, as the general stage compares: where 10^x is not exact, a
// value equal to that word is a little below 10^x, by less than 2^-63 of it; its product is 10^8 less a
// fraction far smaller than one half, which the rounding makes 10^8, as the value's nine digits round up
// to 1.00000000E+x. A value just under the threshold rounds to 10^9, a carry, which the range test sends to
// the rare road. Every other value lies above the power of ten its exponent counts from by a thousandth of
// itself or more (no power of two but 1 comes nearer a power of ten), so its digits are never below 10^8.
// A binade without a power of ten has a threshold that no m reaches.
//
// M = floor(10^q 2^(b - 989)) for q = 9 - x (below) or 8 - x (above), taken from the 128-bit cut of 10^q:
// the digits are below 10^9 < 2^29.9 and m at least 2^52, so M < 2^64, and the digits at least 10^8 give
// M > 2^59. The cut is low by less than one unit of its last bit and the floor by less than one, so M is
// low by less than 2 units: m * M is low by less than 2 m < 2^54 units of the product, against 2^86 for
// one unit of the digits.
//
// Zero, common where fields are blank, stays on the usual road: the biased exponent 0 has a threshold
// just above zero's m and a multiplier of 0 below it, giving the digits 0 and "E+00", which the range
// test lets pass and whose sign the writer never shows. Subnormals (above that threshold) and the biased
// exponent 2047 (infinities and NaN) have multipliers of 15 * 2^60: their digits are 10^9 or more, with
// room below 2^64 for the rounding's addition, which the range test sends to the rare road.
//
// The writer multiplies m moved to the top of its word, m << 11, which takes the exponent's bits away
// without a mask; the threshold is kept so moved (2^64 - 1 where no m reaches it), and the digits then
// stand above the product's bit 97: the same bits, 11 places up.
struct alignas(32) Binade {
  std::uint64_t threshold;
  std::uint64_t multiplier[2];
  std::uint32_t exponent_text[2];
};
constexpr std::uint64_t multiplier_of(int q, int biased) {
  const Power& p = power_of_ten(q);
  const int shift = 1116 - p.exponent - biased;  // 10^q = cut * 2^(exponent - 127)
  if (shift < 64 || shift > 70) throw "a writer's multiplier does not fit in 64 bits";
  const std::uint64_t m = (p.mantissa.high >> (shift - 64));
  if (m >> 59 == 0) throw "a writer's multiplier is too short";
  return m;
}
constexpr auto kBinades = [] {
  std::array<Binade, 2048> binades{};
  constexpr std::uint64_t kRare = std::uint64_t{15} << 60;
  binades[0] = {(std::uint64_t{1} << 63) + (std::uint64_t{1} << 11),
                {0, kRare},
                {'E' | '+' << 8 | '0' << 16 | 0x30000000u, 0}};
  binades[2047] = {~std::uint64_t{0}, {kRare, kRare}, {0, 0}};
  for (int biased = 1; biased <= 2046; ++biased) {
    // As the general stage: X, of 0.D1... * 10^X, is x or x + 1 for the binade [2^(e+63), 2^(e+64)).
    const int e = biased - 1086;
    const int x = floor_log10_pow2(e + 63) + 1;
    const Power& ten = power_of_ten(x);
    Binade& b = binades[static_cast<std::size_t>(biased)];
    // m53 << 11 >= T exactly when m53 >= ceil(T / 2^11).
    b.threshold = ten.exponent == e + 63
                      ? ((ten.mantissa.high >> 11) + ((ten.mantissa.high & 2047) != 0 ? 1 : 0)) << 11
                      : ~std::uint64_t{0};
    const bool has_power = ten.exponent == e + 63;
    for (int above = 0; above < 2; ++above) {
      // Without a power of ten the second half is never taken: it repeats the first.
      b.multiplier[above] = multiplier_of(9 - x - (has_power ? above : 0), biased);
      const int exponent = x - 1 + above;
      const auto& text = kExponentTexts[static_cast<std::size_t>(exponent + 999)];
      b.exponent_text[above] = static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
                               static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
                               static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
                               static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24;
    }
  }
  return binades;
}();

// Stage one of the data record's writer: the nine digits of the value of `bits` (its sign ignored) and
// its exponent's text, by the binade's multiplier (zero: the digits 0, "E+00"); false for subnormals,
// infinities and NaN, where the rounding is within reach of one half, and where it carries into a tenth
// digit: the rare road takes those.
//
// The product z = m * M holds the digits above its last 86 bits and the fraction F below them, low by
// less than 2^54 units: the true fraction lies in [F, F + 2^54) (a carry past F's top makes the integer one
// more and the fraction tiny, which the rounding up below gives too). F's top 64 bits, then, are low by
// less than 2^32 + 1, and the rounding to nearest is certain unless its top 32 bits f are 2^31 - 2 to
// 2^31, within 2^33 under one half or at it: those go to the rare road, which settles them by the whole
// product. (Values read from ten digits that end in 5 lie some 2^-23 of a unit from one half, far outside
// that reach.) Otherwise adding one half and cutting the fraction rounds the digits. With m moved up 11
// places, f is the high word's bits 1 to 32, and one half is 2^32 in it.
[[gnu::always_inline]] inline bool binade_digits_of(std::uint64_t bits, std::uint32_t* digits,
                                                    std::uint32_t* exponent) {
  const Binade& b = kBinades[static_cast<std::size_t>((bits >> 52) & 2047)];
  const std::uint64_t m = bits << 11 | std::uint64_t{1} << 63;
  // Subtle: whether a value lies above its binade's power of ten is a coin toss: an index, no branch.
  const std::size_t above = m >= b.threshold;
#if defined(__SIZEOF_INT128__)
  const auto high =
      static_cast<std::uint64_t>((static_cast<unsigned __int128>(m) * b.multiplier[above]) >> 64);
#else
  const std::uint64_t high = multiply(m, b.multiplier[above]).high;
#endif
  const auto f = static_cast<std::uint32_t>(high >> 1);
  const std::uint64_t d = (high + (std::uint64_t{1} << 32)) >> 33;
  // Subtle: only a carry makes ten digits, and nothing makes eight (see above): the digits are zero's 0
  // or 10^8 to 10^9, 10^9 itself the carry of 999999999.5 and above; subnormals, infinities and NaN give
  // 2^30 or more.
  if ((f - 0x7FFFFFFEu <= 2u) | (d >= 1000000000)) return false;
  *digits = static_cast<std::uint32_t>(d);
  *exponent = b.exponent_text[above];
  return true;
}

// Stage two: " -D.DDDDDDDDE+XX" (a blank, the sign's column, nine digits around the point, four exponent
// columns: E, sign and two digits, or sign and three digits).
#if QUIL_VECTOR
// The eight decimals in the vector unit, all at once. y = digits * ceil(2^60 / 10^8) is digits / 10^8 in
// fixed point with 60 bits of fraction, high by less than 3.5 units of 2^-32 (and below 2^64: digits <
// 10^9): its integer is the lead digit, and f, the fraction's top 32 bits plus one, lies above the true
// fraction times 2^32 by less than 4.5. For each decimal k (1 to 8), f * 10^(k-1) holds the decimals before
// it in its upper word and the rest as a fraction in its lower word, whose product by 10 has the decimal in
// its upper word: f's excess times 10^k stays below the 10^(k-8) that the later decimals leave free. Eight
// products by the powers and eight by 10, two to an instruction and none waiting for another lane, leave
// the decimals where two shuffles gather them. Every value below 10^9 was checked against its own decimal
// digits. The field goes out in three stores (its first four columns, the decimals, the exponent), none of
// them waiting for the others.
void put_field(char* field, std::uint32_t negative, std::uint32_t digits, std::uint32_t exponent) {
  const std::uint64_t y = std::uint64_t{digits} * 11529215047u;
  const auto lead = static_cast<std::uint32_t>(y >> 60);
  const __m128i f = _mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(y >> 28) + 1));
  const auto decimals = [&](int first, int second) {
    const __m128i below = _mm_mul_epu32(f, _mm_setr_epi32(first, 0, second, 0));
    return _mm_castsi128_ps(_mm_mul_epu32(below, _mm_set1_epi32(10)));
  };
  const __m128i low =
      _mm_castps_si128(_mm_shuffle_ps(decimals(1, 10), decimals(100, 1000), _MM_SHUFFLE(3, 1, 3, 1)));
  const __m128i high = _mm_castps_si128(
      _mm_shuffle_ps(decimals(10000, 100000), decimals(1000000, 10000000), _MM_SHUFFLE(3, 1, 3, 1)));
  const __m128i words = _mm_packs_epi32(low, high);
  const __m128i text = _mm_or_si128(_mm_packus_epi16(words, words), _mm_set1_epi8('0'));
  const std::uint32_t head = 0x2E302020u | negative * 0x0D00u | lead << 16;
  std::memcpy(field, &head, 4);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(field + 4), text);
  std::memcpy(field + 12, &exponent, 4);
}
#else
// The field's first four columns and its last four as one little-endian word, the eight decimals apart.
inline std::uint64_t field_ends(std::uint32_t negative, std::uint32_t lead, std::uint32_t exponent_text) {
  return std::uint64_t{0x2E302020u | negative * 0x0D00u | lead << 16} | std::uint64_t{exponent_text} << 32;
}

// The eight decimals by word arithmetic, one multiplication each pair and none a division: y = digits *
// ceil(2^57 / 10^8) is digits / 10^8 in fixed point with 57 bits of fraction, high by less than 10^9 *
// 0.25 / 2^57 < 2e-9 (below 2^61: digits < 2^30). Its integer is the first digit; each multiplication of
// the fraction by 100 brings the next pair into the integer. The fraction stands for k / 10^8 exactly but
// for that excess, which after j pairs is below 2e-9 * 100^j <= 10^-(8-2j) * 0.2, less than the distance
// from k / 10^8 * 100^j to the next integer: no pair is one too high.
void put_field(char* field, std::uint32_t negative, std::uint32_t digits, std::uint32_t exponent) {
  constexpr std::uint64_t kFraction = (std::uint64_t{1} << 57) - 1;
  std::uint64_t y = std::uint64_t{digits} * 1441151881u;
  const auto lead = static_cast<std::uint32_t>(y >> 57);
  std::uint64_t pairs = 0;
  for (int i = 0; i < 4; ++i) {
    y = (y & kFraction) * 100;
    std::uint16_t pair;
    std::memcpy(&pair, kDigitPairs + 2 * (y >> 57), 2);
    pairs |= std::uint64_t{pair} << 16 * i;
  }
  const std::uint64_t ends = field_ends(negative, lead, exponent);
  const std::uint64_t head = (ends & 0xFFFFFFFFu) | pairs << 32, tail = pairs >> 32 | (ends & ~0xFFFFFFFFull);
  std::memcpy(field, &head, 8);
  std::memcpy(field + 8, &tail, 8);
}
#endif

// The values the usual road leaves: zero, whose sign is never shown; those whose rounding the whole
// product decides (the general stage's, which settles near ties); and the rest by the general writer.
// Apart, so that the usual road saves no register for them.
[[gnu::cold, gnu::noinline]] void encode_rare_field(double value, char* field) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  if ((bits << 1) == 0) {
    std::memcpy(field, "  0.00000000E+00", 16);
    return;
  }
  std::uint32_t digits = 0;
  int exponent = 0;
  if (std::endian::native == std::endian::little &&
      nine_digits<true>(bits & 0x7FFFFFFFFFFFFFFFu, &digits, &exponent)) {
    put_field(field, static_cast<std::int64_t>(bits) < 0, digits, exponent_text(exponent));
  } else {
    encode_exponential(value, field, 16, 8, 1);
  }
}

}  // namespace

bool field_digits(double magnitude, std::uint32_t* digits, int* exponent) {
  return nine_digits<true>(std::bit_cast<std::uint64_t>(magnitude), digits, exponent);
}

bool binade_digits(double magnitude, std::uint32_t* digits, int* exponent) {
  std::uint32_t text = 0;
  const auto bits = std::bit_cast<std::uint64_t>(magnitude);
  if ((bits << 1) == 0 || !binade_digits_of(bits, digits, &text)) return false;
  // The exponent back from its text: E, the sign and two digits, or the sign and three.
  char t[4];
  std::memcpy(t, &text, 4);
  const bool three = t[0] != 'E';
  const int value =
      three ? (t[1] - '0') * 100 + (t[2] - '0') * 10 + (t[3] - '0') : (t[2] - '0') * 10 + (t[3] - '0');
  *exponent = (three ? t[0] : t[1]) == '-' ? -value : value;
  return true;
}

void encode_e16_8_scaled(double value, char* field) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  std::uint32_t digits = 0, exponent = 0;
  // Subnormals, infinities and NaN, and values whose nine digits the product leaves open, take the
  // longer road to the same bytes; so does every value where words are not little-endian.
  if (std::endian::native != std::endian::little || !binade_digits_of(bits, &digits, &exponent))
      [[unlikely]] {
    encode_rare_field(value, field);
    return;
  }
  // Subtle: zero's sign is never shown. Past -0 come the negative normals; subnormals never come here.
  put_field(field, bits > 0x800FFFFFFFFFFFFFu, digits, exponent);
}

}  // namespace rtl::convert
