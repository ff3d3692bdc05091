// What each platform backend gives the transfers that all backends share (transfer.cpp); not for the
// record layer.
#pragma once

#include "rtl/platform/platform.h"

namespace rtl::platform {

// How a failed raw read is to be taken: ok (interrupted: try again), the end of the data, aborted by a
// console event, or a failure.
ReadStatus status_of_read_error(int error);

}  // namespace rtl::platform
