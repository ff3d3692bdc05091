// Statements of the record layer: connect, release (rtl/units/connection.h), write, read and step back,
// each one call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

#include "rtl/diagnostics/diagnostics.h"
#include "rtl/statements/layout.h"
#include "rtl/units/connection.h"
#include "rtl/units/record_rules.h"

namespace rtl {

// ---- writing ----------------------------------------------------------------------------------------

struct OutDatum {
  enum class Type : std::uint8_t { text, integer, real } type;
  std::string_view text;
  std::int32_t integer = 0;
  double real = 0.0;
};

inline OutDatum out_datum(std::string_view text) { return {OutDatum::Type::text, text}; }
inline OutDatum out_datum(const char* text) { return {OutDatum::Type::text, text}; }
inline OutDatum out_datum(std::int32_t value) { return {OutDatum::Type::integer, {}, value}; }
inline OutDatum out_datum(double value) { return {OutDatum::Type::real, {}, 0, value}; }

// One write statement: walks the layout over the items and delivers every record it ends. Returns 0, or
// the failure number when `handlers` handle errors; otherwise failures are reported. Fields that do not
// fit show asterisks.
int write_statement(std::int32_t number, const Layout& layout, std::span<const OutDatum> items,
                    Handlers handlers = {});

// The data record "(A,1P,4E16.8)" written without the walk: a name and four reals. Same bytes, same
// failures as write_statement.
int write_data_record(std::int32_t number, std::string_view name, const double (&values)[4],
                      Handlers handlers = {}, std::string_view* made = nullptr);
// The bytes of that record: the name's columns, four 16-column fields, then CR LF. *made, when given to
// write_data_record, receives the record it wrote (without the line end), valid until the unit's next
// statement.
inline constexpr std::size_t kNameColumns = 8, kFields = 4, kFieldColumns = 16;
inline constexpr std::size_t kRecordColumns = kNameColumns + kFields * kFieldColumns;  // 72
inline constexpr std::size_t kDataRecordBytes = kRecordColumns + 2;
void make_data_record(char (&record)[kDataRecordBytes], std::string_view name8, const double (&values)[4]);
template <typename Name>
int write_data_fields(std::int32_t number, Handlers handlers, const Name& name, double a, double b, double c,
                      double d) {
  const double values[4] = {a, b, c, d};
  return write_data_record(number, out_datum(name).text, values, handlers);
}

// ---- item kinds ---------------------------------------------------------------------------------------

// What kind of field an item of type T fills: text goes to A, whole numbers to I, reals to E.
template <typename T>
consteval ItemKind field_kind_of() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, double>) {
    return ItemKind::exp_field;
  } else if constexpr (std::is_integral_v<U> && !std::is_same_v<U, bool> && !std::is_same_v<U, char>) {
    return ItemKind::int_field;
  } else if constexpr (std::is_convertible_v<U, std::string_view> ||
                       std::is_convertible_v<U, std::span<char>>) {
    return ItemKind::char_field;
  } else {
    return ItemKind::text;  // no field takes it
  }
}

// Whether every item fills a field of its own kind, in order.
template <const Layout& L, typename... Items>
consteval bool kinds_match() {
  constexpr ItemKind kinds[] = {field_kind_of<Items>()..., ItemKind::text};
  int next = 0;
  for (const LayoutItem& item : L) {
    if (!item.is_field()) continue;
    if (next >= static_cast<int>(sizeof...(Items)) || kinds[next] != item.kind) return false;
    ++next;
  }
  return true;
}

// The two data-record layouts, which have statements of their own.
template <const Layout& L>
consteval bool is_data_read_layout() {
  if (L.size() != 5 || L[0].kind != ItemKind::char_field || L[0].width != 8) return false;
  for (int i = 1; i < 5; ++i) {
    if (L[i].kind != ItemKind::exp_field || L[i].width != 16 || L[i].digits != 8) return false;
  }
  return true;
}
template <const Layout& L>
consteval bool is_data_write_layout() {
  if (L.size() != 6 || L[0].kind != ItemKind::char_field || L[0].width != 0) return false;
  if (L[1].kind != ItemKind::scale || L[1].value != 1) return false;
  for (int i = 2; i < 6; ++i) {
    if (L[i].kind != ItemKind::exp_field || L[i].width != 16 || L[i].digits != 8) return false;
  }
  return true;
}

