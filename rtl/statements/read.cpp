// Read statements: record input, field cutting, item transfer, outcomes, and the step back.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "rtl/run/run_state.h"
#include "rtl/vector.h"
#if QUIL_VECTOR
#include <emmintrin.h>
#endif

#include "rtl/convert/decode.h"
#include "rtl/statements/answers_text.h"
#include "rtl/statements/io.h"
#include "rtl/units/record_rules.h"
#include "rtl/units/unit_io.h"

namespace rtl {
namespace {

enum class NextRecord { record, end_of_file, failure };

// Grows the record buffer to twice its size, but no further than the longest line and its line end;
// false when it may grow no more or memory runs out.
bool grow(InputState& in) {
  const std::size_t most = std::max<std::size_t>(in.longest_line + 1, 2);
  if (in.buffer.size() >= most) return false;
  return in.buffer.resize_unfilled(std::clamp<std::size_t>(in.buffer.size() * 2, 2, most));
}

// A console read cut short may be the work of a console event (a closed window hangs up the terminal,
// and the system ends the read before it delivers the hang-up): the event and the failed read are one,
// and the event's handler ends the program. A terminal whose read failed, or that is hung up, has its
// hang-up on the way for certain; a mere end of input gets a moment's grace.
void wait_if_an_event_cut_the_read(const Unit* unit, const platform::ReadResult& r) {
  const bool cut = r.status == platform::ReadStatus::aborted ||
                   (r.status != platform::ReadStatus::ok && unit->in.terminal);
  if (!cut) return;
  platform::yield();
  const bool hung_up = r.status == platform::ReadStatus::failed ||
                       (unit->in.terminal && platform::terminal_hung_up(unit->input_handle()));
  if (console_event_on_other_thread() || platform::console_event_arriving(hung_up ? 5000 : 100))
    wait_for_the_end();
}

// Moves what is not yet used to the front of the record buffer.
void compact(InputState& in) {
  if (in.ahead_begin == 0) return;
  const std::size_t waiting = in.ahead_end - in.ahead_begin;
  std::memmove(in.buffer.data(), in.buffer.data() + in.ahead_begin, waiting);
  in.buffer_file_offset += static_cast<std::int64_t>(in.ahead_begin);
  in.ahead_begin = 0;
  in.ahead_end = waiting;
}

enum class Fill { line, more, end_of_data, failure };

// One read into the buffer's free end. *lf receives the line end it brought (one is made after a last
// line without one).
Fill fill_once(Unit* unit, const char** lf, int* failure) {
  InputState& in = unit->in;
  if (in.ahead_end == in.buffer.size() && !grow(in)) {
    *failure = static_cast<int>(Failure::record_too_long);
    return Fill::failure;
  }
  std::size_t space = in.one_byte_reads ? 1 : in.buffer.size() - in.ahead_end;
  // A unit that reads a part of its file sees the part's end as the end of the data.
  if (in.unread >= 0 && static_cast<std::int64_t>(space) > in.unread)
    space = static_cast<std::size_t>(in.unread);
  platform::ReadResult r;
  if (space == 0) {
    r.status = platform::ReadStatus::end_of_data;
  } else {
    TransferGate gate(false);
    r = in.one_byte_reads ? read_answer_byte(unit->input_handle(), in.buffer.data() + in.ahead_end)
                          : platform::read(unit->input_handle(), in.buffer.data() + in.ahead_end, space);
  }
  if (in.unread >= 0 && r.status == platform::ReadStatus::ok) in.unread -= static_cast<std::int64_t>(r.bytes);
  wait_if_an_event_cut_the_read(unit, r);
  if (r.status == platform::ReadStatus::aborted || r.status == platform::ReadStatus::failed) {
    unit->saved_error = r.error;
    *failure = static_cast<int>(Failure::read_error);
    return Fill::failure;
  }
  if (r.status == platform::ReadStatus::end_of_data) {
    if (in.ahead_end == in.ahead_begin) return Fill::end_of_data;
    // A last line without a line end is a record all the same.
    if (in.ahead_end == in.buffer.size() && !grow(in)) {
      *failure = static_cast<int>(Failure::record_too_long);
      return Fill::failure;
    }
    in.buffer[in.ahead_end] = kLineEnd;
    in.line_end_made = true;
    *lf = in.buffer.data() + in.ahead_end++;
    return Fill::line;
  }
  // Subtle: a short read is not the end of a line; pipes and devices deliver lines in pieces.
  const char* fresh = in.buffer.data() + in.ahead_end;
  in.ahead_end += r.bytes;
  *lf = static_cast<const char*>(std::memchr(fresh, kLineEnd, r.bytes));
  return *lf != nullptr ? Fill::line : Fill::more;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The first record without the mark an editor put before it.
void drop_byte_order_mark(InputState& in) {
  const std::string_view start(in.buffer.data() + in.record_begin, in.record_end - in.record_begin);
  if (!start.starts_with(kByteOrderMark)) return;
  in.record_begin += kByteOrderMark.size();
  in.byte_order_mark_dropped = true;
}

// The rest of a record's take where it may be the first, with a mark to drop, or the lone Ctrl-Z that
// ends the input.
[[gnu::noinline]] NextRecord take_first_or_short(InputState& in) {
  if (in.drop_byte_order_mark & (in.record_counter == 2)) drop_byte_order_mark(in);
  if (ends_input(in.buffer.data() + in.record_begin, in.record_end - in.record_begin)) [[unlikely]] {
    in.ended_by_mark = true;
    return NextRecord::end_of_file;
  }
  return NextRecord::record;
}

// Makes the line that ends at `lf` the current record.
[[gnu::always_inline]] inline NextRecord take_record(InputState& in, const char* lf) {
  in.record_lf = static_cast<std::size_t>(lf - in.buffer.data());
  in.record_lf_offset = in.buffer_file_offset + static_cast<std::int64_t>(in.record_lf);
  in.record_begin = in.ahead_begin;
  // The CR before the line end, where the line has a byte before its LF (an empty line has its LF there).
  in.record_end =
      in.record_lf - (in.buffer[in.record_lf - (in.record_lf > in.record_begin)] == kCarriageReturn);
  in.ahead_begin = in.record_lf + 1;
  in.record_counter += in.record_counter >= 0;
  // Only the first record may lose a mark, and only a record of one byte ends the input: one question
  // for both.
  if ((in.drop_byte_order_mark & (in.record_counter == 2)) | (in.record_end - in.record_begin < 2))
      [[unlikely]]
    return take_first_or_short(in);
  return NextRecord::record;
}

// The line end of a model's usual line, some 74 bytes long, where the buffer holds 80 bytes or more: the
// first 80 are looked at sixteen at a time. nullptr leaves every other case to take_record_slowly.
[[gnu::always_inline]] inline const char* usual_line_end(const char* p, std::size_t n) {
#if QUIL_VECTOR
  if (n < 80) [[unlikely]]
    return nullptr;
  const auto ends = [p](int i) {
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), _mm_set1_epi8(kLineEnd));
  };
  const auto at = [](__m128i v) { return static_cast<std::uint64_t>(_mm_movemask_epi8(v)); };
  // Subtle: a 72-column record's line end stands past its first 64 bytes; both looks are made at once, and
  // where the first 64 hold none, which of them is not asked.
  const __m128i e0 = ends(0), e1 = ends(16), e2 = ends(32), e3 = ends(48);
  const std::uint64_t next = at(ends(64));
  if (at(_mm_or_si128(_mm_or_si128(e0, e1), _mm_or_si128(e2, e3))) != 0) [[unlikely]]
    return p + std::countr_zero(at(e0) | at(e1) << 16 | at(e2) << 32 | at(e3) << 48);
  return next != 0 ? p + 64 + std::countr_zero(next) : nullptr;
#else
  return n != 0 ? static_cast<const char*>(std::memchr(p, kLineEnd, n)) : nullptr;
#endif
}

// Reads on until the buffer holds a whole line: its line end in *lf. On failure *failure holds the number.
NextRecord read_line(Unit* unit, const char** lf, int* failure) {
  InputState& in = unit->in;
  if (in.buffer.empty()) {
    if (!in.buffer.resize_unfilled(std::max<std::size_t>(initial_sizes().record_buffer, 2))) {
      *failure = static_cast<int>(Failure::no_memory);
      return NextRecord::failure;
    }
    in.buffer_file_offset = platform::position(unit->input_handle());
  }
  compact(in);
  Fill fill;
  while ((fill = fill_once(unit, lf, failure)) == Fill::more) {
    // Subtle: a buffer larger than the longest line never grows, so the line's length is asked here.
    if (in.ahead_end - in.ahead_begin > in.longest_line) {
      *failure = static_cast<int>(Failure::record_too_long);
      return NextRecord::failure;
    }
  }
  if (fill == Fill::failure) return NextRecord::failure;
  if (fill == Fill::end_of_data) return NextRecord::end_of_file;
  return NextRecord::record;
}

// The take of a record that is not the usual line already in the buffer, or that ends the input: its line
// end searched further, or read. Returns the unit, or nullptr with the statement's outcome in *outcome.
[[gnu::noinline]] Unit* take_record_slowly(Unit* unit, Handlers handlers, int* outcome) {
  InputState& in = unit->in;
  const std::size_t ahead = in.ahead_end - in.ahead_begin;
  // An empty buffer has no line, nor bytes to look at.
  const char* lf =
      ahead != 0 ? static_cast<const char*>(std::memchr(in.buffer.data() + in.ahead_begin, kLineEnd, ahead))
                 : nullptr;
  int failure = 0;
  NextRecord next = lf != nullptr ? NextRecord::record : read_line(unit, &lf, &failure);
  if (next == NextRecord::record) next = take_record(in, lf);
  if (next == NextRecord::record) return unit;
  *outcome = fail(next == NextRecord::end_of_file ? Failure::end_of_file : static_cast<Failure>(failure),
                  unit, handlers);
  return nullptr;
}

// A record that ends the input, taken on the usual road.
[[gnu::noinline]] Unit* end_of_input(Unit* unit, Handlers handlers, int* outcome) {
  *outcome = fail(Failure::end_of_file, unit, handlers);
  return nullptr;
}

// Cuts the next field of at most `width` columns; a comma ends a numeric field early. Returns the
// characters present in the record; *padding receives how many blanks complete the field.
std::string_view cut_field(InputState& in, std::size_t width, bool numeric, std::size_t* padding) {
  std::size_t begin = std::min(in.field, in.record_end);
  std::size_t available = in.record_end - begin;
  std::size_t take = std::min(width, available);
  const char* at = in.buffer.data() + begin;
  if (numeric) {
    if (const void* comma = std::memchr(at, ',', take)) {
      std::size_t n = static_cast<std::size_t>(static_cast<const char*>(comma) - at);
      in.field = begin + n + 1;
      *padding = 0;
      return {at, n};
    }
  }
  in.field = in.field + width;
  *padding = width - take;
  return {at, take};
}

int transfer(Unit* unit, const LayoutItem& item, const InDatum& datum, Blank blank) {
  InputState& in = unit->in;
  std::size_t padding = 0;
  if (item.kind == ItemKind::char_field && datum.type == InDatum::Type::text) {
    std::size_t width = item.width > 0 ? static_cast<std::size_t>(item.width) : datum.length;
    std::string_view f = cut_field(in, width, false, &padding);
    std::size_t length = datum.length;
    if (length >= width) {
      std::memcpy(datum.text, f.data(), f.size());
      std::memset(datum.text + f.size(), ' ', length - f.size());
    } else {
      // The rightmost `length` columns of the field, blanks supplied beyond the record included.
      std::size_t skip = width - length;
      std::size_t from_record = f.size() > skip ? f.size() - skip : 0;
      std::memcpy(datum.text, f.data() + (f.size() - from_record), from_record);
      std::memset(datum.text + from_record, ' ', length - from_record);
    }
    return 0;
  }
  if (item.kind == ItemKind::exp_field && datum.type == InDatum::Type::real) {
    std::string_view f = cut_field(in, static_cast<std::size_t>(item.width), true, &padding);
    convert::Decoded d;
    if (padding == 0) {
      d = convert::decode_real(f.data(), f.size(), item.digits, 0, blank == Blank::zero);
    } else {
      // Only a field that the record ends inside is copied, so that its supplied blanks count.
      char copy[256];
      std::memcpy(copy, f.data(), f.size());
      std::memset(copy + f.size(), ' ', padding);
      d = convert::decode_real(copy, f.size() + padding, item.digits, 0, blank == Blank::zero);
    }
    *datum.real = d.value;
    return d.status == convert::DecodeStatus::converted ? 0 : static_cast<int>(Failure::input_conversion);
  }
  // An item whose type the descriptor cannot take.
  return static_cast<int>(Failure::input_conversion);
}

// The start of a read on a unit that the ready start did not take: the general start and the read's own
// refusals. Returns the unit, or nullptr with the statement's outcome in *outcome.
[[gnu::noinline]] Unit* begin_read_in_general(std::int32_t number, Handlers handlers, int* outcome) {
  Unit* unit = begin_statement(number, Direction::read, handlers, outcome);
  if (unit == nullptr) return nullptr;
  Failure refusal{};
  if (unit->form != Form::formatted) {
    refusal = Failure::unformatted_unit;
  } else if (unit->access == Access::direct) {
    refusal = Failure::direct_access_unit;
  }
  if (refusal == Failure{}) return unit;
  *outcome = fail(refusal, unit, handlers);
  return nullptr;
}

// Starts a read statement: takes the unit and its next record. Returns the unit, or nullptr with the
// statement's outcome in *outcome.
[[gnu::always_inline]] inline Unit* begin_read(std::int32_t number, Handlers handlers, int* outcome) {
  Unit* unit = hold_ready_unit(number, Direction::read);
  if (unit == nullptr) [[unlikely]] {
    unit = begin_read_in_general(number, handlers, outcome);
    if (unit == nullptr) return nullptr;
  }
  InputState& in = unit->in;
  const char* lf = usual_line_end(in.buffer.data() + in.ahead_begin, in.ahead_end - in.ahead_begin);
  if (lf == nullptr) [[unlikely]]
    return take_record_slowly(unit, handlers, outcome);
  if (take_record(in, lf) != NextRecord::record) [[unlikely]]
    return end_of_input(unit, handlers, outcome);
  return unit;
}

// The layout walk over the items of a record already read, from its first column.
int transfer_items(Unit* unit, const Layout& layout, Handlers handlers, std::span<const InDatum> items) {
  unit->in.field = unit->in.record_begin;
  std::size_t next = 0;
  for (const LayoutItem& item : layout) {
    if (next == items.size()) break;
    if (!item.is_field()) continue;
    int rc = transfer(unit, item, items[next++], unit->blank);
    if (rc != 0) return fail(static_cast<Failure>(rc), unit, handlers);
  }
  free_unit(unit);
  return 0;
}

constexpr Layout kDataRecord{"(A8,4E16.8)"};

// Whether a comma stands in the numeric columns: sixteen at a time where the machine compares so.
bool has_comma(const char* p, std::size_t n) {
#if QUIL_VECTOR
  __m128i found = _mm_setzero_si128();
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    found = _mm_or_si128(
        found, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), _mm_set1_epi8(',')));
  }
  if (_mm_movemask_epi8(found) != 0) return true;
  return i < n && std::memchr(p + i, ',', n - i) != nullptr;
