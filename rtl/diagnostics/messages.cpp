// The message catalogue: every failure number's words.
#include <cstdint>

#include "rtl/diagnostics/diagnostics.h"

namespace rtl {
namespace {

struct Message {
  std::uint32_t code;
  const char* text;
};

constexpr std::uint32_t kSevere = 0xC0000000u;
constexpr std::uint32_t kError = 0x80000000u;

// Every template ends with CR LF; the report writer turns its LF into CR LF once more, so the stream
// shows CR CR LF.
constexpr Message kCatalogue[] = {
    {kSevere | 9, "permission to access file denied, unit %d, file %s\r\n"},
    {kSevere | 10, "file already exists, unit %d, file %s\r\n"},
    {kSevere | 22, "input record too long, unit %d, file %s\r\n"},
    {kSevere | 23, "BACKSPACE error, unit %d, file %s\r\n"},
    {kSevere | 24, "end-of-file during read, unit %d, file %s\r\n"},
    {kSevere | 28, "CLOSE error, unit %d, file %s\r\n"},
    {kSevere | 29, "file not found, unit %d, file %s\r\n"},
    {kSevere | 30, "open failure, unit %d, file %s\r\n"},
    {kSevere | 32, "invalid logical unit number, unit %d, file %s\r\n"},
    {kSevere | 38, "error during write, unit %d, file %s\r\n"},
    {kSevere | 39, "error during read, unit %d, file %s\r\n"},
    {kSevere | 40, "recursive I/O operation, unit %d, file %s\r\n"},
    {kSevere | 41, "insufficient virtual memory\r\n"},
    {kSevere | 42, "no such device, unit %d, file %s\r\n"},
    {kSevere | 43, "file name specification error, unit %d, file %s\r\n"},
    {kSevere | 45, "keyword value error in OPEN statement, unit %d, file %s\r\n"},
    {kSevere | 46, "inconsistent OPEN/CLOSE parameters, unit %d, file %s\r\n"},
    {kSevere | 47, "write to READONLY file, unit %d, file %s\r\n"},
    {kSevere | 63, "output conversion error, unit %d, file %s\r\n"},
    {kSevere | 64, "input conversion error, unit %d, file %s\r\n"},
    {kSevere | 66, "output statement overflows record, unit %d, file %s\r\n"},
    {kSevere | 67, "input statement requires too much data, unit %d, file %s\r\n"},
    {kSevere | 157, "Program Exception - access violation\r\n"},
    {kSevere | 169, "Program Exception - noncontinuable exception\r\n"},
    {kSevere | 170, "Program Exception - stack overflow\r\n"},
    {kSevere | 172, "Program Exception - exception code = 0x%lx (%ld)\r\n"},
    {kError | 200, "program aborting due to %s event\r\n"},
    {kSevere | 201, "floating-point divide flaw detected, please update the processor\r\n"},
    {kSevere | 257, "formatted I/O to unit open for unformatted transfers, unit %d, file %s\r\n"},
    {kSevere | 259, "sequential-access I/O to unit open for direct access, unit %d, file %s\r\n"},
};

}  // namespace

const char* message_template(std::uint32_t code) {
  for (const Message& m : kCatalogue) {
    if (m.code == code) return m.text;
  }
  return nullptr;
}

}  // namespace rtl
