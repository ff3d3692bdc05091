// The unit table and the block that every unit carries from first use to termination.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtl/platform/platform.h"
#include "rtl/run/run_state.h"
#include "rtl/units/byte_buffer.h"
#include "rtl/units/record_rules.h"

namespace rtl {

inline constexpr int kLowestSlotUnit = -5;
inline constexpr int kHighestSlotUnit = 99;
inline constexpr int kHashChains = 521;
// The dialogue's file names are this long; a name given as a program argument may be as long as a path.
inline constexpr std::size_t kMaxNameLength = 256;                // characters
inline constexpr std::size_t kMaxNameBytes = 4 * kMaxNameLength;  // of UTF-8
using platform::kLongestPath;
inline constexpr std::size_t kDefaultRecordLength = 132;

enum class Access : std::uint8_t { sequential, direct, append, keyed };
enum class Form : std::uint8_t { formatted, unformatted, binary };
enum class Blank : std::uint8_t { null, zero };

// Reading state: the record buffer holds the current record and the read-ahead.
struct InputState {
  ByteBuffer buffer;
  std::int64_t buffer_file_offset = 0;  // file offset of buffer[0]
  std::size_t ahead_begin = 0, ahead_end = 0;
  std::size_t record_begin = 0, record_end = 0;
  std::size_t record_lf = 0;          // where the current record's LF stands
  std::int64_t record_lf_offset = 0;  // and where it stands in the file
  std::size_t field = 0;              // the next field begins here
  std::int32_t record_counter = 1;
  bool one_byte_reads = false;
  bool terminal = false;
  bool positionable = false;  // the file read from is a disk file, so the step back may seek it
  std::int64_t unread = -1;   // bytes of its part still to read, for a unit that reads a part; -1: all
  bool drop_byte_order_mark = false;
  bool byte_order_mark_dropped = false;       // the first record began with one
  std::size_t longest_line = kLongestRecord;  // a line with more bytes before its end fails the read
  bool line_end_made = false;                 // the last line had none: the read made its LF
  bool ended_by_mark = false;                 // the input ended at a lone Ctrl-Z line
};

// Writing state: the record area and, for buffered units, the block of whole records not yet written.
struct OutputState {
  ByteBuffer area;  // record being built; two spare bytes beyond for the line end
  std::size_t column = 1;
  std::size_t high_water = 0;
  std::size_t used = 0;  // columns a data record left unblanked in the area
  ByteBuffer block;
  std::size_t block_used = 0;
};

struct Unit {
  std::int32_t number = 0;
  std::atomic<std::uint32_t> holder{0};  // thread token of the statement that holds the unit, 0 when free

  bool connected = false;
  char name[kLongestPath + 1] = {};
  std::size_t name_length = 0;
  bool has_name = false;
  platform::Handle handle;
  bool standard_stream = false;
  Access access = Access::sequential;
  Form form = Form::formatted;
  Blank blank = Blank::null;
  std::int32_t record_length = 0;
  bool read_only = false;
  bool disk = false;
  bool truncate_on_next_write = false;
  bool console_switch = false;
  bool buffered = false;
  bool lf_line_ends = false;  // records end with LF alone; kept across connections
  // A pipe named as a file is opened only at its first transfer, for that one direction, so that the
  // program is never the other end of its own pipe.
  bool open_on_first_use = false;
  platform::SysError saved_error = 0;
  platform::SysError handled_error = 0;  // behind the last failure a statement handled

  InputState in;
  OutputState out;

  Unit* chain_next = nullptr;  // unit-table hash chain for numbers above the direct slots

  // The device CON reads the standard input and writes the standard output.
  platform::Handle input_handle() const {
    return console_switch ? platform::standard_handle(platform::StdStream::input) : handle;
  }

  std::string_view file_name() const {
    return has_name ? std::string_view(name, name_length) : std::string_view("\"Unknown\"");
  }
};

enum class UnitLookup { found, refused_number, no_memory };

// Finds or makes the block of a unit. Numbers below -5 are refused (failure 32).
Unit* find_or_make_unit(std::int32_t number, bool create, UnitLookup* why);
// The direct slots, for units -5 to 99.
inline constexpr int kSlots = kHighestSlotUnit - kLowestSlotUnit + 1;
// Subtle: the event thread walks the table while program threads add their units to it.
extern std::atomic<Unit*> g_slots[kSlots];
// The same, where a unit that has a slot and a block is found in place: every statement looks one up.
inline Unit* find_unit(std::int32_t number, bool create, UnitLookup* why = nullptr) {
  if (number >= kLowestSlotUnit && number <= kHighestSlotUnit) {
    if (Unit* unit = g_slots[number - kLowestSlotUnit].load(std::memory_order_acquire)) {
      if (why) *why = UnitLookup::found;
      return unit;
    }
  }
  return find_or_make_unit(number, create, why);
}

// Visits every unit block in table order: the direct slots ascending, then the hash chains.
template <typename Fn>
void for_each_unit(Fn&& fn);
Unit* unit_slot(int index);  // direct slots 0..104 for units -5..99
Unit* unit_chain(int chain);
void discard_unit(Unit* unit);

// The busy mark: a statement holds its unit from start to end. Returns false when another statement
// holds it already. Once a console event is being handled on another thread, a statement that takes
// its unit waits there for the process to end instead of going on. Every statement asks, hence in place.
inline bool hold_unit(Unit* unit) {
  std::uint32_t expected = 0;
  if (!unit->holder.compare_exchange_strong(expected, platform::thread_token(), std::memory_order_acquire)) {
    return false;
  }
  if (console_event_on_other_thread() && !commit_under_way()) [[unlikely]]
    wait_for_the_end();
  return true;
}
// A plain release store: what the statement did to the unit is seen by whoever takes the mark next.
inline void free_unit(Unit* unit) { unit->holder.store(0, std::memory_order_release); }

template <typename Fn>
void for_each_unit(Fn&& fn) {
  for (int i = 0; i <= kHighestSlotUnit - kLowestSlotUnit; ++i) {
    if (Unit* u = unit_slot(i)) fn(u);
  }
  for (int c = 0; c < kHashChains; ++c) {
    for (Unit* u = unit_chain(c); u != nullptr;) {
      Unit* next = u->chain_next;
      fn(u);
      u = next;
    }
  }
}

}  // namespace rtl
