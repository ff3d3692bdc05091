// The exit handler: the units' release that the last connection armed, then the exit cleanup.
#include <atomic>

#include "rtl/diagnostics/diagnostics.h"

namespace rtl {
namespace {

std::atomic<void (*)()> g_release_units{nullptr};
std::atomic<void (*)()> g_exit_cleanup{nullptr};

}  // namespace

void arm_exit_handler(void (*release_units)()) { g_release_units.store(release_units); }

void set_exit_cleanup(void (*cleanup)()) { g_exit_cleanup.store(cleanup); }

void exit_handler() {
  erase_status_line();
  if (void (*release_units)() = g_release_units.exchange(nullptr)) {
    release_units();
    delete g_exception_context;
    g_exception_context = nullptr;
  }
  if (void (*cleanup)() = g_exit_cleanup.exchange(nullptr)) cleanup();
}

}  // namespace rtl
