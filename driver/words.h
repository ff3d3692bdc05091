// The words of the command's own lines for what the record layer and the system report.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/platform/platform.h"

namespace quil {

// The record layer's words for a failure number, without the unit and file it names.
std::string refusal_words(std::int32_t failure);
// The system's words for its error, without the line end.
std::string system_words(rtl::platform::SysError error);
// The words for a failure: the system's own where it has them ("No such file or directory", "No space
// left on device"), else the record layer's.
std::string failure_words(int failure, rtl::platform::SysError error);

}  // namespace quil
