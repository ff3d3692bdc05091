// The platform door on Windows: the process, its environment, console events and exceptions.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>
// The system headers spell a structured-exception intrinsic with this name.
#undef abnormal_termination

#include <float.h>

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "rtl/platform/backend.h"
#include "rtl/platform/door_faults.h"
#include "rtl/platform/platform.h"
#include "rtl/platform/win32_text.h"

namespace rtl::platform {

using namespace win32;

void utf8_arguments(int* argc, char*** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return;
  char** args = new (std::nothrow) char*[static_cast<std::size_t>(count) + 1];
  if (args == nullptr) return;
  for (int i = 0; i < count; ++i) {
    const std::size_t length = wcslen(wide[i]);
    args[i] = new (std::nothrow) char[length * 3 + 2];
    if (args[i] == nullptr) return;
    if (to_utf8(wide[i], length, args[i], length * 3 + 2) == 0) args[i][0] = '\0';
  }
  args[count] = nullptr;
  *argc = count;
  *argv = args;
}

bool get_env(std::string_view name, EnvValue* value) {
  wchar_t variable[256];
  if (name.size() >= 256) return false;
  for (std::size_t i = 0; i < name.size(); ++i) variable[i] = static_cast<unsigned char>(name[i]);
  variable[name.size()] = L'\0';
  // A value (a unit's file name) is UTF-8 inside the program, as every name.
  wchar_t wide[4097];
  const DWORD n = GetEnvironmentVariableW(variable, wide, 4097);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
  if (n >= 4097) return false;
  value->length = n == 0 ? 0 : to_utf8(wide, n, value->text, sizeof value->text);
  value->text[value->length] = '\0';
  return n == 0 || value->length > 0;
}

// In UTF-8 like every other text the program writes: the system's texts are in the user's language.
std::size_t system_error_text(SysError code, char* out, std::size_t capacity) {
  if (capacity < 3) return 0;
  wchar_t wide[1024];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                 wide, 1024, nullptr);
  const std::size_t length = to_utf8(wide, n, out, capacity);
  out[length] = '\0';
  return length;
}

SysError last_error() { return GetLastError(); }

void yield() { Sleep(0); }
void sleep_milliseconds(unsigned milliseconds) { Sleep(milliseconds); }

// Writes to a pipe without a reader, or beyond a quota, already fail as errors here.
void keep_write_failures_as_errors() {}

bool alone_on_own_console() {
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

void hold_own_window_before_the_end(bool console_event, int status) {
  DWORD processes[2];
  const DWORD attached = GetConsoleProcessList(processes, 2);
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!window_waits_for_enter(attached, is_console(input), console_event)) return;
  char text[96];
  write_all(standard_handle(StdStream::output), text, held_window_text(status, text, sizeof text));
  FlushConsoleInputBuffer(input);
  wchar_t line[256];
  DWORD got = 0;
  ReadConsoleW(input, line, 256, &got, nullptr);
}

void exit_process(int status) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(status));
}

int capture_stack(void** frames, int max_frames) {
  // Frame 0 is this routine; the walk begins with its caller.
  const DWORD count = max_frames > 62 ? 62 : static_cast<DWORD>(max_frames);
  USHORT n = RtlCaptureStackBackTrace(1, count, frames, nullptr);
  return n == 0 ? -1 : n;
}

FrameModule frame_module(void* address) {
  FrameModule m{};
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(address), &module)) {
    return m;
  }
  char path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(module, path, sizeof path);
  if (n == 0 || n >= sizeof path) return m;
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') base = p + 1;
  }
  std::snprintf(m.name, sizeof m.name, "%s", base);
  m.offset = reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(module);
  m.known = true;
  return m;
}

namespace {
std::atomic<bool> g_breaking{false};
}  // namespace

bool debugger_attached() { return IsDebuggerPresent() != 0; }

void break_into_debugger() {
  g_breaking.store(true);
  DebugBreak();
  g_breaking.store(false);
}