#else
  return std::memchr(p, ',', n) != nullptr;
#endif
}

// How a data record's four fields stand: whole, each a number to its last column as the 16-column
// field reads it (the usual record); open, where the record ends inside or before a field, or a field's
// last column is blank; or cut short by a comma.
enum class Fields { whole, open, comma };

[[gnu::always_inline]] inline Fields look_at_fields(const char* record, std::size_t length) {
#if QUIL_VECTOR
  if (length >= kRecordColumns) {
    // A whole record's four fields in one look: a comma in any column, or a blank in a last column, which
    // becomes one there (' ' | 0x0C is ','). Subtle: so do '$' and '(', whose fields take the open road,
    // which reads them as well.
    const __m128i comma = _mm_set1_epi8(','),
                  last = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, ' ' ^ ',');
    __m128i met = _mm_setzero_si128();
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(record + 8 + 16 * i));
      met = _mm_or_si128(met, _mm_cmpeq_epi8(_mm_or_si128(v, last), comma));
    }
    if (_mm_movemask_epi8(met) == 0) [[likely]]
      return Fields::whole;
    return has_comma(record + kNameColumns, kRecordColumns - kNameColumns) ? Fields::comma : Fields::open;
  }
#endif
  if (length > kNameColumns &&
      has_comma(record + kNameColumns, std::min(length, kRecordColumns) - kNameColumns))
    return Fields::comma;
  if (length < kRecordColumns) return Fields::open;
  const bool open = record[23] == ' ' || record[39] == ' ' || record[55] == ' ' || record[71] == ' ';
  return open ? Fields::open : Fields::whole;
}

