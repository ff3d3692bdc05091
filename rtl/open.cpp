// Connection and release of units: settings, name resolution, devices, the platform open.
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "rtl/io.h"
#include "rtl/unit_io.h"

namespace rtl {
namespace {

using platform::OpenRefusal;

// A setting text upper-cased and trimmed of trailing blanks; false when it is longer than any value.
bool normalise(const char* text, std::size_t length, char (&out)[16], std::string_view* result) {
  while (length > 0 && text[length - 1] == ' ') --length;
  if (length >= sizeof out) return false;
  for (std::size_t i = 0; i < length; ++i) {
    char c = text[i];
    out[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  }
  *result = std::string_view(out, length);
  return true;
}

// Index of the setting's value in its list, -1 when it is not there.
template <std::size_t N>
int setting_index(const char* text, std::size_t length, const std::string_view (&values)[N]) {
  char buffer[16];
  std::string_view v;
  if (!normalise(text, length, buffer, &v)) return -1;
  for (std::size_t i = 0; i < N; ++i) {
    if (values[i] == v) return static_cast<int>(i);
  }
  return -1;
}

constexpr std::string_view kStatuses[] = {"OLD", "NEW", "SCRATCH", "UNKNOWN", "REPLACE"};
constexpr std::string_view kAccesses[] = {"SEQUENTIAL", "DIRECT", "APPEND", "KEYED"};
constexpr std::string_view kForms[] = {"FORMATTED", "UNFORMATTED", "BINARY"};
constexpr std::string_view kBlanks[] = {"ZERO", "NULL"};
constexpr std::string_view kShares[] = {"COMPAT", "DENYNONE", "DENYRD", "DENYRW", "DENYWR"};
enum Status { kOld, kNew, kScratch, kUnknown, kReplace };

enum class Device { none, console, standard_output, standard_input, standard_error, path };
struct DeviceName {
  std::string_view name;
  Device device;
  std::string_view opened_as;  // the device that the platform opens for it
  bool extension_allowed;
};
constexpr DeviceName kDevices[] = {
    {"CON", Device::console, {}, true},
    {"CONOUT$", Device::standard_output, {}, false},
    {"USER", Device::standard_output, {}, false},
    {"CONIN$", Device::standard_input, {}, false},
    {"ERR", Device::standard_error, {}, false},
    {"NUL", Device::path, "NUL", true},
    {"PRN", Device::path, "PRN", true},
    {"LPT1", Device::path, "LPT1", false},
    {"LPT2", Device::path, "LPT2", false},
    {"LPT3", Device::path, "LPT3", false},
    {"LPT4", Device::path, "LPT4", false},
    {"COM1", Device::path, "COM1", true},
    {"COM2", Device::path, "COM2", true},
    {"COM3", Device::path, "COM3", true},
    {"COM4", Device::path, "COM4", true},
    {"AUX", Device::path, "COM1", true},
    {"LINE", Device::path, "COM1", false},
};

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != b[i]) return false;
  }
  return true;
}

const DeviceName* device_for(std::string_view name) {
  // A name with a folder part is a file in that folder, whatever its last part spells.
  if (name.find_first_of("/\\") != std::string_view::npos) return nullptr;
  std::string_view stem = name;
  std::size_t dot = name.rfind('.');
  bool has_extension = dot != std::string_view::npos && dot + 1 < name.size();
  if (has_extension) stem = name.substr(0, dot);
  for (const DeviceName& d : kDevices) {
    if (equal_ignoring_case(name, d.name)) return &d;
    if (has_extension && d.extension_allowed && equal_ignoring_case(stem, d.name)) return &d;
  }
  return nullptr;
}

int failure_for(OpenRefusal r) {
  switch (r) {
    case OpenRefusal::none:
      return 0;
    case OpenRefusal::not_found:
      return 29;
    case OpenRefusal::too_many_files:
      return 30;
    case OpenRefusal::access_denied:
      return 9;
    case OpenRefusal::bad_device:
      return 42;
    case OpenRefusal::exists:
      return 10;
    case OpenRefusal::bad_name:
      return 43;
    case OpenRefusal::other:
      return 30;
  }
  return 30;
}

