// Write statements: the layout walk, the record area and record ends; delivery is the unit's.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "rtl/convert/encode.h"
#include "rtl/statements/io.h"
#include "rtl/units/unit_io.h"

namespace rtl {

namespace {

void put_integer(char* field, std::size_t width, std::int32_t value) {
  char digits[12];
  std::size_t n = 0;
  std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[n++] = '-';
  if (n > width) {
    std::memset(field, '*', width);
    return;
  }
  std::memset(field, ' ', width - n);
  for (std::size_t i = 0; i < n; ++i) field[width - 1 - i] = digits[i];
}

void put_text(char* field, std::size_t width, std::string_view text) {
  if (width > text.size()) {
    std::memset(field, ' ', width - text.size());
    std::memcpy(field + width - text.size(), text.data(), text.size());
  } else {
    std::memcpy(field, text.data(), width);
  }
}

// Failure numbers of a write walk; 0 when it went well.
struct LayoutWalk {
  Unit* unit;
  int failure = 0;
  int scale = 0;
  bool no_advance = false;

  OutputState& out() { return unit->out; }

  // Makes the record area reach `last` (1-based column), growing by max(w, 512, an eighth). A unit
  // connected with a record length takes no longer record.
  bool reach(std::size_t last, std::size_t width) {
    if (unit->record_length > 0 && last > static_cast<std::size_t>(unit->record_length)) {
      failure = static_cast<int>(Failure::record_overflow);
      return false;
    }
    ByteBuffer& area = out().area;
    std::size_t length = area.size() - 2;
    if (last <= length) return true;
    std::size_t grown = length;
    while (grown < last) grown += std::max({width, std::size_t{512}, grown / 8});
    if (area.resize(grown + 2, ' ')) return true;
    failure = static_cast<int>(Failure::record_overflow);
    return false;
  }

  // Columns for a field of width w at the current column, or nullptr after a failure.
  char* place(std::size_t width) {
    std::size_t first = out().column;
    if (!reach(first + width - 1, width)) return nullptr;
    out().column += width;
    out().high_water = std::max(out().high_water, first + width - 1);
    return out().area.data() + first - 1;
  }

  bool end_record(bool line_end) {
    OutputState& o = out();
    std::size_t n = o.high_water;
    if (line_end && unit->lf_line_ends) {
      o.area[n++] = '\n';
    } else if (line_end) {
      o.area[n] = '\r';
      o.area[n + 1] = '\n';
      n += 2;
    }
    platform::SysError e = deliver(unit, o.area.data(), n);
    // Blank the used columns only: a record never reads a column it did not write.
    std::memset(o.area.data(), ' ', std::min(o.area.size(), o.high_water + 2));
    o.column = 1;
    o.high_water = 0;
    if (e != 0) {
      unit->saved_error = e;
      failure = static_cast<int>(Failure::write_error);
      return false;
    }
    return true;
  }

  // One item of the layout; a field takes the next datum.
  void take(const LayoutItem& item, std::span<const OutDatum> items, std::size_t* next) {
    switch (item.kind) {
      case ItemKind::text:
        // An empty text places nothing, so a move before it does not lengthen the record.
        if (item.text.empty()) break;
        if (char* at = place(item.text.size())) std::memcpy(at, item.text.data(), item.text.size());
        break;
      case ItemKind::move_right:
        out().column += static_cast<std::size_t>(item.value);
        break;
      case ItemKind::record_end:
        end_record(true);
        break;
      case ItemKind::no_advance:
        no_advance = true;
        break;
      case ItemKind::scale:
        scale = item.value;
        break;
      case ItemKind::char_field:
      case ItemKind::int_field:
      case ItemKind::exp_field:
        field(item, items[(*next)++]);
        break;
    }
  }

