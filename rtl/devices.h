// The names that the record layer takes for devices rather than files.
#pragma once

#include <string_view>

namespace rtl {

enum class Device { none, console, standard_output, standard_input, standard_error, path };
struct DeviceName {
  std::string_view name;
  Device device;
  std::string_view opened_as;  // the device that the platform opens for it
  bool extension_allowed;      // "NUL.TXT" is NUL too
};

// The device a name without a folder part stands for, or nullptr when it names a file.
const DeviceName* device_for(std::string_view name);

}  // namespace rtl
