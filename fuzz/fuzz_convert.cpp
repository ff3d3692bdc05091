// Arbitrary bytes as the inputs of the fast conversion stages: whatever they answer must be exactly
// what the standard library's exact conversions give.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "rtl/convert/decode.h"
#include "rtl/convert/encode.h"
#include "rtl/convert/fast_paths.h"

namespace {

// The n digits of the exact conversion of a positive finite double, and its exponent X of 0.D1...Dn * 10^X.
std::uint64_t exact_digits(double v, int n, int* x) {
  char text[64];
  auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, n - 1).ptr;
  std::uint64_t exact = 0;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p != '.') exact = exact * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  int e = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), end, e);
  *x = e + 1;
  return exact;
}

// A 16-column field of the shapes the data record's reader knows, made of the input's bytes: blanks and a
// sign, digits around a point, E, D or nothing, the exponent's sign and one to three digits; or digits
// without a point, or without an exponent, or an exponent letter without a sign, or blanks alone. Read by
// both of its roads, it must read as the whole decoder reads it, and as the library reads its digits.
void check_field(const std::uint8_t* data) {
  char field[17] = {};
  const int form = data[0] >> 6, lead = data[2] % 4;
  const int exponent_digits = form == 1 ? 0 : 1 + data[0] % 3, letter = form != 1 && data[1] % 3 != 0;
  const int mantissa_end = 15 - exponent_digits - letter + (form == 1);
  const int point = lead + 1 + data[3] % (mantissa_end - lead - 1),
            sign = form == 1 ? 16 : 15 - exponent_digits;
  for (int i = 0; i < 16; ++i) field[i] = static_cast<char>(data[3] == 255 ? ' ' : '0' + data[4 + i] % 10);
  for (int i = 0; i < lead; ++i) field[i] = ' ';
  if (lead > 0 && (data[1] & 8)) field[lead - 1] = data[1] & 16 ? '-' : '+';
  if (form != 2) field[point] = '.';
  if (letter) field[mantissa_end] = "EeDd"[data[1] >> 6];
  const bool signless = form == 3 && letter;
  if (form != 1 && !signless) field[sign] = data[1] & 32 ? '-' : '+';
  const rtl::convert::Decoded whole = rtl::convert::decode_real(field, 16, 8, 0);
  for (const bool shuffle : {true, false}) {
    rtl::convert::use_digit_shuffle(shuffle);
    const rtl::convert::Decoded own = rtl::convert::decode_field_16(field, false);
    rtl::convert::use_digit_shuffle(true);
    if (own.status != whole.status ||
        std::bit_cast<std::uint64_t>(own.value) != std::bit_cast<std::uint64_t>(whole.value))
      std::abort();
  }
  // The library's reading of the same digits and exponent, where it gives a normal double.
  char text[32];
  int n = 0;
  for (int i = 0; i < 16; ++i) {
    if ((i == sign && !signless) || (letter && i == mantissa_end)) {
      if (i == mantissa_end || !letter) text[n++] = 'e';
      if (field[i] == '-') text[n++] = '-';
    } else if (field[i] != ' ' && field[i] != '+') {
      text[n++] = field[i];
    }
  }
  double exact = 0;
  const auto [end, ec] = std::from_chars(text, text + n, exact);
  if (form != 2 && data[3] != 255 && ec == std::errc{} && end == text + n && std::isfinite(exact) &&
      std::isnormal(exact) &&
      std::bit_cast<std::uint64_t>(exact) != std::bit_cast<std::uint64_t>(whole.value))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 20) return 0;
  check_field(data);
  std::uint64_t bits = 0, w = 0;
  std::uint16_t q_bits = 0;
  std::memcpy(&bits, data, 8);
  std::memcpy(&w, data + 8, 8);
  std::memcpy(&q_bits, data + 16, 2);
  const int n = 1 + data[18] % 17;

  // Encoding: n digits of a positive finite double.
  const double v = std::bit_cast<double>(bits & 0x7FFFFFFFFFFFFFFFull);
  std::uint64_t digits = 0;
  int x = 0;
  if (std::isfinite(v) && v != 0 && rtl::convert::fast_digits(v, n, &digits, &x)) {
    int exact_x = 0;
    if (digits != exact_digits(v, n, &exact_x) || x != exact_x) std::abort();
  }

  // The data record's writer's own stage: nine digits of a normal double.
  std::uint32_t nine = 0;
  int p = 0;
  if (std::isnormal(v) && rtl::convert::field_digits(v, &nine, &p) &&
      (nine != exact_digits(v, 9, &x) || p != x - 1))
    std::abort();

  // Its first stage, by the binade's multiplier.
  if (std::isnormal(v) && rtl::convert::binade_digits(v, &nine, &p) &&
      (nine != exact_digits(v, 9, &x) || p != x - 1))
    std::abort();

  // The data record's own field writer against the general one, for any bits at all.
  char own[16], general[16];
  const double any = std::bit_cast<double>(bits);
  rtl::convert::encode_e16_8_scaled(any, own);
  rtl::convert::encode_exponential(any, general, 16, 8, 1);
  if (std::memcmp(own, general, 16) != 0) std::abort();

  // Decoding: w * 10^q.
  const long q = static_cast<long>(q_bits % 801) - 400;
  double fast = 0;
  if (rtl::convert::product_to_double(w, q, &fast)) {
    char text[48];
    auto end = std::to_chars(text, text + 24, w).ptr;
    *end++ = 'e';
    end = std::to_chars(end, text + sizeof text, q).ptr;
    double exact = 0;
    std::from_chars(text, end, exact);
    if (std::bit_cast<std::uint64_t>(fast) != std::bit_cast<std::uint64_t>(exact)) std::abort();
  }
  return 0;
}
