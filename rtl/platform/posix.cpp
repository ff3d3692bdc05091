// The platform door on POSIX systems: files, names and whole files.
#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/ucontext.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cfenv>
#include <cstring>
#include <new>

#include "rtl/platform/backend.h"
#include "rtl/platform/door_faults.h"
#include "rtl/platform/platform.h"

extern char** environ;

namespace rtl::platform {

std::int64_t real_raw_write(std::intptr_t handle, const void* data, std::size_t size, int* error) {
  ssize_t n = ::write(static_cast<int>(handle), data, size);
  if (n < 0) *error = errno;
  return n;
}
std::int64_t real_raw_read(std::intptr_t handle, void* data, std::size_t size, int* error) {
  ssize_t n = ::read(static_cast<int>(handle), data, size);
  if (n < 0) *error = errno;
  return n;
}

namespace {

int fd_of(Handle h) { return static_cast<int>(h.value); }

OpenRefusal refusal_for(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return OpenRefusal::not_found;
    case EMFILE:
    case ENFILE:
      return OpenRefusal::too_many_files;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return OpenRefusal::access_denied;
    case ENXIO:
    case ENODEV:
      return OpenRefusal::bad_device;
    case EEXIST:
      return OpenRefusal::exists;
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
      return OpenRefusal::bad_name;
    default:
      return OpenRefusal::other;
  }
}

bool lacks_access(int err) { return err == EACCES || err == EPERM || err == EROFS; }

int open_retrying(const char* name, int flags) {
  int fd;
  do {
    fd = ::open(name, flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

Handle standard_handle(StdStream stream) {
  switch (stream) {
    case StdStream::input:
      return Handle{0};
    case StdStream::output:
      return Handle{1};
    case StdStream::error:
      return Handle{2};
  }
  return Handle{};
}

void reserve_standard_handles() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // /dev/null opened against the stream's direction: reads of output and writes of input fail.
    int placeholder = ::open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY));
    if (placeholder >= 0 && placeholder != fd) {
      dup2(placeholder, fd);
      ::close(placeholder);
    }
  }
}

namespace {
OpenResult refused(int err) {
  OpenResult result;
  result.refusal = refusal_for(err);
  result.error = static_cast<SysError>(err);
  return result;
}
}  // namespace

// POSIX has no mandatory share modes: the sharing setting is checked as text and asks for nothing here.
bool read_only_may_succeed(SysError error) { return lacks_access(static_cast<int>(error)); }

OpenResult open_once(const char* name, Creation creation, Sharing) {
  if (door_fails(Door::open)) return refused(static_cast<int>(injected_error(Door::open)));
  int flags = O_RDWR | O_NOCTTY;
  switch (creation) {
    case Creation::open_existing:
      break;
    case Creation::create_new:
      flags |= O_CREAT | O_EXCL;
      break;
    case Creation::open_or_create:
      flags |= O_CREAT;
      break;
    case Creation::replace:
      flags |= O_CREAT | O_TRUNC;
      break;
    case Creation::read_existing:
      flags = O_RDONLY | O_NOCTTY;
      break;
  }
  OpenResult result;
  result.read_only = creation == Creation::read_existing;
  struct stat st;
  if (creation != Creation::create_new && stat(name, &st) == 0 && S_ISFIFO(st.st_mode)) {
    result.pipe = true;
    return result;
  }
  const int fd = open_retrying(name, flags);
  if (fd < 0) return refused(errno);
  // A directory opens for reading, but it holds no records: refuse it as the system refuses writing it.
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return refused(EISDIR);
  }
  result.handle = Handle{fd};
  return result;
}

OpenResult open_pipe(const char* name, bool for_writing) {
  if (door_fails(Door::open)) return refused(static_cast<int>(injected_error(Door::open)));
  int fd = open_retrying(name, (for_writing ? O_WRONLY : O_RDONLY) | O_NOCTTY);
  if (fd < 0) return refused(errno);
  OpenResult result;
  result.handle = Handle{fd};
  return result;
}

