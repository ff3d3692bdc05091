// What both backends decide alike: the read-only retry, names that Windows keeps for its devices, when a
// window of its own waits before it closes, how long a console event is waited for, the register dump
// and the abnormal termination. The backends hold only the system's calls.
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "rtl/ascii.h"
#include "rtl/platform/backend.h"
#include "rtl/platform/platform.h"

namespace rtl::platform {
namespace {

constexpr DeviceName kDevices[] = {
    {"CON", DeviceKind::console, {}, true},           {"CONOUT$", DeviceKind::standard_output, {}, false},
    {"USER", DeviceKind::standard_output, {}, false}, {"CONIN$", DeviceKind::standard_input, {}, false},
    {"ERR", DeviceKind::standard_error, {}, false},   {"NUL", DeviceKind::path, "NUL", true},
    {"PRN", DeviceKind::path, "PRN", true},           {"LPT1", DeviceKind::path, "LPT1", false},
    {"LPT2", DeviceKind::path, "LPT2", false},        {"LPT3", DeviceKind::path, "LPT3", false},
    {"LPT4", DeviceKind::path, "LPT4", false},        {"COM1", DeviceKind::path, "COM1", true},
    {"COM2", DeviceKind::path, "COM2", true},         {"COM3", DeviceKind::path, "COM3", true},
    {"COM4", DeviceKind::path, "COM4", true},         {"AUX", DeviceKind::path, "COM1", true},
    {"LINE", DeviceKind::path, "COM1", false},
};

// What each device opens: on POSIX a device file, on Windows the device in the system's own notation, so
// that it is opened as a device and never as a file.
constexpr struct {
  std::string_view device;
  const char* posix;
  const char* windows;
} kDevicePaths[] = {{"NUL", "/dev/null", "\\\\.\\NUL"},    {"PRN", "/dev/lp0", "\\\\.\\PRN"},
                    {"LPT1", "/dev/lp0", "\\\\.\\LPT1"},   {"LPT2", "/dev/lp1", "\\\\.\\LPT2"},
                    {"LPT3", "/dev/lp2", "\\\\.\\LPT3"},   {"LPT4", "/dev/lp3", "\\\\.\\LPT4"},
                    {"COM1", "/dev/ttyS0", "\\\\.\\COM1"}, {"COM2", "/dev/ttyS1", "\\\\.\\COM2"},
                    {"COM3", "/dev/ttyS2", "\\\\.\\COM3"}, {"COM4", "/dev/ttyS3", "\\\\.\\COM4"}};

// A virus scanner or a preview pane holds a file for a moment and is worth two seconds; a file held for
// good is not worth them again. The waits that end with the file still held share one allowance a run,
// so that many held files cost about one wait; once it is spent, a held file still gets a moment.
constexpr unsigned kHeldWaitAllowance = 2000;
constexpr unsigned kHeldWaitMoment = 200;
std::atomic<unsigned> g_held_wait_spent{0};

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_upper(a[i]) != b[i]) return false;
  }
  return true;
}

}  // namespace

unsigned held_wait_limit() {
  const unsigned spent = g_held_wait_spent.load(std::memory_order_relaxed);
  return std::max(kHeldWaitMoment, kHeldWaitAllowance - std::min(spent, kHeldWaitAllowance));
}

void held_wait_failed(unsigned waited) { g_held_wait_spent.fetch_add(waited, std::memory_order_relaxed); }

const DeviceName* device_for(std::string_view name) {
  // A name with a folder part is a file in that folder, whatever its last part spells.
  if (name.find_first_of("/\\") != std::string_view::npos) return nullptr;
  std::string_view stem = name;
  const std::size_t dot = name.rfind('.');
  const bool has_extension = dot != std::string_view::npos && dot + 1 < name.size();
  if (has_extension) stem = name.substr(0, dot);
  for (const DeviceName& d : kDevices) {
    if (equal_ignoring_case(name, d.name)) return &d;
    if (has_extension && d.extension_allowed && equal_ignoring_case(stem, d.name)) return &d;
  }
  return nullptr;
}

const char* device_path(std::string_view device) {
  for (const auto& d : kDevicePaths) {
    if (d.device == device) return device_notation() == DeviceNotation::posix ? d.posix : d.windows;
  }
  return nullptr;
}