void set_name(Unit* unit, std::string_view name) {
  std::size_t n = name.size() < kMaxNameLength ? name.size() : kMaxNameLength;
  std::memcpy(unit->name, name.data(), n);
  unit->name[n] = '\0';
  unit->name_length = n;
  unit->has_name = true;
}

void reset_connection(Unit* unit) {
  unit->connected = false;
  unit->has_name = false;
  unit->name_length = 0;
  unit->handle = {};
  unit->standard_stream = false;
  unit->access = Access::sequential;
  unit->form = Form::formatted;
  unit->blank = Blank::null;
  unit->record_length = 0;
  unit->read_only = unit->disk = unit->truncate_on_next_write = false;
  unit->console_switch = unit->buffered = unit->open_on_first_use = false;
  unit->in = InputState{};
  unit->out = OutputState{};
}


// How the unit's input is read: a block at a time, or one byte at a time from a standard input that is
// not a terminal, so that no byte after a line is taken from a stream that others read too.
// Returns 0, or the system's error when it cannot tell whether the input is a disk file.
platform::SysError note_input_kind(Unit* unit) {
  const platform::Handle input = unit->input_handle();
  platform::SysError unknown_kind = 0;
  // The unit's own handle is already known; a disk file is never a terminal.
  unit->in.positionable = input == unit->handle && !unit->open_on_first_use
                              ? unit->disk
                              : platform::is_disk_file(input, &unknown_kind);
  unit->in.terminal = !unit->in.positionable && platform::is_terminal(input);
  unit->in.one_byte_reads = input == platform::standard_handle(platform::StdStream::input) && !unit->in.terminal;
  return unknown_kind;
}

