// Which records of a model file are text, whatever they hold: a few header records announce how many
// of the records after them carry names and notes, which the file's readers take as 72 columns of text.
#pragma once

#include <cstdint>
#include <span>

namespace quil {

// How many text records the header record `name` with the values `fields` announces: 0 when the name
// is not a header kind, or when any field the kind counts with is not a whole number in its range.
std::int32_t announced_text_records(std::span<const char, 8> name, std::span<const double, 4> fields);

// Whether a record within an announced block is a text record: its name columns are blank. A record
// with a name ends the block early and is read as usual.
bool is_text_record_name(std::span<const char, 8> name);

}  // namespace quil
