#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "driver/driver.h"
#include "driver/layouts.h"
#include "driver/text_records.h"
#include "rtl/statements/io.h"
#include "rtl/vector.h"
#if QUIL_VECTOR
#include <emmintrin.h>
#endif

namespace quil {
namespace {

using interface_rule::kLastColumn;
using interface_rule::kNameColumns;

// The first columns of a whole record's number fields, each blank or not: 0 when all are. Subtle: which
// numbers touch is for the data to say; the four columns are asked at once.
int first_columns(const char* record) {
  return (record[8] ^ ' ') | (record[24] ^ ' ') | (record[40] ^ ' ') | (record[56] ^ ' ');
}

// Whether a data record's numbers touch: a field whose first column is not blank.
bool numbers_touch(std::string_view record) {
  if (record.size() >= kLastColumn) [[likely]]
    return first_columns(record.data()) != 0;
  for (std::size_t at = 8; at < record.size(); at += 16) {
    if (record[at] != ' ') return true;
  }
  return false;
}

constexpr char kNulName[8] = {};
constexpr int kNotANumber = static_cast<int>(rtl::Failure::input_conversion);
using interface_rule::kLongestLine;
constexpr int kLineTooLong = static_cast<int>(rtl::Failure::record_too_long);

void stopped(std::int32_t unit, int failure, RepairCounts& counts) {
  counts.failure = failure;
  counts.failed_unit = unit;
  counts.failure_error = rtl::handled_system_error(unit);
}

bool has_numbers(std::string_view record) {
  return record.size() > kNameColumns && record.find_first_not_of(' ', kNameColumns) < kLastColumn;
}

// The bytes of x that lie strictly between `above` and `below`, both ASCII: their high bits, eight bytes
// at once.
constexpr std::uint64_t bytes_between(std::uint64_t x, std::uint64_t above, std::uint64_t below) {
  constexpr std::uint64_t kOnes = 0x0101'0101'0101'0101, kLow = 127 * kOnes, kHigh = 128 * kOnes;
  return (((127 + below) * kOnes - (x & kLow)) & ~x & ((x & kLow) + (127 - above) * kOnes)) & kHigh;
}
static_assert(bytes_between(0x2020'2020'2020'3020, '0' - 1, '9' + 1) == 0x8000 &&
              bytes_between(0x2020'2020'2045'2B2E, '0' - 1, '9' + 1) == 0 &&
              bytes_between(0xFFB9'AF2F'3A20'2020, '0' - 1, '9' + 1) == 0);

// The 72 columns of a line, blanks past its end, eight at a time.
class Columns {
 public:
  explicit Columns(std::string_view line) : at_(line.data()) {
    if (line.size() < sizeof copy_) [[unlikely]] {
      rtl::copy_blank_padded(copy_, line.data(), line.size());
      at_ = copy_;
    }
  }
  std::uint64_t word(int i) const {
    std::uint64_t w;
    std::memcpy(&w, at_ + 8 * i, sizeof w);
    return w;
  }
  const char* at(int column) const { return at_ + column; }

 private:
  const char* at_;
  char copy_[kLastColumn];
};

// Whether a number field holds digits without a point: the field's reader then places the point
// eight digits from the right (1 reads as 1.0E-08), which a person reading the file does not expect.
bool has_number_without_point(std::string_view record) {
  const Columns columns(record);
  bool found = false;
#pragma GCC unroll 4
  for (int field = 0; field < 4; ++field) {
#if QUIL_VECTOR
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns.at(8 + 16 * field)));
    // Digits are the lowest signed bytes once moved by -128 - '0'.
    const __m128i digits = _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(-128 - '0'))),
                                          _mm_set1_epi8(-128 + 10));
    const bool digit = _mm_movemask_epi8(digits) != 0;
    const bool point = _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))) != 0;
#else
    const std::uint64_t a = columns.word(1 + 2 * field), b = columns.word(2 + 2 * field);
    const bool digit = (bytes_between(a, '0' - 1, '9' + 1) | bytes_between(b, '0' - 1, '9' + 1)) != 0;
    const bool point = (bytes_between(a, '.' - 1, '.' + 1) | bytes_between(b, '.' - 1, '.' + 1)) != 0;
#endif
    found |= digit & !point;
  }
  return found;
}

// Whether a line holds blanks only.
bool is_blank(std::string_view line) {
  if (line.size() > kLastColumn) return line.find_first_not_of(' ') == std::string_view::npos;
  const Columns columns(line);
  std::uint64_t differs = 0;
#pragma GCC unroll 9
  for (int i = 0; i < 9; ++i) differs |= columns.word(i) ^ 0x2020'2020'2020'2020;
  return differs == 0;
}

