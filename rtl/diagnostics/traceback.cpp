// The traceback of a severe report: the frames of the stack, innermost first.
#include "rtl/diagnostics/traceback.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "rtl/platform/platform.h"
#include "rtl/run/options.h"

namespace rtl {

// The traceback of `count` return addresses (or -1 after a failed walk), innermost first. For a
// processor exception the faulting instruction comes first and the frames of its handling are left out.
std::size_t append_traceback(void* const* walked, int count, char* out, std::size_t used,
                             std::size_t capacity) {
  bool verbose = runtime_options().verbose_stack_trace;
  auto advance = [&](int k) {
    if (k > 0) used = std::min(capacity - 1, used + static_cast<std::size_t>(k));
  };
  if (verbose) {
    advance(
        std::snprintf(out + used, capacity - used, "\nTraceback symbolic or hex stack dump follows:\n\n"));
    used += platform::exception_registers(out + used, capacity - used);
  } else {
    advance(std::snprintf(out + used, capacity - used, "%-19.19s%-10.10s%-19.19s%-12.12s%-19.19s\n", "Image",
                          "PC", "Routine", "Line", "Source"));
  }
  if (count < 0) {
    // A walker that fails leaves its line end on standard output, flushed at the end of the process.
    std::fputc('\n', stdout);
    return used;
  }
  void* const* frames = walked;
  void* fault[1];
  if (void* pc = platform::exception_address()) {
    int at = 0;
    while (at < count && walked[at] != pc) ++at;
    if (at < count) {
      frames = walked + at;
      count -= at;
    } else {
      // The walk did not pass through the faulting instruction: it stands alone.
      fault[0] = pc;
      frames = fault;
      count = 1;
    }
  }
  for (int i = 0; i < count && i < 20 && used + 1 < capacity; ++i) {
    if (frames[i] == nullptr) break;
    platform::FrameModule m = platform::frame_module(frames[i]);
    const char* image = m.known ? m.name : "Unknown";
    // Addresses are shown within their module, so that they mean the same in every run.
    unsigned long pc =
        static_cast<unsigned long>(m.known ? m.offset : reinterpret_cast<std::uintptr_t>(frames[i])) &
        0xFFFFFFFFul;
    if (verbose) {
      advance(
          std::snprintf(out + used, capacity - used,
                        "--------- Frame # %d\nImage: %s\nRoutine: Unknown\nSource: Unknown\nLine: Unknown\n"
                        "PC: %8.8lX\n",
                        i, image, pc));
    } else {
      advance(std::snprintf(out + used, capacity - used, "%-17.17s  %8.8lX  %-17.17s  %10.10s  %s\n", image,
                            pc, "Unknown", "Unknown", "Unknown"));
    }
  }
  return used;
}

}  // namespace rtl
