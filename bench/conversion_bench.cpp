// One E16.8 field encoded under scale factor 1, and one 16-column field decoded.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "rtl/convert/decode.h"
#include "rtl/convert/encode.h"

namespace {

// Values as analysis models hold them (decimal exponents -12 to 12), or spread over -300 to 300.
std::vector<double> values(int spread = 12) {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-spread, spread);
  std::vector<double> v(4096);
  for (double& x : v) x = mantissa(rng) * std::pow(10.0, exponent(rng));
  return v;
}

void BM_EncodeE16_8(benchmark::State& state) {
  auto v = values(static_cast<int>(state.range(0)));
  char field[16];
  std::size_t i = 0;
  for (auto _ : state) {
    rtl::convert::encode_exponential(v[i++ & 4095], field, 16, 8, 1);
    benchmark::DoNotOptimize(field);
  }
}
BENCHMARK(BM_EncodeE16_8)->Arg(12)->Arg(300);

void BM_DecodeE16_8(benchmark::State& state) {
  auto v = values(static_cast<int>(state.range(0)));
  std::vector<char> fields(4096 * 16);
  for (std::size_t k = 0; k < v.size(); ++k) {
    // Damaged the way the pre-processor writes them: nine decimals, filling all 16 columns.
    char text[32];
    if (std::snprintf(text, sizeof text, "%16.9E", v[k]) > 16)
      std::snprintf(text, sizeof text, "%16.8E", v[k]);
    std::memcpy(&fields[k * 16], text, 16);
  }
  std::size_t i = 0;
  for (auto _ : state) {
    auto d = rtl::convert::decode_real(&fields[(i++ & 4095) * 16], 16, 8, 0);
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_DecodeE16_8)->Arg(12)->Arg(300);

}  // namespace