// Whether no value is an infinity or a NaN: x - x is 0 for every finite x and a NaN for the others,
// and a sum with a NaN in it is one.
bool all_finite(const double (&values)[4]) {
#if QUIL_VECTOR
  const __m128d low = _mm_loadu_pd(values), high = _mm_loadu_pd(values + 2);
  const __m128d sum = _mm_add_pd(_mm_sub_pd(low, low), _mm_sub_pd(high, high));
  return _mm_movemask_pd(_mm_cmpunord_pd(sum, sum)) == 0;
#else
  const double zero_or_nan =
      (values[0] - values[0]) + (values[1] - values[1]) + (values[2] - values[2]) + (values[3] - values[3]);
  return zero_or_nan == zero_or_nan;
#endif
}

// Whether a line is the data record made of it. Subtle: 72 columns are compared eight bytes at a time in
// line, where a comparison of strings would call the C library for every line (a slow call under Wine).
bool same_record(std::string_view line, std::string_view made) {
  if (line.size() != kLastColumn || made.size() != kLastColumn) return line == made;
  std::uint64_t differ = 0;
  for (std::size_t at = 0; at < kLastColumn; at += 8) {
    std::uint64_t a, b;
    std::memcpy(&a, line.data() + at, 8);
    std::memcpy(&b, made.data() + at, 8);
    differ |= a ^ b;
  }
  return differ == 0;
}

}  // namespace

namespace {

// The options that every line asks, as constants: each run of a pass is made for its own three, so that
// a line asks none of them.
template <bool kCountChanges, bool kRefuseOtherFormats, bool kWrite>
struct LineOptions {
  static constexpr bool count_changes = kCountChanges, refuse_other_formats = kRefuseOtherFormats,
                        write = kWrite;
};

// One pass over a file: a line at a time, read as a data record, repaired or copied.
template <typename Asked>
class Pass {
 public:
  Pass(std::int32_t input, std::int32_t output, const RepairOptions& options, RepairCounts& counts)
      : input_(input),
        output_(output),
        options_(options),
        counts_(counts),
        handled_{false, options.return_failures},
        reads_(options.return_failures ? rtl::Handlers{true, true}
                                       : rtl::Handlers{true, true, rtl::Failure::input_conversion}) {
    bound_lines();
  }

  // False at the end of the input, or when the pass stops.
  bool next_line() {
    std::memset(name_, ' ', sizeof name_);
    // Only a field that does not convert sends a line down the copy path; any other failure of the read
    // (the system's read, memory) ends the pass, so that nothing is copied twice.
    // The line as the file holds it comes with the read, for the format check and the touching count.
    const int outcome = rtl::read_data_record(input_, reads_, name_, values_, &line_);
    if (outcome != 0) [[unlikely]] {
      if (outcome == -1) return end_of_input();
      if (outcome == kLineTooLong && lines_bounded_) return refuse_unended_line();
      if (outcome != kNotANumber) return stop(input_, outcome);
    }
    if (Asked::count_changes) [[likely]]
      account_line_end();
    note_text_blocks();
    const bool data_record = outcome == 0;
    if (Asked::refuse_other_formats && !in_text_block_ && !format_holds(data_record)) return false;
    const bool copied = !data_record || announced_text_;
    if (copied) [[unlikely]] {
      if (!copy_line()) return false;
    } else if (!repair_line(Asked::refuse_other_formats && !in_text_block_)) {
      return false;
    }
    ++counts_.records;
    if (counts_.records % 8192 == 0 && options_.progress != nullptr) [[unlikely]] {
      std::int64_t consumed = 0;
      rtl::record_in_hand(input_, &consumed);
      options_.progress(options_.context, counts_.records, consumed);
    }
    return true;
  }

  void finish() {
    counts_.byte_order_mark = rtl::byte_order_mark_dropped(input_);
    counts_.block_open_at_end = text_records_due_ > 0 || block_due_ > 0;
    const bool stopped_early = counts_.failure != 0 || counts_.not_interface.why != NotInterface::no;
    if (Asked::refuse_other_formats && !stopped_early && counts_.records > 0 && !counts_.data_seen) {
      counts_.not_interface = {NotInterface::no_data_record};
    }
  }

