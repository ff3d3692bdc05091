// The run-time options that the environment sets, read once at start-up.
#pragma once

#include <string_view>

namespace rtl {

struct RuntimeOptions {
  bool buffered_given = false;  // RTL_BUFFERED is set, to anything
  bool buffered = false;
  bool disable_display = false;           // RTL_DISABLE_DIAGNOSTIC_DISPLAY
  bool disable_stack_trace = false;       // RTL_DISABLE_STACK_TRACE
  bool verbose_stack_trace = false;       // RTL_ENABLE_VERBOSE_STACK_TRACE
  bool generate_debug_exception = false;  // RTL_GENERATE_DEBUG_EXCEPTION
  bool debugger_present = false;          // RTL_IS_DEBUGGER_PRESENT
  bool dump = false;                      // rtl_dump_flag
  bool ignore_exceptions = false;         // RTL_IGNORE_EXCEPTIONS
  bool run_flawed_fdiv = false;           // RTL_RUN_FLAWED_FDIV
  bool no_error_dialogs = false;          // RTL_NOERROR_DIALOGS
};

// The options as last read.
const RuntimeOptions& runtime_options();
// Reads them from the environment: at start-up, and again by a test that changed it.
void read_runtime_options();
// Whether an environment switch is on: a value beginning T or Y in either case, or digits only and not 0.
bool switch_on(std::string_view name);

}  // namespace rtl