void suppress_error_boxes() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

void set_floating_point_environment() {
  std::fesetround(FE_TONEAREST);
  std::feclearexcept(FE_ALL_EXCEPT);
  // Every exception masked. (The precision of the x87 unit needs no setting: threads start at 53 bits.)
  unsigned int control = 0;
  _controlfp_s(&control, _MCW_EM, _MCW_EM);
}

namespace {
void (*g_console_handler)(int) = nullptr;
bool (*g_on_arrival)(int) = nullptr;
std::atomic<bool> g_console_event_taken{false};

BOOL WINAPI on_console_control(DWORD type) {
  int event;
  switch (type) {
    case CTRL_C_EVENT:
      event = 0;
      break;
    case CTRL_BREAK_EVENT:
      event = 1;
      break;
    case CTRL_CLOSE_EVENT:
      event = 2;
      break;
    default:
      return FALSE;  // log-off and shut-down are not handled
  }
  g_console_event_taken.store(true);
  // The event claims the end of the run at once, before a failure it causes can be reported.
  if (g_on_arrival(event)) g_console_handler(event);
  return TRUE;
}
}  // namespace

bool install_console_event_handler(void (*handler)(int event), bool (*on_arrival)(int event)) {
  g_console_handler = handler;
  g_on_arrival = on_arrival;
  return SetConsoleCtrlHandler(on_console_control, TRUE) != 0;
}

// Log-off and shut-down stay unhandled, and a console program has no ignored events to keep.
void catch_termination() {}

void end_by_console_event(int) {
  // What a console program ends with when control-C ends it.
  ExitProcess(0xC000013Au);
}

#ifdef QUIL_DOOR_FAULTS
SysError injected_error(Door door) {
  DWORD error = ERROR_NETNAME_DELETED;  // a network share gone part way
  switch (door) {
    case Door::write:
    case Door::truncate:
    case Door::copy:
      error = ERROR_DISK_FULL;
      break;
    case Door::open:
    case Door::rename:  // a virus scanner or an indexer holding the file
      error = ERROR_SHARING_VIOLATION;
      break;
    case Door::remove:
      error = ERROR_ACCESS_DENIED;
      break;
    case Door::pipe:
      error = ERROR_NO_DATA;  // the pipe is being closed
      break;
    default:
      break;
  }
  if (chosen_error() != 0) error = chosen_error();
  SetLastError(error);
  return error;
}

namespace {
DWORD WINAPI deliver_console_event(void* type) {
  // The system's own thread for the event may start late; nothing tells of the event before it runs.
  if (door_fails(Door::lateevent)) Sleep(300);
  on_console_control(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(type)));
  return 0;
}
}  // namespace

// As the system delivers an event: its handler runs on a thread of its own.
void raise_console_event(int event) {
  constexpr DWORD kTypes[] = {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT};
  const DWORD type = kTypes[event >= 0 && event <= 2 ? event : 0];
  HANDLE thread = CreateThread(nullptr, 0, deliver_console_event,
                               reinterpret_cast<void*>(static_cast<std::uintptr_t>(type)), 0, nullptr);
  if (thread == nullptr) return;
  for (int i = 0; i < 1000 && !g_console_event_taken.load(); ++i) Sleep(1);
  CloseHandle(thread);
  Sleep(20);
}

void send_console_event(int event) {
  constexpr DWORD kTypes[] = {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT};
  HANDLE thread = CreateThread(
      nullptr, 0, deliver_console_event,
      reinterpret_cast<void*>(static_cast<std::uintptr_t>(kTypes[event >= 0 && event <= 2 ? event : 0])), 0,
      nullptr);
  if (thread != nullptr) CloseHandle(thread);
}
#endif  // QUIL_DOOR_FAULTS

int processor_count() {
  // The processors this process may run on, as its affinity (a job's limit among them) allows.
  DWORD_PTR process = 0, system = 0;
  int n = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
    for (; process != 0; process &= process - 1) ++n;
  }
  return n > 0 ? n : 1;
}

