// What each platform backend gives the transfers that all backends share (transfer.cpp); not for the
// record layer.
#pragma once

#include "rtl/platform/platform.h"

namespace rtl::platform {

// How a failed raw read is to be taken: ok (interrupted: try again), the end of the data, aborted by a
// console event, or a failure.
ReadStatus status_of_read_error(int error);

// One open as asked, no retry: for reading and writing (for reading only with read_existing).
OpenResult open_once(const char* name, Creation creation, Sharing sharing);
// Whether a refusal of that open leaves a read-only open worth trying (no access, a held or protected file).
bool read_only_may_succeed(SysError error);

// A file that another program holds is waited for: held_wait_limit() says how many milliseconds this
// wait may last, and held_wait_failed() counts a wait that ended with the file still held.
unsigned held_wait_limit();
void held_wait_failed(unsigned waited);

// How this system names its devices.
enum class DeviceNotation { posix, windows };
DeviceNotation device_notation();

// Whether a console event has arrived and is not yet handled.
bool console_event_pending();

// The registers saved with the processor exception being handled; returns how many, 0 when none.
struct RegisterValue {
  const char* name;
  std::uint64_t value;
};
int exception_register_values(RegisterValue* out, int capacity);

}  // namespace rtl::platform