// The connection itself, with the unit held. Returns 0 or a failure number; *tried receives the name
// that was tried, for the report.
int connect_held(Unit* unit, const ConnectRequest& req, char (&tried)[kMaxNameLength + 1],
                 std::size_t* tried_length) {
  *tried_length = 0;
  int status = kUnknown;
  if (req.status && (status = setting_index(req.status, req.status_length, kStatuses)) < 0) return 45;
  int access = 0;
  if (req.access && (access = setting_index(req.access, req.access_length, kAccesses)) < 0) return 45;
  int form = -1;
  if (req.form && (form = setting_index(req.form, req.form_length, kForms)) < 0) return 45;
  int blank = 1;
  if (req.blank && (blank = setting_index(req.blank, req.blank_length, kBlanks)) < 0) return 45;
  int share = -1;
  if (req.share && (share = setting_index(req.share, req.share_length, kShares)) < 0) return 45;
  // "DENYNONE" and "COMPAT" share reading and writing, "DENYRD" writing only, "DENYRW" nothing, "DENYWR"
  // reading only, and so does a connection that sends no sharing.
  const platform::Sharing sharing = share == 0 || share == 1 ? platform::Sharing::read_write
                                    : share == 2           ? platform::Sharing::write_only
                                    : share == 3           ? platform::Sharing::none
                                                           : platform::Sharing::read_only;
  // There is no read-only connection request, so no pair of these settings can contradict another.

  if (unit->connected) {
    // A unit connected again lets go of its old file first.
    int rc = release_held_unit(unit);
    if (rc != 0) return rc;
  }
  reset_connection(unit);
  unit->access = access == 1 ? Access::direct : access == 2 ? Access::append : access == 3 ? Access::keyed
                                                                                         : Access::sequential;
  if (form < 0) form = unit->access == Access::direct ? 1 : 0;
  unit->form = form == 0 ? Form::formatted : form == 1 ? Form::unformatted : Form::binary;
  unit->blank = blank == 0 ? Blank::zero : Blank::null;
  unit->record_length = req.has_record_length ? req.record_length : 0;

  // Name resolution.
  std::string_view name;
  char default_name[32];
  const Device* std_device = nullptr;
  static constexpr Device kConin = Device::standard_input, kConout = Device::standard_output,
                          kErr = Device::standard_error;
  if (req.name != nullptr) {
    name = std::string_view(req.name, req.name_length < kMaxNameLength ? req.name_length : kMaxNameLength);
  } else {
    char variable[32];
    std::snprintf(variable, sizeof variable, "RTL_UNIT%d", unit->number);
    if (!platform::get_env(variable, &name)) {
      if (unit->number == 5) {
        name = "CONIN$";
        std_device = &kConin;
      } else if (unit->number == 6) {
        name = "CONOUT$";
        std_device = &kConout;
      } else if (unit->number == 0) {
        name = "ERR";
        std_device = &kErr;
      } else {
        std::snprintf(default_name, sizeof default_name, "unit.%d", unit->number);
        name = default_name;
      }
    }
    if (name.size() > kMaxNameLength) name = name.substr(0, kMaxNameLength);
  }
  while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.remove_suffix(1);
  Device device = Device::none;
  const char* device_path = nullptr;
  if (std_device != nullptr) {
    device = *std_device;
  } else if (const DeviceName* d = device_for(name)) {
    device = d->device;
    if (d->device == Device::path) {
      device_path = platform::device_path(d->opened_as);
      // A device this machine does not have is refused like a missing file.
      if (device_path == nullptr) return 29;
    }
    if (d->extension_allowed && name.size() > d->name.size()) name = name.substr(0, d->name.size());
  }

  char resolved[kMaxNameLength + 2];
  if (device == Device::none && status != kScratch) {
    std::size_t n = platform::full_path(name, resolved, sizeof resolved);
    if (n > 0 && n < kMaxNameLength + 1) name = std::string_view(resolved, n);
  }
  if (!name.empty()) std::memcpy(tried, name.data(), name.size());
  tried[name.size()] = '\0';
  *tried_length = name.size();

  platform::OpenResult opened;
  if (status == kScratch) {
    char temp[kMaxNameLength + 1];
    opened = platform::open_scratch_file(temp, sizeof temp, sharing);
    if (opened.refusal == OpenRefusal::none) set_name(unit, temp);
  } else if (device == Device::console || device == Device::standard_output ||
             device == Device::standard_input || device == Device::standard_error) {
    platform::StdStream s = device == Device::standard_input    ? platform::StdStream::input
                            : device == Device::standard_error ? platform::StdStream::error
                                                               : platform::StdStream::output;
    opened.handle = platform::standard_handle(s);
    unit->standard_stream = true;
    unit->console_switch = device == Device::console;
    set_name(unit, name);
  } else {
    if (name.empty()) return 29;
    char path[kMaxNameLength + 1];
    const char* open_name = device_path;
    if (open_name == nullptr) {
      std::memcpy(path, name.data(), name.size());
      path[name.size()] = '\0';
      // Subtle: a NUL inside the name would cut it short on the way to the system; refuse it instead.
      if (std::memchr(path, '\0', name.size()) != nullptr) return 43;
      open_name = path;
    }
    // A device is opened as it is, never created: a missing one is refused like a missing file.
    platform::Creation creation = status == kOld || device_path != nullptr ? platform::Creation::open_existing
                                  : status == kNew                       ? platform::Creation::create_new
                                  : status == kReplace                   ? platform::Creation::replace
                                                                         : platform::Creation::open_or_create;
    opened = platform::open_file(open_name, creation, sharing);
    if (opened.refusal == OpenRefusal::none) set_name(unit, name);
  }
  if (opened.refusal != OpenRefusal::none) {
    int number = failure_for(opened.refusal);
    // Causes with a message of their own keep no system code; the rest keep it for the report.
    if (opened.refusal == OpenRefusal::other) unit->saved_error = opened.error;
    return number;
  }

  unit->handle = opened.handle;
  unit->read_only = opened.read_only;
  unit->open_on_first_use = opened.pipe;
  platform::SysError unknown_kind = 0;
  unit->disk = !opened.pipe && platform::is_disk_file(unit->handle, &unknown_kind);
  if (unknown_kind != 0) {
    // Not knowing what the file is decides nothing: whether it is cut, buffered or guarded depends on it.
    if (!unit->standard_stream) platform::close(unit->handle);
    unit->handle = platform::Handle{};
    unit->saved_error = unknown_kind;
    // A refused connection leaves nothing behind: a file that this request made goes again.
    if (status == kNew && unit->has_name) {
      char made[kMaxNameLength + 1];
      std::memcpy(made, unit->name, unit->name_length);
      made[unit->name_length] = '\0';
      platform::remove_file(made);
    }
    return static_cast<int>(Failure::open_failure);
  }
  unit->connected = true;
  arm_exit_handler();

  if (unit->form == Form::formatted) {
    std::string_view key = unit->file_name();
    if (device == Device::console || (device == Device::standard_input &&
                                      platform::is_terminal(platform::standard_handle(platform::StdStream::input)))) {
      key = "CONOUT$";
    }
    link_unit(unit, key);
  }
  if (unit->access == Access::append) {
    platform::seek_end(unit->handle);
  } else if (unit->disk && !unit->standard_stream) {
    platform::seek(unit->handle, 0);
    // A file that is written loses its old contents from the first record on; one that is only read
    // keeps them.
    // (A file just made has none.)
    if (unit->access == Access::sequential && status != kNew) unit->truncate_on_next_write = true;
  }
  std::string_view buffered;
  if (unit->disk && !unit->standard_stream && unit->access != Access::direct &&
      platform::get_env("RTL_BUFFERED", &buffered)) {
    unit->buffered = switch_on("RTL_BUFFERED");
  }
  if (!opened.pipe) {
    if (platform::SysError e = note_input_kind(unit)) {
      unit->saved_error = e;
      return static_cast<int>(Failure::open_failure);
    }
  }
  return 0;
}

