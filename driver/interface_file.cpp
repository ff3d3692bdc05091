#include "driver/interface_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "rtl/vector.h"
#if QUIL_VECTOR
#include <emmintrin.h>
#endif

namespace quil {
namespace {

using namespace interface_rule;

// Whether the non-blank columns of a mask do not stand together. Adding the lowest set bit carries
// through the first run of set bits and clears it; any bit still set belonged to a later run.
constexpr unsigned holes(unsigned m) { return (m + (m & (0u - m))) & m; }
static_assert(holes(0b0111'1000) == 0 && holes(0b1011'0000) != 0 && holes(0) == 0);

// Whether a name field breaks the rule "a capital letter, then capitals, digits and _, then blanks",
// given which of its columns are not blank (`name`), which are such characters (`word`) and which are
// capitals (`upper`). Subtle: the name's columns must stand together from column 1 (name is 2^k - 1),
// so a name that begins later or has a blank inside breaks it with the rest.
constexpr unsigned name_breaks(unsigned name, unsigned word, unsigned upper) {
  return (name & (name + 1)) | (name & ~word) | (name & ~upper & 1u);
}
static_assert(name_breaks(0b0001'1111, 0b1111'1111, 0b0000'0001) == 0 && name_breaks(0, 0, 0) == 0 &&
              name_breaks(0b0001'1110, 0xFF, 0xFF) != 0 && name_breaks(0b0011'1011, 0xFF, 0xFF) != 0);

// What an interface file is, and what it rests on: 42 models and results files of seven writers
// (2017 to 2025, LF and CR LF, 232,311 records) and 8,085 card lines quoted in a reader's tests, against
// the files of other formats that lie beside them under the same names. Outside the text records that a
// header announces, every line of them is a record: a name in columns 1 to 8 and numbers in four
// 16-column fields.
//
// One line that breaks the rule refuses the file. Damage is confined to the number fields, and every
// damage the pre-processor does there (a number that fills its field and touches the one before, a sign
// in a field's first column, a three-digit exponent without its letter) still reads as the number it
// was. A line that breaks the rule is no record at all, and a rewrite would change it: a file with one
// such line is no model QUIL may repair unasked (-f repairs it all the same).
//
// A line whose name columns are blank and which does not read as numbers is a note that no header
// announced (writers leave them after a block whose count fell short): it is copied through as text,
// and only asked what every line is asked.
struct Rule {
  NotInterface why;
  const char* words;
  // Evidence: what real interface files never show, and what the others do.
};
constexpr Rule kRules[] = {
    // Binary record files carry NUL and other control bytes within their first few bytes. Interface
    // files hold none below 32 but CR, LF and Ctrl-Z, outside announced text records (a results file's
    // TEXT header may announce records of 72 NUL bytes: those pass).
    {NotInterface::binary, "binary data"},
    // Compressed models are read through a filter, never repaired as they are.
    {NotInterface::gzip, "gzip data"},
    // An editor's UTF-16 (PowerShell's > writes it): its byte order mark.
    {NotInterface::utf16, "UTF-16 text"},
    // Records are 72 columns and lines in real files at most about 80; binary "lines" run to thousands.
    {NotInterface::long_line, "a line longer than any record"},
    // No line of a real file has anything past column 72, where a rewrite cuts it off; card decks with
    // sequence numbers in 73 to 80 and free-format tables do.
    {NotInterface::past_last_column, "text past column 72"},
    // Tab-separated point lists and tables.
    {NotInterface::tab, "a tab in a data line"},
    // Free-field bulk data and CSV tables: a comma ends a number field early, so every such line would
    // read as a record of other numbers.
    {NotInterface::comma, "a comma in a data line"},
    // Columnar text formats indent their keywords and names (column 2, 5, 15, ...); decks begin with
    // words in free form ("  ECHO = NONE").
    {NotInterface::name_not_in_column_1, "a record name that does not begin in column 1"},
    // A record name is a capital letter, then capitals, digits and _, then blanks to column 8; decks and
    // other formats have "SOL 159", "$$ comment", "[Format]", "GRID*".
    {NotInterface::name_characters, "a record name that is not capitals and digits"},
    // No number field of a real file holds a blank between two other characters, damaged or not;
    // another program's free-format columns and 8-column cards do, and reading them as 16-column fields
    // changes their values.
    {NotInterface::blank_in_number, "blanks inside a number field"},
    // A named record whose fields hold words ("NAME          HS21") is another format's line.
    {NotInterface::not_a_number, "a number field that does not read as a number"},
    // A table or a note with no data record only loses its columns past 72 by a rewrite.
    {NotInterface::no_data_record, "no line reads as a data record"},
    // A lone Ctrl-Z line ends the input as the field's readers read it; lines after it are no part of
    // the model, and a rewrite would drop them.
    {NotInterface::lines_after_end_mark, "lines after an end-of-file mark (Ctrl-Z)"},
    // Models hold finite reals; an infinity, a NaN or a value past the largest real is written as a word
    // that the field's readers, and QUIL's own check, do not take for a number.
    {NotInterface::not_finite, "a number that is infinite or not a number"},
};

// Bit i set where column i of the 16 at `p` is not a blank.
unsigned non_blank_columns(const char* p) {
  unsigned mask = 0;
  for (unsigned i = 0; i < kFieldColumns; ++i) mask |= (p[i] != ' ' ? 1u : 0u) << i;
  return mask;
}

bool is_name_character(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }

#if QUIL_VECTOR
__m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
unsigned mask_of(__m128i v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }
// Bytes from `low` to `low + count - 1`, found as the lowest signed bytes once moved by -128 - low.
__m128i in_range(__m128i v, char low, int count) {
  return _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(-128 - low))),
                        _mm_set1_epi8(static_cast<char>(-128 + count)));
}

