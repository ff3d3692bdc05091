#include "driver/file_lines.h"

#include <atomic>

#include "driver/layouts.h"
#include "driver/unit_numbers.h"
#include "driver/words.h"
#include "rtl/ending/ending.h"
#include "rtl/platform/platform.h"
#include "rtl/statements/io.h"

namespace quil {

namespace {
std::atomic<int> g_lines_failure{0};
}  // namespace

void print_line(std::int32_t unit, std::string_view line) {
  const int rc = rtl::write_handled<kOneTextLayout>(unit, rtl::Handlers{false, true}, line);
  if (rc == 0) return;
  const rtl::platform::SysError error = rtl::handled_system_error(unit);
  if ((unit == kConsoleOut || unit == kErrorOut) && rtl::platform::broken_pipe_error(error))
    rtl::end_by_broken_pipe();
  // Subtle: a command whose list of files did not reach its reader must not end as if it had (a check
  // that says 0 or 1 of files nobody saw named); one started without the stream meant not to read it.
  int none = 0;
  if (!rtl::platform::closed_stream_error(error) && g_lines_failure.compare_exchange_strong(none, rc) &&
      unit == kConsoleOut)
    print_line(kErrorOut, "quil: standard output: " + failure_words(rc, error));
}

int lines_failure() { return g_lines_failure.load(); }

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
