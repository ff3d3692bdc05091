#include "driver/file_lines.h"

#include "driver/layouts.h"
#include "driver/unit_numbers.h"
#include "rtl/ending/ending.h"
#include "rtl/platform/platform.h"
#include "rtl/statements/io.h"

namespace quil {

void print_line(std::int32_t unit, std::string_view line) {
  if (rtl::write_handled<kOneTextLayout>(unit, rtl::Handlers{false, true}, line) == 0) return;
  if ((unit == kConsoleOut || unit == kErrorOut) &&
      rtl::platform::broken_pipe_error(rtl::handled_system_error(unit)))
    rtl::end_by_broken_pipe();
}

void FileLines::print(std::int32_t unit, std::string text) const {
  if (kept_ != nullptr) {
    kept_->emplace_back(unit, std::move(text));
  } else {
    print_line(unit, text);
  }
}

void FileLines::print_result(std::string text) const {
  print(records_on_out_ ? kErrorOut : kConsoleOut, std::move(text));
}

void FileLines::print_problem(const std::string& text) const { print(kErrorOut, "quil: " + text); }

}  // namespace quil
