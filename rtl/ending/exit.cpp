// The exit handler and normal termination.
#include <atomic>

#include "rtl/diagnostics/diagnostics.h"
#include "rtl/ending/ending.h"
#include "rtl/statements/unit_io.h"

namespace rtl {
namespace {

std::atomic<bool> g_exit_armed{false};
std::atomic<bool> g_stop_in_progress{false};
std::atomic<void (*)()> g_exit_cleanup{nullptr};

}  // namespace

void arm_exit_handler() { g_exit_armed.store(true); }

void set_exit_cleanup(void (*cleanup)()) { g_exit_cleanup.store(cleanup); }

void exit_handler() {
  erase_status_line();
  if (!g_exit_armed.exchange(false)) {
    if (void (*cleanup)() = g_exit_cleanup.exchange(nullptr)) cleanup();
    return;
  }
  const std::uint32_t me = platform::thread_token();
  for_each_unit([me](Unit* unit) {
    std::uint32_t holder = unit->holder.load();
    // A statement on another thread holds it; once that thread is parked for the end, the unit's whole
    // records can still be written out.
    if (holder != 0 && holder != me && !parked_for_the_end(holder)) return;
    if (holder == 0 && !hold_unit(unit)) return;
    if (unit->connected) {
      int rc = release_held_unit(unit);
      if (rc != 0) {
        unit->connected = false;
        fail(condition_code(static_cast<Failure>(rc)), unit, unit->number, unit->file_name(), Handlers{},
             Disposal::end_hold, rc);
      }
    }
    free_unit(unit);
    // While a console event ends the program, a program thread may still be about to take a unit:
    // its block must stay where it is.
    if (!console_event_in_progress()) discard_unit(unit);
  });
  delete g_exception_context;
  g_exception_context = nullptr;
  if (void (*cleanup)() = g_exit_cleanup.exchange(nullptr)) cleanup();
}

void testing_reset_stop() {
  g_stop_in_progress.store(false);
  testing_reset_end();
}

void stop(std::int32_t status) {
  // A normal end claims the run's end before its last lines: an event after this is too late.
  if (!claim_the_end()) wait_for_the_end();
  if (g_stop_in_progress.exchange(true)) end_program(0);
  exit_handler();
  end_program(status);
}

}  // namespace rtl
