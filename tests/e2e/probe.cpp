// Takes one of the run-time's fatal roads on request, inside the same program entry as QUIL.
#if __has_include(<sys/resource.h>)
#include <sys/resource.h>
#define PROBE_CAN_LIMIT_MEMORY 1
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "driver/driver.h"
#include "rtl/startup.h"
#include "rtl/statements/io.h"

namespace {

const char* g_mode = "";
const char* g_text = "";
long g_argument = 0;
volatile std::uintptr_t g_unmapped = 16;

double flawed_divide(double a, double b) { return a / b + 1e-9; }

constexpr rtl::Layout kLine{"(A)"};

__attribute__((noinline)) int recurse_then_read(int depth) {
  if (depth == 0) {
    char name[16];
    rtl::read<kLine>(5, rtl::Handlers{}, std::span<char>(name));
    return name[0];
  }
  volatile int keep = recurse_then_read(depth - 1);
  return keep + 1;
}

// Recurses until the stack runs out; the volatile depth keeps the compiler from seeing it as endless.
volatile int g_limit = 1 << 30;
__attribute__((noinline)) int overflow(int depth) {
  volatile char pad[4096];
  pad[0] = static_cast<char>(depth);
  if (depth > g_limit) return 0;
  return overflow(depth + 1) + pad[0];
}

// The seam's read: the g_argument-th read of a file other than the standard streams fails.
std::int64_t failing_read(std::intptr_t handle, void* data, std::size_t size, int* error) {
  static long reads = 0;
  const bool standard =
      rtl::platform::Handle{handle} == rtl::platform::standard_handle(rtl::platform::StdStream::input);
  if (!standard && ++reads == g_argument) {
    *error = rtl::platform::io_error_code();
    return -1;
  }
  return rtl::platform::real_raw_read(handle, data, size, error);
}

// Leaves the process g_argument KiB of address space beyond what it holds now.
void limit_memory() {
#if defined(PROBE_CAN_LIMIT_MEMORY)
  long pages = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max =
      static_cast<rlim_t>(pages) * 4096 + static_cast<rlim_t>(g_argument) * 1024;
  setrlimit(RLIMIT_AS, &limit);
#endif
}

// Report buffers of g_argument bytes or more are refused.
void* small_buffers_only(std::size_t size) {
  return size < static_cast<std::size_t>(g_argument) ? std::malloc(size) : nullptr;
}

void probe() {
  if (std::strcmp(g_mode, "segv") == 0) {
    // An address in the first page, which nothing maps, reached without a null pointer.
    *reinterpret_cast<volatile int*>(g_unmapped) = 1;
  } else if (std::strcmp(g_mode, "stack") == 0) {
    overflow(0);
  } else if (std::strcmp(g_mode, "deep") == 0) {
    recurse_then_read(40);
  } else if (std::strcmp(g_mode, "flawed-fdiv") == 0) {
    rtl::divide_flaw_check(flawed_divide);
    quil::dialogue();
  } else if (std::strcmp(g_mode, "read-fails") == 0) {
    rtl::platform::set_raw_read(failing_read);
    quil::dialogue();
  } else if (std::strcmp(g_mode, "memory") == 0) {
    limit_memory();
    quil::dialogue();
  } else if (std::strcmp(g_mode, "report-buffers-below") == 0) {
    rtl::set_report_allocator(small_buffers_only);
    quil::dialogue();
  } else if (std::strcmp(g_mode, "return") == 0) {
    return;
  } else if (std::strcmp(g_mode, "hold-sharing-reads") == 0 ||
             std::strcmp(g_mode, "hold-sharing-nothing") == 0) {
    // Another program that has the file open and lets others only read it, or nothing, until its input
    // ends.
    namespace platform = rtl::platform;
    const platform::OpenResult held =
        platform::open_file(g_text, platform::Creation::open_existing,
                            g_mode[13] == 'r' ? platform::Sharing::read_only : platform::Sharing::none);
    const char* said =
        held.refusal == platform::OpenRefusal::none && !held.read_only ? "holding\n" : "cannot hold\n";
    platform::write_all(platform::standard_handle(platform::StdStream::output), said, std::strlen(said));
    char c;
    while (platform::read(platform::standard_handle(platform::StdStream::input), &c, 1).status ==
           platform::ReadStatus::ok) {
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_mode = argv[1];
  if (argc > 2) g_argument = std::atol(argv[2]);
  if (argc > 2) g_text = argv[2];
  rtl::run_program(probe);
}
