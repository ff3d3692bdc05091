// Arbitrary bytes as the inputs of the fast conversion stages: whatever they answer must be exactly
// what the standard library's exact conversions give.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "rtl/convert/encode.h"
#include "rtl/convert/fast_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 19) return 0;
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
    char text[64];
    auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, n - 1).ptr;
    std::uint64_t exact = 0;
    const char* p = text;
    for (; *p != 'e'; ++p) {
      if (*p != '.') exact = exact * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    int e = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), end, e);
    if (digits != exact || x != e + 1) std::abort();
  }

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
