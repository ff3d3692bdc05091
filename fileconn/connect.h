// The program's own layer between its dialogue and the record layer's connection of units.
#pragma once

#include <cstdint>

namespace quil {

// Connects the file an answer names (its blank tail dropped) to `unit`, sequential and formatted, shared
// with other programs. `mode` above 0 asks for a file that must exist, 0 for one that may exist or not,
// below 0 as the previous call asked (at first: may exist or not). Sets `error_word` to -1 on failure
// and leaves it alone on success.
void connect_answer(const char* name, std::int32_t declared_length, std::int32_t unit, std::int32_t mode,
                    std::int32_t& error_word);

}  // namespace quil
