// The program's own layer between its dialogue and the record layer's connection of units.
#pragma once

#include <cstdint>

namespace quil {

// Result values of the connection routine besides 0 and minus a failure number.
inline constexpr std::int32_t kBadUnit = -901;
inline constexpr std::int32_t kBadRecordLength = -902;

// Connects a named or scratch file to a unit with shared access. Codes: status 2 OLD, 3 NEW, 4 SCRATCH,
// else UNKNOWN; access 20 direct with the caller's length in words, 30 direct with 128, else sequential;
// form 1 formatted, 2 unformatted, else the access's default; blank 1 ZERO, else NULL. Diagnostics go to
// `message_unit` when it is above 0; a success is described only when `report` is above 0.
// `result` is 0, kBadUnit, kBadRecordLength, or minus the record layer's failure number.
void connect_file(const char* name, std::int32_t name_length, std::int32_t unit, std::int32_t status_code,
                  std::int32_t access_code, std::int32_t form_code, std::int32_t blank_code,
                  std::int32_t record_length, std::int32_t report, std::int32_t message_unit,
                  std::int32_t& result);

// The driver's entry: mode above 0 for a file that must exist, 0 for one that may exist or not, below 0
// to reuse the previous call's status. Sets `error_word` to -1 on failure and leaves it alone on success.
void connect_answer(const char* name, std::int32_t declared_length, std::int32_t unit, std::int32_t mode,
                    std::int32_t& error_word);

}  // namespace quil
