// Real field decoding: the scan's rules, the range rules, and exact rounding.
#include "rtl/convert/decode.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "rtl/convert/fast_paths.h"
#include "test_support.h"

namespace {

using rtl::convert::decode_real;
using rtl::convert::DecodeStatus;

constexpr double kInf = std::numeric_limits<double>::infinity();

// The field as the data-record layout cuts it: 16 columns, the text right-aligned.
std::string column16(const std::string& text) {
  return text.size() >= 16 ? text : std::string(16 - text.size(), ' ') + text;
}

struct Row {
  std::string text;
  double value;
  bool converted;
};

void check(const Row& row, const std::string& f, bool blanks_are_zeros = false) {
  auto d = decode_real(f.data(), f.size(), 8, 0, blanks_are_zeros);
  if (f.size() == 16) {  // the data record's own scan reads every such row alike
    auto own = rtl::convert::decode_field_16(f.data(), blanks_are_zeros);
    EXPECT_EQ(own.status, d.status) << '"' << f << '"';
    EXPECT_EQ(std::bit_cast<std::uint64_t>(own.value), std::bit_cast<std::uint64_t>(d.value))
        << '"' << f << '"';
  }
  EXPECT_EQ(d.status == DecodeStatus::converted, row.converted) << '"' << f << '"';
  if (!row.converted && !std::isinf(row.value)) return;
  if (std::isnan(row.value)) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(d.value), 0xFFF8000000000000ull) << f;
  } else {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(d.value), std::bit_cast<std::uint64_t>(row.value))
        << '"' << f << "\" gave " << std::hexfloat << d.value;
  }
}

