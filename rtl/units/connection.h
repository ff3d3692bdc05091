// Connections of units to files, and what a connected unit tells of its file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtl/platform/platform.h"

namespace rtl {

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
int connect(std::int32_t number, const ConnectRequest& request);

// Releases a unit: buffered output written, the handle closed unless it is a standard stream. Releasing
// a unit that is not connected does nothing.
int release(std::int32_t number, bool return_errors = false);

// Whether the file on disk that `writer` writes is the one that `reader` reads, however each was named.
bool writes_file_read_by(std::int32_t writer, std::int32_t reader);

// Which standard stream is the disk file that `reader` reads: 1 output, 2 error, 0 neither (or the system
// cannot tell).
int standard_stream_read_by(std::int32_t reader);

// Whether the unit's file could be opened for reading only (its connection took the read-only retry).
bool connected_read_only(std::int32_t number);
// The name a connected unit shows in its reports (valid until it is connected again); empty when none.
std::string_view connected_name(std::int32_t number);
// Whether the unit is connected to a disk file (not a device, console or pipe).
bool on_disk_file(std::int32_t number);
// The same, and a file of its own name: not a standard stream that happens to be a disk file.
bool on_named_disk_file(std::int32_t number);
// The size in bytes of the disk file that the unit reads; -1 when it reads no disk file.
std::int64_t input_file_size(std::int32_t number);
// Reads the unit's disk file again from `offset`, as if just connected: the same file, whatever its name
// names meanwhile. False when it cannot, with the system's error in *error (0 when it reads no disk file).
bool read_again_from(std::int32_t number, std::int64_t offset, platform::SysError* error);

// From now on standard input is read a block at a time, also where it is not a terminal: for a program
// that alone reads it to its end.
void read_standard_input_in_blocks();

// The system's own error behind the calling thread's last connection that the system refused; 0 when
// none.
platform::SysError last_refusal_error();
// The system's error behind the last failure that a statement on the unit handled; 0 when none.
platform::SysError handled_system_error(std::int32_t number);

// From now on the unit's text records end with LF alone: messages of a command on a system whose lines
// end so. The records of a repaired file keep CR LF.
void end_lines_with_lf(std::int32_t number);

// From now on the unit's records go out in blocks of whole records, as RTL_BUFFERED asks of files.
void write_in_blocks(std::int32_t number);

}  // namespace rtl
