// What both backends decide alike: names that Windows keeps for its devices, and when a window of its
// own waits before it closes.
#include "rtl/platform/platform.h"

namespace rtl::platform {

bool reserved_device_name(std::string_view name) {
  const std::size_t slash = name.find_last_of("\\/:");
  std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
  last = last.substr(0, last.find('.'));
  while (!last.empty() && last.back() == ' ') last.remove_suffix(1);
  char upper[5] = {};
  if (last.size() < 3 || last.size() > 4) return false;
  for (std::size_t i = 0; i < last.size(); ++i) {
    upper[i] = last[i] >= 'a' && last[i] <= 'z' ? static_cast<char>(last[i] - 'a' + 'A') : last[i];
  }
  const std::string_view word(upper, last.size());
  if (word == "CON" || word == "PRN" || word == "AUX" || word == "NUL") return true;
  return last.size() == 4 && (word.substr(0, 3) == "COM" || word.substr(0, 3) == "LPT") && word[3] >= '0' &&
         word[3] <= '9';
}

bool window_waits_for_enter(unsigned programs_on_console, bool input_is_console, bool console_event) {
  return programs_on_console == 1 && input_is_console && !console_event;
}

}  // namespace rtl::platform
