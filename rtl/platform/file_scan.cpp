// Scans of a whole file by name, for a program that cuts a file into parts at line ends.
#include <cstring>
#include <thread>

#include "rtl/platform/platform.h"

namespace rtl::platform {
namespace {

constexpr std::size_t kBlock = 1 << 16;

// Opened for reading and positioned at `offset`; an invalid handle when either fails.
Handle open_at(const char* name, std::int64_t offset) {
  const OpenResult opened = open_file(name, Creation::read_existing, Sharing::read_write);
  if (opened.refusal != OpenRefusal::none || opened.pipe) return Handle{};
  if (!seek(opened.handle, offset)) {
    close(opened.handle);
    return Handle{};
  }
  return opened.handle;
}

}  // namespace

int processor_count() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

std::int64_t line_start_after(const char* name, std::int64_t offset, std::int64_t end) {
  if (offset <= 0) return 0;
  const Handle h = open_at(name, offset - 1);
  if (!h.valid()) return -1;
  static thread_local char block[kBlock];
  std::int64_t at = offset - 1, found = end;
  while (at < end) {
    const ReadResult r = read(h, block, kBlock);
    if (r.status != ReadStatus::ok || r.bytes == 0) break;
    if (const void* lf = std::memchr(block, '\n', r.bytes)) {
      found = at + (static_cast<const char*>(lf) - block) + 1;
      break;
    }
    at += static_cast<std::int64_t>(r.bytes);
  }
  close(h);
  return found < end ? found : end;
}

std::int64_t count_lines(const char* name, std::int64_t from, std::int64_t to, bool* ends_input) {
  *ends_input = false;
  const Handle h = open_at(name, from);
  if (!h.valid()) return -1;
  static thread_local char block[kBlock];
  std::int64_t lines = 0, left = to - from;
  char last = '\n';
  // Whether the line being scanned so far is a lone Ctrl-Z (and a CR before its LF).
  int lone = 0;  // 0 new line, 1 Ctrl-Z seen, 2 Ctrl-Z and CR seen, 3 anything else
  while (left > 0) {
    const ReadResult r =
        read(h, block, left < static_cast<std::int64_t>(kBlock) ? static_cast<std::size_t>(left) : kBlock);
    if (r.status != ReadStatus::ok || r.bytes == 0) break;
    for (std::size_t i = 0; i < r.bytes; ++i) {
      const char c = block[i];
      if (c == '\n') {
        ++lines;
        if (lone == 1 || lone == 2) *ends_input = true;
        lone = 0;
      } else {
        lone = lone == 0 && c == 0x1A ? 1 : lone == 1 && c == '\r' ? 2 : 3;
      }
    }
    last = block[r.bytes - 1];
    left -= static_cast<std::int64_t>(r.bytes);
  }
  close(h);
  if (left > 0) return -1;
  // A last line without a line end is a record all the same.
  if (last != '\n' && to > from) {
    ++lines;
    if (lone == 1 || lone == 2) *ends_input = true;
  }
  return lines;
}

}  // namespace rtl::platform