// Bit i set where column i of the 16-column field is blank.
unsigned blank_columns(const char* field) {
#if QUIL_VECTOR
  return static_cast<unsigned>(_mm_movemask_epi8(
      _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(field)), _mm_set1_epi8(' '))));
#else
  unsigned blanks = 0;
  for (unsigned i = 0; i < 16; ++i) blanks |= (field[i] == ' ' ? 1u : 0u) << i;
  return blanks;
#endif
}

// An open field, its blanks past the record's end supplied. A blank field is zero. Where blanks are
// ignored, the blanks after a field's characters may as well stand before them, where the 16-column
// field reads them: the same signs, digits and exponent in the same order. Only INF and NAN read otherwise
// there (nothing may follow them where they stand), so a field that is no finite number there is read as
// it stands.
convert::Decoded decode_open_field(const char* field, bool zeros) {
  const unsigned blanks = blank_columns(field);
  if (blanks == 0xFFFFu) return {0.0, convert::DecodeStatus::converted};
  char wide[32];
  std::memset(wide, ' ', 16);
  std::memcpy(wide + 16, field, 16);
  // The blanks after the last character, asked of a word that has a bit set below them.
  const int trailing = std::countl_zero(~(blanks << 16) | 1u) & -static_cast<int>(!zeros);
  const convert::Decoded d = convert::decode_field_16(wide + 16 - trailing, zeros);
  if (!std::isfinite(d.value)) [[unlikely]]
    return convert::decode_field_16(field, zeros);
  return d;
}

