// Failure numbers, the message catalogue, the failure report and the exit handler that a severe one runs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtl/platform/platform.h"

namespace rtl {

// Message numbers of the record layer and the run-time services.
enum class Failure : std::uint16_t {
  access_denied = 9,
  file_exists = 10,
  record_too_long = 22,
  backspace_error = 23,
  end_of_file = 24,
  close_error = 28,
  file_not_found = 29,
  open_failure = 30,
  bad_unit_number = 32,
  write_error = 38,
  read_error = 39,
  unit_busy = 40,
  no_memory = 41,
  no_such_device = 42,
  bad_file_name = 43,
  bad_setting = 45,
  write_to_read_only = 47,
  input_conversion = 64,
  record_overflow = 66,
  access_violation = 157,
  noncontinuable_exception = 169,
  stack_overflow = 170,
  exception_code = 172,
  control_event = 200,
  divide_flaw = 201,
  unformatted_unit = 257,
  direct_access_unit = 259,
  backspace_not_positionable = 264,
  backspace_not_sequential = 265,
};

enum class Severity : std::uint32_t { success = 0, info = 1, error = 2, severe = 3 };

constexpr std::uint32_t condition_code(Failure f, Severity s = Severity::severe) {
  return (static_cast<std::uint32_t>(s) << 30) | static_cast<std::uint32_t>(f);
}
constexpr Severity severity_of(std::uint32_t code) { return static_cast<Severity>(code >> 30); }

// The catalogue's template for a condition code, or nullptr when it has none.
const char* message_template(std::uint32_t code);

// What a statement handles: end of file (END=) and errors (ERR=); `only_error`, when given, narrows the
// error handler to that one failure, so that every other failure is reported as if no handler were there.
struct Handlers {
  bool end_of_file = false;
  bool errors = false;
  Failure only_error = Failure{};
};

// Builds and writes the report for `code`; values fill the template's %d and %s. Returns unless the
// code is severe.
void issue_report(std::uint32_t code, std::int32_t number_value, std::string_view text_value);

// The system's text for a saved error, written to standard error before the report it explains.
void write_system_error_line(platform::SysError error);
// A line of `width` characters on standard error, without a line end, that is redrawn in place (a
// progress line): reports erase it before their first line, as does the end of the run (0: none).
void set_status_line(std::size_t width);
void erase_status_line();

// Reports a processor exception that reached the program's outermost frame.
// Returns whether the exception is to be given back to the platform (unreported, or on to a debugger).
platform::ExceptionOutcome report_processor_exception(platform::ExceptionKind kind, std::uint32_t code);

// Test seam: how report buffers are allocated (the memory they come from must be freed with free());
// nullptr restores malloc.
using ReportAllocator = void* (*)(std::size_t size);
void set_report_allocator(ReportAllocator allocate);

// Releases every unit still connected, once however often it is called, then runs the exit cleanup.
void exit_handler();
// The units are above this layer: each connection arms the exit handler with their release, which runs
// once for each arming.
void arm_exit_handler(void (*release_units)());
// A routine that the exit handler runs last, on every road to the end: a normal end, a failure report,
// a console event. It runs at most once.
void set_exit_cleanup(void (*cleanup)());

// The exception context record; absent when its memory was not obtained at start-up.
struct ExceptionContext {
  bool in_exception = false;  // a processor exception's report is under way, for a debugger to take over
};
extern ExceptionContext* g_exception_context;

}  // namespace rtl
