#include "driver/progress.h"

#include <cstdio>

#include "driver/layouts.h"
#include "rtl/diagnostics/diagnostics.h"
#include "rtl/platform/platform.h"
#include "rtl/statements/io.h"

namespace quil {

void Progress::start(const std::string& name, std::int32_t input_unit, RepairOptions* options) {
  static const bool error_on_terminal =
      rtl::platform::is_terminal(rtl::platform::standard_handle(rtl::platform::StdStream::error));
  if (!error_on_terminal) return;
  name_ = name;
  size_ = rtl::input_file_size(input_unit);
  start_ = last_ = std::chrono::steady_clock::now();
  options->progress = show;
  options->context = this;
}

void Progress::show(void* context, std::int64_t records, std::int64_t consumed) {
  auto* p = static_cast<Progress*>(context);
  const auto now = std::chrono::steady_clock::now();
  if (now - p->start_ < std::chrono::seconds(1) || now - p->last_ < std::chrono::milliseconds(250)) return;
  p->last_ = now;
  p->shown_ = true;
  char line[64];
  if (p->size_ > 0) {
    std::snprintf(line, sizeof line, " %3d%%  %lld lines", static_cast<int>(consumed * 100 / p->size_),
                  static_cast<long long>(records));
  } else {
    std::snprintf(line, sizeof line, "  %lld lines", static_cast<long long>(records));
  }
  const std::string shown = "\rquil: " + p->name_ + line;
  rtl::write<kProgressLayout>(kErrorOut, shown);
  rtl::set_status_line(shown.size() + 8);
}

void Progress::erase() {
  if (!shown_) return;
  std::string blank(name_.size() + 40, ' ');
  blank.front() = blank.back() = '\r';
  // Subtle: a run that an event is ending parks in this write; the end then erases the line itself.
  rtl::write<kProgressLayout>(kErrorOut, blank);
  rtl::set_status_line(0);
  shown_ = false;
}

}  // namespace quil
