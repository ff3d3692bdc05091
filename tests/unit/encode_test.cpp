// Real field encoding: exact digits, field layout, and agreement with an independent reference.
#include "rtl/convert/encode.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "rtl/convert/decode.h"
#include "unit/test_support.h"

namespace {

using rtl::convert::encode_exponential;
using rtl::convert::EncodeStatus;

std::string field(double v, int w = 16, int d = 8, int k = 1, int e = 0, bool plus = false) {
  std::string buf(static_cast<std::size_t>(w), '?');
  encode_exponential(v, buf.data(), w, d, k, e, plus);
  return buf;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Encode, E16_8UnderScaleFactorOne) {
  struct Row {
    double value;
    const char* field;
  } rows[] = {
      {1.0, "  1.00000000E+00"},
      {-1.0, " -1.00000000E+00"},
      {0.0, "  0.00000000E+00"},
      {-0.0, "  0.00000000E+00"},  // zero never shows a sign
      {123.456, "  1.23456000E+02"},
      {-0.001234567891, " -1.23456789E-03"},
      {0.1, "  1.00000000E-01"},
      {6.02214076E+23, "  6.02214076E+23"},
      {-2.5E-05, " -2.50000000E-05"},
      {9.9999999996, "  1.00000000E+01"},  // the carry grows the exponent
      {-9.99999999951e-100, " -1.00000000E-99"},
      {1234567885.0, "  1.23456788E+09"},  // exact tie, to even
      {1234567895.0, "  1.23456790E+09"},  // exact tie, to even
      {1.0E+100, "  1.00000000+100"},      // three exponent digits drop the letter
      {1.0E-300, "  1.00000000-300"},
      {-1.7976931348623157E+308, " -1.79769313+308"},
      {0x1p-1074, "  4.94065646-324"},                // the smallest subnormal
      {0x1p-1022, "  2.22507386-308"},                // the smallest normal
      {0x1.fffffffffffffp-1023, "  2.22507386-308"},  // the largest subnormal
      {99999.99995, "  9.99999999E+04"},              // just below the decimal half-way point
      {1e99, "  1.00000000E+99"},
      {9.9999999996e99, "  1.00000000+100"},
      {kNaN, " NaN            "},
      {-kNaN, " NaN            "},
      {kInf, " Infinity       "},
      {-kInf, " -Infinity      "},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(field(row.value), row.field) << std::hexfloat << row.value;
    char own[16];  // the data record's own writer
    rtl::convert::encode_e16_8_scaled(row.value, own);
    EXPECT_EQ(std::string(own, 16), row.field) << std::hexfloat << row.value;
  }
}

TEST(Encode, E16_8WithoutScaleFactor) {
  struct Row {
    double value;
    const char* field;
  } rows[] = {
      {1.0, "  0.10000000E+01"},      {-1.0, " -0.10000000E+01"},
      {123.456, "  0.12345600E+03"},  {-0.001234567891, " -0.12345679E-02"},
      {1.0E-300, "  0.10000000-299"}, {-1.7976931348623157E+308, " -0.17976931+309"},
      {0.0, "  0.00000000E+00"},
  };
  for (const Row& row : rows) EXPECT_EQ(field(row.value, 16, 8, 0), row.field);
}

TEST(Encode, NarrowFieldsAndOtherParameters) {
  struct Row {
    double value;
    int w, d, k, e;
    bool plus;
    const char* field;
  } rows[] = {
      {1.0, 13, 8, 1, 0, false, "*************"},  // needs 14 columns
      {1.0, 14, 8, 1, 0, false, "1.00000000E+00"},
      {-1.0, 14, 8, 1, 0, false, "**************"},
      {-1.0, 14, 8, 0, 0, false, "-.10000000E+01"},  // the sign takes the only free column, not the 0
      {1.0, 14, 8, 0, 0, false, "0.10000000E+01"},
      {1.0, 13, 8, 0, 0, false, ".10000000E+01"},
      {1.0, 16, 8, 1, 0, true, " +1.00000000E+00"},
      {1.0, 16, 8, 2, 0, false, "  10.0000000E-01"},
      {1.0, 16, 8, -2, 0, false, "  0.00100000E+03"},  // 0.001 * 10^3: the exponent makes up for k
      {1.0e100, 16, 7, 1, 3, false, "  1.0000000E+100"},
      {1.0e100, 16, 7, 1, 2, false, "****************"},
      {kInf, 8, 2, 1, 0, false, "********"},
      {-kInf, 10, 2, 1, 0, false, " -Infinity"},
      {kNaN, 3, 1, 1, 0, false, "***"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(field(row.value, row.w, row.d, row.k, row.e, row.plus), row.field)
        << row.value << " w=" << row.w << " k=" << row.k;
  }
}

// Every scale factor from -3 to 3 and digit counts up to 90, against the exact decimal value of each
// double rounded by hand (ties to even). Under k <= 0 the exponent makes up for the zeros after the point.
TEST(Encode, EveryScaleFactorAndDigitCount) {
  struct Row {
    double value;
    int w, d, k;
    const char* field;
  } rows[] = {
      {1.0 / 3, 16, 8, -3, "  0.00033333E+03"},
      {-1.0, 16, 8, -3, " -0.00010000E+04"},
      {0x1p-1074, 16, 8, -3, "  0.00049407-320"},
      {1.0 / 3, 16, 8, -2, "  0.00333333E+02"},
      {-1.0, 16, 8, -2, " -0.00100000E+03"},
      {0x1p-1074, 16, 8, -2, "  0.00494066-321"},
      {1.0 / 3, 16, 8, -1, "  0.03333333E+01"},
      {-1.0, 16, 8, -1, " -0.01000000E+02"},
      {0x1p-1074, 16, 8, -1, "  0.04940656-322"},
      {1.0 / 3, 16, 8, 0, "  0.33333333E+00"},
      {-1.0, 16, 8, 0, " -0.10000000E+01"},
      {0x1p-1074, 16, 8, 0, "  0.49406565-323"},
      {1.0 / 3, 16, 8, 1, "  3.33333333E-01"},
      {-1.0, 16, 8, 1, " -1.00000000E+00"},
      {0x1p-1074, 16, 8, 1, "  4.94065646-324"},
      {1.0 / 3, 16, 8, 2, "  33.3333333E-02"},
      {-1.0, 16, 8, 2, " -10.0000000E-01"},
      {0x1p-1074, 16, 8, 2, "  49.4065646-325"},
      {1.0 / 3, 16, 8, 3, "  333.333333E-03"},
      {-1.0, 16, 8, 3, " -100.000000E-02"},
      {0x1p-1074, 16, 8, 3, "  494.065646-326"},
      {-123456785.0, 16, 8, 0, " -0.12345678E+09"},
      {123456775.0, 16, 8, 0, "  0.12345678E+09"},
      {1.0, 12, 4, -2, "  0.0010E+03"},
      {-1.0, 12, 4, -2, " -0.0010E+03"},
      {1.0 / 3, 8, 0, 1, "  3.E-01"},
      {-0x1.fffffffffffffp+1023, 8, 0, 1, " -2.+308"},
      {0.0, 8, 0, 1, "  0.E+00"},
      {1.0 / 3, 50, 38, 1, "      3.33333333333333314829616256247390992939E-01"},
      {-0x1.fffffffffffffp+1023, 50, 38, 1, "     -1.79769313486231570814527423731704356798+308"},
      {0.0, 50, 38, 1, "      0.00000000000000000000000000000000000000E+00"},
      {1.0 / 3, 50, 39, 1, "     3.333333333333333148296162562473909929395E-01"},
      {-0x1.fffffffffffffp+1023, 50, 39, 1, "    -1.797693134862315708145274237317043567981+308"},
      {0.0, 50, 39, 1, "     0.000000000000000000000000000000000000000E+00"},
      {1.0 / 3, 50, 40, 1, "    3.3333333333333331482961625624739099293947E-01"},
      {-0x1.fffffffffffffp+1023, 50, 40, 1, "   -1.7976931348623157081452742373170435679807+308"},
      {0.0, 50, 40, 1, "    0.0000000000000000000000000000000000000000E+00"},
      {1.0 / 3, 50, 40, 0, "    0.3333333333333333148296162562473909929395E+00"},
      {-0x1.fffffffffffffp+1023, 50, 40, 0, "   -0.1797693134862315708145274237317043567981+309"},
      {0.0, 50, 40, 0, "    0.0000000000000000000000000000000000000000E+00"},
      {1.0 / 3, 70, 62, 1, "  3.33333333333333314829616256247390992939472198486328125000000000E-01"},
      {-0x1.fffffffffffffp+1023, 70, 62, 1,
       " -1.79769313486231570814527423731704356798070567525844996598917477+308"},
      {0.0, 70, 62, 1, "  0.00000000000000000000000000000000000000000000000000000000000000E+00"},
      {1.0 / 3, 100, 90, 1,
       "    "
       "3.333333333333333148296162562473909929394721984863281250000000000000000000000000000000000000E-01"},
      {-0x1.fffffffffffffp+1023, 100, 90, 1,
       "   "
       "-1.797693134862315708145274237317043567980705675258449965989174768031572607800285387605895586+308"},
      {0.0, 100, 90, 1,
       "    "
       "0.000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000E+00"},
      {1.0 / 3, 100, 90, -3,
       "    "
       "0.000333333333333333314829616256247390992939472198486328125000000000000000000000000000000000E+03"},
      {-0x1.fffffffffffffp+1023, 100, 90, -3,
       "   "
       "-0.000179769313486231570814527423731704356798070567525844996598917476803157260780028538760590+312"},
      {0.0, 100, 90, -3,
       "    "
       "0.000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000E+00"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(field(row.value, row.w, row.d, row.k), row.field)
        << row.value << " w=" << row.w << " d=" << row.d << " k=" << row.k;
  }
}

// The reference is the C library's own correctly rounded conversion, placed in a field of d + 8 columns
// under scale factor 1 by hand.
std::string reference_field(double v, int d = 8) {
  const std::size_t w = static_cast<std::size_t>(d) + 8;
  if (v == 0.0)
    return std::string(w - d - 6, ' ') + "0." + std::string(static_cast<std::size_t>(d), '0') + "E+00";
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.*e", d, std::fabs(v));  // d.ddd...e+XX
  std::string mantissa(digits, std::strchr(digits, 'e'));
  if (d == 0) mantissa += '.';
  int exponent = std::atoi(std::strchr(digits, 'e') + 1);
  char out[32];
  if (std::abs(exponent) >= 100) {
    std::snprintf(out, sizeof out, "%s%s%+04d", v < 0 ? "-" : "", mantissa.c_str(), exponent);
  } else {
    std::snprintf(out, sizeof out, "%s%sE%+03d", v < 0 ? "-" : "", mantissa.c_str(), exponent);
  }
  std::string s = out;
  return std::string(w - s.size(), ' ') + s;
}

constexpr std::uint64_t kTens[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

double random_double(std::mt19937_64& rng) {
  std::uint64_t bits = rng();
  switch (bits & 7) {
    case 0:  // subnormals and values next to zero
      return std::bit_cast<double>(bits & 0x800FFFFFFFFFFFFFull);
    case 1: {  // values next to a decimal tie at the ninth digit
      double base = std::ldexp(static_cast<double>(rng() % 1000000000) + 0.5, 0);
      double scaled = base * std::pow(10.0, static_cast<int>(rng() % 40) - 20);
      return std::nextafter(scaled, (bits & 8) ? kInf : -kInf);
    }
    case 2:  // integers that end in 5 one place below the last kept digit
      return static_cast<double>((rng() % 100000000) * 10 + 5) * ((bits & 16) ? 1 : 10);
    case 3: {  // exact ties at the tenth digit: 1234567885000, 12345678.25, 1234567.375 and the like
      const int j = static_cast<int>(rng() % 4);
      if (j == 0) return static_cast<double>((rng() % 900000000 + 100000000) * 10 + 5) * kTens[rng() % 6];
      const double fraction = static_cast<double>(2 * (rng() % (1u << (j - 1))) + 1) / (1u << j);
      return static_cast<double>(rng() % (9 * kTens[9 - j]) + kTens[9 - j]) + fraction;
    }
    default:  // every exponent
      return std::bit_cast<double>(bits);
  }
}

TEST(Encode, AgreesWithReferenceAndReadsBack) {
  const long count = test::sweep_count(1000000);
  std::mt19937_64 rng(20261207);
  long checked = 0;
  for (long i = 0; i < count; ++i) {
    double v = random_double(rng);
    if (!std::isfinite(v)) continue;
    std::string f = field(v);
    ASSERT_EQ(f, reference_field(v)) << std::hexfloat << v;
    // The data record's own writer gives the same bytes.
    char own[16];
    rtl::convert::encode_e16_8_scaled(v, own);
    ASSERT_EQ(std::string(own, 16), f) << std::hexfloat << v;
    // Decoding the field and encoding the result again gives the same field.
    rtl::convert::Decoded back = rtl::convert::decode_real(f.data(), f.size(), 8, 0);
    ASSERT_EQ(back.status, rtl::convert::DecodeStatus::converted) << f;
    ASSERT_EQ(field(back.value), f) << std::hexfloat << v;
    ++checked;
  }
  EXPECT_GT(checked, count * 9 / 10);
}

// Digit counts on either side of what the fast path takes (17 significant digits) agree with the
// reference too.
TEST(Encode, OtherDigitCountsAgreeWithReference) {
  std::mt19937_64 rng(7);
  for (int d : {0, 1, 2, 5, 14, 15, 16, 17, 18, 24}) {
    for (int i = 0; i < 200000; ++i) {
      double v = random_double(rng);
      if (!std::isfinite(v)) continue;
      ASSERT_EQ(field(v, d + 8, d, 1), reference_field(v, d)) << std::hexfloat << v << " d=" << d;
    }
  }
}

}  // namespace

namespace {

#if defined(QUIL_SLOW_TESTS)
// Every one of the 200,000 doubles on either side of each power of ten from 1e-307 to 1e308, where the
// carry into a new digit and the exponent's third digit happen.
TEST(EncodeSlow, SweepAroundPowersOfTen) {
  for (int e = -307; e <= 308; ++e) {
    double centre = std::pow(10.0, e);
    double v = centre;
    for (int i = 0; i < 100000; ++i) v = std::nextafter(v, 0.0);
    for (int i = 0; i < 200000; ++i, v = std::nextafter(v, kInf)) {
      std::string f = field(v);
      ASSERT_EQ(f, reference_field(v)) << std::hexfloat << v;
      rtl::convert::Decoded back = rtl::convert::decode_real(f.data(), f.size(), 8, 0);
      ASSERT_EQ(field(back.value), f) << std::hexfloat << v;
    }
  }
}
#endif

}  // namespace
