// The record layer's only door to the operating system. Nothing here shows an OS type: a handle is an
// opaque number, a system error is the platform's own code, and every call states its outcome as a value.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rtl::platform {

// The longest name, in bytes, that the door takes or gives.
inline constexpr std::size_t kLongestPath = 4096;

// Folders in a name end at a slash on every system; by Windows' rules at a backslash, the separator it
// writes, or a drive's colon too. Names checked against every system's rules take Windows' ones.
inline constexpr char kFolderSeparator = '/';
inline constexpr char kWindowsFolderSeparator = '\\';
// Where the last part of a name begins: one past its folders' last separator, 0 when it has none.
constexpr std::size_t leaf_start(std::string_view name, bool windows_rules) {
  const std::size_t at = name.find_last_of(windows_rules ? std::string_view("/\\:") : std::string_view("/"));
  return at == std::string_view::npos ? 0 : at + 1;
}

struct Handle {
  std::intptr_t value = -1;
  constexpr bool valid() const { return value >= 0; }
  friend constexpr bool operator==(Handle, Handle) = default;
};

enum class StdStream { input, output, error };
Handle standard_handle(StdStream stream);
// Keeps the three standard handles from being reused by files opened later: a closed one is filled
// with a placeholder that refuses every transfer.
void reserve_standard_handles();

// The platform's error code (errno on POSIX, the system's last-error code on Windows); 0 means none.
using SysError = std::uint32_t;

enum class ReadStatus { ok, end_of_data, aborted, failed };
struct ReadResult {
  std::size_t bytes = 0;
  ReadStatus status = ReadStatus::ok;
  SysError error = 0;
};
// One read of at most `size` bytes, retried when interrupted before any byte arrived.
ReadResult read(Handle h, void* buffer, std::size_t size);

// Writes every byte, looping over short writes and interruptions. Returns 0 or the error that stopped it;
// *written, when given, receives how many bytes did go out.
SysError write_all(Handle h, const void* data, std::size_t size, std::size_t* written = nullptr);

// Why an open was refused, in the record layer's terms.
enum class OpenRefusal {
  none,
  not_found,
  too_many_files,
  access_denied,
  bad_device,
  exists,
  bad_name,
  other
};
// read_existing opens an existing file for reading only: a file that is only read is never opened to write.
enum class Creation { open_existing, create_new, open_or_create, replace, read_existing };
struct OpenResult {
  Handle handle;
  OpenRefusal refusal = OpenRefusal::none;
  SysError error = 0;
  bool read_only = false;
  // The name is a pipe: nothing is open yet. Opening it for both directions would make the program the
  // other end of its own pipe, so it is opened with open_pipe() for the direction of its first use.
  bool pipe = false;
};
// Who else may use a file while it is open: the share setting of a connection. `every` lets others
// remove it too, as the command's own temporary files must allow on every handle.
enum class Sharing { read_write, read_only, write_only, none, every };
// Opens for reading and writing; after a refusal for lack of access, tries again for reading only. When
// that fails too, the first refusal is the one that stands. Never creates a file for creation
// open_existing (devices are opened so).
OpenResult open_file(const char* name, Creation creation, Sharing sharing);
// The platform's code for a name longer than kLongestPath, which no call is given.
SysError name_too_long_error();
OpenResult open_pipe(const char* name, bool for_writing);
// A new file in the temporary directory that disappears when closed; its name is written to `name`.
OpenResult open_scratch_file(char* name, std::size_t capacity, Sharing sharing);

// The device words of the record layer, in one table with the devices they open on each system.
enum class DeviceKind { console, standard_output, standard_input, standard_error, path };
struct DeviceName {
  std::string_view name;
  DeviceKind kind;
  std::string_view opened_as;  // the device that a path kind opens
  bool extension_allowed;      // "NUL.TXT" is NUL too
};
// The device a name without a folder part stands for, or nullptr when it names a file.
const DeviceName* device_for(std::string_view name);
// The name under which this system opens a device ("NUL", "PRN", "LPT1" to "LPT4", "COM1" to "COM4"), or
// nullptr when it has none by that name.
const char* device_path(std::string_view device);

