#include <cstring>
#include <span>
#include <string_view>

#include "driver/driver.h"
#include "driver/layouts.h"
#include "driver/text_records.h"
#include "rtl/io.h"

namespace quil {

std::int32_t repair_pass(std::int32_t input, std::int32_t output) {
  char name[8];
  double values[4] = {};
  char copy[72];
  std::uint32_t lines = 0;
  std::int32_t text_records_due = 0;  // announced by the last header, still to come
  for (;;) {
    std::memset(name, ' ', sizeof name);
    // Only a field that does not convert sends a line down the copy path; any other failure of the read
    // (the system's read, memory) is reported and ends the run, so that nothing is copied twice.
    int outcome = rtl::read<kDataReadLayout>(input, rtl::Handlers{true, true, rtl::Failure::input_conversion},
                                             std::span<char>(name), values[0], values[1], values[2], values[3]);
    if (outcome == -1) break;
    // A text record may read as numbers; only its blank name columns tell it from a data record.
    const bool announced_text = text_records_due > 0 && is_text_record_name(name);
    text_records_due = announced_text ? text_records_due - 1 : 0;
    if (outcome > 0 || announced_text) {
      // Not a data record: step back and copy the line through as text.
      rtl::backspace(input);
      if (rtl::read<kOneTextLayout>(input, rtl::Handlers{true, false}, std::span<char>(copy)) == -1) break;
      rtl::write<kOneTextLayout>(output, std::string_view(copy, sizeof copy));
    } else {
      rtl::write<kDataWriteLayout>(output, std::string_view(name, sizeof name), values[0], values[1], values[2],
                                   values[3]);
      text_records_due = announced_text_records(name, values);
    }
    ++lines;
  }
  return static_cast<std::int32_t>(lines);
}

}  // namespace quil
