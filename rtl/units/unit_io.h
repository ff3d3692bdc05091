// What the units give the record layer's statements: a unit's start and release, its delivery, the
// failure return; not for callers of the layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtl/diagnostics/diagnostics.h"
#include "rtl/units/units.h"

namespace rtl {

enum class Direction { read, write };

// Finds the unit, takes its busy mark and, when it is not connected, makes its default connection.
// Returns nullptr after a failure that the statement handles (the outcome is then in *outcome).
Unit* begin_statement(std::int32_t number, Direction direction, Handlers handlers, int* outcome);

// The start of a statement whose unit asks nothing more of begin_statement: found in its slot and held,
// connected and opened, formatted and not for direct access (nor read-only, for a write). nullptr leaves
// the whole start, every failure and its report, to begin_statement and the statement's own checks.
inline Unit* hold_ready_unit(std::int32_t number, Direction direction) {
  if (number < kLowestSlotUnit || number > kHighestSlotUnit) return nullptr;
  Unit* unit = g_slots[number - kLowestSlotUnit].load(std::memory_order_acquire);
  if (unit == nullptr || !hold_unit(unit)) return nullptr;
  const bool ready = unit->connected && !unit->open_on_first_use && unit->form == Form::formatted &&
                     unit->access != Access::direct && !(direction == Direction::write && unit->read_only);
  if (ready) [[likely]]
    return unit;
  free_unit(unit);
  return nullptr;
}

// Releases a unit that the caller holds. Returns 0 or the failure met (38 or 28).
int release_held_unit(Unit* unit);

// Hands bytes to the unit's file: at once, or into its block when the unit is buffered. Returns 0 or
// the system error.
platform::SysError deliver(Unit* unit, const char* data, std::size_t size);
platform::SysError flush_block(Unit* unit);

// Sizes the layer starts with; tests make them tiny to force every growth path.
struct InitialSizes {
  std::size_t record_area = kDefaultRecordLength;
  std::size_t record_buffer = platform::kTransferBlock;
  std::size_t output_block = platform::kTransferBlock;
};
InitialSizes& initial_sizes();

// Releases every unit that no running statement holds: what a connection arms the exit handler with.
void release_every_unit();

enum class Disposal { leave, end_hold, discard };

// The failure return. Gives the statement its outcome (-1 for a handled end of file, `handled_value`
// for a handled error), or reports the failure; a severe report does not return.
int fail(std::uint32_t code, Unit* unit, std::int32_t unit_number, std::string_view file_name,
         Handlers handlers, Disposal disposal, int handled_value);
int fail(Failure failure, Unit* unit, Handlers handlers = {}, Disposal disposal = Disposal::end_hold);

}  // namespace rtl
