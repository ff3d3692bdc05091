// The end of a run, on every road: a normal end, a failure's report, a console event.
//
// Its order, on every road:
// 1. the end is claimed, once: by the event when it arrives, by a failure before its first line, by a
//    normal end before its last lines; whoever comes later parks for good (wait_for_the_end);
// 2. an event marks itself and lets every program thread reach a bracket (settle_program_threads): no
//    record is torn, no file is left half put in place;
// 3. the exit handler writes out and closes every unit that no running statement holds;
// 4. the exit cleanup runs (a command's temporary file goes);
// 5. the process ends with the claimer's status, or by the event's own signal.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

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

// ---- 3 to 5. the exit handler, the cleanup, the end -------------------------------------------------

// Releases every unit still connected, once however often it is called, then runs the exit cleanup.
void exit_handler();
// A routine that the exit handler runs last, on every road to the end: a normal end, a failure report,
// a console event. It runs at most once.
void set_exit_cleanup(void (*cleanup)());

// Normal termination, with a status of the program's choosing.
[[noreturn]] void stop(std::int32_t status = 0);
[[noreturn]] inline void stop_with_status(std::int32_t status) { stop(status); }
// Lets a test take the road of stop() more than once.
void testing_reset_stop();

// From now on a console event (and termination) ends the process silently by its own signal once the
// units are released and the exit cleanup has run, as a command run from scripts ends.
void end_events_by_their_signal();

// A reader that left standard output or standard error ends the run as a console event ends a command:
// every program thread at a record boundary, the units released, the exit cleanup run (no temporary
// file stays), then quietly, as a write to a pipe without a reader ends a command here.
[[noreturn]] void end_by_broken_pipe();

// The console control handler: reports the event, releases the units and ends with the event's number.
void on_console_event(int event);

}  // namespace rtl