// Whether Windows keeps the last part of the name, before any extension, for one of its devices (CON,
// PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9): a file of that name is one its own tools cannot open.
bool reserved_device_name(std::string_view name);

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool known = false;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
FileIdentity identity(Handle h);

// Whether the handle is a disk file. When the system cannot tell, the answer is false and *error, when
// given, receives the system's error (else it is set to 0).
bool is_disk_file(Handle h, SysError* error = nullptr);
bool is_terminal(Handle h);
// Whether a terminal has been hung up (its other side closed), so that a hang-up event is on its way.
bool terminal_hung_up(Handle h);
// Current position; -1 when the handle cannot be positioned.
std::int64_t position(Handle h);
bool seek(Handle h, std::int64_t offset);
bool seek_end(Handle h);
SysError truncate_here(Handle h, std::int64_t length);
SysError close(Handle h);

// Points standard error at the end of the named file; false, with standard error untouched, when the
// file cannot be opened.
bool redirect_standard_error(const char* path);
// Appends bytes to the named file, creating it; false when it cannot be opened or written.
bool append_to_file(const char* path, const void* data, std::size_t size);

// Whole files by name, for a program that writes a file under another name first.
// Gives `from` the name `to` in one step, replacing a file of that name: `to` is then the old file or the
// whole new one. On Windows the replaced file's attributes, security, creation time and streams stay.
SysError rename_file(const char* from, const char* to);
// Makes `copy` hold what `original` holds now, never replacing a file named `copy`: then the error is
// the platform's code for an existing file, which file_exists_error() tells.
SysError keep_copy(const char* original, const char* copy);
bool file_exists_error(SysError error);
SysError remove_file(const char* name);
// Gives `copy` the permissions (and, where allowed, the owner) of `original`, so that a file replaced by
// another is readable by the same people as before. 0 when `original` does not exist.
SysError copy_permissions(const char* original, const char* copy);
// What a name given to be repaired in place is: missing, a regular file, or anything else (a folder, a
// pipe, a device). *target receives the file that the name leads to, links followed (the name itself
// where it is no link); capacity of at least 4097. A symbolic link that leads to no file is no missing
// name: it is the user's own, which a file made under its name would take away.
enum class NameKind { missing, regular_file, folder, other, dangling_link };
NameKind name_kind(const char* name, char* target, std::size_t capacity, SysError* error);
// Whether a name given as a file is the system's name for one of its devices ("NUL", "CON", "COM1", ...
// on Windows, with or without an extension); no name is, on a system that names devices by their path.
bool device_name(const char* name);
// Whether the file may be written by this user. Where it may not for another cause than its permissions
// (a read-only file system), *refusal receives the system's error; else 0.
bool writable_file(const char* name, SysError* refusal = nullptr);
// What is known of a file by its name, links followed: which file it is, how many names it has, and its
// size and times, which tell whether it changed. False when it cannot be learnt.
struct FileFacts {
  std::uint64_t device = 0, index = 0;
  std::uint64_t links = 0;
  std::int64_t size = 0, modified = 0, changed = 0;  // times in the system's own units
  bool regular_file = false;
  bool same_file(const FileFacts& other) const { return device == other.device && index == other.index; }
  bool same_state(const FileFacts& other) const {
    return same_file(other) && size == other.size && modified == other.modified && changed == other.changed;
  }
};
bool file_facts(const char* name, FileFacts* facts);
// Whether two files hold the same bytes; false when either cannot be read.
bool same_contents(const char* a, const char* b);
// Files made from now on get no permission that `original` does not have (nullptr: as before).
void restrict_new_files_to(const char* original);
// How many threads run at once on this machine; at least 1.
int processor_count();
// How much a read or a write asks of the system at once, wherever a file is read or written in blocks:
// a system call costs as much as repairing some hundred lines, and the blocks of two parts, in and out,
// still fit in a processor's own cache.
inline constexpr std::size_t kTransferBlock = 256 * 1024;
// The size from which one file is repaired in parts: `normal`, but in the test build of the door, where
// QUIL_FAULT_PARTS_FROM may lower it, so that a sweep reaches the parts with small files.
std::int64_t smallest_file_in_parts(std::int64_t normal);

