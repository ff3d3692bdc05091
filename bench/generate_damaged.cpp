// Writes N lines of a damaged input file to standard output, the same for the same N and seed: data
// records whose negative numbers fill their 16 columns and touch the field before, continuation
// records with a blank name, and about 2 percent text records. The values' decimal exponents spread
// over -SPREAD..SPREAD (default 12, as models hold them; 300 covers nearly the whole double range).
// Usage: generate_damaged [N [SEED [SPREAD]]]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

int main(int argc, char** argv) {
  long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  unsigned seed = argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 20261207u;
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> mantissa(-9.999, 9.999);
  const int spread = argc > 3 ? std::atoi(argv[3]) : 12;
  std::uniform_int_distribution<int> exponent(-spread, spread);
  static const char* kNames[] = {"GNODE   ", "GCOORD  ", "GELMNT1 ", "GELREF1 ", "BNBCD   ", "        "};
  static char buffer[1 << 20];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  for (long i = 0; i < lines; ++i) {
    unsigned pick = static_cast<unsigned>(rng() % 100);
    if (pick < 2) {
      std::printf("        LC_%ld wave load, return period %ld years\r\n", i % 97, 1 + i % 100);
      continue;
    }
    std::fputs(kNames[pick % 6], stdout);
    for (int f = 0; f < 4; ++f) {
      double v = mantissa(rng) * std::pow(10.0, exponent(rng));
      if (spread <= 12 && pick % 17 == 0 && f == 3) v *= 1e120;  // a few three-digit exponents
      // Nine decimals fill the field; with a three-digit exponent eight do.
      char text[32];
      if (std::snprintf(text, sizeof text, "%16.9E", v) > 16) std::snprintf(text, sizeof text, "%16.8E", v);
      std::fputs(text, stdout);
    }
    std::fputs("\r\n", stdout);
  }
  return 0;
}
