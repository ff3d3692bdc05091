#pragma once

#include <cstdint>

namespace quil {

// The position (from 1) of the last character of the text that is not a blank; 0 for an all-blank text
// or a declared length of 0 or less. Only the blank (code 32) counts as padding.
std::int32_t significant_length(const char* text, std::int32_t declared_length);

}  // namespace quil
