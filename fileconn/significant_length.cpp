#include "fileconn/significant_length.h"

#include <cmath>

namespace quil {

std::int32_t significant_length(const char* text, std::int32_t declared_length) {
  const std::int32_t length = declared_length;
  std::int32_t scan_from = length;
  // The probes look for a blank tail from a few fixed points; they only decide where the backward scan
  // starts, never the result: what they pass over is blank.
  static constexpr float kFractions[] = {0.1f, 0.2f, 0.3f, 0.4f, 0.7f};
  for (float fraction : kFractions) {
    const std::int32_t n = static_cast<std::int32_t>(std::lround(static_cast<float>(length) * fraction));
    if (n <= 1) continue;
    bool blank_tail = true;
    for (std::int32_t i = n; i <= length && blank_tail; ++i) blank_tail = text[i - 1] == ' ';
    if (blank_tail) {
      scan_from = n;
      break;
    }
  }
  for (std::int32_t i = scan_from; i >= 1; --i) {
    if (text[i - 1] != ' ') return i;
  }
  return 0;
}

}  // namespace quil
