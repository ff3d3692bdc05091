// The platform door on Windows, through the kernel's own services.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// The system headers spell a structured-exception intrinsic with this name.
#undef abnormal_termination

#include <atomic>
#include <cfenv>
#include <cstdio>
#include <cstring>
#include <float.h>

#include "rtl/platform/backend.h"
#include "rtl/platform/platform.h"

namespace rtl::platform {

namespace {

HANDLE os(Handle h) { return reinterpret_cast<HANDLE>(h.value); }
Handle ours(HANDLE h) { return Handle{reinterpret_cast<std::intptr_t>(h)}; }

// A code outside the system's own numbering that the test seam hands back for an interrupted call, which
// the system itself never reports: the transfer is simply tried again.
constexpr int kInterrupted = 0x20000001;

}  // namespace

std::int64_t real_raw_write(std::intptr_t handle, const void* data, std::size_t size, int* error) {
  DWORD done = 0;
  const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!WriteFile(reinterpret_cast<HANDLE>(handle), data, chunk, &done, nullptr)) {
    *error = static_cast<int>(GetLastError());
    return -1;
  }
  return done;
}

std::int64_t real_raw_read(std::intptr_t handle, void* data, std::size_t size, int* error) {
  DWORD done = 0;
  const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!ReadFile(reinterpret_cast<HANDLE>(handle), data, chunk, &done, nullptr)) {
    *error = static_cast<int>(GetLastError());
    return -1;
  }
  return done;
}

namespace {


OpenRefusal refusal_for(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return OpenRefusal::not_found;
    case ERROR_TOO_MANY_OPEN_FILES:
      return OpenRefusal::too_many_files;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return OpenRefusal::access_denied;
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_UNIT:
      return OpenRefusal::bad_device;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return OpenRefusal::exists;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return OpenRefusal::bad_name;
    default:
      return OpenRefusal::other;
  }
}

OpenResult refused(DWORD err) {
  OpenResult result;
  result.refusal = refusal_for(err);
  result.error = err;
  return result;
}

DWORD share_mode(Sharing sharing) {
  switch (sharing) {
    case Sharing::read_write:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;
    case Sharing::read_only:
      return FILE_SHARE_READ;
    case Sharing::write_only:
      return FILE_SHARE_WRITE;
    case Sharing::none:
      return 0;
  }
  return FILE_SHARE_READ;
}

}  // namespace

Handle standard_handle(StdStream stream) {
  switch (stream) {
    case StdStream::input:
      return ours(GetStdHandle(STD_INPUT_HANDLE));
    case StdStream::output:
      return ours(GetStdHandle(STD_OUTPUT_HANDLE));
    case StdStream::error:
      return ours(GetStdHandle(STD_ERROR_HANDLE));
  }
  return Handle{};
}

// Handles are never reused the way descriptors are: a missing standard handle stays missing, and a
// transfer on it fails.
void reserve_standard_handles() {}


namespace {
// An absolute name is handed over literally, so that the system does not take a file such as
// C:\data\lpt1.txt for its device LPT1: device names count only where the record layer says.
const char* literal_name(const char* name) {
  static thread_local char literal[32768 + 8];
  const bool absolute = ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')) &&
                        name[1] == ':' && name[2] == '\\';
  const std::size_t n = std::strlen(name);
  if (!absolute || n >= 32767) return name;
  std::memcpy(literal, "\\\\?\\", 4);
  std::memcpy(literal + 4, name, n + 1);
  return literal;
}
}  // namespace

OpenResult open_file(const char* given, Creation creation, Sharing sharing) {
  const char* name = literal_name(given);
  DWORD disposition = OPEN_EXISTING;
  switch (creation) {
    case Creation::open_existing:
      disposition = OPEN_EXISTING;
      break;
    case Creation::create_new:
      disposition = CREATE_NEW;
      break;
    case Creation::open_or_create:
    case Creation::replace:
      disposition = OPEN_ALWAYS;
      break;
  }
  const DWORD share = share_mode(sharing);
  OpenResult result;
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD first = GetLastError();
    if (first != ERROR_ACCESS_DENIED && first != ERROR_WRITE_PROTECT) return refused(first);
    // Subtle: the read-only retry never creates a file; it exists or the first open said so.
    h = CreateFileA(name, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return refused(first);
    result.read_only = true;
  } else if (creation == Creation::replace && GetFileType(h) == FILE_TYPE_DISK) {
    SetEndOfFile(h);
  }
  result.handle = ours(h);
  return result;
}

