// The state of a run that every layer above asks while it works: who claims the end and how the process
// ends with its status, and what each program thread is doing, so that a console event ends the run at
// record boundaries: the first two steps of the end whose order rtl/ending/ending.h tells.
#pragma once

#include <atomic>
#include <cstdint>

#include "rtl/platform/platform.h"

namespace rtl {

// ---- 1. the claim and the status --------------------------------------------------------------------

// How a failure or a console event ends the process. By default the status is the failure's whole
// condition code and an event's own number (0 for control-C); callers whose statuses scripts test ask
// for the failure's number instead (200 for every console event), which no platform cuts or turns negative.
void exit_with_failure_numbers(bool on);
// The status to end with for `condition_code`, whose status by default is `native_status`.
int exit_status_for(std::uint32_t condition_code, int native_status);
// The status that a failure's number gives, where failure numbers are the statuses: numbers above 255
// belong to statements this program never makes; no platform may cut them.
constexpr int failure_status(std::uint32_t number) { return static_cast<int>(number < 255 ? number : 255); }

// Replaceable end of the program, so that fatal roads can be tested without dying.
using EndHook = void (*)(int status);
EndHook set_end_hook(EndHook hook);
[[noreturn]] void end_program(int status);
// Claims the end of the process for the calling thread: false when another thread has claimed it, and
// that thread's road (a normal end, a failure, a console event) is the one that ends the process.
bool claim_the_end();
// The same for a console event the moment it arrives: async-signal-safe. True when this event holds the
// claim. The thread that then handles the event holds it too.
bool claim_the_end_for_event(int event);
// Who ends the run: 0 while nobody has claimed it, a thread's token, or an event's mark. Every statement
// asks whether an event claimed it, hence in place.
extern std::atomic<std::uint32_t> g_ending;
inline constexpr std::uint32_t kEventMark = 0xFFFFFF00u;
inline bool end_claimed_by_event() { return g_ending.load() >= kEventMark; }
void testing_reset_end();

// ---- 2. program threads and console events -----------------------------------------------------------

// Set by the console event handler before it reports and releases the units.
void mark_console_event();
// The thread that handles a console event; 0 until one does. Every statement asks, hence in place.
extern std::atomic<std::uint32_t> g_event_thread;
inline bool console_event_in_progress() { return g_event_thread.load() != 0; }
inline bool console_event_on_other_thread() {
  const std::uint32_t t = g_event_thread.load();
  if (t == 0) return end_claimed_by_event();  // arrived, and its thread not yet running
  return t != platform::thread_token();
}
// Parks the calling thread until the console event handler ends the process.
[[noreturn]] void wait_for_the_end();
// Parks the calling thread while a console event on its way claims the end: for good once the end is
// claimed, and back after a bounded time when it is not (an event whose handler never runs must not hold
// the run for ever).
void wait_while_an_event_arrives();

// A program thread's side of a console event: a transfer is bracketed by these calls, so that the event
// never ends the process in the middle of a write (a torn record); once the event is being handled, each
// program thread parks at its next bracket instead of going on.
void begin_transfer(bool writing);
void end_transfer();
// The bracket as a scope: every system transfer of a program thread stands inside one.
class TransferGate {
 public:
  explicit TransferGate(bool writing) { begin_transfer(writing); }
  ~TransferGate() { end_transfer(); }
  TransferGate(const TransferGate&) = delete;
  TransferGate& operator=(const TransferGate&) = delete;
};
// Putting a file in its place (its original kept, its permissions, the replace) is one step that a console
// event waits for however long it takes: half done, the data may stand under no name but a temporary one.
// Once the event is being handled, the thread parks when the step ends. Steps may stand one inside
// another; a transfer inside one is waited for as any other (for a bounded time), and never parks.
void begin_commit();
void end_commit();
// Whether the calling thread is inside such a step: its statements go on while an event waits.
bool commit_under_way();
class CommitGate {
 public:
  CommitGate() { begin_commit(); }
  ~CommitGate() { end_commit(); }
  CommitGate(const CommitGate&) = delete;
  CommitGate& operator=(const CommitGate&) = delete;
};
// On the event thread, after the event is marked: waits until no file is being put in place and, for a
// bounded time, until no write is under way and every program thread has parked or waits (for input, or
// for another program thread).
void settle_program_threads();
// Whether `holder` is a thread parked for the end, whose units the event thread may release.
bool parked_for_the_end(std::uint32_t holder);

// A thread that the program starts to run statements stands in this scope for its whole life, so that a
// console event waits for it to reach a record boundary, and no longer once it has ended.
class ProgramThreadScope {
 public:
  ProgramThreadScope();
  ~ProgramThreadScope();
  ProgramThreadScope(const ProgramThreadScope&) = delete;
  ProgramThreadScope& operator=(const ProgramThreadScope&) = delete;
};

// A program thread that waits for another program thread (not for the system) does it inside this
// scope: a console event need not wait for it to reach a record boundary, and it parks once the wait
// ends while the event is handled.
class OtherThreadAwaited {
 public:
  OtherThreadAwaited();
  ~OtherThreadAwaited();
  OtherThreadAwaited(const OtherThreadAwaited&) = delete;
  OtherThreadAwaited& operator=(const OtherThreadAwaited&) = delete;
};

}  // namespace rtl
