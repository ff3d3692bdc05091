// Preloaded into the program under test: fails the Nth call of one kind, or sends a console signal at the
// Nth write. QUIL_FAULT names them, e.g. "write:17" or "malloc:3,signal:20"; the kinds are malloc (and
// realloc), read, write, open, seek, truncate, close, stat, rename, link and signal. When a fault fires, the
// file named by QUIL_FAULT_FIRED is created, so that a sweep knows when N has passed the last call of its
// kind. eof:N makes the Nth read find the end of its input; readsignal:N sends the console signal at the Nth
// read and waits until it has been taken, before the read itself. QUIL_FAULT_SIGNAL names the signal
// by number (else SIGHUP at an even N, SIGQUIT at an odd one); signal:next sends it at the first write
// after the end of input that eof:N made.
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_realloc(void* p, size_t size);

namespace {

enum Kind {
  k_malloc,
  k_read,
  k_write,
  k_open,
  k_seek,
  k_truncate,
  k_close,
  k_stat,
  k_rename,
  k_link,
  k_signal,
  k_eof,
  k_readsignal,
  k_count
};
constexpr const char* kNames[k_count] = {"malloc", "read",   "write", "open",   "seek", "truncate",  "close",
                                         "stat",   "rename", "link",  "signal", "eof",  "readsignal"};

std::atomic<long> g_calls[k_count];
long g_fail_at[k_count];  // 0: never
std::atomic<bool> g_ready{false};
std::atomic<bool> g_signal_at_next_write{false};

// Reads QUIL_FAULT without allocating: getenv and plain parsing only.
void configure() {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  const char* faults = getenv("QUIL_FAULT");
  for (const char* p = faults; p != nullptr && *p != '\0';) {
    for (int k = 0; k < k_count; ++k) {
      const size_t n = strlen(kNames[k]);
      if (strncmp(p, kNames[k], n) == 0 && p[n] == ':') {
        g_fail_at[k] = strncmp(p + n + 1, "next", 4) == 0 ? -1 : strtol(p + n + 1, nullptr, 10);
      }
    }
    p = strchr(p, ',');
    if (p != nullptr) ++p;
  }
  g_ready.store(true);
}

void mark_fired() {
  const char* marker = getenv("QUIL_FAULT_FIRED");
  if (marker == nullptr) return;
  const long fd = syscall(SYS_openat, AT_FDCWD, marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) syscall(SYS_close, fd);
}

// Whether this call of the kind is the one to fail.
bool fire(Kind k) {
  if (!g_ready.load()) {
    if (k == k_malloc) return false;  // getenv may not be safe before the C library is ready
    configure();
  }
  if (g_fail_at[k] == 0 || ++g_calls[k] != g_fail_at[k]) return false;
  mark_fired();
  return true;
}

long failed(int error) {
  errno = error;
  return -1;
}

__attribute__((constructor)) void start() { configure(); }

}  // namespace

extern "C" {

// A sanitizer's allocator cannot be replaced: its builds fail no allocation.
#ifndef QUIL_FAULT_NO_MALLOC
void* malloc(size_t size) {
  if (fire(k_malloc)) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_malloc(size);
}

void* realloc(void* p, size_t size) {
  if (fire(k_malloc)) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_realloc(p, size);
}
#endif

int signal_for(long n) {
  const char* chosen = getenv("QUIL_FAULT_SIGNAL");
  if (chosen != nullptr) return static_cast<int>(strtol(chosen, nullptr, 10));
  return n % 2 == 0 ? SIGHUP : SIGQUIT;
}

// Sends the signal and waits until no thread has it pending: its handler has taken it.
void deliver(int sig) {
  syscall(SYS_kill, getpid(), sig);
  for (int i = 0; i < 1000; ++i) {
    sigset_t pending;
    if (sigpending(&pending) != 0 || sigismember(&pending, sig) != 1) break;
    sched_yield();
  }
  const timespec settle{0, 20 * 1000 * 1000};
  nanosleep(&settle, nullptr);
}

ssize_t read(int fd, void* buffer, size_t size) {
  if (fire(k_readsignal)) deliver(signal_for(g_fail_at[k_readsignal]));
  if (fire(k_eof)) {
    g_signal_at_next_write.store(g_fail_at[k_signal] == -1);
    return 0;
  }
  if (fire(k_read)) return failed(EIO);
  return syscall(SYS_read, fd, buffer, size);
}

ssize_t write(int fd, const void* data, size_t size) {
  // A console event arrives while this write is under way: the signal first, then the write itself.
  if (g_signal_at_next_write.exchange(false)) deliver(signal_for(0));
  if (fire(k_signal)) syscall(SYS_kill, getpid(), signal_for(g_fail_at[k_signal]));
  if (fire(k_write)) return failed(ENOSPC);
  return syscall(SYS_write, fd, data, size);
}

int open(const char* name, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(args, mode_t) : 0;
  va_end(args);
  if (fire(k_open)) return static_cast<int>(failed(EMFILE));
  return static_cast<int>(syscall(SYS_openat, AT_FDCWD, name, flags, mode));
}

off_t lseek(int fd, off_t offset, int whence) {
  if (fire(k_seek)) return failed(EIO);
  return syscall(SYS_lseek, fd, offset, whence);
}

int ftruncate(int fd, off_t length) {
  if (fire(k_truncate)) return static_cast<int>(failed(EIO));
  return static_cast<int>(syscall(SYS_ftruncate, fd, length));
}

int close(int fd) {
  if (fire(k_close)) {
    syscall(SYS_close, fd);  // as the system does: the descriptor is gone all the same
    return static_cast<int>(failed(EIO));
  }
  return static_cast<int>(syscall(SYS_close, fd));
}

int fstat(int fd, struct stat* st) {
  if (fire(k_stat)) return static_cast<int>(failed(EIO));
  return static_cast<int>(syscall(SYS_fstat, fd, st));
}

int stat(const char* name, struct stat* st) {
  if (fire(k_stat)) return static_cast<int>(failed(EIO));
  return static_cast<int>(syscall(SYS_newfstatat, AT_FDCWD, name, st, 0));
}

int rename(const char* from, const char* to) {
  if (fire(k_rename)) return static_cast<int>(failed(EIO));
  return static_cast<int>(syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to));
}

int link(const char* from, const char* to) {
  if (fire(k_link)) return static_cast<int>(failed(EPERM));
  return static_cast<int>(syscall(SYS_linkat, AT_FDCWD, from, AT_FDCWD, to, 0));
}

}  // extern "C"