// Where a data record's reals go: an array of four, or four places of their own.
double& value_at(double* values, std::size_t i) { return values[i]; }
double& value_at(double* const* values, std::size_t i) { return *values[i]; }

// The four reals of a data record into its values, field by field; false at the first that does not
// convert, whose value is stored all the same, as the walk stores it.
template <typename Values>
[[gnu::always_inline]] inline bool decode_data_fields(const char* record, std::size_t length, Fields fields,
                                                      bool zeros, Values values) {
  if (fields == Fields::whole) [[likely]] {
#pragma GCC unroll 4
    for (std::size_t i = 0; i < 4; ++i) {
      const convert::Decoded d = convert::decode_field_16(record + 8 + 16 * i, zeros);
      value_at(values, i) = d.value;
      if (d.status != convert::DecodeStatus::converted) [[unlikely]]
        return false;
    }
    return true;
  }
  // The record's columns, blanks past its end.
  char columns[kRecordColumns];
  if (length < sizeof columns) {
    copy_blank_padded(columns, record, length);
    record = columns;
  }
#pragma GCC unroll 4
  for (std::size_t i = 0; i < 4; ++i) {
    const convert::Decoded d = decode_open_field(record + 8 + 16 * i, zeros);
    value_at(values, i) = d.value;
    if (d.status != convert::DecodeStatus::converted) return false;
  }
  return true;
}