// Opens a pipe named as a file for the direction of its first transfer. Returns 0 or a failure number.
int open_pipe_for(Unit* unit, Direction direction) {
  char path[kMaxNameLength + 1];
  std::memcpy(path, unit->name, unit->name_length + 1);
  platform::OpenResult opened = platform::open_pipe(path, direction == Direction::write);
  if (opened.refusal != OpenRefusal::none) {
    if (opened.refusal == OpenRefusal::other) unit->saved_error = opened.error;
    return failure_for(opened.refusal);
  }
  unit->handle = opened.handle;
  unit->open_on_first_use = false;
  if (platform::SysError e = note_input_kind(unit)) {
    unit->saved_error = e;
    return static_cast<int>(Failure::open_failure);
  }
  return 0;
}

}  // namespace

int connect(std::int32_t number, const ConnectRequest& request) {
  UnitLookup why;
  Unit* unit = find_unit(number, true, &why);
  Handlers handlers{false, request.return_errors};
  if (unit == nullptr) {
    Failure f = why == UnitLookup::no_memory ? Failure::no_memory : Failure::bad_unit_number;
    return fail(condition_code(f), nullptr, number, {}, handlers, Disposal::leave, static_cast<int>(f));
  }
  if (!hold_unit(unit)) {
    return fail(condition_code(Failure::unit_busy), nullptr, number, unit->file_name(), handlers,
                Disposal::leave, 40);
  }
  char tried[kMaxNameLength + 1];
  std::size_t tried_length = 0;
  int rc = connect_held(unit, request, tried, &tried_length);
  if (rc == 0) {
    free_unit(unit);
    return 0;
  }
  if (unit->connected) release_held_unit(unit);
  return fail(condition_code(static_cast<Failure>(rc)), unit, number, std::string_view(tried, tried_length),
              handlers, Disposal::discard, rc);
}

