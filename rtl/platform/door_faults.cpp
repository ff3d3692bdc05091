// Built into the test programs only: see door_faults.h.
#include "rtl/platform/door_faults.h"

#include <algorithm>
#include <atomic>
#include <charconv>

namespace rtl::platform {
namespace {

constexpr std::string_view kNames[] = {"read",       "write",      "open",   "seek",      "truncate", "close",
                                       "stat",       "rename",     "copy",   "remove",    "signal",   "eof",
                                       "readsignal", "heldsignal", "change", "lateevent", "pipe"};
constexpr int kKinds = static_cast<int>(std::size(kNames));

struct Plan {
  long fail_at[kKinds] = {};  // 0: never; -1: the first write after an injected end of input
  bool and_later[kKinds] = {};
  EnvValue fired_marker;
  bool marker = false;
  EnvValue changed_file;
  int event = -1;
  SysError error = 0;
  bool target_gone = false;
};

Plan read_plan() {
  Plan plan;
  EnvValue faults;
  if (!get_env("QUIL_FAULT", &faults)) return plan;
  std::string_view rest = faults.view();
  while (!rest.empty()) {
    const std::string_view entry = rest.substr(0, rest.find(','));
    rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
    const std::size_t colon = entry.find(':');
    for (int k = 0; k < kKinds && colon != std::string_view::npos; ++k) {
      if (entry.substr(0, colon) != kNames[k]) continue;
      const std::string_view n = entry.substr(colon + 1);
      if (n == "next") plan.fail_at[k] = -1;
      std::from_chars(n.data(), n.data() + n.size(), plan.fail_at[k]);
      plan.and_later[k] = n.ends_with('+');
    }
  }
  plan.marker = get_env("QUIL_FAULT_FIRED", &plan.fired_marker);
  get_env("QUIL_FAULT_CHANGE", &plan.changed_file);
  EnvValue event;
  if (get_env("QUIL_FAULT_EVENT", &event)) std::from_chars(event.text, event.text + event.length, plan.event);
  EnvValue error;
  if (get_env("QUIL_FAULT_ERROR", &error)) {
    std::from_chars(error.text, error.text + error.length, plan.error);
    plan.target_gone = error.view().ends_with(":gone");
  }
  return plan;
}

const Plan& plan() {
  static const Plan the_plan = read_plan();
  return the_plan;
}

std::atomic<long> g_calls[kKinds];
std::atomic<bool> g_event_at_next_write{false};
std::atomic<bool> g_event_late{false};

bool counts_out(Door door) {
  const int k = static_cast<int>(door);
  const long at = plan().fail_at[k];
  if (at <= 0) return false;
  const long n = ++g_calls[k];
  if (n != at && !(plan().and_later[k] && n > at)) return false;
  if (plan().marker) append_to_file(plan().fired_marker.text, "", 0);
  injected_error(door);  // left as the system's last error, for the callers that look there
  return true;
}

int event_for(long n) {
  if (plan().event >= 0) return plan().event;
  return n % 2 == 0 ? 2 : 1;
}

}  // namespace

bool door_fails(Door door) {
  // Asked by the event thread when it wakes for an event: whether it is to take it late.
  if (door == Door::lateevent) return g_event_late.exchange(false);
  if (door == Door::eof) {
    if (counts_out(Door::lateevent)) {
      g_event_late.store(true);
      send_console_event(event_for(plan().fail_at[int(Door::lateevent)]));
    }
    if (counts_out(Door::readsignal)) raise_console_event(event_for(plan().fail_at[int(Door::readsignal)]));
    if (counts_out(Door::heldsignal))
      raise_held_console_event(event_for(plan().fail_at[int(Door::heldsignal)]));
    if (!counts_out(Door::eof)) return false;
    g_event_at_next_write.store(plan().fail_at[int(Door::signal)] == -1);
    return true;
  }
  if (door == Door::read && counts_out(Door::change)) {
    append_to_file(plan().changed_file.text, "        another program's line\n", 31);
  }
  // A console event arrives while this call is under way: the event first, then the call itself.
  if (door == Door::write && g_event_at_next_write.exchange(false)) raise_console_event(event_for(0));
  if (door == Door::write && counts_out(Door::signal))
    raise_console_event(event_for(plan().fail_at[int(Door::signal)]));
  if ((door == Door::copy || door == Door::rename) && counts_out(Door::signal)) {
    raise_console_event(event_for(plan().fail_at[int(Door::signal)]));
    // Such a call may take longer than an event waits for a thread between transfers: a large copy.
    sleep_milliseconds(300);
  }
  return counts_out(door);
}

SysError chosen_error() { return plan().error; }
bool failed_rename_removes_target() { return plan().target_gone; }

std::int64_t smallest_file_in_parts(std::int64_t normal) {
  EnvValue value;
  std::int64_t n = normal;
  if (get_env("QUIL_FAULT_PARTS_FROM", &value)) std::from_chars(value.text, value.text + value.length, n);
  return n;
}

}  // namespace rtl::platform
