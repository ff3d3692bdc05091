// The transfers of every platform: the raw calls behind the test seam, and the loops around them.
#include <atomic>

#include "rtl/platform/backend.h"
#include "rtl/platform/door_faults.h"
#include "rtl/platform/platform.h"

namespace rtl::platform {
namespace {
std::atomic<RawWrite> g_write{real_raw_write};
std::atomic<RawRead> g_read{real_raw_read};
}  // namespace

ReadResult read(Handle h, void* buffer, std::size_t size) {
  if (door_fails(Door::eof)) return {0, ReadStatus::end_of_data, 0};
  if (door_fails(Door::read)) return {0, ReadStatus::failed, injected_error(Door::read)};
  for (;;) {
    int err = 0;
    std::int64_t n = g_read.load(std::memory_order_relaxed)(h.value, buffer, size, &err);
    if (n > 0) return {static_cast<std::size_t>(n), ReadStatus::ok, 0};
    if (n == 0) return {0, ReadStatus::end_of_data, 0};
    const ReadStatus status = status_of_read_error(err);
    if (status == ReadStatus::ok) continue;
    return {0, status, status == ReadStatus::end_of_data ? 0 : static_cast<SysError>(err)};
  }
}

SysError write_all(Handle h, const void* data, std::size_t size, std::size_t* written) {
  const char* const start = static_cast<const char*>(data);
  const char* p = start;
  SysError error = 0;
  if (size > 0 && door_fails(Door::write)) {
    error = injected_error(Door::write);
    size = 0;
  }
  if (size > 0 && (h == standard_handle(StdStream::output) || h == standard_handle(StdStream::error)) &&
      door_fails(Door::pipe)) {
    error = injected_error(Door::pipe);
    size = 0;
  }
  while (size > 0) {
    int err = 0;
    std::int64_t n = g_write.load(std::memory_order_relaxed)(h.value, p, size, &err);
    if (n < 0) {
      if (err == interrupted_code()) continue;
      error = static_cast<SysError>(err);
      break;
    }
    if (n == 0) {  // a write that makes no progress would loop for ever
      error = static_cast<SysError>(no_space_code());
      break;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  if (written != nullptr) *written = static_cast<std::size_t>(p - start);
  return error;
}

void set_raw_write(RawWrite fn) { g_write.store(fn ? fn : real_raw_write); }
void set_raw_read(RawRead fn) { g_read.store(fn ? fn : real_raw_read); }

}  // namespace rtl::platform