// Named pipes have a server and clients here: a client is never the other end of its own pipe.
OpenResult open_pipe(const char* name, bool for_writing) {
  HANDLE h = CreateFileA(name, for_writing ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return refused(GetLastError());
  OpenResult result;
  result.handle = ours(h);
  return result;
}

OpenResult open_scratch_file(char* name, std::size_t capacity, Sharing sharing) {
  char folder[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n > sizeof folder) return refused(GetLastError());
  char temp[MAX_PATH + 1];
  if (GetTempFileNameA(folder, "RTL", 0, temp) == 0) return refused(GetLastError());
  if (std::strlen(temp) >= capacity) {
    DeleteFileA(temp);
    OpenResult result;
    result.refusal = OpenRefusal::bad_name;
    return result;
  }
  std::memcpy(name, temp, std::strlen(temp) + 1);
  HANDLE h = CreateFileA(temp, GENERIC_READ | GENERIC_WRITE, share_mode(sharing) | FILE_SHARE_DELETE, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    DeleteFileA(temp);
    return refused(err);
  }
  OpenResult result;
  result.handle = ours(h);
  return result;
}

// The system's own device names.
const char* device_path(std::string_view device) {
  static constexpr const char* kDevices[] = {"NUL",  "PRN",  "LPT1", "LPT2", "LPT3",
                                             "LPT4", "COM1", "COM2", "COM3", "COM4"};
  for (const char* d : kDevices) {
    if (device == d) return d;
  }
  return nullptr;
}

FileIdentity identity(Handle h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(os(h)) != FILE_TYPE_DISK || !GetFileInformationByHandle(os(h), &info)) return {};
  return {info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
          true};
}

bool is_disk_file(Handle h, SysError* error) {
  const DWORD type = GetFileType(os(h));
  if (error != nullptr) *error = type == FILE_TYPE_UNKNOWN ? GetLastError() : 0;
  return type == FILE_TYPE_DISK;
}

// A console, not merely a character device: the device NUL is one too.
bool is_terminal(Handle h) {
  DWORD mode = 0;
  return GetFileType(os(h)) == FILE_TYPE_CHAR && GetConsoleMode(os(h), &mode);
}

bool terminal_hung_up(Handle) { return false; }

std::int64_t position(Handle h) {
  if (!is_disk_file(h)) return -1;
  LARGE_INTEGER zero{}, at{};
  if (!SetFilePointerEx(os(h), zero, &at, FILE_CURRENT)) return -1;
  return at.QuadPart;
}

bool seek(Handle h, std::int64_t offset) {
  LARGE_INTEGER to{};
  to.QuadPart = offset;
  return SetFilePointerEx(os(h), to, nullptr, FILE_BEGIN) != 0;
}

bool seek_end(Handle h) {
  LARGE_INTEGER zero{};
  return SetFilePointerEx(os(h), zero, nullptr, FILE_END) != 0;
}

SysError truncate_here(Handle h, std::int64_t length) {
  if (!seek(h, length) || !SetEndOfFile(os(h))) return GetLastError();
  return 0;
}

SysError close(Handle h) { return CloseHandle(os(h)) ? 0 : GetLastError(); }

bool redirect_standard_error(const char* path) {
  HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  return SetStdHandle(STD_ERROR_HANDLE, h) != 0;
}

bool append_to_file(const char* path, const void* data, std::size_t size) {
  HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = write_all(ours(h), data, size) == 0;
  CloseHandle(h);
  return ok;
}

SysError rename_file(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : GetLastError();
}

SysError keep_copy(const char* original, const char* copy) {
  return CopyFileA(original, copy, TRUE) ? 0 : GetLastError();
}

bool file_exists_error(SysError error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

SysError remove_file(const char* name) { return DeleteFileA(name) ? 0 : GetLastError(); }

std::int64_t file_size(Handle h) {
  LARGE_INTEGER size;
  if (GetFileType(os(h)) != FILE_TYPE_DISK || !GetFileSizeEx(os(h), &size)) return -1;
  return size.QuadPart;
}

// The console does not expand wildcards as a POSIX shell does; the program does it for its names.
int expand_wildcards(const char* pattern, void (*take)(const char*, void*), void* context) {
  if (std::strpbrk(pattern, "*?") == nullptr) {
    take(pattern, context);
    return 1;
  }
  // The folder part of the pattern stays as given; only the last part matches.
  const char* last_part = pattern;
  for (const char* c = pattern; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '/' || *c == ':') last_part = c + 1;
  }
  const std::size_t folder = static_cast<std::size_t>(last_part - pattern);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  char name[MAX_PATH * 2];
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (folder + std::strlen(found.cFileName) + 1 > sizeof name) continue;
    std::memcpy(name, pattern, folder);
    std::strcpy(name + folder, found.cFileName);
    take(name, context);
    ++count;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

std::size_t full_path(std::string_view name, char* out, std::size_t capacity) {
  if (name.empty() || name.size() >= 32768) return 0;
  char copy[32768 + 2];
  std::memcpy(copy, name.data(), name.size());
  copy[name.size()] = '\0';
  DWORD n = GetFullPathNameA(copy, static_cast<DWORD>(capacity), out, nullptr);
  if (n == 0 || n >= capacity) return 0;
  if (std::strncmp(out, "\\\\.\\", 4) != 0) return n;
  // The system took the last part for a device (as it takes lpt1.txt for LPT1); the record layer has
  // decided that it is a file, so only the folder part is resolved and the last part joined to it.
  std::size_t last = name.find_last_of("\\/:");
  std::size_t folder_length = last == std::string_view::npos ? 0 : last + 1;
  std::string_view leaf = name.substr(folder_length);
  if (folder_length == 0) {
    copy[0] = '.';
    copy[1] = '\0';
  } else {
    copy[folder_length] = '\0';
  }
  n = GetFullPathNameA(copy, static_cast<DWORD>(capacity), out, nullptr);
  if (n == 0 || n >= capacity) return 0;
  if (out[n - 1] != '\\') {
    if (n + 1 >= capacity) return 0;
    out[n++] = '\\';
  }
  if (n + leaf.size() >= capacity) return 0;
  std::memcpy(out + n, leaf.data(), leaf.size());
  n += static_cast<DWORD>(leaf.size());
  out[n] = '\0';
  return n;
}

bool get_env(std::string_view name, std::string_view* value) {
  // Values live in a small ring of buffers: a caller uses a value before it asks for many more.
  static thread_local char values[4][32768];
  static thread_local int next = 0;
  char variable[256];
  if (name.size() >= sizeof variable) return false;
  std::memcpy(variable, name.data(), name.size());
  variable[name.size()] = '\0';
  char* slot = values[next];
  DWORD n = GetEnvironmentVariableA(variable, slot, sizeof values[0]);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
  if (n >= sizeof values[0]) return false;
  next = (next + 1) % 4;
  *value = std::string_view(slot, n);
  return true;
}

std::size_t system_error_text(SysError code, char* out, std::size_t capacity) {
  if (capacity < 3) return 0;
  DWORD limit = capacity - 1 < 1024 ? static_cast<DWORD>(capacity - 1) : 1024;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, out, limit,
                           nullptr);
  out[n] = '\0';
  return n;
}

