// Program threads and console events: what each program thread is doing, so that an event ends the run
// at record boundaries.
#include "rtl/platform/platform.h"
#include "rtl/run/run_state.h"

namespace rtl {

std::atomic<std::uint32_t> g_event_thread{0};

void mark_console_event() { g_event_thread.store(platform::thread_token()); }

namespace {
// What each program thread is doing, so that the event thread knows when all of them have reached a
// record boundary. A thread takes a slot at its first transfer and gives it back when it ends.
enum class Activity : int { running, reading, writing, committing, parked };
struct ThreadState {
  std::atomic<std::uint32_t> token{0};  // 0: a free slot
  std::atomic<Activity> state{Activity::running};
};
// The command line runs at most eight files or parts at once, beside the thread that started them.
constexpr int kMostProgramThreads = 32;
ThreadState g_threads[kMostProgramThreads];

// Subtle: a plain pointer, not an object that a thread's end destroys: the threads of some systems' C++
// runtimes cannot run such destructors safely. A thread gives its slot back through ProgramThreadScope.
thread_local ThreadState* t_own = nullptr;

// The calling thread's slot; nullptr when every slot is taken (the event thread's wait is bounded).
ThreadState* own_state() {
  if (t_own != nullptr) return t_own;
  const std::uint32_t me = platform::thread_token();
  for (ThreadState& slot : g_threads) {
    std::uint32_t free = 0;
    if (slot.token.compare_exchange_strong(free, me)) return t_own = &slot;
  }
  return nullptr;
}
}  // namespace

void wait_for_the_end() {
  if (ThreadState* own = own_state()) own->state.store(Activity::parked);
  platform::let_console_events_in();
  for (;;) platform::sleep_milliseconds(50);
}

void wait_while_an_event_arrives() {
  ThreadState* own = own_state();
  const Activity before = own != nullptr ? own->state.load() : Activity::running;
  if (own != nullptr) own->state.store(Activity::parked);
  platform::let_console_events_in();
  for (int waited = 0; waited < 5000 && g_ending.load() == 0; ++waited) platform::sleep_milliseconds(1);
  if (g_ending.load() != 0) wait_for_the_end();
  platform::let_console_events_in(false);
  if (own != nullptr) own->state.store(before);
}

namespace {
// Publishes the thread's state, then parks it if a console event is being handled elsewhere. The event
// thread's own transfers (the release of the units) leave the states alone.
thread_local int t_commits = 0;  // commits under way on this thread, one inside another

void enter_state(Activity state) {
  const std::uint32_t me = platform::thread_token();
  if (g_event_thread.load() == me) return;
  // Inside a commit a transfer (the line that says the file is in place) is waited for as any write is,
  // and the thread parks only once the commit has ended.
  if (t_commits > 0) {
    if (ThreadState* own = own_state())
      own->state.store(state == Activity::running ? Activity::committing : state);
    return;
  }
  // Subtle: the state is published before the event mark is looked at, and the event thread marks
  // before it looks at the states; so either this thread parks here or the event thread waits for the
  // write to end.
  if (ThreadState* own = own_state()) own->state.store(state);
  const std::uint32_t event = g_event_thread.load();
  if (event != 0 && event != me) wait_for_the_end();
}
}  // namespace

ProgramThreadScope::ProgramThreadScope() { own_state(); }
ProgramThreadScope::~ProgramThreadScope() {
  if (t_own == nullptr) return;
  t_own->state.store(Activity::running);
  t_own->token.store(0);
  t_own = nullptr;
}

OtherThreadAwaited::OtherThreadAwaited() { enter_state(Activity::reading); }
OtherThreadAwaited::~OtherThreadAwaited() { enter_state(Activity::running); }

void begin_transfer(bool writing) { enter_state(writing ? Activity::writing : Activity::reading); }
void end_transfer() { enter_state(Activity::running); }
bool commit_under_way() { return t_commits > 0; }

void begin_commit() {
  if (t_commits == 0) enter_state(Activity::committing);
  ++t_commits;
}
void end_commit() {
  if (--t_commits == 0) enter_state(Activity::running);
}

void settle_program_threads() {
  // A write to a disk file ends within moments; one to a pipe nobody drains may never end, hence the
  // bound. A thread that runs between transfers reaches its next bracket at once, or waits for another
  // (the parts' threads wait for the part before): those are given a moment, not more. A file being put
  // in place is waited for to the end, however long the system takes: half way, the exit cleanup could
  // take its only copy.
  const std::uint32_t me = platform::thread_token();
  for (int waited = 0;; ++waited) {
    bool writing = false, running = false, committing = false;
    for (const ThreadState& slot : g_threads) {
      const std::uint32_t token = slot.token.load();
      if (token == 0 || token == me) continue;
      const Activity state = slot.state.load();
      writing = writing || state == Activity::writing;
      running = running || state == Activity::running;
      committing = committing || state == Activity::committing;
    }
    const bool writes_settled = waited >= 5000 || (!writing && (!running || waited >= 200));
    if (!committing && writes_settled) return;
    platform::sleep_milliseconds(1);
  }
}

bool parked_for_the_end(std::uint32_t holder) {
  if (holder == 0) return false;
  for (const ThreadState& slot : g_threads) {
    if (slot.token.load() == holder) return slot.state.load() == Activity::parked;
  }
  return false;
}

}  // namespace rtl