std::string_view record_of(const InputState& in) {
  return {in.buffer.data() + in.record_begin, in.record_end - in.record_begin};
}

// The data record's road once its record is read: the name's columns, then the four fields, each cut by
// column. A comma in the numeric columns ends a field early and moves every field after it: such a
// record takes the walk.
template <typename Values>
[[gnu::always_inline]] inline int read_data_items(Unit* unit, Handlers handlers, std::span<char> name,
                                                  Values values, std::string_view* line) {
  InputState& in = unit->in;
  const char* record = in.buffer.data() + in.record_begin;
  const std::size_t length = in.record_end - in.record_begin;
  if (line != nullptr) *line = {record, length};
  const Fields fields = look_at_fields(record, length);
  if (fields == Fields::comma) [[unlikely]] {
    const InDatum walked[] = {in_datum(name), in_datum(value_at(values, 0)), in_datum(value_at(values, 1)),
                              in_datum(value_at(values, 2)), in_datum(value_at(values, 3))};
    return transfer_items(unit, kDataRecord, handlers, walked);
  }
  if (name.size() == 8) [[likely]] {
    // The name's eight columns, blanks past the record's end.
    if (length >= 8) [[likely]] {
      std::memcpy(name.data(), record, 8);
    } else {
      std::memcpy(name.data(), record, length);
      std::memset(name.data() + length, ' ', 8 - length);
    }
  } else {
    in.field = in.record_begin;
    transfer(unit, kDataRecord[0], in_datum(name), unit->blank);
  }
  if (!decode_data_fields(record, length, fields, unit->blank == Blank::zero, values)) [[unlikely]]
    return fail(Failure::input_conversion, unit, handlers);
  free_unit(unit);
  return 0;
}

}  // namespace