  void field(const LayoutItem& item, const OutDatum& d) {
    if (item.kind == ItemKind::char_field) {
      const std::size_t width = item.width > 0 ? static_cast<std::size_t>(item.width) : d.text.size();
      if (width == 0) return;
      if (char* at = place(width)) put_text(at, width, d.text);
    } else if (char* at = place(static_cast<std::size_t>(item.width))) {
      if (item.kind == ItemKind::int_field) {
        put_integer(at, static_cast<std::size_t>(item.width), d.integer);
      } else {
        convert::encode_exponential(d.real, at, item.width, item.digits, scale);
      }
    }
  }
};

// The start of a write on a unit that the ready start did not take: the general start and the write's
// own refusals. Returns the unit, or nullptr with the statement's outcome in *outcome.
[[gnu::noinline]] Unit* begin_write_in_general(std::int32_t number, Handlers handlers, int* outcome) {
  Unit* unit = begin_statement(number, Direction::write, handlers, outcome);
  if (unit == nullptr) return nullptr;
  Failure refusal{};
  if (unit->read_only) {
    refusal = Failure::write_to_read_only;
  } else if (unit->form != Form::formatted) {
    refusal = Failure::unformatted_unit;
  } else if (unit->access == Access::direct) {
    refusal = Failure::direct_access_unit;
  }
  if (refusal != Failure{}) {
    *outcome = fail(refusal, unit, handlers);
    return nullptr;
  }
  return unit;
}

// Starts a write statement: takes the unit and makes sure that it can take formatted records. Returns
// nullptr after a failure (which is reported: no write statement handles one).
[[gnu::always_inline]] inline Unit* begin_write(std::int32_t number, Handlers handlers, int* outcome) {
  if (Unit* unit = hold_ready_unit(number, Direction::write)) [[likely]]
    return unit;
  return begin_write_in_general(number, handlers, outcome);
}

}  // namespace

namespace {
// The data record's columns and its line end at `record`.
void make_data_record(char* record, std::string_view name, const double (&values)[4]) {
  if (name.size() == 8) {
    std::memcpy(record, name.data(), 8);  // the record name's own width, copied in place
  } else {
    std::memcpy(record, name.data(), name.size());
  }
#pragma GCC unroll 4
  for (std::size_t i = 0; i < 4; ++i) convert::encode_e16_8_scaled(values[i], record + name.size() + 16 * i);
  record[name.size() + 64] = '\r';
  record[name.size() + 65] = '\n';
}
}  // namespace

void make_data_record(char (&record)[kDataRecordBytes], std::string_view name8, const double (&values)[4]) {
  make_data_record(static_cast<char*>(record), name8.substr(0, 8), values);
}

int write_data_record(std::int32_t number, std::string_view name, const double (&values)[4],
                      Handlers handlers, std::string_view* made) {
  int outcome = 0;
  Unit* unit = begin_write(number, handlers, &outcome);
  if (unit == nullptr) return outcome;
  OutputState& out = unit->out;
  const std::size_t length = name.size() + 4 * 16;
  // A record length of 0 or less sets no limit: one less, as an unsigned number, is past every length.
  const bool fits = length <= std::size_t{static_cast<std::uint32_t>(unit->record_length) - 1u} + 1;
  // Where the unit's block has room, the record is made in it, after the whole records already there:
  // only once it is complete does the block hold it. One question for the usual record.
  if (fits & unit->buffered & !unit->truncate_on_next_write &
      (out.block_used + length + 2 <= out.block.size())) [[likely]] {
    make_data_record(out.block.data() + out.block_used, name, values);
    if (made != nullptr) *made = {out.block.data() + out.block_used, length};
    out.block_used += length + 2;
    free_unit(unit);
    return 0;
  }
  if (!fits) return fail(Failure::record_overflow, unit, handlers);
  if (out.area.size() < length + 2 && !out.area.resize(length + 2, ' ')) {
    return fail(Failure::no_memory, unit, handlers);
  }
  // Every column of this record is written, so the area needs no blanking before it; the walk blanks
  // what this record left before it uses the area again.
  char* record = out.area.data();
  make_data_record(record, name, values);
  if (made != nullptr) *made = {record, length};
  out.used = std::max(out.used, length + 2);
  if (platform::SysError e = deliver(unit, record, length + 2)) {
    unit->saved_error = e;
    return fail(Failure::write_error, unit, handlers);
  }
  free_unit(unit);
  return 0;
}

int write_statement(std::int32_t number, const Layout& layout, std::span<const OutDatum> items,
                    Handlers handlers) {
  int outcome = 0;
  Unit* unit = begin_write(number, handlers, &outcome);
  if (unit == nullptr) return outcome;

  OutputState& out = unit->out;
  if (out.area.empty() && !out.area.resize(initial_sizes().record_area + 2, ' ')) {
    return fail(Failure::no_memory, unit, handlers);
  }
  if (out.used > 0) {
    std::memset(out.area.data(), ' ', std::min(out.used, out.area.size()));
    out.used = 0;
  }
  out.column = 1;
  out.high_water = 0;

  LayoutWalk walk{unit};
  std::size_t next = 0;
  for (const LayoutItem& item : layout) {
    if (walk.failure != 0) break;
    if (item.is_field() && next == items.size()) break;
    walk.take(item, items, &next);
  }
  if (walk.failure == 0) walk.end_record(!walk.no_advance);
  if (walk.failure != 0) return fail(static_cast<Failure>(walk.failure), unit, handlers);
  free_unit(unit);
  return 0;
}

}  // namespace rtl
