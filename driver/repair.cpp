#include <cstring>
#include <span>
#include <string_view>

#include "driver/driver.h"
#include "driver/layouts.h"
#include "driver/text_records.h"
#include "rtl/io.h"

namespace quil {
namespace {

// Whether a data record's numbers touch: a field whose first column is not blank.
bool numbers_touch(std::string_view record) {
  for (std::size_t at = 8; at < 72 && at < record.size(); at += 16) {
    if (record[at] != ' ') return true;
  }
  return false;
}

constexpr char kNulName[8] = {};
constexpr int kNotANumber = static_cast<int>(rtl::Failure::input_conversion);

void stopped(std::int32_t unit, int failure, RepairCounts& counts) {
  counts.failure = failure;
  counts.failed_unit = unit;
  counts.failure_error = rtl::handled_system_error(unit);
}

bool has_numbers(std::string_view record) {
  return record.size() > 8 && record.find_first_not_of(' ', 8) < 72;
}

// Whether the line just read may belong to an interface file; otherwise the verdict goes to `counts`.
bool looks_like_interface(std::string_view line, bool data_record, RepairCounts& counts) {
  InterfaceVerdict& v = counts.not_interface;
  v.why = look_at_line(line, data_record, counts.records == 0, &v.byte, &v.column);
  v.line = counts.records + 1;
  return v.why == NotInterface::no;
}

}  // namespace

void repair_records(std::int32_t input, std::int32_t output, const RepairOptions& options, RepairCounts& counts) {
  char name[8];
  double values[4] = {};
  char copy[72];
  std::int32_t text_records_due = 0;  // announced by the last header, still to come
  std::int32_t block_due = 0;         // the same for the format check, which NUL name columns do not end
  const rtl::Handlers handled{false, options.return_failures};
  const rtl::Handlers reads = options.return_failures
                                  ? rtl::Handlers{true, true}
                                  : rtl::Handlers{true, true, rtl::Failure::input_conversion};
  for (;;) {
    std::memset(name, ' ', sizeof name);
    // Only a field that does not convert sends a line down the copy path; any other failure of the read
    // (the system's read, memory) ends the pass, so that nothing is copied twice.
    int outcome = rtl::read<kDataReadLayout>(input, reads, std::span<char>(name), values[0], values[1], values[2],
                                             values[3]);
    if (outcome == -1) break;
    if (outcome > 0 && outcome != kNotANumber) return stopped(input, outcome, counts);
    // A text record may read as numbers; only its blank name columns tell it from a data record.
    const bool announced_text = text_records_due > 0 && is_text_record_name(name);
    // Subtle: a results file's announced records may be 72 NUL bytes, name columns included; they take
    // the copy path all the same, and no format check looks at them.
    const bool in_text_block =
        block_due > 0 && (is_text_record_name(name) || std::memcmp(name, kNulName, sizeof kNulName) == 0);
    block_due = in_text_block ? block_due - 1 : 0;
    text_records_due = announced_text ? text_records_due - 1 : 0;
    // The line as the file holds it, for the format check and the touching count.
    const std::string_view line =
        options.refuse_other_formats || options.count_touching ? rtl::record_in_hand(input) : std::string_view();
    if (options.refuse_other_formats && !in_text_block) {
      if (!looks_like_interface(line, outcome == 0, counts)) return;
      // Subtle: a short line of any text reads as a data record of zeros; only numbers make it one.
      counts.data_seen = counts.data_seen || (outcome == 0 && has_numbers(line));
    }
    if (outcome > 0 || announced_text) {
      // Not a data record: step back and copy the line through as text.
      if (int rc = rtl::backspace(input, handled.errors, options.step_back_in_hand)) return stopped(input, rc, counts);
      const int copied = rtl::read<kOneTextLayout>(input, rtl::Handlers{true, handled.errors}, std::span<char>(copy));
      if (copied == -1) break;
      if (copied > 0) return stopped(input, copied, counts);
      if (options.write) {
        const int rc = rtl::write_handled<kOneTextLayout>(output, handled, std::string_view(copy, sizeof copy));
        if (rc != 0) return stopped(output, rc, counts);
      }
    } else {
      if (options.write) {
        const int rc = rtl::write_handled<kDataWriteLayout>(output, handled, std::string_view(name, sizeof name),
                                                            values[0], values[1], values[2], values[3]);
        if (rc != 0) return stopped(output, rc, counts);
      }
      text_records_due = block_due = announced_text_records(name, values);
      if (options.count_touching && numbers_touch(line)) {
        if (counts.touching < kShownTouching) counts.first_touching[counts.touching] = counts.records + 1;
        ++counts.touching;
      }
    }
    ++counts.records;
    if (options.progress != nullptr && counts.records % 8192 == 0) options.progress(options.context, counts);
  }
  if (options.refuse_other_formats && counts.records > 0 && !counts.data_seen) {
    counts.not_interface = {NotInterface::no_data_record};
  }
}

std::int32_t repair_pass(std::int32_t input, std::int32_t output) {
  RepairCounts counts;
  repair_records(input, output, RepairOptions{}, counts);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(counts.records));
}

}  // namespace quil
