// How the run ends: one claim on the end, the status, and the end of the process.
#include <atomic>

#include "rtl/run/run_state.h"

namespace rtl {

namespace {
void default_end(int status) { platform::exit_process(status); }
std::atomic<EndHook> g_end_hook{default_end};
}  // namespace

namespace {
std::atomic<bool> g_failure_numbers{false};
}  // namespace

void exit_with_failure_numbers(bool on) { g_failure_numbers.store(on); }

int exit_status_for(std::uint32_t code, int native_status) {
  if (!g_failure_numbers.load()) return native_status;
  return failure_status(code & 0xFFFF);
}

EndHook set_end_hook(EndHook hook) { return g_end_hook.exchange(hook ? hook : default_end); }

std::atomic<std::uint32_t> g_ending{0};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "the claim is made inside a signal handler");

bool claim_the_end() {
  const std::uint32_t me = platform::thread_token();
  // A console event that has arrived but whose handler has not yet run comes first: the failure that
  // would claim now may be its own doing (the end of input that control-C brings).
  if (g_ending.load() == 0 && !console_event_in_progress() && platform::console_event_arriving(0))
    wait_while_an_event_arrives();
  std::uint32_t first = 0;
  if (g_ending.compare_exchange_strong(first, me) || first == me) return true;
  // The thread that handles the event holds the claim that the event made when it arrived.
  return first >= kEventMark && console_event_in_progress() && !console_event_on_other_thread();
}

bool claim_the_end_for_event(int event) {
  const std::uint32_t mark = kEventMark + static_cast<std::uint32_t>(event);
  std::uint32_t first = 0;
  return g_ending.compare_exchange_strong(first, mark) || first == mark;
}

void testing_reset_end() { g_ending.store(0); }

void end_program(int status) {
  // Only one road ends the process, and its status is the one the process ends with.
  if (!claim_the_end()) wait_for_the_end();
  platform::hold_own_window_before_the_end(console_event_in_progress(), status);
  g_end_hook.load()(status);
  // A hook that returns still must not let the failed statement go on.
  platform::exit_process(status);
}

}  // namespace rtl
