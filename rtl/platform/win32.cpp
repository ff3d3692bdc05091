// The platform door on Windows, through the kernel's own services.
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
#include <memory>
#include <new>
#include <string>

#include "rtl/platform/backend.h"
#include "rtl/platform/door_faults.h"
#include "rtl/platform/platform.h"
#include "rtl/platform/win32_text.h"

namespace rtl::platform {

namespace win32 {

HANDLE os(Handle h) { return reinterpret_cast<HANDLE>(h.value); }
Handle ours(HANDLE h) { return Handle{reinterpret_cast<std::intptr_t>(h)}; }

}  // namespace win32

namespace {

// A code outside the system's own numbering that the test seam hands back for an interrupted call, which
// the system itself never reports: the transfer is simply tried again.
constexpr int kInterrupted = 0x20000001;

}  // namespace

using namespace win32;

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
    case Sharing::every:
      return FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
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
// Errors of a file that another program holds open, which it may let go of in a moment.
bool held_for_a_moment(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Calls `attempt` (0 or the system's error) until it succeeds, fails otherwise than `held` says, or the
// wait for a held file runs out; returns its last answer.
template <typename Attempt, typename Held>
DWORD while_held(Attempt attempt, Held held) {
  const unsigned limit = held_wait_limit();
  for (unsigned waited = 0;; waited += 50) {
    const DWORD error = attempt();
    if (error == 0 || !held(error)) return error;
    if (waited >= limit) {
      held_wait_failed(waited);
      return error;
    }
    Sleep(50);
  }
}
}  // namespace

bool held_by_another_program(SysError code) { return held_for_a_moment(code); }

bool read_only_may_succeed(SysError error) {
  // A file that another program holds open, letting others only read it, can still be read.
  return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT || error == ERROR_SHARING_VIOLATION;
}

OpenResult open_once(const char* name, Creation creation, Sharing sharing) {
  if (door_fails(Door::open)) return refused(injected_error(Door::open));
  std::wstring system;
  if (!system_name(name, &system)) return refused(ERROR_INVALID_NAME);
  // Windows' own tools cannot open or delete a file named for one of its devices: never make one.
  if (!starts_with(system, L"\\\\.\\") && reserved_device_name(name)) return refused(ERROR_FILE_NOT_FOUND);
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
  // A file this program makes new may go while it is still open, as a POSIX system allows: a command
  // ended by an event removes its unfinished file before the handle closes with the process.
  const DWORD share = share_mode(sharing) | (creation == Creation::create_new ? FILE_SHARE_DELETE : 0);
  OpenResult result;
  const bool reading = creation == Creation::read_existing;
  result.read_only = reading;
  HANDLE h = INVALID_HANDLE_VALUE;
  // A virus scanner or a preview pane may hold the file for a moment: tried again, as a rename is.
  const DWORD error = while_held(
      [&]() -> DWORD {
        h = CreateFileW(system.c_str(), reading ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE, share, nullptr,
                        disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        return h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
      },
      held_for_a_moment);
  if (error != 0) return refused(error);
  if (creation == Creation::replace && GetFileType(h) == FILE_TYPE_DISK) {
    SetEndOfFile(h);
  }
  result.handle = ours(h);
  return result;
}

// Named pipes have a server and clients here: a client is never the other end of its own pipe.
OpenResult open_pipe(const char* name, bool for_writing) {
  if (door_fails(Door::open)) return refused(injected_error(Door::open));
  std::wstring wide;
  if (!to_wide(name, &wide)) return refused(ERROR_INVALID_NAME);
  HANDLE h =
      CreateFileW(wide.c_str(), for_writing ? GENERIC_WRITE : GENERIC_READ,
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
DeviceNotation device_notation() { return DeviceNotation::windows; }

FileIdentity identity(Handle h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (door_fails(Door::stat) || GetFileType(os(h)) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(os(h), &info))
    return {};
  return {info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, true};
}

bool is_disk_file(Handle h, SysError* error) {
  if (door_fails(Door::stat)) {
    if (error != nullptr) *error = injected_error(Door::stat);
    return false;
  }
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
  return !door_fails(Door::seek) && SetFilePointerEx(os(h), to, nullptr, FILE_BEGIN) != 0;
}

bool seek_end(Handle h) {
  LARGE_INTEGER zero{};
  return !door_fails(Door::seek) && SetFilePointerEx(os(h), zero, nullptr, FILE_END) != 0;
}

SysError truncate_here(Handle h, std::int64_t length) {
  if (door_fails(Door::truncate)) return injected_error(Door::truncate);
  if (!seek(h, length) || !SetEndOfFile(os(h))) return GetLastError();
  return 0;
}

SysError close(Handle h) {
  const bool fails = door_fails(Door::close);
  // When it fails, the handle is gone all the same, as the system does it.
  if (!CloseHandle(os(h))) return GetLastError();
  return fails ? injected_error(Door::close) : 0;
}

bool redirect_standard_error(const char* path) {
  std::wstring name;
  if (!system_name(path, &name)) return false;
  HANDLE h = CreateFileW(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  return SetStdHandle(STD_ERROR_HANDLE, h) != 0;
}

bool append_to_file(const char* path, const void* data, std::size_t size) {
  std::wstring name;
  if (!system_name(path, &name)) return false;
  HANDLE h = CreateFileW(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = write_all(ours(h), data, size) == 0;
  CloseHandle(h);
  return ok;
}

namespace {
// Puts `from` in the place of an existing `to` as Windows programs replace a file: the file keeps its
// attributes, security, creation time and streams, and is the original or the whole replacement.
BOOL replace_keeping_attributes(const wchar_t* from, const wchar_t* to) {
  const DWORD attributes = GetFileAttributesW(to);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  if (!ReplaceFileW(to, from, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                    nullptr, nullptr)) {
    return FALSE;
  }
  // Where the file system keeps no attributes of its own with the file, they are given back here.
  if (GetFileAttributesW(to) != attributes) SetFileAttributesW(to, attributes);
  return TRUE;
}
}  // namespace

SysError rename_file(const char* from, const char* to) {
  std::wstring a, b;
  if (!system_name(from, &a) || !system_name(to, &b)) return ERROR_INVALID_NAME;
  // A virus scanner or an indexer may hold the new file for a moment: tried again.
  return while_held(
      [&]() -> DWORD {
        const bool fails = door_fails(Door::rename);
        if (fails && failed_rename_removes_target()) DeleteFileW(b.c_str());
        if (!fails && replace_keeping_attributes(a.c_str(), b.c_str())) return 0;
        return fails ? injected_error(Door::rename) : GetLastError();
      },
      [](DWORD error) {
        return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
               error == ERROR_UNABLE_TO_REMOVE_REPLACED;
      });
}

SysError replaceable(const char* name) {
  std::wstring system;
  if (!system_name(name, &system)) return ERROR_INVALID_NAME;
  // Opened as a replacement opens it: for writing and deleting, sharing everything; a file held for a
  // moment is waited for, as an open waits.
  return while_held(
      [&]() -> DWORD {
        HANDLE h = CreateFileW(system.c_str(), GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return GetLastError();
        CloseHandle(h);
        return 0;
      },
      held_for_a_moment);
}

bool slash_options() { return true; }

bool device_name(const char* name) { return reserved_device_name(name); }

SysError keep_copy(const char* original, const char* copy) {
  std::wstring a, b;
  if (!system_name(original, &a) || !system_name(copy, &b)) return ERROR_INVALID_NAME;
  if (door_fails(Door::copy)) return injected_error(Door::copy);
  return CopyFileW(a.c_str(), b.c_str(), TRUE) ? 0 : GetLastError();
}

bool file_exists_error(SysError error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }
SysError name_too_long_error() { return ERROR_FILENAME_EXCED_RANGE; }

// The replacement itself carries the replaced file's security and attributes over (rename_file).
SysError copy_permissions(const char*, const char*) { return 0; }

NameKind name_kind(const char* name, char* target, std::size_t capacity, SysError* error) {
  *error = 0;
  std::wstring system;
  if (!system_name(name, &system)) {
    *error = ERROR_INVALID_NAME;
    return NameKind::other;
  }
  const DWORD attributes = GetFileAttributesW(system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = GetLastError();
    return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? NameKind::missing
                                                                            : NameKind::other;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return NameKind::folder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return NameKind::other;
  const std::size_t n = std::strlen(name);
  if (n >= capacity) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return NameKind::other;
  }
  std::memcpy(target, name, n + 1);
  return NameKind::regular_file;
}

bool writable_file(const char* name, SysError* refusal) {
  if (refusal != nullptr) *refusal = 0;
  std::wstring system;
  if (!system_name(name, &system)) return false;
  const DWORD attributes = GetFileAttributesW(system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES && refusal != nullptr) *refusal = GetLastError();
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

// A new file here takes its folder's permissions.
void restrict_new_files_to(const char*) {}

SysError remove_file(const char* name) {
  std::wstring wide;
  if (!system_name(name, &wide)) return ERROR_INVALID_NAME;
  if (door_fails(Door::remove)) return injected_error(Door::remove);
  return DeleteFileW(wide.c_str()) ? 0 : GetLastError();
}

std::int64_t file_size(Handle h) {
  LARGE_INTEGER size;
  if (door_fails(Door::stat) || GetFileType(os(h)) != FILE_TYPE_DISK || !GetFileSizeEx(os(h), &size))
    return -1;
  return size.QuadPart;
}

// The console does not expand wildcards as a POSIX shell does; the program does it for its names.

std::size_t full_path(std::string_view name, char* out, std::size_t capacity) {
  std::wstring wide;
  if (name.empty() || !to_wide(name, &wide)) return 0;
  const std::wstring full = full_wide_path(wide);
  return to_utf8(full.data(), full.size(), out, capacity);
}

bool lines_end_with_lf() { return false; }

bool broken_pipe_error(SysError error) { return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA; }
bool closed_stream_error(SysError error) { return error == ERROR_INVALID_HANDLE; }

// A console program whose reader has gone ends with the write failure's number, without a word.
void end_by_broken_pipe() { ExitProcess(38); }

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
