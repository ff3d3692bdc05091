// The failure return: what a failure means for the handlers a statement gave, and what becomes of its unit.
#include <algorithm>
#include <cstring>

#include "rtl/diagnostics/diagnostics.h"
#include "rtl/run/run_state.h"
#include "rtl/units/unit_io.h"

namespace rtl {
namespace {

// The statement's outcome for a handled failure: -1 for an end of file, `handled_value` for an error;
// nothing when no handler covers it.
bool handled_outcome(std::uint32_t number, Handlers handlers, int handled_value, int* outcome) {
  const bool end_kind = number == static_cast<std::uint32_t>(Failure::end_of_file);
  const bool covered =
      handlers.only_error == Failure{} || static_cast<std::uint32_t>(handlers.only_error) == number;
  if (handlers.errors && covered && !end_kind) {
    *outcome = handled_value;
    return true;
  }
  if (handlers.end_of_file && end_kind) {
    *outcome = -1;
    return true;
  }
  return false;
}

void dispose(Unit* unit, Disposal disposal) {
  if (unit == nullptr || disposal == Disposal::leave) return;
  free_unit(unit);
  if (disposal == Disposal::discard) discard_unit(unit);
}

}  // namespace

int fail(std::uint32_t code, Unit* unit, std::int32_t unit_number, std::string_view file_name,
         Handlers handlers, Disposal disposal, int handled_value) {
  const std::uint32_t number = code & 0xFFFF;
  int outcome = 0;
  if (handled_outcome(number, handlers, handled_value, &outcome)) {
    if (unit != nullptr) {
      unit->handled_error = unit->saved_error;
      unit->saved_error = 0;
    }
    dispose(unit, disposal);
    return outcome;
  }
  // The name is copied first: the disposal below may discard the block that holds it.
  char name[kLongestPath + 1];
  const std::size_t name_length = std::min(file_name.size(), kLongestPath);
  if (name_length > 0) std::memcpy(name, file_name.data(), name_length);
  // A failure that ends the run claims the end before it writes a line: an event that came first keeps
  // it, and this failure stays silent.
  if (severity_of(code) == Severity::severe && !claim_the_end()) wait_for_the_end();
  if (unit != nullptr && unit->saved_error != 0) {
    write_system_error_line(unit->saved_error);
    unit->saved_error = 0;
  }
  dispose(unit, disposal);
  issue_report(code, unit_number, std::string_view(name, name_length));
  return static_cast<int>(number);
}

int fail(Failure failure, Unit* unit, Handlers handlers, Disposal disposal) {
  return fail(condition_code(failure), unit, unit->number, unit->file_name(), handlers, disposal,
              static_cast<int>(failure));
}

}  // namespace rtl
