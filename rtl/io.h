// Statements of the record layer: connect, release, write, read and step back, each one call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

#include "rtl/diagnostics.h"
#include "rtl/layout.h"

namespace rtl {

// ---- connection -------------------------------------------------------------------------------------

// A setting is present when its text is non-null.
struct ConnectRequest {
  const char* name = nullptr;  // absent: the unit's default name
  std::size_t name_length = 0;
  const char* access = nullptr;
  std::size_t access_length = 0;
  const char* status = nullptr;
  std::size_t status_length = 0;
  const char* share = nullptr;
  std::size_t share_length = 0;
  const char* form = nullptr;
  std::size_t form_length = 0;
  const char* blank = nullptr;
  std::size_t blank_length = 0;
  bool has_record_length = false;
  std::int32_t record_length = 0;
  bool return_errors = false;
};

// Connects a unit. Returns 0, or the failure number when errors are returned; otherwise a refusal is
// reported. A refused unit is left unconnected.
int connect(std::int32_t unit, const ConnectRequest& request);

// Releases a unit: buffered output written, the handle closed unless it is a standard stream. Releasing
// a unit that is not connected does nothing.
int release(std::int32_t unit, bool return_errors = false);

// Whether the file on disk that `writer` writes is the one that `reader` reads, however each was named.
bool writes_file_read_by(std::int32_t writer, std::int32_t reader);

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

// One write statement: walks the layout over the items and delivers every record it ends. Failures are
// reported (no write statement of this system handles them); fields that do not fit show asterisks.
void write_statement(std::int32_t unit, const Layout& layout, std::span<const OutDatum> items);

template <const Layout& L, typename... Items>
void write(std::int32_t unit, const Items&... items) {
  static_assert(L.field_count() == sizeof...(Items), "layout and items differ in number");
  if constexpr (sizeof...(Items) == 0) {
    write_statement(unit, L, {});
  } else {
    const OutDatum data[] = {out_datum(items)...};
    write_statement(unit, L, data);
  }
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
int read_statement(std::int32_t unit, const Layout& layout, Handlers handlers, std::span<const InDatum> items);

template <const Layout& L, typename... Items>
int read(std::int32_t unit, Handlers handlers, Items&&... items) {
  static_assert(L.field_count() == sizeof...(Items), "layout and items differ in number");
  const InDatum data[] = {in_datum(items)...};
  return read_statement(unit, L, handlers, data);
}

// Steps back by one record so that the next read returns it again. Returns 0, or a failure number when
// the caller handles errors.
int backspace(std::int32_t unit, bool handle_errors = false);

// ---- termination ------------------------------------------------------------------------------------

// Releases every unit still connected, once however often it is called.
void exit_handler();

// Normal termination: the driver's road is an empty text with the switch off and no code.
[[noreturn]] void stop(std::string_view text = {}, bool compatible = false, std::int32_t code = 0,
                       bool has_code = false);
// Lets a test take the road of stop() more than once.
void testing_reset_stop();

}  // namespace rtl