#ifdef QUIL_DOOR_FAULTS
// The system hands a console event to a thread of its own, which claims the end on arrival: no event
// waits unseen.
void raise_held_console_event(int event) { raise_console_event(event); }
#endif  // QUIL_DOOR_FAULTS

void let_console_events_in(bool) {}

bool console_event_pending() { return g_console_handler != nullptr && g_console_event_taken.load(); }

namespace {
ExceptionHandler g_exception_handler = nullptr;
std::atomic<bool> g_have_exception{false};
EXCEPTION_RECORD g_exception_record;
CONTEXT g_exception_context;
constexpr DWORD kDebugException = 0xE0525443;  // raised in place of a severe report

LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (code == EXCEPTION_BREAKPOINT && g_breaking.load()) {
    // Our own break with no debugger to take it: step over it and go on.
#if defined(_M_X64) || defined(__x86_64__)
    info->ContextRecord->Rip += 1;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (!g_have_exception.exchange(true)) {
    g_exception_record = *info->ExceptionRecord;
    g_exception_context = *info->ContextRecord;
  }
  ExceptionKind kind = code == EXCEPTION_ACCESS_VIOLATION ? ExceptionKind::access_violation
                       : code == EXCEPTION_STACK_OVERFLOW ? ExceptionKind::stack_overflow
                                                          : ExceptionKind::other;
  ExceptionOutcome outcome = ExceptionOutcome::pass_on;
  if (kind == ExceptionKind::stack_overflow) {
    // The stack that overflowed has too little room left for a report: it is made on a thread of its
    // own while this one waits.
    struct Job {
      ExceptionKind kind;
      DWORD code;
      ExceptionOutcome outcome;
    } job{kind, code, ExceptionOutcome::pass_on};
    auto run = [](void* p) -> DWORD {
      Job* j = static_cast<Job*>(p);
      j->outcome = g_exception_handler(j->kind, j->code);
      return 0;
    };
    HANDLE thread = CreateThread(nullptr, 1 << 20, run, &job, 0, nullptr);
    if (thread != nullptr) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
      outcome = job.outcome;
    }
  } else {
    outcome = g_exception_handler(kind, code);
  }
  return outcome == ExceptionOutcome::handled ? EXCEPTION_EXECUTE_HANDLER : EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

bool install_exception_handler(ExceptionHandler handler) {
  g_exception_handler = handler;
  // Room to report a stack overflow on the stack that overflowed.
  ULONG guarantee = 64 * 1024;
  SetThreadStackGuarantee(&guarantee);
  SetUnhandledExceptionFilter(on_unhandled_exception);
  return true;
}

void raise_debug_exception() {
  RaiseException(kDebugException, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  ExitProcess(kDebugException);
}

void* exception_address() { return g_have_exception.load() ? g_exception_record.ExceptionAddress : nullptr; }

int exception_register_values(RegisterValue* out, int capacity) {
  if (!g_have_exception.load()) return 0;
  int n = 0;
#if defined(_M_X64) || defined(__x86_64__)
  const CONTEXT& c = g_exception_context;
  const RegisterValue registers[] = {
      {"RIP", c.Rip}, {"RSP", c.Rsp}, {"RBP", c.Rbp}, {"RAX", c.Rax}, {"RBX", c.Rbx}, {"RCX", c.Rcx},
      {"RDX", c.Rdx}, {"RSI", c.Rsi}, {"RDI", c.Rdi}, {"R8", c.R8},   {"R9", c.R9},   {"R10", c.R10},
      {"R11", c.R11}, {"R12", c.R12}, {"R13", c.R13}, {"R14", c.R14}, {"R15", c.R15}, {"EFL", c.EFlags}};
  for (const RegisterValue& r : registers) {
    if (n == capacity) break;
    out[n++] = r;
  }
#endif
  return n;
}

}  // namespace rtl::platform
