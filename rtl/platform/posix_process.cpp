// The platform door on POSIX systems: the process, its environment, signals, events and exceptions.
#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/ucontext.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cfenv>
#include <cstring>

#include "rtl/platform/backend.h"
#include "rtl/platform/door_faults.h"
#include "rtl/platform/platform.h"

extern char** environ;

namespace rtl::platform {

bool lines_end_with_lf() { return true; }

// SIGPIPE ignored by whoever started the program: a reader that leaves is then a write error like any
// other, reported, as such a caller expects, and not the end by a signal it chose not to take.
std::atomic<bool> g_pipe_ignored_at_start{false};

bool broken_pipe_error(SysError error) { return error == EPIPE && !g_pipe_ignored_at_start.load(); }
bool closed_stream_error(SysError error) { return error == EBADF; }

void end_by_broken_pipe() {
  signal(SIGPIPE, SIG_DFL);
  raise(SIGPIPE);
  _exit(128 + SIGPIPE);
}

// The arguments are the bytes the caller gave: names in the system's own encoding.
void utf8_arguments(int*, char***) {}

bool get_env(std::string_view name, EnvValue* value) {
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const char* entry = *e;
    const char* eq = strchr(entry, '=');
    if (eq == nullptr || static_cast<std::size_t>(eq - entry) != name.size()) continue;
    if (strncasecmp(entry, name.data(), name.size()) != 0) continue;
    const std::size_t length = strlen(eq + 1);
    if (length >= sizeof value->text) return false;
    memcpy(value->text, eq + 1, length + 1);
    value->length = length;
    return true;
  }
  return false;
}

bool held_by_another_program(SysError) { return false; }

std::size_t system_error_text(SysError code, char* out, std::size_t capacity) {
  if (capacity < 3) return 0;
  char text[512];
  const char* s = strerror_r(static_cast<int>(code), text, sizeof text);
  if (s == nullptr || *s == '\0') return 0;
  std::size_t n = strnlen(s, capacity - 3);
  memcpy(out, s, n);
  out[n++] = '\r';
  out[n++] = '\n';
  out[n] = '\0';
  return n;
}

SysError last_error() { return static_cast<SysError>(errno); }

void yield() { sched_yield(); }

void sleep_milliseconds(unsigned milliseconds) {
  timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void keep_write_failures_as_errors() {
  struct sigaction sa {};
  struct sigaction before {};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  if (sigaction(SIGPIPE, &sa, &before) == 0) g_pipe_ignored_at_start.store(before.sa_handler == SIG_IGN);
  sigaction(SIGXFSZ, &sa, nullptr);
}

// A terminal window outlives the program that runs in it.
void hold_own_window_before_the_end(bool, int) {}
// A program here always runs in a terminal or a script's pipes, never in a window of its own.
bool alone_on_own_console() { return false; }

void exit_process(int status) {
  fflush(nullptr);
  _exit(status & 0xFF);
}

int capture_stack(void** frames, int max_frames) {
  void* all[130];
  const int wanted = max_frames + 1 < 130 ? max_frames + 1 : 130;
  const int n = backtrace(all, wanted);
  if (n <= 0) return -1;
  // all[0] lies in this routine; the caller's frame comes next.
  for (int i = 1; i < n; ++i) frames[i - 1] = all[i];
  return n - 1;
}

FrameModule frame_module(void* address) {
  FrameModule m{};
  Dl_info info;
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || *info.dli_fname == '\0') return m;
  const char* base = strrchr(info.dli_fname, '/');
  base = base ? base + 1 : info.dli_fname;
  snprintf(m.name, sizeof m.name, "%s", base);
  m.offset = reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  m.known = true;
  return m;
}

bool debugger_attached() {
  FILE* f = fopen("/proc/self/status", "re");
  if (f == nullptr) return false;
  char line[256];
  bool traced = false;
  while (fgets(line, sizeof line, f) != nullptr) {
    if (strncmp(line, "TracerPid:", 10) == 0) {
      traced = atoi(line + 10) != 0;
      break;
    }
  }
  fclose(f);
  return traced;
}

