// A console event (control-C, control-BREAK, the window's close) and termination: reported, or silent
// as a command among commands, always after the units are released.
#include "rtl/diagnostics/diagnostics.h"
#include "rtl/ending/ending.h"
#include "rtl/platform/platform.h"

namespace rtl {

namespace {
std::atomic<bool> g_events_end_by_signal{false};
}  // namespace

void end_events_by_their_signal() { g_events_end_by_signal.store(true); }

void end_by_broken_pipe() {
  if (!claim_the_end()) wait_for_the_end();
  mark_console_event();
  settle_program_threads();
  exit_handler();
  platform::end_by_broken_pipe();
}

void on_console_event(int event) {
  static constexpr const char* kNames[] = {"control-C", "control-BREAK", "window-CLOSE"};
  if (event < 0 || event > 3) return;
  // A program already on its way out ends with its own status; the event comes too late to report.
  if (!claim_the_end_for_event(event)) return;
  mark_console_event();
  if (event == 3 || g_events_end_by_signal.load()) {
    // As a command among commands: its files cleaned up, then silent, by the event's own signal.
    settle_program_threads();
    exit_handler();
    platform::end_by_console_event(event);
  }
  issue_report(condition_code(Failure::control_event, Severity::error), 0, kNames[event]);
  settle_program_threads();
  exit_handler();
  end_program(exit_status_for(condition_code(Failure::control_event, Severity::error), event));
}

}  // namespace rtl
