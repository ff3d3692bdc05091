// What every scan of a real field hands on, whichever scan took it (the 16-column field's, the fast
// scan, the full scan), and the stages that make it a double.
#pragma once

#include <bit>
#include <cstdint>

#include "rtl/convert/decode.h"
#include "rtl/convert/product.h"

namespace rtl::convert {

// The field's value is -1^negative * mantissa * 10^power; the mantissa has 1 to 19 significant digits.
struct ScannedReal {
  std::uint64_t mantissa;
  long power;
  bool negative;
};

// Stage two: the library rounds the canonical "digits e power" text. Out of range it is an overflow
// when power > 0 (the value is then at least 10), else an underflow (the mantissa is below 10^19).
Decoded library_value(const ScannedReal& s);

// The double nearest the scanned value, ties to even: stage one (one exact operation, or the product)
// where it proves the result, else stage two.
[[gnu::always_inline]] inline Decoded value_of(const ScannedReal& s) {
  double v = 0.0;
  if (!fast_value(s.mantissa, s.power, &v)) [[unlikely]]
    return library_value(s);
  // The sign is the data's coin toss: set, not branched on.
  return {std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) | std::uint64_t{s.negative} << 63),
          DecodeStatus::converted};
}

}  // namespace rtl::convert
