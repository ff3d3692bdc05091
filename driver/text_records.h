// Which records of a model file are text, whatever they hold: a few header records announce how many
// of the records after them carry names and notes, which the file's readers take as 72 columns of text.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quil {

// The first letters of the header kinds' names: asked of every data record, they settle it for almost
// all of them before any call.
inline constexpr std::string_view kHeaderInitials = "DT";

std::int32_t text_records_of_header(std::span<const char, 8> name, std::span<const double, 4> fields);

// Whether a record name begins as a header kind's does: two compares, not a search (nor a loop, which a
// compiler may widen into a load past the letters).
static_assert(kHeaderInitials.size() == 2, "has_header_initial compares with each initial");
constexpr bool has_header_initial(char first) {
  return first == kHeaderInitials[0] || first == kHeaderInitials[1];
}

// How many text records the header record `name` with the values `fields` announces: 0 when the name
// is not a header kind, or when any field the kind counts with is not a whole number in its range.
inline std::int32_t announced_text_records(std::span<const char, 8> name, std::span<const double, 4> fields) {
  if (!has_header_initial(name[0])) [[likely]]
    return 0;
  return text_records_of_header(name, fields);
}

// Whether a record within an announced block is a text record: its name columns are blank. A record
// with a name ends the block early and is read as usual.
bool is_text_record_name(std::span<const char, 8> name);

}  // namespace quil
