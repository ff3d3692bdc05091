// Arbitrary bytes as the file to repair, run through the repair pass itself. What must always hold is
// checked against a plain cut of the lines written from the rules: one 72-character CR LF record for
// every input record up to the end (a Ctrl-Z line ends it); a data record written anew field by field,
// every field stable when read back and written again; any other record, and every record of a text
// block that a header announces, its first 72 columns.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "driver/driver.h"
#include "driver/text_records.h"
#include "fuzz/scratch_files.h"
#include "rtl/convert/decode.h"
#include "rtl/convert/encode.h"
#include "rtl/statements/io.h"
#include "rtl/units/connect_settings.h"
#include "rtl/units/unit_io.h"
#include "tests/unit/account_property.h"

namespace {

constexpr std::int32_t kIn = 88, kOut = 90;

void check(bool ok) {
  if (!ok) std::abort();
}

int connect(std::int32_t unit, const std::string& path, rtl::OpenStatus status, bool drop_mark = false) {
  rtl::ConnectSettings settings;
  settings.status = status;
  settings.drop_byte_order_mark = drop_mark;
  settings.has_name = settings.exact_name = settings.return_errors = true;
  settings.name = path;
  return rtl::connect(unit, settings);
}

std::string copied(std::string_view line) {
  std::string copy(line.substr(0, 72));
  copy.resize(72, ' ');
  return copy + "\r\n";
}

// The record that the repair pass must write for one input line, read as a data record.
std::string expected_record(std::string_view line, bool* repaired, double (&values)[4]) {
  *repaired = false;
  std::string record(line.substr(0, 8));
  record.resize(8, ' ');
  std::size_t at = 8;
  for (int i = 0; i < 4; ++i) {
    char field[16];
    std::size_t n = 0;
    std::size_t from = std::min(at, line.size());
    std::string_view taken = line.substr(from, 16);
    std::size_t comma = taken.find(',');
    if (comma != std::string_view::npos) {
      n = comma;
      std::memcpy(field, taken.data(), n);
      at = from + comma + 1;
    } else {
      // A field that the line ends inside is completed with blanks.
      std::memcpy(field, taken.data(), taken.size());
      std::memset(field + taken.size(), ' ', 16 - taken.size());
      n = 16;
      at += 16;
    }
    rtl::convert::Decoded d = rtl::convert::decode_real(field, n, 8, 0);
    if (d.status != rtl::convert::DecodeStatus::converted) return copied(line);
    values[i] = d.value;
    char out[16];
    rtl::convert::encode_exponential(d.value, out, 16, 8, 1);
    record.append(out, 16);
  }
  *repaired = true;
  return record + "\r\n";
}

// A repaired field reads back to the value it shows and is written again as the same 16 characters.
void check_stable(std::string_view record) {
  for (std::size_t at = 8; at < 72; at += 16) {
    rtl::convert::Decoded d = rtl::convert::decode_real(record.data() + at, 16, 8, 0);
    check(d.status == rtl::convert::DecodeStatus::converted);
    char again[16];
    rtl::convert::encode_exponential(d.value, again, 16, 8, 1);
    check(std::memcmp(again, record.data() + at, 16) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const std::string in_path = fuzz::scratch_file("in.fem"), out_path = fuzz::scratch_file("out.fem");
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (!fuzz::put_file(in_path, input.data(), input.size())) return 0;

  // Tiny record buffers and areas force every growth and wrap of the record layer.
  rtl::initial_sizes().record_buffer = 2 + data[0] % 64;
  rtl::initial_sizes().record_area = 1 + (data[0] >> 6) * 40;
  check(connect(kIn, in_path, rtl::OpenStatus::old_file) == 0);
  check(connect(kOut, out_path, rtl::OpenStatus::replace) == 0);
  const std::int32_t lines = quil::repair_pass(kIn, kOut);
  rtl::release(kOut);
  rtl::release(kIn);

  FILE* f = std::fopen(out_path.c_str(), "rb");
  check(f != nullptr);
  std::string output;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) output.append(chunk, n);
  std::fclose(f);

  std::string expected;
  std::int32_t records = 0;
  std::int32_t text_due = 0;
  for (std::size_t at = 0; at < input.size();) {
    std::size_t lf = input.find('\n', at);
    std::size_t end = lf == std::string_view::npos ? input.size() : lf;
    std::string_view line = input.substr(at, end - at);
    // Subtle: a last line without a line end is given one, so a CR before it goes too.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line == "\x1a") break;
    bool repaired = false;
    double values[4];
    std::string record = expected_record(line, &repaired, values);
    const bool text = text_due > 0 && line.substr(0, 8).find_first_not_of(' ') == std::string_view::npos;
    text_due = text ? text_due - 1 : 0;
    if (text) {
      record = copied(line);
      repaired = false;
    } else if (repaired) {
      text_due = quil::announced_text_records(std::span<const char, 8>(record.data(), 8), values);
    }
    check(output.compare(expected.size(), record.size(), record) == 0);
    if (repaired) check_stable(std::string_view(record).substr(0, 72));
    expected += record;
    ++records;
    at = end + 1;
  }
  check(lines == records);
  check(output == expected);

  // As the command line passes over it: what the check says a rewrite changes, the repair changes.
  const auto run = [](bool write) {
    test::PassResult p;
    quil::RepairOptions o;
    o.write = write;
    o.count_changes = o.step_back_in_hand = o.return_failures = o.refuse_other_formats = true;
    check(connect(kIn, in_path, rtl::OpenStatus::old_file, true) == 0);
    check(connect(kOut, out_path, rtl::OpenStatus::replace) == 0);
    quil::repair_records(kIn, kOut, o, p.counts);
    rtl::release(kOut);
    rtl::release(kIn);
    FILE* written = std::fopen(out_path.c_str(), "rb");
    check(written != nullptr);
    char block[4096];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, written)) > 0;) p.output.append(block, n);
    std::fclose(written);
    return p;
  };
  check(test::account_breaks(input, run) == nullptr);
  return 0;
}