#endif

bool allowed_control(unsigned char c) { return c == '\t' || c == '\r' || c == '\n' || c == 0x1A; }

NotInterface control_bytes(std::string_view line, unsigned char* byte, std::size_t* column) {
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

NotInterface file_signature(std::string_view line) {
  if (line.size() < 2) return NotInterface::no;
  const auto b0 = static_cast<unsigned char>(line[0]), b1 = static_cast<unsigned char>(line[1]);
  if (b0 == 0x1F && b1 == 0x8B) return NotInterface::gzip;
  if ((b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF)) return NotInterface::utf16;
  return NotInterface::no;
}

NotInterface name_field(std::string_view columns) {
  unsigned name = 0, word = 0, upper = 0, bit = 1;
  for (const char c : columns) {
    name |= c != ' ' ? bit : 0;
    word |= is_name_character(c) ? bit : 0;
    upper |= c >= 'A' && c <= 'Z' ? bit : 0;
    bit <<= 1;
  }
  if (name_breaks(name, word, upper) == 0) return NotInterface::no;
  return columns[0] == ' ' ? NotInterface::name_not_in_column_1 : NotInterface::name_characters;
}

// A line that is, or claims by its name to be, a record.
NotInterface record_line(std::string_view line, const char (&record)[kLastColumn], bool data_record) {
  if (line.find('\t') != std::string_view::npos) return NotInterface::tab;
  if (line.find(',') != std::string_view::npos) return NotInterface::comma;
  if (NotInterface why = name_field({record, kNameColumns}); why != NotInterface::no) return why;
  if (!data_record) return NotInterface::not_a_number;
  for (std::size_t at = kNameColumns; at < kLastColumn; at += kFieldColumns) {
    if (holes(non_blank_columns(record + at)) != 0) return NotInterface::blank_in_number;
  }
  return NotInterface::no;
}

}  // namespace

