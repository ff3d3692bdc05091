// What a connected unit is and how it transfers, asked and set by its number.
#include <utility>

#include "rtl/platform/platform.h"
#include "rtl/units/connection.h"
#include "rtl/units/units.h"

namespace rtl {

bool connected_read_only(std::int32_t number) {
  Unit* unit = find_unit(number, false);
  return unit != nullptr && unit->connected && unit->read_only;
}

bool on_disk_file(std::int32_t number) {
  Unit* unit = find_unit(number, false);
  return unit != nullptr && unit->connected && unit->disk;
}

bool on_named_disk_file(std::int32_t number) {
  Unit* unit = find_unit(number, false);
  return unit != nullptr && unit->connected && unit->disk && !unit->standard_stream && !unit->console_switch;
}

std::int64_t input_file_size(std::int32_t number) {
  Unit* unit = find_unit(number, false);
  if (unit == nullptr || !unit->connected || !unit->in.positionable) return -1;
  return platform::file_size(unit->input_handle());
}

bool read_again_from(std::int32_t number, std::int64_t offset, platform::SysError* error) {
  *error = 0;
  Unit* unit = find_unit(number, false);
  if (unit == nullptr || !unit->connected || !unit->in.positionable || offset < 0) return false;
  if (!platform::seek(unit->input_handle(), offset)) {
    *error = platform::last_error();
    return false;
  }
  // What the connection decided stays; what the reading learned goes.
  InputState fresh;
  fresh.positionable = true;
  fresh.terminal = unit->in.terminal;
  fresh.one_byte_reads = unit->in.one_byte_reads;
  fresh.drop_byte_order_mark = unit->in.drop_byte_order_mark;
  fresh.longest_line = unit->in.longest_line;
  fresh.buffer = std::move(unit->in.buffer);
  fresh.buffer_file_offset = offset;
  unit->in = std::move(fresh);
  return true;
}

std::string_view connected_name(std::int32_t number) {
  const Unit* unit = find_unit(number, false);
  return unit != nullptr && unit->connected ? unit->file_name() : std::string_view();
}

platform::SysError handled_system_error(std::int32_t number) {
  Unit* unit = find_unit(number, false);
  return unit != nullptr ? unit->handled_error : 0;
}

void end_lines_with_lf(std::int32_t number) {
  if (Unit* unit = find_unit(number, true)) unit->lf_line_ends = true;
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

int standard_stream_read_by(std::int32_t reader) {
  Unit* r = find_unit(reader, false);
  if (r == nullptr || !r->connected || !r->in.positionable) return 0;
  const platform::FileIdentity read = platform::identity(r->input_handle());
  if (!read.known) return 0;
  if (platform::identity(platform::standard_handle(platform::StdStream::output)) == read) return 1;
  return platform::identity(platform::standard_handle(platform::StdStream::error)) == read ? 2 : 0;
}

}  // namespace rtl