int read_statement(std::int32_t number, const Layout& layout, Handlers handlers,
                   std::span<const InDatum> items) {
  int outcome = 0;
  Unit* unit = begin_read(number, handlers, &outcome);
  if (unit == nullptr) return outcome;
  return transfer_items(unit, layout, handlers, items);
}

int read_data_record(std::int32_t number, Handlers handlers, std::span<const InDatum, 5> items,
                     std::string_view* line) {
  const bool kinds = items[0].type == InDatum::Type::text &&
                     std::all_of(items.begin() + 1, items.end(),
                                 [](const InDatum& d) { return d.type == InDatum::Type::real; });
  int outcome = 0;
  Unit* unit = begin_read(number, handlers, &outcome);
  if (unit == nullptr) return outcome;
  if (!kinds) {
    // Items that are not a text and four reals: the walk, which fails on them.
    if (line != nullptr) *line = record_of(unit->in);
    return transfer_items(unit, kDataRecord, handlers, items);
  }
  double* const values[] = {items[1].real, items[2].real, items[3].real, items[4].real};
  return read_data_items(unit, handlers, {items[0].text, items[0].length}, values, line);
}

// Subtle: where the statement of every line begins decides which of its branches share a slot of the
// machine's predictor with another; at a 32-byte boundary the usual line's share none.
[[gnu::aligned(32)]] int read_data_record(std::int32_t number, Handlers handlers, std::span<char, 8> name,
                                          std::span<double, 4> values, std::string_view* line) {
  int outcome = 0;
  Unit* unit = begin_read(number, handlers, &outcome);
  if (unit == nullptr) return outcome;
  return read_data_items(unit, handlers, name, values.data(), line);
}

bool byte_order_mark_dropped(std::int32_t number) {
  const Unit* unit = find_unit(number, false);
  return unit != nullptr && unit->connected && unit->in.byte_order_mark_dropped;
}

bool line_end_made(std::int32_t number) {
  const Unit* unit = find_unit(number, false);
  return unit != nullptr && unit->connected && unit->in.line_end_made;
}

EndMark end_mark(std::int32_t number) {
  Unit* unit = find_unit(number, false);
  if (unit == nullptr || !unit->connected || !unit->in.ended_by_mark) return EndMark::none;
  InputState& in = unit->in;
  if (in.ahead_end > in.ahead_begin) return EndMark::lines_after;
  if (in.unread == 0) return EndMark::last_line;
  char byte = 0;
  TransferGate gate(false);
  return platform::read(unit->input_handle(), &byte, 1).bytes == 1 ? EndMark::lines_after
                                                                   : EndMark::last_line;
}

void limit_lines(std::int32_t number, std::size_t longest) {
  if (Unit* unit = find_unit(number, false); unit != nullptr && unit->connected)
    unit->in.longest_line = longest;
}

std::string_view unended_line(std::int32_t number) {
  const Unit* unit = find_unit(number, false);
  if (unit == nullptr || !unit->connected || unit->in.buffer.empty()) return {};
  const InputState& in = unit->in;
  return {in.buffer.data() + in.ahead_begin, in.ahead_end - in.ahead_begin};
}

std::string_view record_in_hand(std::int32_t number, std::int64_t* consumed) {
  Unit* unit = find_unit(number, false);
  if (unit == nullptr || !unit->connected || unit->in.buffer.empty()) return {};
  const InputState& in = unit->in;
  if (consumed != nullptr) *consumed = in.record_lf_offset + 1;
  return {in.buffer.data() + in.record_begin, in.record_end - in.record_begin};
}

