// Whether two files hold the same bytes, decided above the door so that every system decides alike: a
// file that cannot be read whole is never taken for the same (its repair then takes its place, which
// costs nothing but its times).
#include <cstring>
#include <memory>
#include <new>

#include "rtl/platform/platform.h"

namespace rtl::platform {
namespace {

// Reads until `size` bytes or the end; false when a read fails.
bool read_block(Handle h, char* buffer, std::size_t size, std::size_t* got) {
  *got = 0;
  while (*got < size) {
    const ReadResult r = read(h, buffer + *got, size - *got);
    if (r.status == ReadStatus::end_of_data) return true;
    if (r.status != ReadStatus::ok) return false;
    *got += r.bytes;
  }
  return true;
}

}  // namespace

bool same_contents(const char* a, const char* b) {
  constexpr std::size_t kBlock = 65536;
  // Subtle: one of the two is a temporary file, which the end of the run may remove meanwhile.
  const OpenResult fa = open_file(a, Creation::read_existing, Sharing::every);
  const OpenResult fb = open_file(b, Creation::read_existing, Sharing::every);
  // From the heap, for the one file that is compared: a thread that never compares pays nothing.
  const std::unique_ptr<char[]> memory(new (std::nothrow) char[2 * kBlock]);
  char* const ba = memory.get();
  char* const bb = ba + kBlock;
  bool same = fa.refusal == OpenRefusal::none && fb.refusal == OpenRefusal::none && memory != nullptr;
  for (std::size_t na = kBlock, nb = 0; same && na == kBlock;) {
    same = read_block(fa.handle, ba, kBlock, &na) && read_block(fb.handle, bb, kBlock, &nb) && na == nb &&
           std::memcmp(ba, bb, na) == 0;
  }
  if (fa.refusal == OpenRefusal::none) close(fa.handle);
  if (fb.refusal == OpenRefusal::none) close(fb.handle);
  return same;
}

}  // namespace rtl::platform
