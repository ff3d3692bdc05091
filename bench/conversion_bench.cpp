// One E16.8 field encoded under scale factor 1, and one 16-column field decoded: the data record's own
// conversions (encode_e16_8_scaled, decode_field_16), the general ones (encode_exponential, decode_real),
// and the standard library's std::to_chars(scientific, 8) and std::from_chars on the same values and
// fields in the same run. A summary at the end gives each of QUIL's conversions as a multiple of the
// library's speed (the median of the repetitions, as --benchmark_repetitions=N asks), and then the same
// ratios measured in pairs: a host whose load swings moves both halves of a pair alike.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "rtl/convert/decode.h"
#include "rtl/convert/encode.h"

namespace {

// Values as analysis models hold them (decimal exponents -12 to 12), or spread over -300 to 300.
std::vector<double> values(int spread) {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-spread, spread);
  std::vector<double> v(4096);
  for (double& x : v) x = mantissa(rng) * std::pow(10.0, exponent(rng));
  return v;
}

// The same values damaged the way the pre-processor writes them: nine decimals, filling all 16 columns.
std::vector<char> fields(int spread) {
  const auto v = values(spread);
  std::vector<char> f(v.size() * 16);
  for (std::size_t k = 0; k < v.size(); ++k) {
    char text[32];
    if (std::snprintf(text, sizeof text, "%16.9E", v[k]) > 16)
      std::snprintf(text, sizeof text, "%16.8E", v[k]);
    std::memcpy(&f[k * 16], text, 16);
  }
  return f;
}

template <typename Encode>
void encode_loop(benchmark::State& state, Encode encode) {
  const auto v = values(static_cast<int>(state.range(0)));
  char field[32];
  std::size_t i = 0;
  for (auto _ : state) {
    encode(v[i++ & 4095], field);
    benchmark::DoNotOptimize(field);
    benchmark::ClobberMemory();
  }
}

void BM_EncodeField(benchmark::State& state) { encode_loop(state, rtl::convert::encode_e16_8_scaled); }
void BM_EncodeExponential(benchmark::State& state) {
  encode_loop(state, [](double v, char* f) { rtl::convert::encode_exponential(v, f, 16, 8, 1); });
}
void BM_StdToChars(benchmark::State& state) {
  encode_loop(state,
              [](double v, char* f) { std::to_chars(f, f + 32, v, std::chars_format::scientific, 8); });
}

template <typename Decode>
void decode_loop(benchmark::State& state, Decode decode) {
  const auto f = fields(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) {
    const double d = decode(&f[(i++ & 4095) * 16]);
    benchmark::DoNotOptimize(d);
  }
}

void BM_DecodeField(benchmark::State& state) {
  decode_loop(state, [](const char* f) { return rtl::convert::decode_field_16(f, false).value; });
}
void BM_DecodeReal(benchmark::State& state) {
  decode_loop(state, [](const char* f) { return rtl::convert::decode_real(f, 16, 8, 0).value; });
}
// The library reads no leading blank: it starts at the field's first character (its sign or digit).
void BM_StdFromChars(benchmark::State& state) {
  decode_loop(state, [](const char* f) {
    const char* p = f + (f[0] == ' ');
    double d = 0;
    std::from_chars(p, f + 16, d);
    return d;
  });
}

BENCHMARK(BM_EncodeField)->Arg(12)->Arg(300);
BENCHMARK(BM_EncodeExponential)->Arg(12)->Arg(300);
BENCHMARK(BM_StdToChars)->Arg(12)->Arg(300);
BENCHMARK(BM_DecodeField)->Arg(12)->Arg(300);
BENCHMARK(BM_DecodeReal)->Arg(12)->Arg(300);
BENCHMARK(BM_StdFromChars)->Arg(12)->Arg(300);

