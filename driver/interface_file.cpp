#include "driver/interface_file.h"

#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quil {
namespace {

// The rule, and what it rests on: about 232,000 lines of 42 models and results files written by current
// pre-processors, panel and hydrodynamic programs (2017 to 2024, LF and CR LF), against the other files
// that lie beside them under the same names.
struct Rule {
  NotInterface why;
  const char* words;
  // Evidence: what real interface files never show, and what the others do.
};
constexpr Rule kRules[] = {
    // Binary record files carry NUL and other control bytes within their first few bytes. Interface
    // files hold none below 32 but tab, CR, LF and Ctrl-Z, outside announced text records (a results
    // file's TEXT header may announce records of 72 NUL bytes: those pass).
    {NotInterface::binary, "binary data"},
    // Compressed models are read through a filter, never repaired as they are.
    {NotInterface::gzip, "gzip data"},
    // An editor's UTF-16 (PowerShell's > writes it): its byte order mark.
    {NotInterface::utf16, "UTF-16 text"},
    // Records are 72 columns and lines in real files at most about 80; binary "lines" run to thousands.
    {NotInterface::long_line, "a line longer than any record"},
    // No number field of a real file holds a blank between two other characters, damaged or not;
    // another program's free-format columns and 8-column cards do, and reading them as 16-column fields
    // changes their values.
    {NotInterface::blank_in_number, "blanks inside a number field"},
    // A CSV table or a note with no data record only loses its columns past 72 by a rewrite.
    {NotInterface::no_data_record, "no line reads as a data record"},
};

constexpr std::size_t kLongestLine = 1024;

#if defined(__SSE2__)
// Bit i set where column i of the 16 is not a blank.
unsigned non_blank_columns(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')))) & 0xFFFFu;
}
// Whether any of the 16 bytes is below 32.
bool has_control_byte(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(32)), v)) != 0xFFFF;
}
// Whether the 72 columns of a data line (and what follows them) hold a byte below 32.
[[gnu::always_inline]] inline bool control_in_data_line(const char* p, std::size_t size) {
  auto load = [](const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  __m128i least = _mm_min_epu8(_mm_min_epu8(load(p), load(p + 8)), _mm_min_epu8(load(p + 24), load(p + 40)));
  least = _mm_min_epu8(least, load(p + 56));
  if (size > 72) least = _mm_min_epu8(least, load(p + size - 16));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(least, _mm_set1_epi8(32)), least)) != 0xFFFF;
}
#else
std::uint64_t word_at(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}
unsigned non_blanks(std::uint64_t w) {
  const std::uint64_t x = w ^ 0x2020202020202020ull;  // blanks become 0
  const std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
  const std::uint64_t nonzero = (((x & low7) + low7) | x) & 0x8080808080808080ull;
  return static_cast<unsigned>(((nonzero >> 7) * 0x0102040810204080ull) >> 56);
}
unsigned non_blank_columns(const char* p) {
  return non_blanks(word_at(p)) | (non_blanks(word_at(p + 8)) << 8);
}
bool has_control_byte(const char* p) {
  const std::uint64_t a = word_at(p), b = word_at(p + 8), low = 0x2020202020202020ull,
                      high = 0x8080808080808080ull;
  return (((a - low) & ~a) | ((b - low) & ~b)) & high;
}
[[gnu::always_inline]] inline bool control_in_data_line(const char* p, std::size_t size) {
  return has_control_byte(p) || has_control_byte(p + 8) || has_control_byte(p + 24) ||
         has_control_byte(p + 40) || has_control_byte(p + 56) ||
         (size > 72 && has_control_byte(p + size - 16));
}
#endif

// Whether a 16-column field of the four has a blank between two other characters: its non-blank
// columns do not stand together.
[[gnu::always_inline]] inline bool blank_inside_fields(const char* p) {
  const unsigned a = non_blank_columns(p + 8), b = non_blank_columns(p + 24), c = non_blank_columns(p + 40),
                 d = non_blank_columns(p + 56);
  auto holes = [](unsigned m) { return (m + (m & (0u - m))) & m; };
  return (holes(a) | holes(b) | holes(c) | holes(d)) != 0;
}

bool allowed_control(unsigned char c) { return c == '\t' || c == '\r' || c == '\n' || c == 0x1A; }

NotInterface control_bytes(std::string_view line, unsigned char* byte, std::size_t* column) {
  bool suspect = line.size() < 16;
  for (std::size_t i = 0; !suspect && i < line.size(); i += 16) {
    // The last block overlaps the one before it rather than reading past the line.
    suspect = has_control_byte(line.data() + (i + 16 <= line.size() ? i : line.size() - 16));
  }
  if (!suspect) return NotInterface::no;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c < 32 && !allowed_control(c)) {
      *byte = c;
      *column = i + 1;
      return NotInterface::binary;
    }
  }
  return NotInterface::no;
}

}  // namespace

NotInterface look_at_line(std::string_view line, bool data_record, bool first_line, unsigned char* byte,
                          std::size_t* column) {
  if (first_line && line.size() >= 2) {
    const auto b0 = static_cast<unsigned char>(line[0]), b1 = static_cast<unsigned char>(line[1]);
    if (b0 == 0x1F && b1 == 0x8B) return NotInterface::gzip;
    if ((b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF)) return NotInterface::utf16;
  }
  if (line.size() > kLongestLine) return NotInterface::long_line;
  if (data_record && line.size() >= 72) {
    // The common line: the blocks of the name and the four fields cover its 72 columns.
    const char* p = line.data();
    if (control_in_data_line(p, line.size()) && control_bytes(line, byte, column) != NotInterface::no)
      return NotInterface::binary;
    return blank_inside_fields(p) ? NotInterface::blank_in_number : NotInterface::no;
  }
  if (NotInterface why = control_bytes(line, byte, column); why != NotInterface::no) return why;
  if (data_record) {
    // A short record reads as blanks past its end.
    char record[72];
    std::memset(record, ' ', sizeof record);
    std::memcpy(record, line.data(), line.size());
    if (blank_inside_fields(record)) return NotInterface::blank_in_number;
  }
  return NotInterface::no;
}

std::string verdict_words(const InterfaceVerdict& v) {
  const char* words = "";
  for (const Rule& r : kRules) {
    if (r.why == v.why) words = r.words;
  }
  std::string text = v.line > 0 ? "line " + std::to_string(v.line) + ": " + words : words;
  if (v.why == NotInterface::binary) {
    char detail[48];
    std::snprintf(detail, sizeof detail, " (byte 0x%02X at column %zu)", v.byte, v.column);
    text += detail;
  }
  return text;
}

}  // namespace quil