TEST(Decode, E16_8Fields) {
  const Row rows[] = {
      {"1.23456789E+05", 123456.789, true},
      {"-1.23456789E+05", -123456.789, true},
      {"-1.23456789E-05", -0.0000123456789, true},
      {"1.0D+05", 100000.0, true},
      {"1.0d5", 100000.0, true},
      {"1.0Q5", 100000.0, true},
      {"1.0e5", 100000.0, true},
      {"1.0-05", 0.00001, true},  // a sign after the digits begins the exponent
      {"1.0+5", 100000.0, true},
      // Full 16-column fields: every digit a mantissa can have there, exponents of one to three digits.
      {"-1.234567890-300", -1.23456789e-300, true},
      {"12345678901.2+99", 12345678901.2e99, true},
      {"123456789012.3-5", 123456789012.3e-5, true},  // thirteen digits: no room beside the exponent
      {"-.123456789012+1", -1.23456789012, true},
      // Beyond the exact range, the product's top word ends where its halving leaves a tie that is none.
      {"7.662980418E-205", 7.662980418E-205, true},
      {"2.699896765E+103", 2.699896765E+103, true},
      {"4.209194320E-187", 4.209194320E-187, true},
      {"2.914115693E-157", 2.914115693E-157, true},
      {"1.234567890E+32", 1.234567890E+32,
       true},                           // the power 23, whose scale sends a field on to the whole decoder
      {"123456789", 1.23456789, true},  // no point: the last eight digits are decimals
      {"000012345678E+00", 0.12345678, true},  // eight digits at once, the first four leading zeros
      {"0.00000000100000", 1e-9, true},        // eight zeros at once before the first significant digit
      {"12345678.9012345", 12345678.9012345, true},
      {"0.1234567890123456789012", 0.1234567890123456789012, true},  // 22 digits: the exact road
      {"12345E2", 0.012345, true},
      {"12+3", 0.00012, true},
      {"1.5E", 1.5, true},  // an exponent without digits is 0
      {"1 .5E 1", 15.0, true},
      {"", 0.0, true},
      {"-", 0.0, true},
      {"-0.0", -0.0, true},
      {"-000", -0.0, true},
      {".", 0.0, true},
      {"E5", 0.0, true},
      {"+E-3", 0.0, true},
      {"E", 0.0, true},
      {"D", 0.0, true},
      {"Q", 0.0, true},
      {"1.0E+999", kInf, false},
      {"1.0E+1234567", kInf, false},
      {"-1.0E+999", -kInf, false},
      {"1.0E-999", 0.0, true},
      {"1.0E-1234567", 0.0, true},
      {"-1.0E-999", -0.0, true},
      {"4.9E-324", 0x1p-1074, true},
      {"2.4E-324", 0.0, true},  // rounds below the smallest subnormal
      {"2.5E-324", 0x1p-1074, true},
      {"1.79E+308", 1.79e308, true},
      {"1.7976931348623157E308", 0x1.fffffffffffffp+1023, true},
      {"1.7976931348623159E308", kInf, false},  // rounds above the largest double
      {"1.8E+308", kInf, false},
      {"2.3E-308", 2.3e-308, true},
      {"2.213886118E-308", 2.213886118E-308, true},  // ten digits whose product lands just below the normals
      {"-9.999999999E+303", -9.999999999E+303, true},  // the first product's highest power, and the lowest
      {"1.000000001E-298", 1.000000001E-298, true},
      {"-1.00000001E-299", -1.00000001E-299, true},  // one below it: the whole product
      {"2.2250738585072014E-308", 0x1p-1022, true},
      {"1.0E-310", 1.0e-310, true},
      {"1.0E-330", 0.0, true},
      {"1.0.0", 0.0, false},
      {"1.0E5.0", 0.0, false},
      {"1.0E+-5", 0.0, false},
      {"1.0E5-", 0.0, false},
      {"GRID", 0.0, false},
      {"INFINITY", kInf, true},
      {"-INF", -kInf, true},
      {"inf", kInf, true},
      {"NAN", std::numeric_limits<double>::quiet_NaN(), true},
      {"-nan", std::numeric_limits<double>::quiet_NaN(), true},
      {"INFIN", 0.0, false},
      {"NA", 0.0, false},
      {"1.0,", 0.0, false},
      {"1_000", 0.0, false},
      {"1\xff", 0.0, false},
  };
  for (const Row& row : rows) check(row, column16(row.text));
  // More digits than a double holds: the nearest double, ties to even, as the C library reads them.
  for (const char* text : {"9007199254740993.", "0.30000000000000001665", "123456789012345678901234567890.",
                           "2.2250738585072011E-308", "4.9406564584124654E-324", "2.4703282292062328E-324"}) {
    auto d = decode_real(text, std::strlen(text), 8, 0);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(d.value), std::bit_cast<std::uint64_t>(std::strtod(text, nullptr)))
        << text;
  }
}

TEST(Decode, BlanksAndSpecialWordsAtTheEdges) {
  const std::string tab = "\t";
  const Row rows[] = {
      {"1.0E+05        7", 1.0e57, true},  // blanks inside the exponent are ignored: 057
      {"        INFINITY", kInf, true},
      {"NAN             ", 0.0, false},  // nothing may follow a special word, not even a blank
      {tab + "1.0", 1.0, true},
      {"\r\n\v\f 1.0", 1.0, true},
      {"1.0" + tab, 0.0, false},
      {"1.0" + tab + "     ", 0.0, false},
      {"1.0\r", 0.0, false},
  };
  for (const Row& row : rows) check(row, row.text);
  check({"", 0.0, true}, "");  // a field of no characters
}

TEST(Decode, BlanksAsZeros) {
  const Row rows[] = {
      {"1       ", 0.1, true},  // seven zeros appended: 10000000 times 10^-8
      {"1.5     ", 1.5, true},
      {"1.5E1   ", kInf, false},  // the exponent becomes 1000
  };
  for (const Row& row : rows) check(row, row.text, true);
}

TEST(Decode, ScaleFactorAppliesOnlyWithoutExponent) {
  EXPECT_EQ(decode_real("1.5", 3, 8, 2).value, 0.015);
  EXPECT_EQ(decode_real("1.5E0", 5, 8, 2).value, 1.5);
}

