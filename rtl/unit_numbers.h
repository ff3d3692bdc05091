// The units that have a fixed part in the program, by name.
#pragma once

#include <cstdint>

namespace rtl {

inline constexpr std::int32_t kErrorUnit = 0;      // standard error
inline constexpr std::int32_t kConsoleInput = 5;   // standard input, connected at its first read
inline constexpr std::int32_t kConsoleOutput = 6;  // standard output, connected at its first write

}  // namespace rtl

namespace quil {

inline constexpr std::int32_t kConsoleIn = rtl::kConsoleInput;
inline constexpr std::int32_t kConsoleOut = rtl::kConsoleOutput;
inline constexpr std::int32_t kErrorOut = rtl::kErrorUnit;
inline constexpr std::int32_t kInputUnit = 88;   // the file being repaired
inline constexpr std::int32_t kOutputUnit = 90;  // the repaired file
inline constexpr std::int32_t kProbeUnit = 91;   // a look at an existing output before it is written

}  // namespace quil
