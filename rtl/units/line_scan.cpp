#include "rtl/units/line_scan.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "rtl/vector.h"
#if QUIL_VECTOR
#include <emmintrin.h>
#endif

#include "rtl/platform/platform.h"
#include "rtl/units/record_rules.h"

namespace rtl {
using namespace platform;
namespace {

// As the record layer reads.
constexpr std::size_t kBlock = kTransferBlock;

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

// A block of the heap for one scan: a thread that never scans pays nothing for it.
std::unique_ptr<char[]> scan_block() { return std::unique_ptr<char[]>(new (std::nothrow) char[kBlock]); }

std::int64_t line_start_after(const char* name, std::int64_t offset, std::int64_t end) {
  if (offset <= 0) return 0;
  const std::unique_ptr<char[]> memory = scan_block();
  const Handle h = memory ? open_at(name, offset - 1) : Handle{};
  if (!h.valid()) return -1;
  char* const block = memory.get();
  // A cut inside a line longer than any record finds no line start: the file is read in one piece,
  // which stops at that line, instead of being read to its end here.
  const std::int64_t farthest = offset + static_cast<std::int64_t>(kLongestRecord) + 1;
  std::int64_t at = offset - 1, found = end;
  while (at < end) {
    if (at > farthest) {
      found = -1;
      break;
    }
    const ReadResult r = read(h, block, kBlock);
    if (r.status != ReadStatus::ok || r.bytes == 0) break;
    if (const void* lf = std::memchr(block, kLineEnd, r.bytes)) {
      found = at + (static_cast<const char*>(lf) - block) + 1;
      break;
    }
    at += static_cast<std::int64_t>(r.bytes);
  }
  close(h);
  return std::min(found, end);
}

namespace {
// Lines counted as their bytes come, with whether one of them is a lone Ctrl-Z (a CR before its LF
// aside).
struct LineCounter {
  std::int64_t lines = 0;
  bool lone_ctrl_z = false;
  char last = kLineEnd;
  enum class Line { fresh, ctrl_z, ctrl_z_cr, other } line = Line::fresh;

  void end_line() {
    ++lines;
    lone_ctrl_z = lone_ctrl_z || line == Line::ctrl_z || line == Line::ctrl_z_cr;
    line = Line::fresh;
  }
  // A lone Ctrl-Z line: the mark, then perhaps the CR of the line end (ends_input's rule, byte by byte).
  void take(char c) {
    if (c == kLineEnd) return end_line();
    if (line == Line::fresh && c == kEndOfInputMark) {
      line = Line::ctrl_z;
    } else if (line == Line::ctrl_z && c == kCarriageReturn) {
      line = Line::ctrl_z_cr;
    } else {
      line = Line::other;
    }
  }
  // A block: where no Ctrl-Z stands in it, nor before its first line end, only its line ends count, and
  // the machine counts them many at a time; else byte by byte.
  void take(const char* block, std::size_t n) {
    std::int64_t ends = 0;
    const bool plain = (line == Line::fresh || line == Line::other) && count_plain(block, n, &ends);
    if (!plain) {
      for (std::size_t i = 0; i < n; ++i) take(block[i]);
      return;
    }
    lines += ends;
    line = block[n - 1] == kLineEnd ? Line::fresh : Line::other;
  }

  // The line ends of a block in one look at each byte; false when a Ctrl-Z stands in it.
  static bool count_plain(const char* block, std::size_t n, std::int64_t* ends) {
    std::size_t i = 0;
#if QUIL_VECTOR
    // Sixteen columns at a time: each column's count of line ends in a byte, summed before it can wrap.
    const __m128i lf = _mm_set1_epi8(kLineEnd), ctrl_z = _mm_set1_epi8(kEndOfInputMark);
    __m128i seen_ctrl_z = _mm_setzero_si128(), total = _mm_setzero_si128();
    while (i + 16 <= n) {
      __m128i counts = _mm_setzero_si128();
      for (int k = 0; k < 255 && i + 16 <= n; ++k, i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
        counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(v, lf));
        seen_ctrl_z = _mm_or_si128(seen_ctrl_z, _mm_cmpeq_epi8(v, ctrl_z));
      }
      total = _mm_add_epi64(total, _mm_sad_epu8(counts, _mm_setzero_si128()));
    }
    if (_mm_movemask_epi8(seen_ctrl_z) != 0) return false;
    *ends = _mm_cvtsi128_si64(total) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(total, total));
#endif
    for (; i < n; ++i) {
      if (block[i] == kEndOfInputMark) return false;
      *ends += block[i] == kLineEnd;
    }
    return true;
  }
};
}  // namespace

std::int64_t count_lines(const char* name, std::int64_t from, std::int64_t to, bool* ends_input) {
  *ends_input = false;
  const std::unique_ptr<char[]> memory = scan_block();
  const Handle h = memory ? open_at(name, from) : Handle{};
  if (!h.valid()) return -1;
  char* const block = memory.get();
  LineCounter counter;
  std::int64_t left = to - from;
  while (left > 0) {
    const std::size_t want =
        left < static_cast<std::int64_t>(kBlock) ? static_cast<std::size_t>(left) : kBlock;
    const ReadResult r = read(h, block, want);
    if (r.status != ReadStatus::ok || r.bytes == 0) break;
    counter.take(block, r.bytes);
    counter.last = block[r.bytes - 1];
    left -= static_cast<std::int64_t>(r.bytes);
  }
  close(h);
  if (left > 0) return -1;
  // A last line without a line end is a record all the same.
  if (counter.last != kLineEnd && to > from) counter.end_line();
  *ends_input = counter.lone_ctrl_z;
  return counter.lines;
}

}  // namespace rtl
