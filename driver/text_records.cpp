#include "driver/text_records.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "rtl/statements/io.h"

namespace quil {
namespace {

// A field counts only when it holds a whole number that a line count can hold.
bool whole(double x, std::int64_t* n) {
  if (!(x >= -2147483647.0 && x <= 2147483647.0) || x != std::trunc(x)) return false;
  *n = static_cast<std::int64_t>(x);
  return true;
}

// DATE and TEXT: TYPE, SUBTYPE, NRECS, NBYTE; NRECS lines of up to NBYTE characters follow.
std::int32_t text_block(const std::int64_t (&f)[4]) {
  const std::int64_t nrecs = f[2], nbyte = f[3];
  if (nrecs < 1 || nbyte < 1 || nbyte > static_cast<std::int64_t>(rtl::kRecordColumns)) return 0;
  return static_cast<std::int32_t>(nrecs);
}

// Name records: NFIELD (always 4), an identifier, CODNAM = NLNAM*100 + NCNAM, CODTXT = NLTXT*100 +
// NCTXT; NLNAM name lines and NLTXT note lines follow, each of at most 64 characters.
std::int32_t name_block(const std::int64_t (&f)[4]) {
  const std::int64_t codnam = f[2], codtxt = f[3];
  if (f[0] != 4 || codnam < 0 || codtxt < 0) return 0;
  const std::int64_t name_lines = codnam / 100, text_lines = codtxt / 100;
  if (name_lines > 1 || codnam % 100 > 64 || codtxt % 100 > 64) return 0;
  return static_cast<std::int32_t>(name_lines + text_lines);
}

struct HeaderKind {
  std::string_view name;
  bool name_is_prefix;  // every record name that begins with it
  std::int32_t (*announced)(const std::int64_t (&)[4]);
};

// One line per header kind; a kind that the format gains later is one more line.
constexpr HeaderKind kHeaderKinds[] = {
    {"DATE", false, text_block},
    {"TEXT", false, text_block},
    {"TD", true, name_block},
    {"TSLAYER", false, name_block},
};

constexpr bool initials_known() {
  for (const HeaderKind& kind : kHeaderKinds) {
    if (kHeaderInitials.find(kind.name[0]) == std::string_view::npos) return false;
  }
  return true;
}
static_assert(initials_known(), "a header kind's first letter is missing from kHeaderInitials");

bool matches(const HeaderKind& kind, std::span<const char, 8> name) {
  if (name[0] != kind.name[0]) return false;
  for (std::size_t i = 1; i < name.size(); ++i) {
    if (i < kind.name.size() ? name[i] != kind.name[i] : !kind.name_is_prefix && name[i] != ' ') return false;
  }
  return true;
}

}  // namespace

std::int32_t text_records_of_header(std::span<const char, 8> name, std::span<const double, 4> fields) {
  for (const HeaderKind& kind : kHeaderKinds) {
    if (!matches(kind, name)) continue;
    std::int64_t whole_fields[4];
    for (int i = 0; i < 4; ++i) {
      if (!whole(fields[i], &whole_fields[i])) return 0;
    }
    return kind.announced(whole_fields);
  }
  return 0;
}

bool is_text_record_name(std::span<const char, 8> name) {
  return std::memcmp(name.data(), "        ", 8) == 0;
}

}  // namespace quil
