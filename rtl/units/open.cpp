// Connection and release of units: settings, name resolution, devices, the platform open.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "rtl/run/options.h"
#include "rtl/units/connect_settings.h"
#include "rtl/units/connection.h"
#include "rtl/units/unit_io.h"
#include "rtl/units/unit_numbers.h"

namespace rtl {
namespace {

using platform::OpenRefusal;

std::atomic<bool> g_standard_input_in_blocks{false};
// Each thread's own: threads that connect files side by side each report their own file's error.
thread_local platform::SysError g_refusal_error = 0;

int failure_for(OpenRefusal r) {
  switch (r) {
    case OpenRefusal::none:
      return 0;
    case OpenRefusal::not_found:
      return static_cast<int>(Failure::file_not_found);
    case OpenRefusal::too_many_files:
      return static_cast<int>(Failure::open_failure);
    case OpenRefusal::access_denied:
      return static_cast<int>(Failure::access_denied);
    case OpenRefusal::bad_device:
      return static_cast<int>(Failure::no_such_device);
    case OpenRefusal::exists:
      return static_cast<int>(Failure::file_exists);
    case OpenRefusal::bad_name:
      return static_cast<int>(Failure::bad_file_name);
    case OpenRefusal::other:
      return static_cast<int>(Failure::open_failure);
  }
  return static_cast<int>(Failure::open_failure);
}

void set_name(Unit* unit, std::string_view name) {
  std::size_t n = name.size() < kLongestPath ? name.size() : kLongestPath;
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
  unit->in.one_byte_reads = input == platform::standard_handle(platform::StdStream::input) &&
                            !unit->in.terminal && !g_standard_input_in_blocks.load();
  return unknown_kind;
}

// Where a connection leads, once its name is resolved.
enum class TargetKind { standard_stream, device, disk_path, scratch };
struct Target {
  TargetKind kind = TargetKind::disk_path;
  platform::StdStream stream = platform::StdStream::output;
  bool console = false;  // the device CON reads the standard input and writes the standard output
  const char* device_path = nullptr;
  std::string_view name;  // the unit's name, and the one a report shows
  char full[kLongestPath + 2];
  char default_name[32];
  platform::EnvValue variable;  // RTL_UNITn
};

std::size_t characters(std::string_view utf8) {
  std::size_t n = 0;
  for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// The name a connection without one takes: RTL_UNITn, else the unit's own default.
std::string_view default_name(const Unit& unit, Target* t) {
  char variable[32];
  std::snprintf(variable, sizeof variable, "RTL_UNIT%d", unit.number);
  if (platform::get_env(variable, &t->variable)) return t->variable.view().substr(0, kMaxNameLength);
  struct Standard {
    std::int32_t unit;
    const char* name;
    platform::StdStream stream;
  };
  static constexpr Standard kStandard[] = {{kConsoleInput, "CONIN$", platform::StdStream::input},
                                           {kConsoleOutput, "CONOUT$", platform::StdStream::output},
                                           {kErrorUnit, "ERR", platform::StdStream::error}};
  for (const Standard& s : kStandard) {
    if (unit.number == s.unit) {
      t->kind = TargetKind::standard_stream;
      t->stream = s.stream;
      return s.name;
    }
  }
  std::snprintf(t->default_name, sizeof t->default_name, "unit.%d", unit.number);
  return t->default_name;
}

// A name that stands for a device: the target becomes that device. Returns 0 or the failure number.
int resolve_device(const platform::DeviceName& d, std::string_view* name, Target* t) {
  if (d.kind == platform::DeviceKind::path) {
    t->kind = TargetKind::device;
    t->device_path = platform::device_path(d.opened_as);
    // A device this machine does not have is refused like a missing file.
    if (t->device_path == nullptr) return static_cast<int>(Failure::file_not_found);
  } else {
    t->kind = TargetKind::standard_stream;
    t->console = d.kind == platform::DeviceKind::console;
    t->stream = d.kind == platform::DeviceKind::standard_input   ? platform::StdStream::input
                : d.kind == platform::DeviceKind::standard_error ? platform::StdStream::error
                                                                 : platform::StdStream::output;
  }
  if (d.extension_allowed && name->size() > d.name.size()) *name = name->substr(0, d.name.size());
  return 0;
}

// Decides what the connection opens: a standard stream, a device, a disk path or a scratch file.
// Returns 0 or the failure number.
int resolve_target(const Unit& unit, const ConnectSettings& settings, Target* t) {
  std::string_view name = settings.has_name ? settings.name : default_name(unit, t);
  if (settings.status == OpenStatus::scratch) t->kind = TargetKind::scratch;
  if (!settings.exact_name) {
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.remove_suffix(1);
    const platform::DeviceName* d = t->kind == TargetKind::disk_path ? platform::device_for(name) : nullptr;
    if (d != nullptr) {
      if (int rc = resolve_device(*d, &name, t)) return rc;
    }
  }
  // An exact name goes to the system as it is, which alone knows where its links and ".." lead; the
  // dialogue's names are made full, within their length (past it the name stays as given).
  if (t->kind == TargetKind::disk_path && !settings.exact_name) {
    const std::size_t n = platform::full_path(name, t->full, kMaxNameBytes + 1);
    if (n > 0 && characters(std::string_view(t->full, n)) <= kMaxNameLength)
      name = std::string_view(t->full, n);
  }
  t->name = name;
  return 0;
}

platform::Creation creation_for(const ConnectSettings& settings, const Target& t) {
  // A device is opened as it is, never created: a missing one is refused like a missing file.
  if (t.kind == TargetKind::device) return platform::Creation::open_existing;
  if (settings.read_only) return platform::Creation::read_existing;
  switch (settings.status) {
    case OpenStatus::old_file:
      return platform::Creation::open_existing;
    case OpenStatus::new_file:
      return platform::Creation::create_new;
    case OpenStatus::replace:
      return platform::Creation::replace;
    default:
      return platform::Creation::open_or_create;
  }
}

// Opens what the target names. A scratch file's name is written into the target.
platform::OpenResult open_target(const ConnectSettings& settings, Target* t) {
  platform::OpenResult opened;
  switch (t->kind) {
    case TargetKind::scratch:
      opened = platform::open_scratch_file(t->full, sizeof t->full, settings.sharing);
      t->name = t->full;
      return opened;
    case TargetKind::standard_stream:
      opened.handle = platform::standard_handle(t->stream);
      return opened;
    case TargetKind::device:
      return platform::open_file(t->device_path, creation_for(settings, *t), settings.sharing);
    case TargetKind::disk_path:
      break;
  }
  if (t->name.empty()) {
    opened.refusal = OpenRefusal::not_found;
    return opened;
  }
  // Subtle: a NUL inside the name would cut it short on the way to the system; refuse it instead.
  if (t->name.find('\0') != std::string_view::npos) {
    opened.refusal = OpenRefusal::bad_name;
    return opened;
  }
  // A name longer than any the system opens is refused as the system refuses one: it has no room here.
  if (t->name.size() > kLongestPath) {
    opened.refusal = OpenRefusal::bad_name;
    opened.error = platform::name_too_long_error();
    return opened;
  }
  char path[kLongestPath + 1];
  std::memcpy(path, t->name.data(), t->name.size());
  path[t->name.size()] = '\0';
  return platform::open_file(path, creation_for(settings, *t), settings.sharing);
}

// Not knowing what the file is decides nothing: whether it is cut, buffered or guarded depends on it.
// A refused connection leaves nothing behind: a file that this request made goes again.
int refuse_unknown_kind(Unit* unit, const ConnectSettings& settings, platform::SysError error) {
  if (!unit->standard_stream) platform::close(unit->handle);
  unit->handle = platform::Handle{};
  unit->saved_error = error;
  if (settings.status == OpenStatus::new_file && unit->has_name) {
    char made[kLongestPath + 1];
    std::memcpy(made, unit->name, unit->name_length + 1);
    platform::remove_file(made);
  }
  return static_cast<int>(Failure::open_failure);
}

// Gives the unit its open file and the ways it is read and written. Returns 0 or the failure number.
int attach(Unit* unit, const ConnectSettings& settings, const Target& t, const platform::OpenResult& opened) {
  unit->standard_stream = t.kind == TargetKind::standard_stream;
  unit->console_switch = t.console;
  set_name(unit, t.name);
  unit->handle = opened.handle;
  unit->read_only = opened.read_only;
  unit->open_on_first_use = opened.pipe;
  platform::SysError unknown_kind = 0;
  unit->disk = !opened.pipe && platform::is_disk_file(unit->handle, &unknown_kind);
  if (unknown_kind != 0) return refuse_unknown_kind(unit, settings, unknown_kind);
  unit->connected = true;
  arm_exit_handler(release_every_unit);

  if (settings.part_end >= 0) {
    // Subtle: a part is read from its first byte to its last, and written without cutting what other
    // parts wrote after it.
    if (!unit->disk || !platform::seek(unit->handle, settings.part_begin))
      return static_cast<int>(Failure::open_failure);
  } else if (unit->access == Access::append) {
    platform::seek_end(unit->handle);
  } else if (unit->disk && !unit->standard_stream) {
    platform::seek(unit->handle, 0);
    // A file that is written loses its old contents from the first record on; one that is only read
    // keeps them, and a file just made has none.
    if (unit->access == Access::sequential && settings.status != OpenStatus::new_file) {
      unit->truncate_on_next_write = true;
    }
  }
  if (unit->disk && !unit->standard_stream && unit->access != Access::direct &&
      runtime_options().buffered_given) {
    unit->buffered = runtime_options().buffered;
  }
  if (!opened.pipe) {
    if (platform::SysError e = note_input_kind(unit)) {
      unit->saved_error = e;
      return static_cast<int>(Failure::open_failure);
    }
  }
  if (settings.part_end >= 0) {
    unit->in.unread = settings.part_end - settings.part_begin;
    unit->in.positionable = false;
  }
  return 0;
}

// The connection itself, with the unit held. Returns 0 or a failure number; `t` keeps the name that was
// tried, for the report.
int connect_held(Unit* unit, const ConnectSettings& settings, Target* t) {
  g_refusal_error = 0;
  if (unit->connected) {
    // A unit connected again lets go of its old file first.
    int rc = release_held_unit(unit);
    if (rc != 0) return rc;
  }
  reset_connection(unit);
  unit->access = settings.access;
  unit->form = settings.has_form                   ? settings.form
               : settings.access == Access::direct ? Form::unformatted
                                                   : Form::formatted;
  unit->blank = settings.blank;
  unit->record_length = settings.record_length;
  if (int rc = resolve_target(*unit, settings, t)) return rc;
  platform::OpenResult opened = open_target(settings, t);
  g_refusal_error = opened.error;
  if (opened.refusal != OpenRefusal::none) {
    // Causes with a message of their own keep no system code; the rest keep it for the report.
    if (opened.refusal == OpenRefusal::other) unit->saved_error = opened.error;
    return failure_for(opened.refusal);
  }
  return attach(unit, settings, *t, opened);
}

// A refused connection: the unit let go, and the failure returned or reported.
int refuse(Unit* unit, std::int32_t number, const Target& t, Handlers handlers, int rc) {
  if (unit->connected) release_held_unit(unit);
  return fail(condition_code(static_cast<Failure>(rc)), unit, number, t.name, handlers, Disposal::discard,
              rc);
}

// Opens a pipe named as a file for the direction of its first transfer. Returns 0 or a failure number.
int open_pipe_for(Unit* unit, Direction direction) {
  char path[kLongestPath + 1];
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

Unit* hold(std::int32_t number, bool create, Handlers handlers, int* outcome) {
  UnitLookup why;
  Unit* unit = find_unit(number, create, &why);
  if (unit == nullptr) {
    Failure f = why == UnitLookup::no_memory ? Failure::no_memory : Failure::bad_unit_number;
    *outcome = fail(condition_code(f), nullptr, number, {}, handlers, Disposal::leave, static_cast<int>(f));
    return nullptr;
  }
  if (!hold_unit(unit)) {
    *outcome = fail(condition_code(Failure::unit_busy), nullptr, number, unit->file_name(), handlers,
                    Disposal::leave, static_cast<int>(Failure::unit_busy));
    return nullptr;
  }
  return unit;
}

int connect(std::int32_t number, const ConnectSettings& settings) {
  Handlers handlers{false, settings.return_errors};
  int outcome = 0;
  Unit* unit = hold(number, true, handlers, &outcome);
  if (unit == nullptr) return outcome;
  Target target;
  if (int rc = connect_held(unit, settings, &target)) return refuse(unit, number, target, handlers, rc);
  if (!settings.shown_name.empty()) set_name(unit, settings.shown_name);
  // Only the file's own first line can begin with the mark: a part further in never does.
  unit->in.drop_byte_order_mark = settings.drop_byte_order_mark && settings.part_begin == 0;
  free_unit(unit);
  return 0;
}

int connect(std::int32_t number, const ConnectRequest& request) {
  ConnectSettings settings;
  if (parse_settings(request, &settings) != Failure{}) {
    // The unit is taken as for any connection, so that its number is checked first.
    Handlers handlers{false, request.return_errors};
    int outcome = 0;
    Unit* unit = hold(number, true, handlers, &outcome);
    if (unit == nullptr) return outcome;
    if (unit->connected) release_held_unit(unit);
    Target target;
    return refuse(unit, number, target, handlers, static_cast<int>(Failure::bad_setting));
  }
  return connect(number, settings);
}

namespace {
// The first statement on a unit that is not yet open: a pipe opened for the statement's direction, or the
// default connection. Subtle: apart from begin_statement, whose every call would otherwise make room
// for the name of a target on its stack (a probe of each page, where the system asks for one).
[[gnu::noinline]] Unit* open_for_first_statement(Unit* unit, std::int32_t number, Direction direction,
                                                 Handlers handlers, int* outcome) {
  if (unit->connected) {
    int rc = open_pipe_for(unit, direction);
    if (rc == 0) return unit;
    *outcome = fail(condition_code(static_cast<Failure>(rc)), unit, number, unit->file_name(), handlers,
                    Disposal::end_hold, rc);
    return nullptr;
  }
  // The default connection: formatted, sequential, the unit's default name.
  ConnectSettings settings;
  settings.status = direction == Direction::write ? OpenStatus::unknown : OpenStatus::old_file;
  Target target;
  int rc = connect_held(unit, settings, &target);
  if (rc == 0) return unit;
  *outcome = refuse(unit, number, target, handlers, rc);
  return nullptr;
}
}  // namespace

Unit* begin_statement(std::int32_t number, Direction direction, Handlers handlers, int* outcome) {
  Unit* unit = hold(number, true, handlers, outcome);
  if (unit == nullptr) return nullptr;
  if (unit->connected && !unit->open_on_first_use) [[likely]]
    return unit;
  return open_for_first_statement(unit, number, direction, handlers, outcome);
}

int release_held_unit(Unit* unit) {
  if (!unit->connected) return 0;
  int result = 0;
  if (!unit->standard_stream && unit->handle.valid()) {
    if (platform::SysError e = flush_block(unit)) {
      unit->saved_error = e;
      result = static_cast<int>(Failure::write_error);
    }
    if (platform::SysError e = platform::close(unit->handle)) {
      if (result == 0) {
        unit->saved_error = e;
        result = static_cast<int>(Failure::close_error);
      }
    }
  } else if (platform::SysError e = flush_block(unit)) {
    unit->saved_error = e;
    result = static_cast<int>(Failure::write_error);
  }
  char name[kLongestPath + 1];
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

void release_every_unit() {
  const std::uint32_t me = platform::thread_token();
  for_each_unit([me](Unit* unit) {
    std::uint32_t holder = unit->holder.load();
    // A statement on another thread holds it; once that thread is parked for the end, the unit's whole
    // records can still be written out.
    if (holder != 0 && holder != me && !parked_for_the_end(holder)) return;
    if (holder == 0 && !hold_unit(unit)) return;
    if (unit->connected) {
      int rc = release_held_unit(unit);
      if (rc != 0) {
        unit->connected = false;
        fail(condition_code(static_cast<Failure>(rc)), unit, unit->number, unit->file_name(), Handlers{},
             Disposal::end_hold, rc);
      }
    }
    free_unit(unit);
    // While a console event ends the program, a program thread may still be about to take a unit:
    // its block must stay where it is.
    if (!console_event_in_progress()) discard_unit(unit);
  });
}

int release(std::int32_t number, bool return_errors) {
  Unit* unit = find_unit(number, false);
  if (unit == nullptr || !unit->connected) return 0;
  if (!hold_unit(unit)) {
    return fail(condition_code(Failure::unit_busy), nullptr, number, unit->file_name(),
                Handlers{false, return_errors}, Disposal::leave, static_cast<int>(Failure::unit_busy));
  }
  int rc = release_held_unit(unit);
  if (rc == 0) {
    free_unit(unit);
    return 0;
  }
  return fail(condition_code(static_cast<Failure>(rc)), unit, number, unit->file_name(),
              Handlers{false, return_errors}, Disposal::end_hold, rc);
}

void read_standard_input_in_blocks() { g_standard_input_in_blocks.store(true); }

platform::SysError last_refusal_error() { return g_refusal_error; }

}  // namespace rtl