// The size of a disk file in bytes; -1 when it is not a disk file or cannot be learnt.
std::int64_t file_size(Handle h);
// Whether `name` matches `pattern` with its wildcards * and ? (letters without regard to case), as a
// user of Windows expects of a long name. QUIL's own backups (NAME.orig, NAME.orig.N) and temporary
// files (NAME.quil-N.tmp, quil-N.tmp) never match a pattern.
bool wildcard_match(std::string_view pattern, std::string_view name);

// The names that a name with the wildcards * and ? stands for, in the system's order, each handed to
// `take`; a platform whose shell expands them itself, or a name without any, hands on the name as it is.
// Returns how many names were handed on: 0 when a pattern matches no file.
int expand_wildcards(const char* pattern, void (*take)(const char* name, void* context), void* context);

// The absolute form of `name` in `out`; returns its length, or 0 when it cannot be made or would not fit.
std::size_t full_path(std::string_view name, char* out, std::size_t capacity);

// Whether the error says that the reader of a pipe has gone, and the run is to end as such a write ends a
// command here (not where the program was started with that signal ignored: then it is a write error).
bool broken_pipe_error(SysError error);
// Whether the error is that of a standard stream the program was started without (closed).
bool closed_stream_error(SysError error);
// Ends the process as a write to a pipe without a reader ends a command here: quietly.
[[noreturn]] void end_by_broken_pipe();

// Whether this system's text lines end with LF alone (else CR LF).
bool lines_end_with_lf();

// Replaces the program's arguments by their UTF-8 form where the system hands them over in another.
void utf8_arguments(int* argc, char*** argv);

// An environment variable's value, held by the caller (UTF-8, at most 4,096 bytes).
struct EnvValue {
  char text[4097];
  std::size_t length = 0;
  std::string_view view() const { return {text, length}; }
};
// An environment variable, its name matched without regard to case; the first match wins. False when
// it is not set, or its value is longer than an EnvValue holds.
bool get_env(std::string_view name, EnvValue* value);

// The platform's text for an error code, ending with a line end; returns its length, 0 if there is none.
std::size_t system_error_text(SysError code, char* out, std::size_t capacity);
// Whether the error says that another program holds the file open (never on POSIX systems, whose locks
// are advisory).
bool held_by_another_program(SysError code);
SysError last_error();

void yield();
void sleep_milliseconds(unsigned milliseconds);

// A write to a pipe whose reader has gone, or beyond the file-size limit, comes back as an error of the
// write instead of ending the process.
void keep_write_failures_as_errors();

[[noreturn]] void exit_process(int status);
// Started from the Explorer, the program has a console window of its own, which closes with it: before
// the end, while the report or the summary can still be read, it waits for Enter. Never for a console
// event, nor where another program shares the console (a console window, a script) or input is redirected.
void hold_own_window_before_the_end(bool console_event, int status);
bool window_waits_for_enter(unsigned programs_on_console, bool input_is_console, bool console_event);
// What the waiting window shows, in `out`: a failed run's status as a batch file's errorlevel sees it, so
// that a window opened from the Explorer tells it too, then how to close the window. Returns its length.
std::size_t held_window_text(int status, char* out, std::size_t capacity);
// Whether the program has a console window of its own (started from the Explorer or by a drop).
bool alone_on_own_console();
// Whether an argument of the form /? asks for help, as on Windows.
bool slash_options();
// Whether the named existing file can be replaced now (no other program holds it); 0 or the error.
SysError replaceable(const char* name);
[[noreturn]] void abnormal_termination();

