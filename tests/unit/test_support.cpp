#include "test_support.h"

#include "rtl/ending/ending.h"
#include "rtl/run/options.h"

#if defined(_WIN32)
#include <float.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "rtl/statements/io.h"

namespace test {

void remove_tree(const std::string& path);

namespace {
// Every file a test makes lives in one folder of the process, removed when the process ends, so that
// a file a test leaves on purpose (or on a failure) is gone all the same. A plain array outlives every
// destructor that might run before the removal.
char g_folder[4096];

const char* folder() {
  static const bool made = [] {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string candidate = (base / ("quil-unit-" + std::to_string(random()))).string();
      if (candidate.size() >= sizeof g_folder || !std::filesystem::create_directory(candidate, ec)) continue;
      std::memcpy(g_folder, candidate.c_str(), candidate.size() + 1);
      std::atexit([] { remove_tree(g_folder); });
      return true;
    }
    return false;
  }();
  return made ? g_folder : ".";
}
}  // namespace

void set_env(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value);
  SetEnvironmentVariableA(name, value);
#else
  setenv(name, value, 1);
#endif
  rtl::read_runtime_options();
}

void unset_env(const char* name) {
#if defined(_WIN32)
  _putenv_s(name, "");
  SetEnvironmentVariableA(name, nullptr);
#else
  unsetenv(name);
#endif
  rtl::read_runtime_options();
}

void enable_float_traps() {
#if defined(_WIN32)
  unsigned int control = 0;
  _controlfp_s(&control, _MCW_EM & ~(_EM_ZERODIVIDE | _EM_INVALID | _EM_OVERFLOW | _EM_UNDERFLOW), _MCW_EM);
#else
  feenableexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW | FE_UNDERFLOW);
#endif
}

bool float_traps_enabled() {
#if defined(_WIN32)
  unsigned int control = 0;
  _controlfp_s(&control, 0, 0);
  return (control & _MCW_EM) != _MCW_EM;
#else
  return fegetexcept() != 0;
#endif
}

void remove_tree(const std::string& path) {
  std::error_code ignored;
#if defined(_WIN32)
  // Literal names, so that a file such as lpt1.txt is not taken for the device.
  std::filesystem::remove_all(path.size() > 2 && path[1] == ':' ? "\\\\?\\" + path : path, ignored);
#else
  std::filesystem::remove_all(path, ignored);
#endif
}

bool make_folder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::create_directory(path, ec);
}

bool hard_link(const std::string& existing, const std::string& link) {
  std::error_code ec;
  std::filesystem::create_hard_link(existing, link, ec);
  return !ec;
}

std::string temp_path(const std::string& name) {
  static std::atomic<int> counter{0};
  return std::string(folder()) + static_cast<char>(std::filesystem::path::preferred_separator) +
         std::to_string(counter++) + "-" + name;
}

void write_file(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

int connect_named(std::int32_t unit, const std::string& path, const char* status) {
  rtl::ConnectRequest req;
  req.name = path.c_str();
  req.name_length = path.size();
  req.status = status;
  req.status_length = std::strlen(status);
  req.return_errors = true;
  return rtl::connect(unit, req);
}

std::string written_by(std::int32_t unit, const std::function<void()>& statements) {
  std::string path = temp_path("out");
  if (connect_named(unit, path, "REPLACE") != 0) return "<connect failed>";
  statements();
  rtl::release(unit);
  std::string bytes = read_file(path);
  std::remove(path.c_str());
  return bytes;
}

void connect_reading(std::int32_t unit, const std::string& content) {
  std::string path = temp_path("in");
  write_file(path, content);
  connect_named(unit, path, "OLD");
  std::remove(path.c_str());  // where the system lets an open file go
}

namespace {
void throwing_end(int status) { throw Ended{status}; }
}  // namespace

FatalRoad::FatalRoad() : path_(temp_path("stderr")) {
  // Each fatal road starts as in a fresh process: no stop under way, and reports without the traceback,
  // whose frames depend on whether an earlier test made the exception context.
  rtl::testing_reset_stop();
  const char* trace = getenv("RTL_DISABLE_STACK_TRACE");
  saved_trace_switch_ = trace != nullptr ? std::optional<std::string>(trace) : std::nullopt;
  set_env("RTL_DISABLE_STACK_TRACE", "1");
  rtl::set_end_hook(throwing_end);
  fflush(stderr);
#if defined(_WIN32)
  saved_stderr_ = reinterpret_cast<std::intptr_t>(GetStdHandle(STD_ERROR_HANDLE));
  HANDLE file =
      CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  SetStdHandle(STD_ERROR_HANDLE, file);
#else
  saved_stderr_ = dup(2);
  int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(fd, 2);
  close(fd);
#endif
}

FatalRoad::~FatalRoad() {
#if defined(_WIN32)
  HANDLE file = GetStdHandle(STD_ERROR_HANDLE);
  SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(saved_stderr_));
  CloseHandle(file);
#else
  dup2(static_cast<int>(saved_stderr_), 2);
  close(static_cast<int>(saved_stderr_));
#endif
  rtl::set_end_hook(nullptr);
  std::remove(path_.c_str());
  if (saved_trace_switch_) {
    set_env("RTL_DISABLE_STACK_TRACE", saved_trace_switch_->c_str());
  } else {
    unset_env("RTL_DISABLE_STACK_TRACE");
  }
  rtl::testing_reset_stop();
}

std::string FatalRoad::error_output() const { return read_file(path_); }

std::string system_error_line(int code) {
  char text[1100];
  std::size_t n =
      rtl::platform::system_error_text(static_cast<rtl::platform::SysError>(code), text, sizeof text);
  std::string line = "rtl: " + std::string(text, n);
  // Standard error shows every LF as CR LF.
  std::string shown;
  for (char c : line) {
    if (c == '\n') shown += '\r';
    shown += c;
  }
  return shown;
}

}  // namespace test