 private:
  // A text record may read as numbers; only its blank name columns tell it from a data record.
  void note_text_blocks() {
    if ((text_records_due_ | block_due_) == 0) [[likely]] {
      announced_text_ = in_text_block_ = false;
      return;
    }
    announced_text_ = text_records_due_ > 0 && is_text_record_name(name_);
    // Subtle: a results file's announced records may be 72 NUL bytes, name columns included; they take
    // the copy path all the same, and no format check looks at them.
    in_text_block_ = false;
    if (block_due_ > 0) [[unlikely]] {
      in_text_block_ = is_text_record_name(name_) || std::memcmp(name_, kNulName, sizeof kNulName) == 0;
      block_due_ = in_text_block_ ? block_due_ - 1 : 0;
      if (block_due_ == 0) bound_lines();
    }
    text_records_due_ = announced_text_ ? text_records_due_ - 1 : 0;
  }

  // Where the format check looks at the next line, it needs no more of it than a line may hold: the
  // read stops there. An announced text record may be longer, and is read whole. Asked where a block of
  // them begins or ends.
  void bound_lines() {
    const bool bounded = Asked::refuse_other_formats && block_due_ == 0;
    if (bounded == lines_bounded_) return;
    lines_bounded_ = bounded;
    // One byte more than the longest line: its CR before the line end.
    rtl::limit_lines(input_, bounded ? kLongestLine + 1 : rtl::kLongestRecord);
  }

  // A line that the read stopped early refuses the file by its first bytes; false, as the pass stops.
  bool refuse_unended_line() {
    const std::string_view begun = rtl::unended_line(input_);
    // Subtle: memory may run out before the line outgrew the longest one: that is the read's failure.
    if (begun.size() <= kLongestLine + 1) return stop(input_, kLineTooLong);
    InterfaceVerdict& v = counts_.not_interface;
    v.line = options_.lines_before + counts_.records + 1;
    v.why = look_at_line(begun, false, v.line == 1, &v.byte, &v.column);
    return false;
  }

  // Whether the line just read may belong to an interface file; otherwise the verdict goes to the counts.
  bool format_holds(bool data_record) {
    const Plain plain = data_record ? plain_record(line_, known_names_) : Plain::no;
    touching_ = plain == Plain::touching;
    if (plain == Plain::no) [[unlikely]] {
      InterfaceVerdict& v = counts_.not_interface;
      v.line = options_.lines_before + counts_.records + 1;
      v.why = look_at_line(line_, data_record, v.line == 1, &v.byte, &v.column);
      if (v.why != NotInterface::no) return false;
      touching_ = numbers_touch(line_);
    }
    // An infinity, a NaN or a value past the largest real would be written as a word that no reader of
    // the file takes for a number.
    if (data_record && !all_finite(values_)) [[unlikely]] {
      counts_.not_interface = {NotInterface::not_finite, line_number()};
      return false;
    }
    // Subtle: a short line of any text reads as a data record of zeros; only numbers make it one.
    if (!counts_.data_seen) [[unlikely]]
      counts_.data_seen = data_record && has_numbers(line_);
    return true;
  }

  // Not a data record: step back and copy the line through as text.
  bool copy_line() {
    if (Asked::count_changes && line_.size() != kLastColumn)
      counts_.of(line_.size() < kLastColumn ? Change::short_line : Change::past_column_72).add(line_number());
    if (int rc = rtl::backspace(input_, handled_.errors, options_.step_back_in_hand)) return stop(input_, rc);
    const int copied =
        rtl::read<kOneTextLayout>(input_, rtl::Handlers{true, handled_.errors}, std::span<char>(copy_));
    if (copied == -1) return false;
    if (copied > 0) return stop(input_, copied);
    if (!Asked::write) return true;
    const int rc =
        rtl::write_handled<kOneTextLayout>(output_, handled_, std::string_view(copy_, sizeof copy_));
    return rc == 0 || stop(output_, rc);
  }

  // `checked`: the format check found every value finite, and so each field's first column blank in the
  // rewrite, which needs fifteen of the sixteen columns for any finite value; it found whether the
  // numbers touch as well.
  bool repair_line(bool checked) {
    const std::string_view name(name_, sizeof name_);
    std::string_view made;
    if (Asked::write) {
      if (const int rc = rtl::write_data_record(output_, name, values_, handled_, &made))
        return stop(output_, rc);
    } else if (Asked::count_changes) {
      rtl::make_data_record(record_, name, values_);
      made = std::string_view(record_, kLastColumn);
    }
    // Subtle: the line as it stands is asked before anything else reads the unit again. A column that
    // the line fills and its rewrite (of all 72 columns) leaves blank tells them apart at once: the usual
    // touching numbers.
    if (Asked::count_changes) [[likely]] {
      const bool touching = checked ? touching_ : numbers_touch(line_) && first_columns(made.data()) == 0;
      if (touching) [[likely]] {
        counts_.of(Change::touching).add(line_number());
      } else if (!same_record(line_, made)) {
        account_data_line(made);
      }
    }
    text_records_due_ = block_due_ = announced_text_records(name_, values_);
    if (block_due_ > 0) [[unlikely]]
      bound_lines();
    return true;
  }

