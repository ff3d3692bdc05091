// Delivery: a unit's records handed to its file, at once or in blocks of whole records.
#include <algorithm>
#include <cstring>

#include "rtl/run/run_state.h"
#include "rtl/units/unit_io.h"

namespace rtl {

InitialSizes& initial_sizes() {
  static InitialSizes sizes;
  return sizes;
}

namespace {

// Writes whole records. When the system takes only part of them (a full disk, a file-size limit), a file
// of our own is cut back to the end of the last whole record that reached it, so that it never ends in
// a torn record and keeps every record that was written.
platform::SysError write_records(Unit* unit, const char* data, std::size_t size) {
  std::size_t written = 0;
  TransferGate gate(true);
  platform::SysError e = platform::write_all(unit->handle, data, size, &written);
  if (e != 0 && written > 0 && unit->disk && !unit->standard_stream) {
    std::size_t whole = written;
    while (whole > 0 && data[whole - 1] != '\n') --whole;
    std::int64_t end = platform::position(unit->handle);
    if (whole < written && end >= static_cast<std::int64_t>(written - whole)) {
      std::int64_t cut = end - static_cast<std::int64_t>(written - whole);
      platform::truncate_here(unit->handle, cut);
      platform::seek(unit->handle, cut);
    }
  }
  return e;
}

}  // namespace

platform::SysError flush_block(Unit* unit) {
  OutputState& out = unit->out;
  // Subtle: the block is marked written before it goes out, so that a console event that releases the
  // unit while this write is under way never writes the same records again.
  const std::size_t used = out.block_used;
  if (used == 0) return 0;
  out.block_used = 0;
  return write_records(unit, out.block.data(), used);
}

platform::SysError deliver(Unit* unit, const char* data, std::size_t size) {
  OutputState& out = unit->out;
  platform::SysError e = 0;
  if (unit->truncate_on_next_write) {
    // The old contents go before the first new record is written, so that the file never shows old
    // bytes after new ones, whatever stops the run.
    unit->truncate_on_next_write = false;
    const std::int64_t end = platform::position(unit->handle);
    if (end < 0) return platform::last_error();
    if ((e = platform::truncate_here(unit->handle, end)) != 0) return e;
  }
  if (unit->buffered) {
    // Without memory for a block the records go out one by one: slower, but nothing is lost.
    if (out.block.empty() &&
        !out.block.resize_unfilled(std::max<std::size_t>(initial_sizes().output_block, 1))) {
      unit->buffered = false;
    }
  }
  if (unit->buffered) {
    // The block only ever holds whole records, so a file cut short by an abrupt end has no torn record.
    if (out.block_used + size > out.block.size()) e = flush_block(unit);
    if (e == 0) {
      if (size > out.block.size()) {
        e = write_records(unit, data, size);
      } else {
        std::memcpy(out.block.data() + out.block_used, data, size);
        out.block_used += size;
      }
    }
  } else {
    e = write_records(unit, data, size);
  }
  return e;
}

}  // namespace rtl
