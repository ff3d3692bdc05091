#include "rtl/startup.h"

#include <atomic>
#include <new>

#include "rtl/diagnostics/diagnostics.h"
#include "rtl/ending/ending.h"
#include "rtl/platform/platform.h"
#include "rtl/run/options.h"

namespace rtl {
namespace {

std::atomic<bool> g_initialised{false};

double real_divide(double a, double b) { return a / b; }

}  // namespace

void startup_initialise() {
  if (!g_initialised.load()) {
    read_runtime_options();
    // Without the record, reports carry no traceback; start-up goes on all the same.
    g_exception_context = new (std::nothrow) ExceptionContext{};
    platform::reserve_standard_handles();
    platform::keep_write_failures_as_errors();
    // Without the thread that receives them, a console event would end the program without its report.
    if (!platform::install_console_event_handler(on_console_event, claim_the_end_for_event)) {
      g_initialised.store(true);
      issue_report(condition_code(Failure::no_memory), 0, {});
    }
    // Termination is no console event, but ends every run as a command among commands: its temporary
    // file removed, then by its own signal. Left to its default action it would leave the file behind.
    platform::catch_termination();
    if (runtime_options().no_error_dialogs) platform::suppress_error_boxes();
    platform::set_floating_point_environment();
    platform::install_exception_handler(report_processor_exception);
    g_initialised.store(true);
  }
}

int run_program(void (*driver)()) {
  startup_initialise();
  driver();
  exit_handler();
  end_program(0);
}

void divide_flaw_check(Divide divide) {
  // The operands come through volatile storage so that the compiler cannot fold the check away.
  volatile double dividend = 4195835.0;
  volatile double divisor = 3145727.0;
  volatile Divide op = divide != nullptr ? divide : real_divide;
  double quotient = op(dividend, divisor);
  volatile double product = quotient * divisor;
  volatile double residue = dividend - product;
  if (residue == 0.0) return;
  if (runtime_options().run_flawed_fdiv) return;
  issue_report(condition_code(Failure::divide_flaw), 0, {});
}

}  // namespace rtl
