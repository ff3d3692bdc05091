// Takes one of the run-time's fatal roads on request, inside the same program entry as QUIL.
#include <cstdint>
#include <cstring>
#include <span>

#include "driver/driver.h"
#include "rtl/io.h"
#include "rtl/startup.h"

namespace {

const char* g_mode = "";
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
    quil::driver();
  } else if (std::strcmp(g_mode, "return") == 0) {
    return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_mode = argv[1];
  rtl::run_program(probe);
}