// A write statement whose failures the caller handles as `handlers` say: 0 or the failure number.
template <const Layout& L, typename... Items>
int write_handled(std::int32_t unit, Handlers handlers, const Items&... items) {
  static_assert(L.field_count() == sizeof...(Items), "layout and items differ in number");
  static_assert(kinds_match<L, Items...>(), "an item's kind does not match its field in the layout");
  if constexpr (sizeof...(Items) == 0) {
    return write_statement(unit, L, {}, handlers);
  } else if constexpr (is_data_write_layout<L>()) {
    return write_data_fields(unit, handlers, items...);
  } else {
    const OutDatum data[] = {out_datum(items)...};
    return write_statement(unit, L, data, handlers);
  }
}

template <const Layout& L, typename... Items>
void write(std::int32_t unit, const Items&... items) {
  write_handled<L>(unit, Handlers{}, items...);
}

// ---- reading ----------------------------------------------------------------------------------------

struct InDatum {
  enum class Type : std::uint8_t { text, real } type;
  char* text = nullptr;
  std::size_t length = 0;
  double* real = nullptr;
};

inline InDatum in_datum(std::span<char> text) { return {InDatum::Type::text, text.data(), text.size()}; }
inline InDatum in_datum(double& value) { return {InDatum::Type::real, nullptr, 0, &value}; }

// One read statement. Returns 0, -1 for a handled end of file, or a handled failure number.
int read_statement(std::int32_t number, const Layout& layout, Handlers handlers,
                   std::span<const InDatum> items);

// The data record "(A8,4E16.8)" read without the walk: a name and four reals. Same values, outcomes and
// rules (the comma that ends a numeric field, short records) as read_statement. *line, when given,
// receives the line as the file holds it (as record_in_hand does) once a record has been read.
int read_data_record(std::int32_t number, Handlers handlers, std::span<const InDatum, 5> items,
                     std::string_view* line = nullptr);
// The same into a name of eight characters and four reals, whose kinds the call itself shows.
int read_data_record(std::int32_t number, Handlers handlers, std::span<char, 8> name,
                     std::span<double, 4> values, std::string_view* line = nullptr);

// Whether a scale factor stands in the layout: reads do not apply one, so a read layout may not have it.
template <const Layout& L>
consteval bool has_scale() {
  for (const LayoutItem& item : L) {
    if (item.kind == ItemKind::scale) return true;
  }
  return false;
}

template <const Layout& L, typename... Items>
int read(std::int32_t unit, Handlers handlers, Items&&... items) {
  static_assert(!has_scale<L>(), "a read layout takes no scale factor: reads do not apply one");
  static_assert(L.field_count() == sizeof...(Items), "layout and items differ in number");
  static_assert(kinds_match<L, Items...>(), "an item's kind does not match its field in the layout");
  const InDatum data[] = {in_datum(items)...};
  if constexpr (is_data_read_layout<L>()) {
    return read_data_record(unit, handlers, data);
  } else {
    return read_statement(unit, L, handlers, data);
  }
}

// Steps back by one record so that the next read returns it again. Returns 0, or a failure number when
// the caller handles errors. A unit that cannot be positioned (a pipe, a console) fails the step back,
// unless `from_record_in_hand` lets the record just read, still in the record buffer, serve it.
int backspace(std::int32_t number, bool handle_errors = false, bool from_record_in_hand = false);

// The record that the last read on `unit` took, as the file holds it (without its line end), valid until
// the next statement on the unit; *consumed receives how many bytes of the file lie up to its end. Empty
// when the unit has read nothing.
std::string_view record_in_hand(std::int32_t number, std::int64_t* consumed = nullptr);

// Whether the unit, connected to drop a byte-order mark, found one before its first record.
bool byte_order_mark_dropped(std::int32_t number);
// Whether the line end of the unit's last line was made by the read: the file's last line had none.
bool line_end_made(std::int32_t number);
// Whether the unit's input ended at a lone Ctrl-Z line, and whether anything follows that line (which
// no read returns). Asked after the read that found the end of the input.
enum class EndMark { none, last_line, lines_after };
EndMark end_mark(std::int32_t number);

// From now on a read on the connected unit fails as "input record too long" once it holds more than
// `longest` bytes of a line without its end, instead of reading on: a caller that needs only a line's
// first bytes reads no more. A line that came whole may be longer.
void limit_lines(std::int32_t number, std::size_t longest = kLongestRecord);
// After a read that failed so, the bytes it holds of that line, from its start; valid until the next
// statement on the unit.
std::string_view unended_line(std::int32_t number);

}  // namespace rtl
