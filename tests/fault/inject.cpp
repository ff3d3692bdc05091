// Preloaded into the program under test: fails the Nth allocation (malloc or realloc) when QUIL_FAULT
// holds "malloc:N", and creates the file named by QUIL_FAULT_FIRED when it does. Every other kind of
// failure is the door's own (the program's test build fails its calls on request).
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_realloc(void* p, size_t size);

namespace {

std::atomic<long> g_calls;
long g_fail_at = 0;  // 0: never
std::atomic<bool> g_ready{false};

// Reads QUIL_FAULT without allocating: getenv and plain parsing only.
void configure() {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  const char* faults = getenv("QUIL_FAULT");
  const char* entry = faults != nullptr ? strstr(faults, "malloc:") : nullptr;
  if (entry != nullptr) g_fail_at = strtol(entry + 7, nullptr, 10);
  g_ready.store(true);
}

[[maybe_unused]] bool fire() {
  if (!g_ready.load()) return false;  // getenv may not be safe before the C library is ready
  if (g_fail_at == 0 || ++g_calls != g_fail_at) return false;
  const char* marker = getenv("QUIL_FAULT_FIRED");
  if (marker != nullptr) {
    const long fd = syscall(SYS_openat, AT_FDCWD, marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) syscall(SYS_close, fd);
  }
  return true;
}

__attribute__((constructor)) void start() { configure(); }

}  // namespace

extern "C" {

// A sanitizer's allocator cannot be replaced: its builds fail no allocation.
#ifndef QUIL_FAULT_NO_MALLOC
void* malloc(size_t size) {
  if (fire()) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_malloc(size);
}

void* realloc(void* p, size_t size) {
  if (fire()) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_realloc(p, size);
}
#endif

}  // extern "C"
