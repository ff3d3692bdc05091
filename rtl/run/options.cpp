// The run-time options that the environment sets.
#include "rtl/run/options.h"

#include "rtl/platform/platform.h"

namespace rtl {

bool switch_on(std::string_view name) {
  platform::EnvValue env;
  if (!platform::get_env(name, &env) || env.length == 0) return false;
  const std::string_view value = env.view();
  char c = value.front();
  if (c == 't' || c == 'T' || c == 'y' || c == 'Y') return true;
  bool non_zero = false;
  for (char d : value) {
    if (d < '0' || d > '9') return false;
    non_zero = non_zero || d != '0';
  }
  return non_zero;
}

namespace {
RuntimeOptions g_options;
}  // namespace

const RuntimeOptions& runtime_options() { return g_options; }

void read_runtime_options() {
  RuntimeOptions o;
  platform::EnvValue value;
  o.buffered_given = platform::get_env("RTL_BUFFERED", &value);
  o.buffered = switch_on("RTL_BUFFERED");
  o.disable_display = switch_on("RTL_DISABLE_DIAGNOSTIC_DISPLAY");
  o.disable_stack_trace = switch_on("RTL_DISABLE_STACK_TRACE");
  o.verbose_stack_trace = switch_on("RTL_ENABLE_VERBOSE_STACK_TRACE");
  o.generate_debug_exception = switch_on("RTL_GENERATE_DEBUG_EXCEPTION");
  o.debugger_present = switch_on("RTL_IS_DEBUGGER_PRESENT");
  o.dump = switch_on("rtl_dump_flag");
  o.ignore_exceptions = switch_on("RTL_IGNORE_EXCEPTIONS");
  o.run_flawed_fdiv = switch_on("RTL_RUN_FLAWED_FDIV");
  o.no_error_dialogs = switch_on("RTL_NOERROR_DIALOGS");
  g_options = o;
}

}  // namespace rtl
