// Writes N lines of a damaged input file to standard output, the same for the same N and seed: data
// records whose negative numbers fill their 16 columns and touch the field before, continuation
// records with a blank name, and about 2 percent text records. The values' decimal exponents spread
// over -SPREAD..SPREAD (default 12, as models hold them; 300 covers nearly the whole double range).
// FORMS "mixed" writes about half the fields in every other form the decoder takes instead: a sign in
// the first column, an exponent without its letter, D and lower-case exponents, fewer decimals, no
// exponent, no point, blank fields; and one data line in ten short, ended after a field or inside one.
// Usage: generate_damaged [N [SEED [SPREAD [FORMS]]]]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

// The field of value v in form `form` (1 to 8) into text, which holds it in the damaged form: 16 columns.
// 1 a sign in the first column, 2 the exponent's letter dropped (three exponent digits), 3 a D exponent,
// 4 a lower-case one, 5 fewer decimals, 6 no exponent, 7 no point, 8 a blank field.
void other_form(int form, double v, char* text) {
  char t[40];
  std::memcpy(t, text, 17);
  if (form == 1) {
    t[0] = t[0] == ' ' ? '+' : t[0];
  } else if (form == 2) {
    std::snprintf(t, sizeof t, "%.8E", v);
    char* e = std::strchr(t, 'E');
    const int x = std::atoi(e + 1);
    std::snprintf(e, 8, "%c%03d", x < 0 ? '-' : '+', std::abs(x) % 1000);
  } else if (form == 3) {
    *std::strchr(t, 'E') = 'D';
  } else if (form <= 7) {
    const char* formats[] = {"%16.7e", "%16.4E", "%16.6f", "%16.0f"};
    std::snprintf(t, sizeof t, formats[form - 4],
                  form == 6   ? std::fmod(v, 1e8)
                  : form == 7 ? std::fmod(v, 1e9)
                              : v);
  } else {
    t[0] = '\0';
  }
  const std::size_t n = std::strlen(t) < 16 ? std::strlen(t) : 16;
  std::memset(text, ' ', 16 - n);
  std::memcpy(text + 16 - n, t, n);
}

}  // namespace

int main(int argc, char** argv) {
  long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  unsigned seed = argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 20261207u;
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> mantissa(-9.999, 9.999);
  const int spread = argc > 3 ? std::atoi(argv[3]) : 12;
  const bool mixed = argc > 4 && std::strcmp(argv[4], "mixed") == 0;
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
    char line[80];
    std::memcpy(line, kNames[pick % 6], 8);
    for (int f = 0; f < 4; ++f) {
      double v = mantissa(rng) * std::pow(10.0, exponent(rng));
      if (spread <= 12 && pick % 17 == 0 && f == 3) v *= 1e120;  // a few three-digit exponents
      // Nine decimals fill the field; with a three-digit exponent eight do.
      char text[32];
      if (std::snprintf(text, sizeof text, "%16.9E", v) > 16) std::snprintf(text, sizeof text, "%16.8E", v);
      if (mixed && rng() % 2 == 0) other_form(1 + static_cast<int>(rng() % 8), v, text);
      std::memcpy(line + 8 + 16 * f, text, 16);
    }
    std::size_t length = 72;
    if (mixed && rng() % 10 == 0) {
      // Short: after its first fields, or inside a field, the rest of that field written from the left.
      const int fields = static_cast<int>(rng() % 4), cut = static_cast<int>(rng() % 2);
      length = 8 + 16 * static_cast<std::size_t>(fields);
      if (cut != 0) {
        std::size_t blanks = 0;
        while (blanks < 16 && line[length + blanks] == ' ') ++blanks;
        std::memmove(line + length, line + length + blanks, 16 - blanks);
        length += 16 - blanks;
      }
    }
    std::fwrite(line, 1, length, stdout);
    std::fputs("\r\n", stdout);
  }
  return 0;
}
