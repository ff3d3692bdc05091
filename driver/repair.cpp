#include <cstring>
#include <span>
#include <string_view>

#include "driver/driver.h"
#include "driver/layouts.h"
#include "rtl/io.h"

namespace quil {

std::int32_t repair_pass(std::int32_t input, std::int32_t output) {
  char name[8];
  double values[4] = {};
  char copy[72];
  std::uint32_t lines = 0;
  for (;;) {
    std::memset(name, ' ', sizeof name);
    // Only a field that does not convert sends a line down the copy path; any other failure of the read
    // (the system's read, memory) is reported and ends the run, so that nothing is copied twice.
    int outcome = rtl::read<kDataReadLayout>(input, rtl::Handlers{true, true, rtl::Failure::input_conversion},
                                             std::span<char>(name), values[0], values[1], values[2], values[3]);
    if (outcome == -1) break;
    if (outcome > 0) {
      // Not a data record: step back and copy the line through as text.
      rtl::backspace(input);
      if (rtl::read<kOneTextLayout>(input, rtl::Handlers{true, false}, std::span<char>(copy)) == -1) break;
      rtl::write<kOneTextLayout>(output, std::string_view(copy, sizeof copy));
    } else {
      rtl::write<kDataWriteLayout>(output, std::string_view(name, sizeof name), values[0], values[1], values[2],
                                   values[3]);
    }
    ++lines;
  }
  return static_cast<std::int32_t>(lines);
}

}  // namespace quil
