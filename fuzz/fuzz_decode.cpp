// Arbitrary bytes as a numeric field: the decoder must not crash, must read only the field, and must
// agree with a plain reference scan written from the rules.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "rtl/convert/decode.h"
#include "rtl/convert/fast_paths.h"

namespace {

struct Reference {
  bool ok;
  double value;
};

bool space(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

// The rules, one step at a time and without any care for speed; strtod does the rounding.
Reference reference(const std::string& f, int d, bool zeros) {
  std::size_t i = 0, n = f.size();
  while (i < n && space(static_cast<unsigned char>(f[i]))) ++i;
  bool neg = false;
  if (i < n && (f[i] == '+' || f[i] == '-')) neg = f[i++] == '-';
  if (!zeros) {
    while (i < n && f[i] == ' ') ++i;
  }
  std::string rest = f.substr(i);
  for (char& c : rest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!rest.empty() && (rest[0] == 'I' || rest[0] == 'N')) {
    if (rest == "INF" || rest == "INFINITY") return {true, neg ? -INFINITY : INFINITY};
    if (rest == "NAN") return {true, std::bit_cast<double>(0xFFF8000000000000ull)};
    return {false, 0};
  }
  std::string digits;
  bool point = false, zero_seen = false;
  long after = 0;
  bool exp = false, exp_neg = false, exp_sign = false;
  std::string exp_digits;
  for (; i < n; ++i) {
    if (f[i] == ' ' && !zeros) continue;
    char c = f[i] == ' ' ? '0' : f[i];
    if (c >= '0' && c <= '9') {
      if (point) ++after;
      if (digits.empty() && c == '0') {
        zero_seen = true;
        continue;
      }
      digits += c;
    } else if (c == '.' && !point) {
      point = true;
    } else if (c != 0 && std::strchr("EeDdQq", c) != nullptr) {
      exp = true;
      ++i;
      break;
    } else if (c == '+' || c == '-') {
      exp = exp_sign = true;
      exp_neg = c == '-';
      ++i;
      break;
    } else {
      return {false, 0};
    }
  }
  if (exp) {
    for (; i < n; ++i) {
      if (f[i] == ' ' && !zeros) continue;
      char c = f[i] == ' ' ? '0' : f[i];
      if ((c == '+' || c == '-') && !exp_sign && exp_digits.empty()) {
        exp_sign = true;
        exp_neg = c == '-';
      } else if (c >= '0' && c <= '9') {
        if (!(exp_digits.empty() && c == '0')) exp_digits += c;
      } else {
        return {false, 0};
      }
    }
  }
  if (digits.empty()) return {true, neg && zero_seen ? -0.0 : 0.0};
  if (exp_digits.size() > 6) {
    if (exp_neg) return {true, neg ? -0.0 : 0.0};
    return {false, 0};
  }
  long x = exp_digits.empty() ? 0 : std::atol(exp_digits.c_str());
  if (exp_neg) x = -x;
  long power = x - (point ? after : d);
  long p = power + static_cast<long>(digits.size());
  if (p < -323) return {true, neg ? -0.0 : 0.0};
  if (p > 309) return {false, 0};
  std::string text = digits + "e" + std::to_string(power);
  double v = std::strtod(text.c_str(), nullptr);
  if (std::isinf(v)) return {false, 0};
  return {true, neg ? -v : v};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool zeros = data[0] & 1;
  const int d = (data[0] >> 1) % 12;
  // An exactly sized heap copy: reading one byte past the field is caught by the address checker.
  std::vector<char> field(data + 1, data + size);
  char* exact = static_cast<char*>(std::malloc(field.size() + 1));
  if (!field.empty()) std::memcpy(exact, field.data(), field.size());
  rtl::convert::Decoded got = rtl::convert::decode_real(exact, field.size(), d, 0, zeros);
  std::free(exact);
  Reference want = reference(std::string(field.begin(), field.end()), d, zeros);
  bool got_ok = got.status == rtl::convert::DecodeStatus::converted;
  if (got_ok != want.ok) std::abort();
  if (got_ok && std::bit_cast<std::uint64_t>(got.value) != std::bit_cast<std::uint64_t>(want.value))
    std::abort();
  // A 16-column field through the data record's own scan, its digits gathered by the byte shuffle and
  // without it: the same value and status as the decoder's.
  for (const bool shuffle : {true, false}) {
    if (field.size() != 16 || d != 8) break;
    rtl::convert::use_digit_shuffle(shuffle);
    const rtl::convert::Decoded own = rtl::convert::decode_field_16(field.data(), zeros);
    rtl::convert::use_digit_shuffle(true);
    if (own.status != got.status ||
        std::bit_cast<std::uint64_t>(own.value) != std::bit_cast<std::uint64_t>(got.value))
      std::abort();
  }
  return 0;
}
