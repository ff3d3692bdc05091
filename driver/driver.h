#pragma once

#include <cstdint>
#include <string_view>

#include "driver/interface_file.h"
#include "driver/unit_numbers.h"

namespace quil {

// The body of QUIL: banner, the two file dialogues, the repair pass, the summary, the end. Never returns.
[[noreturn]] void dialogue();
// The same with the first answer given (a name passed on the command line), shown as if typed. Named so,
// a file of another format is refused, as every argument mode refuses it, unless `any_format`.
[[noreturn]] void dialogue(std::string_view first_answer, bool any_format = false);

// Writes one blank and the first min(length, 80) characters of `text` to `unit`, with no line end, so
// that the answer is typed on the same screen line.
void write_prompt(std::int32_t unit, const char* text, std::int32_t length);

// What a rewrite changes in a file, kind by kind: the one account that the check states and a repair
// reports, so that the two cannot differ. Every line that a rewrite changes counts in one kind at least.
enum class Change : std::uint8_t {
  touching,        // data records whose numbers touch (a field whose first column is not blank)
  no_point,        // numbers written without a point, which the field's reader takes as x 10^-8
  other_form,      // numbers in another form written again: short lines, D or lower-case exponents, widths
  blank_line,      // blank lines, which read as records of zeros and are written so
  short_line,      // lines of text shorter than 72 columns, padded with blanks
  past_column_72,  // lines with columns past 72, which are cut off
  lf_end,          // LF line ends, which become CR LF
  unended_last,    // a last line without its line end, which gets one
  end_mark,        // the last line, a lone Ctrl-Z (end of input), which is dropped
  count
};
inline constexpr int kShownTouching = 5;
struct ChangedLines {
  std::int64_t count = 0;
  // The line numbers of the first of them. Subtle: the question is one that every line after the first few
  // answers alike, and the line's number is worked out only where it is kept.
  std::int64_t first[kShownTouching] = {};
  void add(std::int64_t line) {
    if (count < kShownTouching) [[unlikely]]
      first[count] = line;
    ++count;
  }
};
struct RepairCounts {
  std::int64_t records = 0;  // written, or that would have been written
  ChangedLines changed[static_cast<int>(Change::count)];
  ChangedLines& of(Change c) { return changed[static_cast<int>(c)]; }
  const ChangedLines& of(Change c) const { return changed[static_cast<int>(c)]; }
  bool data_seen = false;          // a data record with numbers, outside announced text
  InterfaceVerdict not_interface;  // why the pass stopped at a file of another format
  // The failure that stopped the pass, when it returns failures: its number, the unit it met, and the
  // system's error behind it.
  std::int32_t failure = 0;
  std::int32_t failed_unit = 0;
  std::uint32_t failure_error = 0;
  bool block_open_at_end = false;  // the input ended inside a block of text records a header announced
  bool byte_order_mark = false;    // an editor's mark stood before the first record, and was dropped
  // Whether a rewrite changes anything of the file.
  bool changes_any() const {
    for (const ChangedLines& c : changed) {
      if (c.count > 0) return true;
    }
    return byte_order_mark;
  }
};
struct RepairOptions {
  bool write = true;           // false: the records are only read and counted
  bool count_changes = false;  // keep the account of what a rewrite changes
  // A record that is not data is read again from the record buffer where the file cannot step back.
  bool step_back_in_hand = false;
  // A file that is not an interface file stops the pass before anything of it is written.
  bool refuse_other_formats = false;
  // A failed read, step back or write stops the pass and is returned in the counts, not reported.
  bool return_failures = false;
  // The lines of the file before the part that this pass reads: line numbers count from the file's start.
  std::int64_t lines_before = 0;
  // Now and then, when given: the records so far, and the input's bytes up to the end of the last one.
  void (*progress)(void* context, std::int64_t records, std::int64_t consumed) = nullptr;
  void* context = nullptr;
};
// The repair pass with its counts: every record of `input` read once and, when asked, written to `output`.
void repair_records(std::int32_t input, std::int32_t output, const RepairOptions& options,
                    RepairCounts& counts);

// Reads every record of `input` once and writes one record to `output` for each: data records
// repaired, any other line copied as 72-column text. Returns the number of records written.
std::int32_t repair_pass(std::int32_t input, std::int32_t output);

}  // namespace quil