// Stack walking for tracebacks: return addresses, innermost first, beginning with the one inside the
// routine that called capture_stack; -1 when the walker failed.
int capture_stack(void** frames, int max_frames);
// The address of the instruction that raised the processor exception being handled, or nullptr.
void* exception_address();
// The registers saved with the processor exception being handled, one "NAME = value" line each; returns
// the length written, 0 when there is no exception.
std::size_t exception_registers(char* out, std::size_t capacity);
struct FrameModule {
  char name[64];
  std::uintptr_t offset;  // the address relative to the module's load address
  bool known;
};
FrameModule frame_module(void* address);

bool debugger_attached();
void break_into_debugger();

// The system's own error boxes (critical errors, faults, files that cannot be opened) are not shown;
// its errors come back to the program instead.
void suppress_error_boxes();

// Floating-point environment: round to nearest, all exceptions masked, flags cleared.
void set_floating_point_environment();

// Console control events: 0 control-C, 1 control-BREAK, 2 window-CLOSE. Must be called before any other
// thread starts. `on_arrival` runs the moment an event arrives, where only async-signal-safe work is
// allowed; when it returns true, `handler` then runs on a thread of its own. False when it cannot be
// arranged.
bool install_console_event_handler(void (*handler)(int event), bool (*on_arrival)(int event));
// From now on termination (SIGTERM) is an event too (number 3), and an event whose signal the parent
// ignored stays ignored: for a program run from scripts, which ends by the event's own signal.
void catch_termination();
// Ends the process as the event's own signal would have ended it (the shell then stops its loop).
[[noreturn]] void end_by_console_event(int event);
// Whether a console event has come or comes within the given time: the system may end a read on a
// closed terminal before it delivers the hang-up.
bool console_event_arriving(unsigned wait_milliseconds);
// A thread parked for the end takes console events too: one that waits for this thread alone (sent to
// it) reaches the handler. `in` false: as before, the thread leaves them to the event thread.
void let_console_events_in(bool in = true);

// Processor exceptions: the handler gets the exception's kind and the platform's code for it (a signal
// number, an exception code). It either ends the process or asks for the exception to be given back to
// the platform's own handling, which then ends the process its own way (or hands it to a debugger).
enum class ExceptionKind { access_violation, stack_overflow, other };
enum class ExceptionOutcome { pass_on, handled };
using ExceptionHandler = ExceptionOutcome (*)(ExceptionKind kind, std::uint32_t code);
bool install_exception_handler(ExceptionHandler handler);
[[noreturn]] void raise_debug_exception();

// Who runs: a small number for the calling thread, never 0.
namespace detail {
inline std::atomic<std::uint32_t> g_next_thread_token{1};
// Subtle: zero until the thread's first question, not a variable initialized on first use, whose guard
// would be a second thread-local variable to find at each of the two statements of every line (a call
// each where the compiler emulates them, as MinGW's does).
inline thread_local std::uint32_t t_thread_token = 0;
}  // namespace detail
inline std::uint32_t thread_token() {
  if (detail::t_thread_token == 0) [[unlikely]]
    detail::t_thread_token = detail::g_next_thread_token.fetch_add(1);
  return detail::t_thread_token;
}

// Test seam: replaces the raw system read and write calls. The function returns the byte count or -1
// with *error set. Passing nullptr restores the real calls, which a seam may also call itself.
using RawWrite = std::int64_t (*)(std::intptr_t handle, const void* data, std::size_t size, int* error);
using RawRead = std::int64_t (*)(std::intptr_t handle, void* data, std::size_t size, int* error);
void set_raw_write(RawWrite fn);
void set_raw_read(RawRead fn);
std::int64_t real_raw_write(std::intptr_t handle, const void* data, std::size_t size, int* error);
std::int64_t real_raw_read(std::intptr_t handle, void* data, std::size_t size, int* error);
// Error codes a test seam may hand back, in the platform's numbering.
int interrupted_code();
int no_space_code();
int io_error_code();

}  // namespace rtl::platform