// The console's report, and each run's time per field kept for the summary.
class Summary : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      // Each repetition, or only their median where the aggregates alone are reported.
      if (r.run_type == Run::RT_Iteration) times_[r.run_name.str()].push_back(r.GetAdjustedCPUTime());
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        medians_[r.run_name.str()] = r.GetAdjustedCPUTime();
    }
  }
  // The median CPU time of a benchmark's runs, 0 when it did not run.
  double median(const std::string& name) {
    auto& t = times_[name];
    if (t.empty()) return medians_.count(name) != 0 ? medians_[name] : 0;
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
  }
  void print_ratios() {
    std::printf(
        "\nspeed as a multiple of the standard library's (its CPU time / ours), median of the runs:\n");
    for (const char* spread : {"12", "300"}) {
      const auto row = [&](const char* what, const char* ours, const char* theirs, double goal) {
        const double a = median(std::string(ours) + "/" + spread),
                     b = median(std::string(theirs) + "/" + spread);
        if (a <= 0 || b <= 0) return;
        std::printf("  exponents -%-3s %-32s %6.1f ns  %5.1fx%s\n", spread, what, a, b / a,
                    goal > 0 ? (b / a >= goal ? "  (goal met)" : "  (below the goal)") : "");
      };
      row("encode_e16_8_scaled / to_chars", "BM_EncodeField", "BM_StdToChars", 8);
      row("encode_exponential / to_chars", "BM_EncodeExponential", "BM_StdToChars", 0);
      row("decode_field_16 / from_chars", "BM_DecodeField", "BM_StdFromChars", 3);
      row("decode_real / from_chars", "BM_DecodeReal", "BM_StdFromChars", 0);
    }
  }

 private:
  std::map<std::string, std::vector<double>> times_;
  std::map<std::string, double> medians_;
};

// Each round times a million calls of QUIL's conversion and then as many of the library's, on the same
// values; the ratio of the two is taken per round, and the median of 15 rounds is printed. Runs of the
// benchmarks above, seconds apart, met loads that differed by a third; the two halves of a round do not.
template <typename Call>
double nanoseconds_per_call(Call call) {
  constexpr long kCalls = 1000000;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < kCalls; ++i) call(static_cast<std::size_t>(i) & 4095);
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kCalls;
}

void print_paired_ratios() {
  std::printf("\nthe same, measured in pairs (15 rounds, the median of each round's ratio):\n");
  for (const int spread : {12, 300}) {
    const auto v = values(spread);
    const auto f = fields(spread);
    char out[32];
    std::vector<double> encode, decode;
    for (int round = 0; round < 15; ++round) {
      const double ours_encode = nanoseconds_per_call([&](std::size_t i) {
        rtl::convert::encode_e16_8_scaled(v[i], out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
      });
      const double std_encode = nanoseconds_per_call([&](std::size_t i) {
        std::to_chars(out, out + 32, v[i], std::chars_format::scientific, 8);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
      });
      const double ours_decode = nanoseconds_per_call([&](std::size_t i) {
        benchmark::DoNotOptimize(rtl::convert::decode_field_16(&f[i * 16], false).value);
      });
      const double std_decode = nanoseconds_per_call([&](std::size_t i) {
        const char* p = &f[i * 16];
        double d = 0;
        std::from_chars(p + (p[0] == ' '), p + 16, d);
        benchmark::DoNotOptimize(d);
      });
      encode.push_back(std_encode / ours_encode);
      decode.push_back(std_decode / ours_decode);
    }
    // The rounds' spread beside the median: the host's load moves the two halves of a pair alike, but its
    // state (a busy neighbour on the core) moves the ratio itself.
    const auto row = [&](const char* what, std::vector<double> ratios, double goal) {
      std::sort(ratios.begin(), ratios.end());
      const double m = ratios[ratios.size() / 2];  // the median
      std::printf("  exponents -%-3d %-32s %5.1fx  (%s; rounds %.1f-%.1f)\n", spread, what, m,
                  m >= goal ? "goal met" : "below the goal", ratios.front(), ratios.back());
    };
    row("encode_e16_8_scaled / to_chars", encode, 8);
    row("decode_field_16 / from_chars", decode, 3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Summary summary;
  benchmark::RunSpecifiedBenchmarks(&summary);
  summary.print_ratios();
  print_paired_ratios();
  benchmark::Shutdown();
  return 0;
}