Unit* begin_statement(std::int32_t number, Direction direction, Handlers handlers, int* outcome) {
  UnitLookup why;
  Unit* unit = find_unit(number, true, &why);
  if (unit == nullptr) {
    Failure f = why == UnitLookup::no_memory ? Failure::no_memory : Failure::bad_unit_number;
    *outcome = fail(condition_code(f), nullptr, number, {}, handlers, Disposal::leave, static_cast<int>(f));
    return nullptr;
  }
  if (!hold_unit(unit)) {
    *outcome = fail(condition_code(Failure::unit_busy), nullptr, number, unit->file_name(), handlers,
                    Disposal::leave, 40);
    return nullptr;
  }
  if (unit->connected) {
    if (!unit->open_on_first_use) return unit;
    int rc = open_pipe_for(unit, direction);
    if (rc == 0) return unit;
    *outcome = fail(condition_code(static_cast<Failure>(rc)), unit, number, unit->file_name(), handlers,
                    Disposal::end_hold, rc);
    return nullptr;
  }
  // The default connection: formatted, sequential, the unit's default name.
  static const char kUnknown[] = "UNKNOWN", kOld[] = "OLD";
  ConnectRequest req;
  req.status = direction == Direction::write ? kUnknown : kOld;
  req.status_length = std::strlen(req.status);
  char tried[kMaxNameLength + 1];
  std::size_t tried_length = 0;
  int rc = connect_held(unit, req, tried, &tried_length);
  if (rc == 0) return unit;
  if (unit->connected) release_held_unit(unit);
  *outcome = fail(condition_code(static_cast<Failure>(rc)), unit, number,
                  std::string_view(tried, tried_length), handlers, Disposal::discard, rc);
  return nullptr;
}

int release_held_unit(Unit* unit) {
  if (!unit->connected) return 0;
  unlink_unit(unit);
  int result = 0;
  if (!unit->standard_stream && unit->handle.valid()) {
    if (platform::SysError e = flush_block(unit)) {
      unit->saved_error = e;
      result = 38;
    }
    if (platform::SysError e = platform::close(unit->handle)) {
      if (result == 0) {
        unit->saved_error = e;
        result = 28;
      }
    }
  } else if (platform::SysError e = flush_block(unit)) {
    unit->saved_error = e;
    result = 38;
  }
  char name[kMaxNameLength + 1];
  std::memcpy(name, unit->name, unit->name_length + 1);
  std::size_t name_length = unit->name_length;
  bool had_name = unit->has_name;
  reset_connection(unit);
  if (result != 0 && had_name) {
    // Keep the name for the report of the failure.
    std::memcpy(unit->name, name, name_length + 1);
    unit->name_length = name_length;
    unit->has_name = true;
  }
  return result;
}

int release(std::int32_t number, bool return_errors) {
  Unit* unit = find_unit(number, false);
  if (unit == nullptr || !unit->connected) return 0;
  if (!hold_unit(unit)) {
    return fail(condition_code(Failure::unit_busy), nullptr, number, unit->file_name(),
                Handlers{false, return_errors}, Disposal::leave, 40);
  }
  int rc = release_held_unit(unit);
  if (rc == 0) {
    free_unit(unit);
    return 0;
  }
  return fail(condition_code(static_cast<Failure>(rc)), unit, number, unit->file_name(),
              Handlers{false, return_errors}, Disposal::end_hold, rc);
}

bool connected_read_only(std::int32_t number) {
  Unit* unit = find_unit(number, false);
  return unit != nullptr && unit->connected && unit->read_only;
}

bool on_disk_file(std::int32_t number) {
  Unit* unit = find_unit(number, false);
  return unit != nullptr && unit->connected && unit->disk;
}

std::int64_t input_file_size(std::int32_t number) {
  Unit* unit = find_unit(number, false);
  if (unit == nullptr || !unit->connected || !unit->in.positionable) return -1;
  return platform::file_size(unit->input_handle());
}

void write_in_blocks(std::int32_t number) {
  Unit* unit = find_unit(number, false);
  if (unit != nullptr && unit->connected && unit->access != Access::direct) unit->buffered = true;
}

bool writes_file_read_by(std::int32_t writer, std::int32_t reader) {
  Unit* w = find_unit(writer, false);
  Unit* r = find_unit(reader, false);
  if (w == nullptr || r == nullptr || !w->connected || !r->connected || w->open_on_first_use ||
      r->open_on_first_use || !w->disk || !r->in.positionable) {
    return false;
  }
  platform::FileIdentity written = platform::identity(w->handle);
  platform::FileIdentity read = platform::identity(r->input_handle());
  return written.known && read.known && written == read;
}

}  // namespace rtl