SysError last_error() { return GetLastError(); }

void yield() { Sleep(0); }
void sleep_milliseconds(unsigned milliseconds) { Sleep(milliseconds); }

// Writes to a pipe without a reader, or beyond a quota, already fail as errors here.
void keep_write_failures_as_errors() {}

void exit_process(int status) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(status));
}

void abnormal_termination() {
  static const char text[] = "\r\nabnormal program termination\r\n";
  write_all(standard_handle(StdStream::error), text, sizeof text - 1);
  std::fflush(nullptr);
  ExitProcess(3);
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
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
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

void set_floating_point_environment() {
  std::fesetround(FE_TONEAREST);
  std::feclearexcept(FE_ALL_EXCEPT);
  // Every exception masked. (The precision of the x87 unit needs no setting: threads start at 53 bits.)
  unsigned int control = 0;
  _controlfp_s(&control, _MCW_EM, _MCW_EM);
}

namespace {
void (*g_console_handler)(int) = nullptr;
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
  g_console_handler(event);
  return TRUE;
}
}  // namespace

bool install_console_event_handler(void (*handler)(int event)) {
  g_console_handler = handler;
  return SetConsoleCtrlHandler(on_console_control, TRUE) != 0;
}

bool console_event_arriving(unsigned wait_milliseconds) {
  if (g_console_handler == nullptr) return false;
  for (unsigned waited = 0;; ++waited) {
    if (g_console_event_taken.load()) return true;
    if (waited >= wait_milliseconds) return false;
    Sleep(1);
  }
}

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

void* exception_address() {
  return g_have_exception.load() ? g_exception_record.ExceptionAddress : nullptr;
}

std::size_t exception_registers(char* out, std::size_t capacity) {
  if (!g_have_exception.load() || capacity == 0) return 0;
  std::size_t n = 0;
#if defined(_M_X64) || defined(__x86_64__)
  const CONTEXT& c = g_exception_context;
  const struct {
    const char* name;
    DWORD64 value;
  } registers[] = {{"RIP", c.Rip}, {"RSP", c.Rsp}, {"RBP", c.Rbp}, {"RAX", c.Rax}, {"RBX", c.Rbx}, {"RCX", c.Rcx},
                   {"RDX", c.Rdx}, {"RSI", c.Rsi}, {"RDI", c.Rdi}, {"R8", c.R8},   {"R9", c.R9},   {"R10", c.R10},
                   {"R11", c.R11}, {"R12", c.R12}, {"R13", c.R13}, {"R14", c.R14}, {"R15", c.R15}, {"EFL", c.EFlags}};
  for (const auto& r : registers) {
    int k = std::snprintf(out + n, capacity - n, "%-3s = %016llX\n", r.name, static_cast<unsigned long long>(r.value));
    if (k < 0 || static_cast<std::size_t>(k) >= capacity - n) break;
    n += static_cast<std::size_t>(k);
  }
#endif
  return n;
}


ReadStatus status_of_read_error(int error) {
  switch (error) {
    case kInterrupted:
      return ReadStatus::ok;
    // A pipe whose writer has gone, and the system's own end of file, are the end of the data.
    case ERROR_BROKEN_PIPE:
    case ERROR_HANDLE_EOF:
      return ReadStatus::end_of_data;
    case ERROR_OPERATION_ABORTED:
      return ReadStatus::aborted;
    default:
      return ReadStatus::failed;
  }
}
int interrupted_code() { return kInterrupted; }
int no_space_code() { return ERROR_DISK_FULL; }
int io_error_code() { return ERROR_IO_DEVICE; }

}  // namespace rtl::platform