OpenResult open_scratch_file(char* name, std::size_t capacity, Sharing) {
  const char* dir = getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  OpenResult result;
  int len = snprintf(name, capacity, "%s/RTLXXXXXX", dir);
  if (len < 0 || static_cast<std::size_t>(len) >= capacity) {
    result.refusal = OpenRefusal::bad_name;
    return result;
  }
  int fd = mkostemp(name, O_CLOEXEC);
  if (fd < 0) {
    result.refusal = refusal_for(errno);
    result.error = static_cast<SysError>(errno);
    return result;
  }
  ::unlink(name);
  result.handle = Handle{fd};
  return result;
}

DeviceNotation device_notation() { return DeviceNotation::posix; }

FileIdentity identity(Handle h) {
  struct stat st;
  if (door_fails(Door::stat) || fstat(fd_of(h), &st) != 0) return {};
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), true};
}

bool is_disk_file(Handle h, SysError* error) {
  struct stat st;
  const bool known = !door_fails(Door::stat) && fstat(fd_of(h), &st) == 0;
  if (error != nullptr) *error = known ? 0 : static_cast<SysError>(errno);
  return known && S_ISREG(st.st_mode);
}

bool terminal_hung_up(Handle h) {
  termios settings;
  return tcgetattr(fd_of(h), &settings) != 0 && errno == EIO;
}

// Subtle: a terminal that has just been hung up no longer answers as one, but it is still the console
// whose hang-up is on its way.
bool is_terminal(Handle h) { return isatty(fd_of(h)) == 1 || terminal_hung_up(h); }

std::int64_t position(Handle h) { return lseek(fd_of(h), 0, SEEK_CUR); }
bool seek(Handle h, std::int64_t offset) {
  return !door_fails(Door::seek) && lseek(fd_of(h), offset, SEEK_SET) == offset;
}
bool seek_end(Handle h) { return !door_fails(Door::seek) && lseek(fd_of(h), 0, SEEK_END) >= 0; }

