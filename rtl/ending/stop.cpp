// Normal termination.
#include <atomic>

#include "rtl/ending/ending.h"

namespace rtl {
namespace {

std::atomic<bool> g_stop_in_progress{false};

}  // namespace

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
