#pragma once

#include <cstdint>

namespace quil {

inline constexpr std::int32_t kConsoleIn = 5;
inline constexpr std::int32_t kConsoleOut = 6;
inline constexpr std::int32_t kInputUnit = 88;
inline constexpr std::int32_t kOutputUnit = 90;

// The body of QUIL: banner, the two file dialogues, the repair pass, the summary, the end. Never returns.
void driver();

// Writes one blank and the first min(length, 80) characters of `text` to `unit`, with no line end, so
// that the answer is typed on the same screen line.
void write_prompt(std::int32_t unit, const char* text, std::int32_t length);

// Reads every record of `input` once and writes one record to `output` for each: data records
// repaired, any other line copied as 72-column text. Returns the number of records written.
std::int32_t repair_pass(std::int32_t input, std::int32_t output);

}  // namespace quil
