// The end of a run, on every road: a normal end, a failure's report, a console event.
//
// Its order, on every road:
// 1. the end is claimed, once: by the event when it arrives, by a failure before its first line, by a
//    normal end before its last lines; whoever comes later parks for good (wait_for_the_end);
// 2. an event marks itself and lets every program thread reach a bracket (settle_program_threads): no
//    record is torn, no file is left half put in place;
// 3. the exit handler writes out and closes every unit that no running statement holds;
// 4. the exit cleanup runs (a command's temporary file goes);
// 5. the process ends with the claimer's status, or by the event's own signal.
#pragma once

#include <cstdint>

#include "rtl/diagnostics/diagnostics.h"
#include "rtl/run/run_state.h"

namespace rtl {

// ---- 3 to 5. the end (the exit handler and its cleanup are the report layer's: diagnostics.h) ---------

// Normal termination, with a status of the program's choosing.
[[noreturn]] void stop(std::int32_t status = 0);
[[noreturn]] inline void stop_with_status(std::int32_t status) { stop(status); }
// Lets a test take the road of stop() more than once.
void testing_reset_stop();

// From now on a console event ends the process silently by its own signal once the units are released
// and the exit cleanup has run, as a command run from scripts ends (termination always does: start-up
// catches it for that).
void end_events_by_their_signal();

// A reader that left standard output or standard error ends the run as a console event ends a command:
// every program thread at a record boundary, the units released, the exit cleanup run (no temporary
// file stays), then quietly, as a write to a pipe without a reader ends a command here.
[[noreturn]] void end_by_broken_pipe();

// The console control handler: reports the event, releases the units and ends with the event's number.
void on_console_event(int event);

}  // namespace rtl