// Canonical texts of up to 16 characters decode as the C library reads them.
TEST(Decode, AgreesWithTheCLibrary) {
  std::mt19937_64 rng(7);
  for (long i = 0; i < test::sweep_count(200000); ++i) {
    // Subtle: a sign on every exponent and the point anywhere among the digits, so that positive
    // exponents and every count of decimals reach the 16-column shapes.
    char digits[24], text[40];
    const int length = std::snprintf(digits, sizeof digits, "%.*llu", 1 + static_cast<int>(rng() % 12),
                                     static_cast<unsigned long long>(rng() % 1000000000000ull));
    const int point = static_cast<int>(rng() % static_cast<unsigned>(length + 1));
    int n = std::snprintf(text, sizeof text, "%s%.*s.%sE%+d", (rng() & 1) ? "-" : "", point, digits,
                          digits + point, static_cast<int>(rng() % 700) - 350);
    if (n > 16) continue;
    auto d = decode_real(text, static_cast<std::size_t>(n), 8, 0);
    const std::string field = column16(text);
    // The digits gathered by the machine's byte shuffle, and without it for every tenth field.
    rtl::convert::use_digit_shuffle(i % 10 != 0);
    auto own = rtl::convert::decode_field_16(field.data(), false);
    rtl::convert::use_digit_shuffle(true);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(own.value), std::bit_cast<std::uint64_t>(d.value)) << text;
    double expected = std::strtod(text, nullptr);
    if (std::isinf(expected)) {
      EXPECT_EQ(d.status, DecodeStatus::failed) << text;
    } else {
      ASSERT_EQ(d.status, DecodeStatus::converted) << text;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(d.value), std::bit_cast<std::uint64_t>(expected)) << text;
    }
  }
}

// A 16-column field is read by the shape of its pattern, learnt from the first field of that pattern: every
// later field of the pattern, whatever its digits and signs, reads as the decoder reads it, by the byte
// shuffle and by words alike, however the two roads alternate.
TEST(Decode, KnownShapesReadEveryFieldOfTheirPattern) {
  const char* patterns[] = {"-1.234567890E-07", " 1.234567890E+07", "+1.23456789E+100", "  1.2345678e-05-",
                            "-1.23456789d+05 ", "1.234567890-300 ", "12345678901.2+99", "   .1234567890+1",
                            "          1.E+05", "  1 .5E+01      ", "1.0E05          ", "-.E+05          ",
                            "  -0.00000000E+0", "1.2.3E+05       ", "       -1.0E+999", "  1.5E+5X       ",
                            "1234567890123+99", "  1.0E+05-+     ", "   -12345.678901", "       -12345678",
                            "                ", "    -1.2345e-105", "     1.2345678D7", "1234567890123456",
                            "    -1.2345E12  ", "           -0.0-"};
  std::mt19937_64 rng(17);
  for (const char* pattern : patterns) {
    for (int i = 0; i < 40; ++i) {
      char field[17];
      std::memcpy(field, pattern, 17);
      for (char& c : field) {
        if (c >= '0' && c <= '9' && i > 0) c = static_cast<char>('0' + rng() % 10);
        if ((c == '+' || c == '-') && i > 0) c = rng() % 2 ? '+' : '-';
      }
      rtl::convert::use_digit_shuffle(i % 3 != 2);
      const auto own = rtl::convert::decode_field_16(field, false);
      rtl::convert::use_digit_shuffle(true);
      const auto d = decode_real(field, 16, 8, 0);
      ASSERT_EQ(own.status, d.status) << field;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(own.value), std::bit_cast<std::uint64_t>(d.value)) << field;
    }
  }
}

// Every digit beyond the ones kept still decides a tie.
TEST(Decode, VeryLongMantissasRoundExactly) {
  // Half-way between 1 and the next double, then a digit far beyond: rounds up.
  std::string half = "1.00000000000000011102230246251565404236316680908203125";
  std::string above = half + std::string(900, '0') + "1";
  EXPECT_EQ(decode_real(above.data(), above.size(), 0, 0).value, 0x1.0000000000001p+0);
  EXPECT_EQ(decode_real(half.data(), half.size(), 0, 0).value, 1.0);  // an exact tie goes to even
}

}  // namespace