namespace {

// What stops a step back: the failure it is handled as, and the system's error behind it.
struct StepBack {
  Failure failure = Failure{};
  platform::SysError error = 0;
};

// Only the record just read, nothing read after it, can be given back without a seek.
StepBack step_back_in_hand(InputState& in, bool allowed) {
  const bool in_hand = !in.buffer.empty() && in.ahead_begin == in.record_lf + 1;
  if (!allowed || !in_hand) return {Failure::backspace_not_positionable};
  in.ahead_begin = in.record_begin;
  // The first record is given back with its mark, which the next take drops again.
  if (in.byte_order_mark_dropped && in.record_counter == 2) in.ahead_begin -= kByteOrderMark.size();
  in.record_lf_offset = in.buffer_file_offset + static_cast<std::int64_t>(in.ahead_begin) - 1;
  if (in.record_counter > 0) --in.record_counter;
  return {};
}

// Reads again the bytes of the file that end just before the record's LF, and finds the line end of the
// record before it among them.
StepBack reread_before(platform::Handle file, InputState& in, std::int64_t lf_offset) {
  std::size_t want = std::min<std::size_t>(in.buffer.size(), static_cast<std::size_t>(lf_offset));
  for (;;) {
    const std::int64_t from = lf_offset - static_cast<std::int64_t>(want);
    if (!platform::seek(file, from)) return {Failure::backspace_error, platform::last_error()};
    for (std::size_t got = 0; got < want;) {
      TransferGate gate(false);
      const platform::ReadResult r = platform::read(file, in.buffer.data() + got, want - got);
      if (r.status != platform::ReadStatus::ok) return {Failure::backspace_error, r.error};
      got += r.bytes;
    }
    std::size_t k = want;
    while (k > 0 && in.buffer[k - 1] != kLineEnd) --k;
    if (k > 0 || from == 0) {
      in.buffer_file_offset = from;
      in.ahead_begin = k;
      in.ahead_end = want;
      return {};
    }
    // A record longer than the buffer: make room and look further back.
    if (!grow(in)) return {Failure::backspace_error};
    want = std::min<std::size_t>(in.buffer.size(), static_cast<std::size_t>(lf_offset));
  }
}

// The step back on a file that can be positioned.
StepBack step_back_on_file(platform::Handle file, InputState& in) {
  const std::int32_t n = in.record_counter;
  if (n >= 0 && n <= 1) return {};
  if (n == 2 || in.buffer.empty()) {
    if (!platform::seek(file, 0)) return {Failure::backspace_error, platform::last_error()};
    in.ahead_begin = in.ahead_end = 0;
    in.buffer_file_offset = 0;
    in.record_counter = 1;
    return {};
  }
  // The previous line end is normally still in the buffer, before the last record's own LF.
  const std::int64_t lf_offset = in.record_lf_offset;
  const std::int64_t lf_index = lf_offset - in.buffer_file_offset;
  std::size_t prev = 0;
  bool in_buffer = lf_index >= 0 && lf_index < static_cast<std::int64_t>(in.ahead_end);
  if (in_buffer) {
    prev = static_cast<std::size_t>(lf_index);
    while (prev > 0 && in.buffer[prev - 1] != kLineEnd) --prev;
    in_buffer = prev > 0 || in.buffer_file_offset == 0;
  }
  if (in_buffer) {
    in.ahead_begin = prev;
  } else {
    if (StepBack failed = reread_before(file, in, lf_offset); failed.failure != Failure{}) return failed;
    if (!platform::seek(file, lf_offset)) return {Failure::backspace_error, platform::last_error()};
  }
  // The record before the one stepped over is now the last one read.
  in.record_lf_offset = in.buffer_file_offset + static_cast<std::int64_t>(in.ahead_begin) - 1;
  if (in.record_counter > 0) --in.record_counter;
  return {};
}

}  // namespace

int backspace(std::int32_t number, bool handle_errors, bool from_record_in_hand) {
  Handlers handlers{false, handle_errors};
  Unit* unit = find_unit(number, false);
  if (unit == nullptr || !unit->connected) return 0;
  if (!hold_unit(unit)) {
    return fail(condition_code(Failure::unit_busy), nullptr, number, unit->file_name(), handlers,
                Disposal::leave, 40);
  }
  if (platform::SysError e = flush_block(unit)) {
    unit->saved_error = e;
    return fail(Failure::write_error, unit, handlers);
  }
  StepBack result;
  if (unit->access != Access::sequential && unit->access != Access::append) {
    result.failure = Failure::backspace_not_sequential;
  } else {
    // Subtle: the device CON reads standard input and writes standard output; the step back concerns
    // only the stream that the unit reads from. The record in hand goes back without a seek where the
    // caller allows it: a standard input that is a file need not start at the file's first byte.
    result = step_back_in_hand(unit->in, from_record_in_hand);
    if (result.failure != Failure{} && unit->in.positionable)
      result = step_back_on_file(unit->input_handle(), unit->in);
  }
  if (result.failure == Failure{}) {
    free_unit(unit);
    return 0;
  }
  // A failed system call keeps its cause for the report, as every other transfer does.
  if (result.error != 0) unit->saved_error = result.error;
  return fail(condition_code(Failure::backspace_error), unit, number, unit->file_name(), handlers,
              Disposal::end_hold, static_cast<int>(result.failure));
}

}  // namespace rtl
