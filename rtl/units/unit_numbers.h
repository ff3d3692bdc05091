// The units that the record layer itself gives a part: the standard streams, by name.
#pragma once

#include <cstdint>

namespace rtl {

inline constexpr std::int32_t kErrorUnit = 0;      // standard error
inline constexpr std::int32_t kConsoleInput = 5;   // standard input, connected at its first read
inline constexpr std::int32_t kConsoleOutput = 6;  // standard output, connected at its first write

}  // namespace rtl
