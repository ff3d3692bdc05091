// A connection's settings, typed: what a connect request says once its keyword texts are read.
#pragma once

#include <cstdint>
#include <string_view>

#include "rtl/diagnostics/diagnostics.h"
#include "rtl/platform/platform.h"
#include "rtl/units/units.h"

namespace rtl {

enum class OpenStatus : std::uint8_t { old_file, new_file, scratch, unknown, replace };

struct ConnectSettings {
  OpenStatus status = OpenStatus::unknown;
  Access access = Access::sequential;
  bool has_form = false;  // absent: unformatted for direct access, formatted otherwise
  Form form = Form::formatted;
  Blank blank = Blank::null;
  // A connection that sends no sharing lets others read only.
  platform::Sharing sharing = platform::Sharing::read_only;
  std::int32_t record_length = 0;  // 0: none given
  bool has_name = false;           // absent: the unit's default name
  std::string_view name;
  // The name is a file's name exactly as given: no device words, no blanks trimmed, no cut at the
  // dialogue's length (a program's arguments are names, never devices).
  bool exact_name = false;
  // Opened for reading only: a file that is never written is never opened for writing.
  bool read_only = false;
  bool return_errors = false;
  // The name the unit shows in reports, where it differs from the file opened (a temporary file that
  // takes this name at the end). Empty: the file's own.
  std::string_view shown_name;
  // A UTF-8 byte-order mark before the first record is an editor's, not the record's: it is dropped.
  bool drop_byte_order_mark = false;
  // A part of a disk file: the unit reads the bytes [part_begin, part_end) as if they were the whole
  // file (and steps back only over the record in hand), or writes from part_begin on, leaving the rest
  // of the file as it is. part_end < 0: no part.
  std::int64_t part_begin = 0;
  std::int64_t part_end = -1;
};

struct ConnectRequest;
// Reads a text request's keywords into `settings`. Returns Failure{} or Failure::bad_setting when a value is
// not one of its words.
Failure parse_settings(const ConnectRequest& request, ConnectSettings* settings);

// Connects a unit by typed settings. Returns 0, or the failure number when errors are returned;
// otherwise a refusal is reported. A refused unit is left unconnected.
int connect(std::int32_t number, const ConnectSettings& settings);

}  // namespace rtl