#if QUIL_VECTOR
namespace {

// Whether the non-blank columns of each field stand together: the rule itself, for fields where the quick
// look found a blank after text (a number written from the left, a line that ends inside a field).
bool fields_without_holes(const __m128i (&fields)[4]) {
  unsigned found = 0;
  for (const __m128i field : fields)
    found |= holes(~mask_of(_mm_cmpeq_epi8(field, _mm_set1_epi8(' '))) & 0xFFFFu);
  return found == 0;
}

// Whether the eight name columns at p hold a name as records have it. A model uses a few dozen record
// names: each is asked once and then found in the table. Subtle: a name is looked for in both slots of its
// pair at once, so that two names of a file that hash alike do not take turns in one slot, and no branch
// waits on which of the two it is.
bool known_name(const char* p, KnownNames& known) {
  std::uint64_t name_bytes;
  std::memcpy(&name_bytes, p, sizeof name_bytes);
  std::uint64_t* const pair = known.slot + (((name_bytes * 0x9E37'79B9'7F4A'7C15ull) >> 59) << 1);
  if (std::min(name_bytes ^ pair[0], name_bytes ^ pair[1]) == 0) [[likely]]
    return true;
  const __m128i name = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  const __m128i upper = in_range(name, 'A', 26);
  const __m128i word =
      _mm_or_si128(_mm_or_si128(upper, in_range(name, '0', 10)), _mm_cmpeq_epi8(name, _mm_set1_epi8('_')));
  const unsigned name_columns = ~mask_of(_mm_cmpeq_epi8(name, _mm_set1_epi8(' '))) & 0xFFu;
  if (name_breaks(name_columns, mask_of(word), mask_of(upper)) != 0) return false;
  // A new name takes the second slot while it is empty, else the first.
  pair[pair[1] == KnownNames::kBlankName ? 1 : 0] = name_bytes;
  return true;
}

}  // namespace
#endif

Plain plain_record(std::string_view line, KnownNames& known) {
#if QUIL_VECTOR
  if (line.size() > kLastColumn) return Plain::no;
  // A shorter line is asked as its record: blanks past its end, as the close look has it.
  const char* p = line.data();
  char record[kLastColumn];
  if (line.size() < kLastColumn) [[unlikely]] {
    rtl::copy_blank_padded(record, p, line.size());
    p = record;
  }
  // Four blocks of sixteen cover the fields. A control byte or a comma among the name's columns breaks
  // the name's own rule.
  const __m128i fields[4] = {load16(p + 8), load16(p + 24), load16(p + 40), load16(p + 56)};
  // Subtle: x ^ 0x0C is at most 0x20 exactly where x is below 32 or a comma (0x2C), so one minimum finds
  // both; a blank (0x20) becomes 0x2C.
  const __m128i flip = _mm_set1_epi8(0x0C);
  const __m128i least =
      _mm_min_epu8(_mm_min_epu8(_mm_xor_si128(fields[0], flip), _mm_xor_si128(fields[1], flip)),
                   _mm_min_epu8(_mm_xor_si128(fields[2], flip), _mm_xor_si128(fields[3], flip)));
  // Fields whose blanks all stand before their number, as a right-justified number's do, pass at once: a
  // blank column whose column before it is not blank is a hole, or a number written from the left, which
  // the rule itself tells apart. The four fields' blank columns in one word, a field to 16 bits.
  const __m128i blank = _mm_set1_epi8(' ');
  const auto blanks = [&](int i) {
    return static_cast<std::uint64_t>(mask_of(_mm_cmpeq_epi8(fields[i], blank))) << (16 * i);
  };
  const std::uint64_t blank_columns = blanks(0) | blanks(1) | blanks(2) | blanks(3);
  constexpr std::uint64_t kFirstColumns = 0x0001'0001'0001'0001;
  const std::uint64_t gaps = blank_columns & ~(blank_columns << 1) & ~kFirstColumns;
  const __m128i low = _mm_cmpeq_epi8(_mm_max_epu8(least, _mm_set1_epi8(0x21)), least);
  if (mask_of(low) != 0xFFFFu) return Plain::no;
  if (gaps != 0 && !fields_without_holes(fields)) [[unlikely]]
    return Plain::no;
  if (!known_name(p, known)) return Plain::no;
  return (blank_columns & kFirstColumns) == kFirstColumns ? Plain::apart : Plain::touching;
#else
  (void)line;
  (void)known;
  return Plain::no;
#endif
}

NotInterface look_at_line(std::string_view line, bool data_record, bool first_line, unsigned char* byte,
                          std::size_t* column) {
  if (first_line) {
    if (NotInterface why = file_signature(line); why != NotInterface::no) return why;
  }
  // A control byte is judged where it stands, a long line at its first byte past the longest: neither
  // verdict needs more of the line than its first bytes.
  if (NotInterface why = control_bytes(line.substr(0, kLongestLine), byte, column); why != NotInterface::no)
    return why;
  if (line.size() > kLongestLine) return NotInterface::long_line;
  if (line.size() > kLastColumn && line.find_first_not_of(' ', kLastColumn) != std::string_view::npos)
    return NotInterface::past_last_column;
  // The record's 72 columns, blanks past the line's end.
  char record[kLastColumn];
  std::memset(record, ' ', sizeof record);
  std::memcpy(record, line.data(), std::min(line.size(), sizeof record));
  const bool named = std::memcmp(record, "        ", kNameColumns) != 0;
  if (!data_record && !named) return NotInterface::no;
  return record_line(line, record, data_record);
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
