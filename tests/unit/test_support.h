// Helpers for unit tests of the record layer: units on temporary files, captured standard error, and
// an end-of-program hook that throws instead of ending.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace test {

std::string temp_path(const std::string& name);

// What the tests need of the system, alike on every platform.
void set_env(const char* name, const char* value);
void unset_env(const char* name);
bool make_folder(const std::string& path);
// Removes a folder and all it holds, files named like devices included.
void remove_tree(const std::string& path);
bool hard_link(const std::string& existing, const std::string& link);
// Turns on the floating-point traps for division by zero, invalid operations, overflow and underflow;
// the second tells whether any trap is on.
void enable_float_traps();
bool float_traps_enabled();
void write_file(const std::string& path, const std::string& data);
std::string read_file(const std::string& path);

// Connects `unit` to the named file with the given status; returns the failure number or 0.
int connect_named(std::int32_t unit, const std::string& path, const char* status = "UNKNOWN");

// Connects `unit` to a fresh file, runs the statements, releases the unit and returns the file's bytes.
std::string written_by(std::int32_t unit, const std::function<void()>& statements);

// Connects `unit` for reading to a file holding `content`.
void connect_reading(std::int32_t unit, const std::string& content);

// The system error line that standard error shows for a platform error code.
std::string system_error_line(int code);

// Thrown by the test end hook in place of ending the process.
struct Ended {
  int status;
};

// Installs the throwing end hook and sends standard error to a file for the guard's lifetime; reports
// carry no traceback and no stop is under way.
class FatalRoad {
 public:
  FatalRoad();
  ~FatalRoad();
  std::string error_output() const;

 private:
  std::intptr_t saved_stderr_;
  std::string path_;
  std::optional<std::string> saved_trace_switch_;
};

// How many random cases a sweep takes: ten times as many where the slow sweeps are asked for.
constexpr long sweep_count(long usual) {
#if defined(QUIL_SLOW_TESTS)
  return usual * 10;
#else
  return usual;
#endif
}

}  // namespace test