bool reserved_device_name(std::string_view name) {
  std::string_view last = name.substr(leaf_start(name, true));
  last = last.substr(0, last.find('.'));
  while (!last.empty() && last.back() == ' ') last.remove_suffix(1);
  char upper[5] = {};
  if (last.size() < 3 || last.size() > 4) return false;
  for (std::size_t i = 0; i < last.size(); ++i) {
    upper[i] = ascii_upper(last[i]);
  }
  const std::string_view word(upper, last.size());
  if (word == "CON" || word == "PRN" || word == "AUX" || word == "NUL") return true;
  return last.size() == 4 && (word.substr(0, 3) == "COM" || word.substr(0, 3) == "LPT") && word[3] >= '0' &&
         word[3] <= '9';
}

namespace {
char fold(char c) { return ascii_upper(c); }

bool matches(std::string_view pattern, std::string_view name) {
  // The last * seen and where its match resumes: backtracking over one star at a time suffices.
  std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// NAME.orig, NAME.orig.N, NAME.quil-N.tmp, quil-N.tmp.
bool quil_own_file(std::string_view name) {
  const auto digits_from = [&](std::size_t at, std::size_t end) {
    if (at >= end) return false;
    for (std::size_t i = at; i < end; ++i) {
      if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
  };
  if (name.size() > 5 && name.substr(name.size() - 5) == ".orig") return true;
  const std::size_t orig = name.rfind(".orig.");
  if (orig != std::string_view::npos && digits_from(orig + 6, name.size())) return true;
  if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp") {
    const std::size_t quil = name.rfind("quil-");
    if (quil != std::string_view::npos && (quil == 0 || name[quil - 1] == '.') &&
        digits_from(quil + 5, name.size() - 4)) {
      return true;
    }
  }
  return false;
}
}  // namespace

bool wildcard_match(std::string_view pattern, std::string_view name) {
  return !quil_own_file(name) && matches(pattern, name);
}

bool window_waits_for_enter(unsigned programs_on_console, bool input_is_console, bool console_event) {
  return programs_on_console == 1 && input_is_console && !console_event;
}

std::size_t held_window_text(int status, char* out, std::size_t capacity) {
  static constexpr const char* kPrompt = "\r\nPress Enter to close this window.";
  const int n = status == 0
                    ? std::snprintf(out, capacity, "%s", kPrompt)
                    : std::snprintf(out, capacity, "\r\nQUIL ended with errorlevel %d.%s", status, kPrompt);
  return n <= 0 || capacity == 0 ? 0 : std::min(static_cast<std::size_t>(n), capacity - 1);
}

OpenResult open_file(const char* name, Creation creation, Sharing sharing) {
  const OpenResult first = open_once(name, creation, sharing);
  if (first.refusal == OpenRefusal::none || creation == Creation::read_existing ||
      !read_only_may_succeed(first.error)) {
    return first;
  }
  // Subtle: the read-only retry never creates or cuts a file: it exists, or the first open said so.
  // When it fails too, the first refusal is the one that stands.
  const OpenResult again = open_once(name, Creation::read_existing, sharing);
  return again.refusal == OpenRefusal::none ? again : first;
}

#ifndef QUIL_DOOR_FAULTS
std::int64_t smallest_file_in_parts(std::int64_t normal) { return normal; }
#endif

bool console_event_arriving(unsigned wait_milliseconds) {
  for (unsigned waited = 0;; ++waited) {
    if (console_event_pending()) return true;
    if (waited >= wait_milliseconds) return false;
    sleep_milliseconds(1);
  }
}

std::size_t exception_registers(char* out, std::size_t capacity) {
  RegisterValue values[32];
  const int count = exception_register_values(values, 32);
  std::size_t n = 0;
  for (int i = 0; i < count && capacity > 0; ++i) {
    const int k = std::snprintf(out + n, capacity - n, "%-3s = %016llX\n", values[i].name,
                                static_cast<unsigned long long>(values[i].value));
    if (k < 0 || static_cast<std::size_t>(k) >= capacity - n) break;
    n += static_cast<std::size_t>(k);
  }
  return n;
}

void abnormal_termination() {
  static const char text[] = "\r\nabnormal program termination\r\n";
  write_all(standard_handle(StdStream::error), text, sizeof text - 1);
  exit_process(3);
}

}  // namespace rtl::platform