  std::int64_t line_number() const { return options_.lines_before + counts_.records + 1; }

  // Subtle: the byte after the line as the file holds it is its CR, or its LF, which the read may have
  // made for a last line without one. Asked now, while the line is where the read left it.
  void account_line_end() {
    if (line_.data()[line_.size()] == '\n' && !rtl::line_end_made(input_))
      counts_.of(Change::lf_end).add(line_number());
  }

  // Why a data record's rewrite differs from the line: the first kind that says so.
  void account_data_line(std::string_view made) {
    Change kind = Change::other_form;
    if (numbers_touch(line_)) {
      kind = Change::touching;
    } else if (is_blank(line_)) {
      kind = Change::blank_line;
    } else if (line_.size() > kLastColumn && line_.substr(0, kLastColumn) == made) {
      kind = Change::past_column_72;
    } else if (has_number_without_point(line_)) {
      kind = Change::no_point;
    }
    counts_.of(kind).add(line_number());
  }

  // The input ended: at its end, or at a lone Ctrl-Z line, which a rewrite drops, and after which
  // nothing may stand in a file repaired unasked.
  bool end_of_input() {
    if (!Asked::count_changes && !Asked::refuse_other_formats) return false;
    const rtl::EndMark mark = rtl::end_mark(input_);
    if (mark == rtl::EndMark::lines_after && Asked::refuse_other_formats) {
      counts_.not_interface = {NotInterface::lines_after_end_mark, line_number()};
    } else if (mark != rtl::EndMark::none && Asked::count_changes) {
      counts_.of(Change::end_mark).add(line_number());
    } else if (Asked::count_changes && counts_.records > 0 && rtl::line_end_made(input_)) {
      // Subtle: a last line that ends in CR alone lost it to the line end the read made.
      counts_.of(Change::unended_last).add(line_number() - 1);
    }
    return false;
  }

  bool stop(std::int32_t unit, int failure) {
    stopped(unit, failure, counts_);
    return false;
  }

  const std::int32_t input_, output_;
  const RepairOptions& options_;
  RepairCounts& counts_;
  const rtl::Handlers handled_, reads_;
  char name_[8];
  double values_[4] = {};
  char copy_[kLastColumn];
  char record_[rtl::kDataRecordBytes];  // a data record's rewrite, made where nothing is written
  std::string_view line_;
  std::int32_t text_records_due_ = 0;  // announced by the last header, still to come
  std::int32_t block_due_ = 0;         // the same for the format check, which NUL name columns do not end
  bool announced_text_ = false, in_text_block_ = false;
  bool lines_bounded_ = false;  // the read stops a line at what the format check needs of it
  bool touching_ = false;       // the format check's answer: the line's numbers touch
  KnownNames known_names_;
};

template <bool kCountChanges, bool kRefuseOtherFormats, bool kWrite>
void run_pass(std::int32_t input, std::int32_t output, const RepairOptions& options, RepairCounts& counts) {
  Pass<LineOptions<kCountChanges, kRefuseOtherFormats, kWrite>> pass(input, output, options, counts);
  while (pass.next_line()) {
  }
  pass.finish();
}

}  // namespace

void repair_records(std::int32_t input, std::int32_t output, const RepairOptions& options,
                    RepairCounts& counts) {
  using Run = void (*)(std::int32_t, std::int32_t, const RepairOptions&, RepairCounts&);
  static constexpr Run kRuns[] = {run_pass<false, false, false>, run_pass<false, false, true>,
                                  run_pass<false, true, false>,  run_pass<false, true, true>,
                                  run_pass<true, false, false>,  run_pass<true, false, true>,
                                  run_pass<true, true, false>,   run_pass<true, true, true>};
  kRuns[options.count_changes * 4 + options.refuse_other_formats * 2 + options.write](input, output, options,
                                                                                      counts);
}

std::int32_t repair_pass(std::int32_t input, std::int32_t output) {
  RepairCounts counts;
  repair_records(input, output, RepairOptions{}, counts);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(counts.records));
}

}  // namespace quil
