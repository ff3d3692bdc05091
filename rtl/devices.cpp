#include "rtl/devices.h"

namespace rtl {
namespace {

constexpr DeviceName kDevices[] = {
    {"CON", Device::console, {}, true},           {"CONOUT$", Device::standard_output, {}, false},
    {"USER", Device::standard_output, {}, false}, {"CONIN$", Device::standard_input, {}, false},
    {"ERR", Device::standard_error, {}, false},   {"NUL", Device::path, "NUL", true},
    {"PRN", Device::path, "PRN", true},           {"LPT1", Device::path, "LPT1", false},
    {"LPT2", Device::path, "LPT2", false},        {"LPT3", Device::path, "LPT3", false},
    {"LPT4", Device::path, "LPT4", false},        {"COM1", Device::path, "COM1", true},
    {"COM2", Device::path, "COM2", true},         {"COM3", Device::path, "COM3", true},
    {"COM4", Device::path, "COM4", true},         {"AUX", Device::path, "COM1", true},
    {"LINE", Device::path, "COM1", false},
};

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != b[i]) return false;
  }
  return true;
}

}  // namespace

const DeviceName* device_for(std::string_view name) {
  // A name with a folder part is a file in that folder, whatever its last part spells.
  if (name.find_first_of("/\\") != std::string_view::npos) return nullptr;
  std::string_view stem = name;
  std::size_t dot = name.rfind('.');
  bool has_extension = dot != std::string_view::npos && dot + 1 < name.size();
  if (has_extension) stem = name.substr(0, dot);
  for (const DeviceName& d : kDevices) {
    if (equal_ignoring_case(name, d.name)) return &d;
    if (has_extension && d.extension_allowed && equal_ignoring_case(stem, d.name)) return &d;
  }
  return nullptr;
}

}  // namespace rtl
