#include "driver/words.h"

#include <cstring>

#include "rtl/diagnostics/diagnostics.h"

namespace quil {

std::string refusal_words(std::int32_t failure) {
  const char* text = rtl::message_template(rtl::condition_code(static_cast<rtl::Failure>(failure)));
  if (text == nullptr) return "failure " + std::to_string(failure);
  const char* comma = std::strchr(text, ',');
  return std::string(text, comma != nullptr ? static_cast<std::size_t>(comma - text) : std::strlen(text));
}

std::string system_words(rtl::platform::SysError error) {
  char text[256];
  std::size_t n = rtl::platform::system_error_text(error, text, sizeof text);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) --n;
  // The system's words for a held file do not say who holds it, nor that it is another program.
  if (rtl::platform::held_by_another_program(error))
    return "it is held open by another program (" + std::string(text, n) + ")";
  return std::string(text, n);
}

std::string failure_words(int failure, rtl::platform::SysError error) {
  return error != 0 ? system_words(error) : refusal_words(failure);
}

}  // namespace quil
