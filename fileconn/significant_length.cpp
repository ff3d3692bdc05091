#include "fileconn/significant_length.h"

namespace quil {

std::int32_t significant_length(const char* text, std::int32_t declared_length) {
  std::int32_t i = declared_length;
  while (i >= 1 && text[i - 1] == ' ') --i;
  return i < 0 ? 0 : i;
}

}  // namespace quil