SysError truncate_here(Handle h, std::int64_t length) {
  if (door_fails(Door::truncate)) return injected_error(Door::truncate);
  int rc;
  do {
    rc = ftruncate(fd_of(h), length);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : static_cast<SysError>(errno);
}

SysError close(Handle h) {
  const bool fails = door_fails(Door::close);
  // When it fails, the descriptor is gone all the same, as the system does it.
  if (::close(fd_of(h)) != 0) return static_cast<SysError>(errno);
  return fails ? injected_error(Door::close) : 0;
}

bool redirect_standard_error(const char* path) {
  int fd = open_retrying(path, O_WRONLY | O_APPEND | O_CREAT);
  if (fd < 0) return false;
  bool ok = fd == 2 || dup2(fd, 2) == 2;
  if (fd != 2) ::close(fd);
  return ok;
}

bool append_to_file(const char* path, const void* data, std::size_t size) {
  int fd = open_retrying(path, O_WRONLY | O_APPEND | O_CREAT);
  if (fd < 0) return false;
  bool ok = write_all(Handle{fd}, data, size) == 0;
  ::close(fd);
  return ok;
}

SysError rename_file(const char* from, const char* to) {
  if (door_fails(Door::rename)) {
    if (failed_rename_removes_target()) ::unlink(to);
    return injected_error(Door::rename);
  }
  return ::rename(from, to) == 0 ? 0 : static_cast<SysError>(errno);
}

// A second name for the same file: later changes under the first name replace that name, not the file.
SysError keep_copy(const char* original, const char* copy) {
  if (door_fails(Door::copy)) return injected_error(Door::copy);
  return ::link(original, copy) == 0 ? 0 : static_cast<SysError>(errno);
}

bool file_exists_error(SysError error) { return error == EEXIST; }
SysError name_too_long_error() { return ENAMETOOLONG; }

SysError remove_file(const char* name) {
  if (door_fails(Door::remove)) return injected_error(Door::remove);
  return ::unlink(name) == 0 ? 0 : static_cast<SysError>(errno);
}

SysError copy_permissions(const char* original, const char* copy) {
  struct stat st;
  if (::stat(original, &st) != 0) return errno == ENOENT ? 0 : static_cast<SysError>(errno);
  // Only a privileged user may give a file away; everyone else keeps it as their own.
  if (::chown(copy, st.st_uid, st.st_gid) != 0 && errno != EPERM) return static_cast<SysError>(errno);
  return ::chmod(copy, st.st_mode & 07777) == 0 ? 0 : static_cast<SysError>(errno);
}

NameKind name_kind(const char* name, char* target, std::size_t capacity, SysError* error) {
  *error = 0;
  struct stat st;
  if (::stat(name, &st) != 0) {
    *error = static_cast<SysError>(errno);
    if (errno != ENOENT) return NameKind::other;
    struct stat link;
    return ::lstat(name, &link) == 0 && S_ISLNK(link.st_mode) ? NameKind::dangling_link : NameKind::missing;
  }
  if (S_ISDIR(st.st_mode)) return NameKind::folder;
  if (!S_ISREG(st.st_mode)) return NameKind::other;
  struct stat link;
  const std::size_t n = std::strlen(name);
  if (::lstat(name, &link) == 0 && S_ISLNK(link.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(name, resolved) == nullptr || std::strlen(resolved) >= capacity) {
      *error = static_cast<SysError>(errno != 0 ? errno : ENAMETOOLONG);
      return NameKind::other;
    }
    std::memcpy(target, resolved, std::strlen(resolved) + 1);
  } else if (n < capacity) {
    std::memcpy(target, name, n + 1);
  } else {
    *error = ENAMETOOLONG;
    return NameKind::other;
  }
  return NameKind::regular_file;
}

bool file_facts(const char* name, FileFacts* facts) {
  struct stat st;
  if (::stat(name, &st) != 0) return false;
  facts->device = st.st_dev;
  facts->index = st.st_ino;
  facts->links = st.st_nlink;
  facts->size = st.st_size;
  facts->modified = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  facts->changed = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
  facts->regular_file = S_ISREG(st.st_mode);
  return true;
}

// No program here can hold a file against its replacement.
SysError replaceable(const char*) { return 0; }

bool slash_options() { return false; }

// Names here are files: a device is reached by its path in /dev.
bool device_name(const char*) { return false; }

bool writable_file(const char* name, SysError* refusal) {
  const bool writable = ::access(name, W_OK) == 0;
  if (refusal != nullptr) *refusal = writable || errno == EACCES || errno == EPERM ? 0 : errno;
  return writable;
}

void restrict_new_files_to(const char* original) {
  static mode_t initial = umask(022);
  umask(initial);
  struct stat st;
  if (original != nullptr && ::stat(original, &st) == 0) umask(initial | (~st.st_mode & 0777));
}

std::int64_t file_size(Handle h) {
  if (door_fails(Door::stat)) return -1;
  struct stat st;
  if (fstat(fd_of(h), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

int expand_wildcards(const char* pattern, void (*take)(const char*, void*), void* context) {
  take(pattern, context);
  return 1;
}

namespace {
// Folds ".", ".." and repeated "/" of an absolute name into `out`; returns its length, 0 when it does not
// fit.
std::size_t fold_parts(const char* joined, std::size_t n, char* out, std::size_t capacity) {
  std::size_t len = 0;
  for (std::size_t i = 0; i < n;) {
    while (i < n && joined[i] == '/') ++i;
    const std::size_t start = i;
    while (i < n && joined[i] != '/') ++i;
    const std::string_view part(joined + start, i - start);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      while (len > 0 && out[len - 1] != '/') --len;
      if (len > 0) --len;
      continue;
    }
    if (len + 1 + part.size() >= capacity) return 0;
    out[len++] = '/';
    memcpy(out + len, part.data(), part.size());
    len += part.size();
  }
  if (len == 0) {
    if (capacity < 2) return 0;
    out[len++] = '/';
  }
  out[len] = '\0';
  return len;
}
}  // namespace

std::size_t full_path(std::string_view name, char* out, std::size_t capacity) {
  if (name.empty()) return 0;
  // Lexical: join with the current directory, fold ".", ".." and repeated "/"; links are not resolved.
  char joined[4096 + 2];
  std::size_t n = 0;
  if (name.front() != '/') {
    if (getcwd(joined, sizeof joined - 1) == nullptr) return 0;
    n = strlen(joined);
    joined[n++] = '/';
  }
  if (n + name.size() >= sizeof joined) return 0;
  memcpy(joined + n, name.data(), name.size());
  return fold_parts(joined, n + name.size(), out, capacity);
}

}  // namespace rtl::platform
