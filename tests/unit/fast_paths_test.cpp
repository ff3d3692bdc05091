// The fast conversion stages held against the standard library's exact conversions: whatever a fast
// stage answers must be exactly what the exact one gives, and it must answer nearly always.
#include "rtl/convert/fast_paths.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "rtl/convert/decode.h"
#include "test_support.h"

namespace {

using rtl::convert::fast_digits;
using rtl::convert::product_to_double;

// The exact n digits and exponent X (of 0.D1...Dn * 10^X) of a positive double.
std::pair<std::uint64_t, int> exact_digits(double v, int n) {
  char text[64];
  auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, n - 1).ptr;
  std::uint64_t d = 0;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p != '.') d = d * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  int e = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), end, e);
  return {d, e + 1};
}

// Counts answers; every answer must match the exact conversion.
struct Tally {
  long asked = 0, answered = 0;
  void digits(double v, int n) {
    std::uint64_t d = 0;
    int x = 0;
    ++asked;
    if (!fast_digits(v, n, &d, &x)) return;
    ++answered;
    auto [ed, ex] = exact_digits(v, n);
    ASSERT_EQ(d, ed) << std::hexfloat << v << " n=" << n;
    ASSERT_EQ(x, ex) << std::hexfloat << v << " n=" << n;
  }
  // The data record's writer's own stage: nine digits of a normal double.
  void field(double v) {
    std::uint32_t d = 0;
    int p = 0;
    ++asked;
    if (!rtl::convert::field_digits(v, &d, &p)) return;
    ++answered;
    auto [ed, ex] = exact_digits(v, 9);
    ASSERT_EQ(d, ed) << std::hexfloat << v;
    ASSERT_EQ(p, ex - 1) << std::hexfloat << v;
    // The first stage, by the binade's multiplier, where it answers.
    if (rtl::convert::binade_digits(v, &d, &p)) {
      ASSERT_EQ(d, ed) << std::hexfloat << v;
      ASSERT_EQ(p, ex - 1) << std::hexfloat << v;
    }
  }
  void product(std::uint64_t w, long q) {
    double v = 0;
    ++asked;
    if (!product_to_double(w, q, &v)) return;
    ++answered;
    char text[48];
    auto end = std::to_chars(text, text + 24, w).ptr;
    *end++ = 'e';
    end = std::to_chars(end, text + sizeof text, q).ptr;
    double exact = 0;
    std::from_chars(text, end, exact);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(v), std::bit_cast<std::uint64_t>(exact)) << std::string(text, end);
  }
};

TEST(FastPaths, DigitsAgreeWithTheExactConversion) {
  std::mt19937_64 rng(12);
  Tally random_bits, rest, fields;
  for (long i = 0; i < test::sweep_count(100000); ++i) {
    // Every exponent, subnormals included.
    double v = std::bit_cast<double>(rng() & 0x7FFFFFFFFFFFFFFFull);
    if (!std::isfinite(v) || v == 0) continue;
    ASSERT_NO_FATAL_FAILURE(random_bits.digits(v, 9));
    ASSERT_NO_FATAL_FAILURE(rest.digits(v, 1 + static_cast<int>(rng() % 17)));
    if (std::isnormal(v)) {
      ASSERT_NO_FATAL_FAILURE(fields.field(v));
    }
  }
  EXPECT_GT(fields.answered, fields.asked * 999 / 1000);
  // Exact ties and near-ties at the ninth digit, and every power of ten with its neighbours.
  for (std::uint64_t t : {1234567885ull, 1234567895ull, 12345678850ull, 999999999500ull}) {
    for (double v : {static_cast<double>(t), std::nextafter(static_cast<double>(t), 0.0),
                     std::nextafter(static_cast<double>(t), INFINITY)}) {
      rest.digits(v, 9);
      rest.field(v);
    }
  }
  rest.digits(123456789.5, 9);
  rest.digits(0.5, 1);
  rest.digits(2.5, 1);
  for (int e = -323; e <= 308; ++e) {
    const std::string text = "1e" + std::to_string(e);
    double p = 0;
    std::from_chars(text.data(), text.data() + text.size(), p);
    for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, INFINITY)}) {
      for (int n : {1, 9, 17}) rest.digits(v, n);
      if (std::isnormal(v)) rest.field(v);
    }
  }
  // Ties must go to the exact path, so the fast stage declines them; nearly all else it answers.
  EXPECT_GT(random_bits.answered, random_bits.asked * 999 / 1000);
}

TEST(FastPaths, ProductAgreesWithTheExactConversion) {
  std::mt19937_64 rng(13);
  Tally t;
  for (long i = 0; i < test::sweep_count(100000); ++i) {
    const int digits = 1 + static_cast<int>(rng() % 19);
    std::uint64_t w = rng() % 10000000000000000000ull;
    for (int k = digits; k < 19; ++k) w /= 10;
    if (w == 0) w = 7;
    ASSERT_NO_FATAL_FAILURE(t.product(w, static_cast<long>(rng() % 580) - 300));  // normal results
  }
  EXPECT_GT(t.answered, t.asked * 999 / 1000);
  // Exact ties between two doubles, which must be declined or rounded to even, and every power of ten.
  for (std::uint64_t w :
       {9007199254740993ull, 9007199254740995ull, 18014398509481986ull, 18014398509481990ull}) {
    t.product(w, 0);
  }
  for (long q = -350; q <= 350; ++q) t.product(1, q);
}

// Fields of 17 to 40 significant digits go through the whole decoder and must match the library.
TEST(FastPaths, LongFieldsAgreeWithTheExactConversion) {
  std::mt19937_64 rng(14);
  for (long i = 0; i < test::sweep_count(20000); ++i) {
    const int digits = 17 + static_cast<int>(rng() % 24);
    std::string text = rng() % 2 ? "-" : "";
    text += static_cast<char>('1' + rng() % 9);
    text += '.';
    for (int k = 1; k < digits; ++k) text += static_cast<char>('0' + rng() % 10);
    char exponent[8];
    std::snprintf(exponent, sizeof exponent, "E%+04d", static_cast<int>(rng() % 600) - 300);
    text += exponent;
    rtl::convert::Decoded d = rtl::convert::decode_real(text.data(), text.size(), 8, 0);
    double exact = 0;
    std::from_chars(text.data(), text.data() + text.size(), exact);
    ASSERT_EQ(d.status, rtl::convert::DecodeStatus::converted) << text;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(d.value), std::bit_cast<std::uint64_t>(exact)) << text;
  }
}

}  // namespace

namespace {

#if defined(QUIL_SLOW_TESTS)
// Around every power of ten: the digits of every double for each digit count, and the 17-digit text of
// every double decoded back to that double.
TEST(FastPathsSlow, SweepAroundPowersOfTen) {
  for (int e = -307; e <= 308; ++e) {
    const std::string text = "1e" + std::to_string(e);
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    for (int i = 0; i < 5000; ++i) v = std::nextafter(v, 0.0);
    Tally t;
    for (int i = 0; i < 10000; ++i, v = std::nextafter(v, INFINITY)) {
      for (int n = 1; n <= 17; ++n) t.digits(v, n);
      char field[32];
      int length = std::snprintf(field, sizeof field, "%.16E", v);
      rtl::convert::Decoded d = rtl::convert::decode_real(field, static_cast<std::size_t>(length), 8, 0);
      ASSERT_EQ(d.value, v) << field;
    }
  }
}
#endif

}  // namespace
