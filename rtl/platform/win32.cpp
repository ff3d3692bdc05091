// The platform door on Windows, through the kernel's own services.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <shellapi.h>
// The system headers spell a structured-exception intrinsic with this name.
#undef abnormal_termination

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <float.h>
#include <new>
#include <string>

#include "rtl/platform/backend.h"
#include "rtl/platform/platform.h"

namespace rtl::platform {

namespace {

HANDLE os(Handle h) { return reinterpret_cast<HANDLE>(h.value); }
Handle ours(HANDLE h) { return Handle{reinterpret_cast<std::intptr_t>(h)}; }

// A code outside the system's own numbering that the test seam hands back for an interrupted call, which
// the system itself never reports: the transfer is simply tried again.
constexpr int kInterrupted = 0x20000001;

// Names inside the program are UTF-8. A name that is not valid UTF-8 (typed into an answers file in the
// ANSI code page) is taken in that code page. Returns false when the name cannot be converted.
bool to_wide(std::string_view name, std::wstring* out) {
  out->clear();
  if (name.empty()) return true;
  for (UINT page : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
    const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int n = MultiByteToWideChar(page, flags, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (n <= 0) continue;
    out->resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(page, flags, name.data(), static_cast<int>(name.size()), out->data(), n);
    return true;
  }
  return false;
}

// UTF-8 of a wide text into out (with a terminating NUL); returns its length, 0 when it does not fit.
std::size_t to_utf8(const wchar_t* text, std::size_t length, char* out, std::size_t capacity) {
  if (length == 0 || capacity == 0) return 0;
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0 || static_cast<std::size_t>(n) >= capacity) return 0;
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out, n, nullptr, nullptr);
  out[n] = '\0';
  return static_cast<std::size_t>(n);
}

bool starts_with(const std::wstring& s, const wchar_t* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

namespace {

// The full path of a wide name, as the system makes it; empty when it cannot.
std::wstring full_wide_path(const std::wstring& wide) {
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::wstring full(n, L'\0');
  const DWORD m = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (m == 0 || m >= n) return {};
  full.resize(m);
  if (starts_with(full, L"\\\\.\\")) {
    // The system took the last part for a device (as it takes lpt1.txt for LPT1); the record layer has
    // decided that it is a file, so only the folder is resolved and the last part joined to it.
    const std::size_t leaf = wide.find_last_of(L"\\/:");
    std::wstring folder = full_wide_path(leaf == std::wstring::npos ? L"." : wide.substr(0, leaf + 1));
    if (folder.empty()) return {};
    if (folder.back() != L'\\') folder += L'\\';
    return folder + (leaf == std::wstring::npos ? wide : wide.substr(leaf + 1));
  }
  return full;
}

// The name the system is given for a disk file: its full path with the \\?\ prefix, so that neither the
// length limit of old programs nor the system's device names apply (the record layer has decided that it
// is a file). Names already in the system's own notation pass as they are.
bool system_name(const char* name, std::wstring* out) {
  std::wstring wide;
  if (!to_wide(name, &wide) || wide.empty()) return false;
  if (starts_with(wide, L"\\\\?\\") || starts_with(wide, L"\\\\.\\")) {
    *out = wide;
    return true;
  }
  const std::wstring full = full_wide_path(wide);
  if (full.empty()) return false;
  *out = starts_with(full, L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
  return true;
}

}  // namespace

namespace {

bool is_console(HANDLE h) {
  DWORD mode = 0;
  return GetConsoleMode(h, &mode) != 0;
}

// Text typed at a console arrives as wide characters and leaves as UTF-8, so that a name reaches the file
// system as typed whatever the console's code page. What does not fit the caller's buffer waits here.
char g_console_text[3 * 4096];
std::size_t g_console_begin = 0, g_console_end = 0;

std::int64_t read_console(HANDLE h, void* data, std::size_t size, int* error) {
  if (g_console_begin == g_console_end) {
    wchar_t wide[4096];
    DWORD got = 0;
    if (!ReadConsoleW(h, wide, 4096, &got, nullptr)) {
      *error = static_cast<int>(GetLastError());
      return -1;
    }
    if (got == 0) return 0;
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(got), g_console_text,
                                      sizeof g_console_text, nullptr, nullptr);
    g_console_begin = 0;
    g_console_end = n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  const std::size_t n = std::min(size, g_console_end - g_console_begin);
  std::memcpy(data, g_console_text + g_console_begin, n);
  g_console_begin += n;
  return static_cast<std::int64_t>(n);
}

// UTF-8 shows on a console as the characters it stands for; other bytes go out as they are.
bool write_console(HANDLE h, const void* data, std::size_t size, DWORD* done) {
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, static_cast<const char*>(data),
                                    static_cast<int>(size), nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, static_cast<const char*>(data), static_cast<int>(size), wide.data(), n);
  DWORD written = 0;
  if (!WriteConsoleW(h, wide.data(), static_cast<DWORD>(n), &written, nullptr)) return false;
  *done = static_cast<DWORD>(size);
  return true;
}

}  // namespace

std::int64_t real_raw_write(std::intptr_t handle, const void* data, std::size_t size, int* error) {
  DWORD done = 0;
  const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  const bool standard = h == GetStdHandle(STD_OUTPUT_HANDLE) || h == GetStdHandle(STD_ERROR_HANDLE);
  if (standard && chunk < 65536 && is_console(h) && write_console(h, data, chunk, &done)) return done;
  if (!WriteFile(h, data, chunk, &done, nullptr)) {
    *error = static_cast<int>(GetLastError());
    return -1;
  }
  return done;
}

std::int64_t real_raw_read(std::intptr_t handle, void* data, std::size_t size, int* error) {
  DWORD done = 0;
  const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  if (h == GetStdHandle(STD_INPUT_HANDLE) && is_console(h)) return read_console(h, data, chunk, error);
  if (!ReadFile(h, data, chunk, &done, nullptr)) {
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


OpenResult open_file(const char* given, Creation creation, Sharing sharing) {
  std::wstring name;
  if (!system_name(given, &name)) return refused(ERROR_INVALID_NAME);
  // Windows' own tools cannot open or delete a file named for one of its devices: never make one.
  if (!starts_with(name, L"\\\\.\\") && reserved_device_name(given)) return refused(ERROR_FILE_NOT_FOUND);
  DWORD disposition = OPEN_EXISTING;
  switch (creation) {
    case Creation::open_existing:
    case Creation::read_existing:
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
  const bool reading = creation == Creation::read_existing;
  result.read_only = reading;
  HANDLE h = CreateFileW(name.c_str(), reading ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE, share, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD first = GetLastError();
    // A file that another program holds open, letting others only read it, can still be read.
    if (reading || (first != ERROR_ACCESS_DENIED && first != ERROR_WRITE_PROTECT && first != ERROR_SHARING_VIOLATION)) {
      return refused(first);
    }
    // Subtle: the read-only retry never creates a file; it exists or the first open said so.
    h = CreateFileW(name.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
  std::wstring wide;
  if (!to_wide(name, &wide)) return refused(ERROR_INVALID_NAME);
  HANDLE h = CreateFileW(wide.c_str(), for_writing ? GENERIC_WRITE : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return refused(GetLastError());
  OpenResult result;
  result.handle = ours(h);
  return result;
}

OpenResult open_scratch_file(char* name, std::size_t capacity, Sharing sharing) {
  wchar_t folder[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  if (n == 0 || n > MAX_PATH) return refused(GetLastError());
  wchar_t temp[MAX_PATH + 1];
  if (GetTempFileNameW(folder, L"RTL", 0, temp) == 0) return refused(GetLastError());
  if (to_utf8(temp, wcslen(temp), name, capacity) == 0) {
    DeleteFileW(temp);
    OpenResult result;
    result.refusal = OpenRefusal::bad_name;
    return result;
  }
  HANDLE h = CreateFileW(temp, GENERIC_READ | GENERIC_WRITE, share_mode(sharing) | FILE_SHARE_DELETE, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    DeleteFileW(temp);
    return refused(err);
  }
  OpenResult result;
  result.handle = ours(h);
  return result;
}

// The system's own device names.
const char* device_path(std::string_view device) {
  // In the system's device notation, so that they are opened as devices and never as files.
  static constexpr const char* kDevices[] = {"\\\\.\\NUL",  "\\\\.\\PRN",  "\\\\.\\LPT1",
                                             "\\\\.\\LPT2", "\\\\.\\LPT3", "\\\\.\\LPT4",
                                             "\\\\.\\COM1", "\\\\.\\COM2", "\\\\.\\COM3",
                                             "\\\\.\\COM4"};
  for (const char* d : kDevices) {
    if (device == d + 4) return d;
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
  std::wstring name;
  if (!system_name(path, &name)) return false;
  HANDLE h = CreateFileW(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  return SetStdHandle(STD_ERROR_HANDLE, h) != 0;
}

bool append_to_file(const char* path, const void* data, std::size_t size) {
  std::wstring name;
  if (!system_name(path, &name)) return false;
  HANDLE h = CreateFileW(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = write_all(ours(h), data, size) == 0;
  CloseHandle(h);
  return ok;
}

SysError rename_file(const char* from, const char* to) {
  std::wstring a, b;
  if (!system_name(from, &a) || !system_name(to, &b)) return ERROR_INVALID_NAME;
  return MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : GetLastError();
}

SysError keep_copy(const char* original, const char* copy) {
  std::wstring a, b;
  if (!system_name(original, &a) || !system_name(copy, &b)) return ERROR_INVALID_NAME;
  return CopyFileW(a.c_str(), b.c_str(), TRUE) ? 0 : GetLastError();
}

bool file_exists_error(SysError error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

// A new file takes the folder's permissions, as the one it replaces did.
SysError copy_permissions(const char*, const char*) { return 0; }

NameKind name_kind(const char* given, char* target, std::size_t capacity, SysError* error) {
  *error = 0;
  std::wstring name;
  if (!system_name(given, &name)) {
    *error = ERROR_INVALID_NAME;
    return NameKind::other;
  }
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = GetLastError();
    return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? NameKind::missing : NameKind::other;
  }
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return NameKind::other;
  const std::size_t n = std::strlen(given);
  if (n >= capacity) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return NameKind::other;
  }
  std::memcpy(target, given, n + 1);
  return NameKind::regular_file;
}

bool writable_file(const char* given) {
  std::wstring name;
  if (!system_name(given, &name)) return false;
  const DWORD attributes = GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool same_contents(const char* a, const char* b) {
  std::wstring wa, wb;
  if (!system_name(a, &wa) || !system_name(b, &wb)) return false;
  HANDLE ha = CreateFileW(wa.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE hb = CreateFileW(wb.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  bool same = ha != INVALID_HANDLE_VALUE && hb != INVALID_HANDLE_VALUE;
  static char ba[65536], bb[65536];
  while (same) {
    DWORD na = 0, nb = 0;
    if (!ReadFile(ha, ba, sizeof ba, &na, nullptr)) na = 0;
    DWORD got = 0;
    while (nb < na && ReadFile(hb, bb + nb, na - nb, &got, nullptr) && got > 0) nb += got;
    if (nb != na || std::memcmp(ba, bb, nb) != 0) {
      same = false;
    } else if (na == 0) {
      same = ReadFile(hb, bb, 1, &got, nullptr) && got == 0;
      break;
    }
  }
  if (ha != INVALID_HANDLE_VALUE) CloseHandle(ha);
  if (hb != INVALID_HANDLE_VALUE) CloseHandle(hb);
  return same;
}

// A new file here takes its folder's permissions.
void restrict_new_files_to(const char*) {}

SysError remove_file(const char* name) {
  std::wstring wide;
  if (!system_name(name, &wide)) return ERROR_INVALID_NAME;
  return DeleteFileW(wide.c_str()) ? 0 : GetLastError();
}

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
  std::wstring wide;
  if (!to_wide(pattern, &wide)) return 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  char name[MAX_PATH * 4 + 32768];
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (folder >= 32768) continue;
    std::memcpy(name, pattern, folder);
    if (to_utf8(found.cFileName, wcslen(found.cFileName), name + folder, sizeof name - folder) == 0) continue;
    take(name, context);
    ++count;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

std::size_t full_path(std::string_view name, char* out, std::size_t capacity) {
  std::wstring wide;
  if (name.empty() || !to_wide(name, &wide)) return 0;
  const std::wstring full = full_wide_path(wide);
  return to_utf8(full.data(), full.size(), out, capacity);
}

bool lines_end_with_lf() { return false; }

bool broken_pipe_error(SysError error) { return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA; }

// A console program whose reader has gone ends with the write failure's number, without a word.
void end_by_broken_pipe() { ExitProcess(38); }

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

bool get_env(std::string_view name, std::string_view* value) {
  // Values live in a small ring of buffers: a caller uses a value before it asks for many more. A value
  // (a unit's file name) is UTF-8, as every name inside the program.
  static thread_local char values[4][32768];
  static thread_local int next = 0;
  wchar_t variable[256];
  if (name.size() >= 256) return false;
  for (std::size_t i = 0; i < name.size(); ++i) variable[i] = static_cast<unsigned char>(name[i]);
  variable[name.size()] = L'\0';
  static thread_local wchar_t wide[32768];
  const DWORD n = GetEnvironmentVariableW(variable, wide, 32768);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
  if (n >= 32768) return false;
  char* slot = values[next];
  const std::size_t length = n == 0 ? 0 : to_utf8(wide, n, slot, sizeof values[0]);
  if (n > 0 && length == 0) return false;
  next = (next + 1) % 4;
  *value = std::string_view(slot, length);
  return true;
}

// In UTF-8 like every other text the program writes: the system's texts are in the user's language.
std::size_t system_error_text(SysError code, char* out, std::size_t capacity) {
  if (capacity < 3) return 0;
  wchar_t wide[1024];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, wide,
                                 1024, nullptr);
  const std::size_t length = to_utf8(wide, n, out, capacity);
  out[length] = '\0';
  return length;
}

SysError last_error() { return GetLastError(); }

void yield() { Sleep(0); }
void sleep_milliseconds(unsigned milliseconds) { Sleep(milliseconds); }

// Writes to a pipe without a reader, or beyond a quota, already fail as errors here.
void keep_write_failures_as_errors() {}

void hold_own_window_before_the_end(bool console_event) {
  DWORD processes[2];
  const DWORD attached = GetConsoleProcessList(processes, 2);
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!window_waits_for_enter(attached, is_console(input), console_event)) return;
  static const char prompt[] = "\r\nPress Enter to close this window.";
  write_all(standard_handle(StdStream::output), prompt, sizeof prompt - 1);
  FlushConsoleInputBuffer(input);
  wchar_t line[256];
  DWORD got = 0;
  ReadConsoleW(input, line, 256, &got, nullptr);
}

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