void break_into_debugger() {
  // Subtle: a traced process is stopped for its tracer even by a signal it ignores; ignoring it keeps the
  // break away from the program's own processor-exception handler, and from ending the process when
  // the tracer passes the signal back.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGTRAP, &ignore, &previous);
  raise(SIGTRAP);
  sigaction(SIGTRAP, &previous, nullptr);
}

// This system shows no error boxes.
void suppress_error_boxes() {}

void set_floating_point_environment() {
  std::fesetround(FE_TONEAREST);
  std::feclearexcept(FE_ALL_EXCEPT);
  fedisableexcept(FE_ALL_EXCEPT);
}

namespace {
void (*g_console_handler)(int) = nullptr;
bool (*g_on_arrival)(int) = nullptr;
std::atomic<bool> g_console_signal_taken{false};
std::atomic<int> g_arrived_event{-1};
int g_signal_fd = -1;      // the event thread reads the console signals here
int g_wake[2] = {-1, -1};  // and here the events that a handler took on another thread
constexpr int kConsoleSignals[] = {SIGINT, SIGQUIT, SIGHUP};
constexpr int kEventSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
// A signal that the caller ignored (as `cmd &` leaves SIGINT) stays ignored on every road: never
// caught, never blocked (a blocked signal would be kept pending instead of dropped), never waited for.
bool g_ignored_at_start[4] = {};

bool ignored_now(int sig) {
  struct sigaction current {};
  return sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void console_signal_set(sigset_t* set) {
  sigemptyset(set);
  for (int i = 0; i < 3; ++i) {
    if (!g_ignored_at_start[i]) sigaddset(set, kConsoleSignals[i]);
  }
}

bool console_signal_pending() {
  sigset_t pending;
  if (sigpending(&pending) != 0) return false;
  for (int i = 0; i < 3; ++i) {
    if (!g_ignored_at_start[i] && sigismember(&pending, kConsoleSignals[i]) == 1) return true;
  }
  return false;
}

int event_of(int sig) { return sig == SIGINT ? 0 : sig == SIGQUIT ? 1 : sig == SIGHUP ? 2 : 3; }

// The moment an event arrives it claims the end of the run, before any other thread can report a
// failure it caused. True when the event thread is to handle it.
bool arrive(int event) {
  int none = -1;
  return g_on_arrival(event) && g_arrived_event.compare_exchange_strong(none, event);
}

// The signals that reach a thread rather than the event thread's reading (SIGTERM, and a console
// signal sent to a thread parked for the end) are handed over to the event thread.
void on_console_signal(int sig) {
  const int saved = errno;
  g_console_signal_taken.store(true);
  if (arrive(event_of(sig))) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(g_wake[1], &byte, 1);
  }
  errno = saved;
}

// The event thread reads the console signals instead of taking them in a handler: the kernel takes a
// signal out of the pending set only when it is read, and the thread marks it taken before that. So at
// every moment an event on its way shows, pending or taken, to a thread that meets a failure it caused.
int next_event() {
  pollfd ready[2] = {{g_signal_fd, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
  if (poll(ready, 2, -1) <= 0) return -1;
  if ((ready[0].revents & POLLIN) != 0) {
    g_console_signal_taken.store(true);
    if (door_fails(Door::lateevent)) sleep_milliseconds(300);
    // Subtle: a thread parked for the end lets the signals in and may have taken this one meanwhile;
    // then its handler has handed it over, and the read finds nothing.
    signalfd_siginfo info{};
    if (::read(g_signal_fd, &info, sizeof info) == sizeof info &&
        arrive(event_of(static_cast<int>(info.ssi_signo))))
      return g_arrived_event.load();
  }
  char byte = 0;
  return ::read(g_wake[0], &byte, 1) == 1 ? g_arrived_event.load() : -1;
}

void* console_event_thread(void*) {
  for (;;) {
    if (const int event = next_event(); event >= 0) g_console_handler(event);
  }
  return nullptr;
}
}  // namespace

void catch_termination() {
  if (g_ignored_at_start[3] || ignored_now(SIGTERM)) {
    g_ignored_at_start[3] = true;
    return;
  }
  struct sigaction action {};
  action.sa_handler = on_console_signal;
  sigemptyset(&action.sa_mask);
  for (int sig : kEventSignals) sigaddset(&action.sa_mask, sig);
  sigaction(SIGTERM, &action, nullptr);
}

void end_by_console_event(int event) {
  const int sig = kEventSignals[event >= 0 && event <= 3 ? event : 0];
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

#ifdef QUIL_DOOR_FAULTS
SysError injected_error(Door door) {
  int error = EIO;
  switch (door) {
    case Door::write:
    case Door::truncate:
      error = ENOSPC;
      break;
    case Door::open:
      error = EMFILE;
      break;
    case Door::copy:
      error = EPERM;
      break;
    case Door::pipe:
      error = EPIPE;
      break;
    default:
      break;
  }
  if (chosen_error() != 0) error = static_cast<int>(chosen_error());
  errno = error;
  return static_cast<SysError>(error);
}

void raise_console_event(int event) {
  const int sig = kEventSignals[event >= 0 && event <= 3 ? event : 0];
  kill(getpid(), sig);
  for (int i = 0; i < 1000 && console_signal_pending(); ++i) sched_yield();
  sleep_milliseconds(20);
}
#endif  // QUIL_DOOR_FAULTS

namespace {
// The processors that a cgroup's CPU quota ("cpu.max": quota and period, or "max") allows, rounded up;
// 0 when no quota holds.
int processors_of_quota() {
  const int fd = open("/sys/fs/cgroup/cpu.max", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[64] = {};
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  long long quota = 0, period = 0;
  if (n <= 0 || sscanf(text, "%lld %lld", &quota, &period) != 2 || quota <= 0 || period <= 0) return 0;
  return static_cast<int>((quota + period - 1) / period);
}
}  // namespace

int processor_count() {
  // The processors this process may run on, as its affinity and its container's quota allow.
  cpu_set_t set;
  int n = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
  if (n <= 0) n = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
  const int quota = processors_of_quota();
  if (quota > 0 && quota < n) n = quota;
  return n > 0 ? n : 1;
}

#ifdef QUIL_DOOR_FAULTS
void send_console_event(int event) { kill(getpid(), kEventSignals[event >= 0 && event <= 3 ? event : 0]); }

void raise_held_console_event(int event) {
  // Directed at this thread, which blocks it: pending, and seen by sigpending, until it parks.
  pthread_kill(pthread_self(), kEventSignals[event >= 0 && event <= 2 ? event : 0]);
}
#endif  // QUIL_DOOR_FAULTS

void let_console_events_in(bool in) {
  sigset_t set;
  console_signal_set(&set);
  pthread_sigmask(in ? SIG_UNBLOCK : SIG_BLOCK, &set, nullptr);
}

bool console_event_pending() {
  return g_console_handler != nullptr && (g_console_signal_taken.load() || console_signal_pending());
}

bool install_console_event_handler(void (*handler)(int event), bool (*on_arrival)(int event)) {
  for (int i = 0; i < 3; ++i) g_ignored_at_start[i] = ignored_now(kConsoleSignals[i]);
  sigset_t set;
  console_signal_set(&set);
  // Blocked in this thread before any other starts, so every later thread inherits the mask and the
  // signals wait, pending, until the event thread reads them.
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return false;
  g_signal_fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (g_signal_fd < 0 || pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  g_console_handler = handler;
  g_on_arrival = on_arrival;
  struct sigaction action {};
  action.sa_handler = on_console_signal;
  action.sa_mask = set;
  sigaddset(&action.sa_mask, SIGTERM);
  for (int i = 0; i < 3; ++i) {
    if (!g_ignored_at_start[i]) sigaction(kConsoleSignals[i], &action, nullptr);
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  bool ok = pthread_create(&thread, &attr, console_event_thread, nullptr) == 0;
  pthread_attr_destroy(&attr);
  if (!ok) pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  return ok;
}

namespace {
ExceptionHandler g_exception_handler = nullptr;
// The machine state of the processor exception being handled.
std::atomic<bool> g_have_exception_state{false};
mcontext_t g_exception_state;
std::uintptr_t g_stack_low = 0;
std::uintptr_t g_stack_high = 0;
alignas(16) char g_alt_stack[64 * 1024];

void on_processor_exception(int sig, siginfo_t* info, void* context) {
  if (context != nullptr && !g_have_exception_state.load()) {
    g_exception_state = static_cast<ucontext_t*>(context)->uc_mcontext;
    g_have_exception_state.store(true);
  }
  ExceptionKind kind = ExceptionKind::other;
  if (sig == SIGSEGV || sig == SIGBUS) {
    kind = ExceptionKind::access_violation;
    auto addr = reinterpret_cast<std::uintptr_t>(info->si_addr);
    // A fault just below the lowest usable stack page is a stack overflow (the guard region).
    if (g_stack_low != 0 && addr < g_stack_high && addr + 256 * 1024 >= g_stack_low) {
      kind = ExceptionKind::stack_overflow;
    }
  }
  if (g_exception_handler(kind, static_cast<std::uint32_t>(sig)) == ExceptionOutcome::handled) return;
  // Back to the default action, which ends the process now as the system would have ended it.
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
  raise(sig);
}
}  // namespace

bool install_exception_handler(ExceptionHandler handler) {
  g_exception_handler = handler;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0) {
      g_stack_low = reinterpret_cast<std::uintptr_t>(addr);
      g_stack_high = g_stack_low + size;
    }
    pthread_attr_destroy(&attr);
  }
  stack_t ss{};
  ss.ss_sp = g_alt_stack;
  ss.ss_size = sizeof g_alt_stack;
  if (sigaltstack(&ss, nullptr) != 0) return false;
  struct sigaction sa {};
  sa.sa_sigaction = on_processor_exception;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  bool ok = true;
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP}) ok = sigaction(sig, &sa, nullptr) == 0 && ok;
  return ok;
}

void raise_debug_exception() {
  raise(SIGILL);
  _exit(SIGILL);
}

void* exception_address() {
  if (!g_have_exception_state.load()) return nullptr;
#if defined(__x86_64__)
  return reinterpret_cast<void*>(g_exception_state.gregs[REG_RIP]);
#else
  return nullptr;
#endif
}

int exception_register_values(RegisterValue* out, int capacity) {
  if (!g_have_exception_state.load()) return 0;
  int n = 0;
#if defined(__x86_64__)
  static const struct {
    const char* name;
    int index;
  } kRegisters[] = {{"RIP", REG_RIP}, {"RSP", REG_RSP}, {"RBP", REG_RBP}, {"RAX", REG_RAX}, {"RBX", REG_RBX},
                    {"RCX", REG_RCX}, {"RDX", REG_RDX}, {"RSI", REG_RSI}, {"RDI", REG_RDI}, {"R8", REG_R8},
                    {"R9", REG_R9},   {"R10", REG_R10}, {"R11", REG_R11}, {"R12", REG_R12}, {"R13", REG_R13},
                    {"R14", REG_R14}, {"R15", REG_R15}, {"EFL", REG_EFL}};
  for (const auto& r : kRegisters) {
    if (n == capacity) break;
    out[n++] = {r.name, static_cast<std::uint64_t>(g_exception_state.gregs[r.index])};
  }
#endif
  return n;
}

ReadStatus status_of_read_error(int error) { return error == EINTR ? ReadStatus::ok : ReadStatus::failed; }
int interrupted_code() { return EINTR; }
int no_space_code() { return ENOSPC; }
int io_error_code() { return EIO; }

}  // namespace rtl::platform
