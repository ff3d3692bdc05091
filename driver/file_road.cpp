#include "driver/file_road.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "driver/driver.h"
#include "driver/parallel.h"
#include "driver/progress.h"
#include "driver/replacement.h"
#include "driver/words.h"
#include "rtl/ending/ending.h"
#include "rtl/platform/platform.h"
#include "rtl/statements/io.h"
#include "rtl/units/connect_settings.h"

namespace quil {

int jobs_at_once(const Request& r) {
  return r.jobs > 0 ? r.jobs : std::min(rtl::platform::processor_count(), kMostJobs);
}

namespace {

// One file's plan as it is carried out: its units, its lines and its replacement.
struct FileRun {
  FileRun(const FilePlan& file_plan, FileLines file_lines)
      : plan(file_plan),
        lines(file_lines),
        in(plan.units.in),
        out(plan.units.out),
        replacing(plan.replacing) {}
  const FilePlan& plan;
  FileLines lines;
  std::int32_t in, out;
  bool replacing;  // false once the output itself takes the records, nothing being made beside it
  Replacement replacement;
};

// Prints the line of a stop; returns its outcome.
Outcome report_stop(const FileRun& run, const Stop& stop) {
  if (!stop.line.empty()) {
    if (stop.problem) {
      run.lines.print_problem(stop.line);
    } else {
      run.lines.print_result(stop.line);
    }
  }
  return stop.outcome;
}

Outcome report_skipped(const FileRun& run, const std::string& shown, const std::string& why,
                       Outcome outcome = Outcome::skipped) {
  run.lines.print_problem(shown + run.plan.skipped + why);
  return outcome;
}

std::string lines_words(std::int64_t records) {
  return std::to_string(records) + (records == 1 ? " line" : " lines");
}

// Connects `unit` to `name` as given (- is the standard stream of the unit's direction). Returns 0 or the
// failure number.
int connect_name(const std::string& name, std::int32_t unit, rtl::OpenStatus status, bool read_only,
                 rtl::platform::Sharing sharing = rtl::platform::Sharing::read_only) {
  const bool input = read_only;
  rtl::ConnectSettings settings;
  settings.sharing = sharing;
  settings.status = status;
  settings.read_only = read_only;
  settings.has_name = settings.return_errors = true;
  settings.exact_name = name != "-";
  settings.drop_byte_order_mark = input;
  settings.name = name != "-" ? std::string_view(name) : input ? "CONIN$" : "CONOUT$";
  return rtl::connect(unit, settings);
}

// The lines of one kind of change: how many, and the first of them.
std::string first_lines(const ChangedLines& lines) {
  std::string words = ", first at line";
  if (lines.count > 1) words += 's';
  for (std::int64_t i = 0; i < lines.count && i < kShownTouching; ++i)
    words += (i == 0 ? " " : ", ") + std::to_string(lines.first[i]);
  return words;
}

// What a rewrite changes besides touching numbers, kind by kind: as a check says it (what a repair would
// do) or as a repair says it (what it did). The touching numbers lead each line, as they always have.
struct ChangeWords {
  Change kind;
  const char* check;   // after the count, then the first lines
  const char* repair;  // after the count
  bool counted;        // a kind of the whole file says no count
};
constexpr ChangeWords kChangeWords[] = {
    {Change::no_point, " with numbers written without a point, read as \u00D710^-8",
     " with numbers written without a point (read as \u00D710^-8) rewritten", true},
    {Change::other_form, " with numbers in another form", " with numbers in another form rewritten", true},
    {Change::blank_line, " blank, to become records of zeros", " blank, now records of zeros", true},
    {Change::short_line, " shorter than 72 columns", " padded to 72 columns", true},
    {Change::past_column_72, " with columns past 72", " cut at column 72", true},
    {Change::lf_end, "LF line ends to become CR LF", "LF line ends became CR LF", false},
    {Change::unended_last, "a last line without its line end", "the last line's line end added", false},
    {Change::end_mark, "an end-of-file mark (Ctrl-Z) to drop", "end-of-file mark (Ctrl-Z) dropped", false},
};

std::string change_words(const RepairCounts& counts, bool check) {
  std::string words;
  for (const ChangeWords& w : kChangeWords) {
    const ChangedLines& lines = counts.of(w.kind);
    if (lines.count == 0) continue;
    // Subtle: the byte-order mark stands before the line ends, as it always has.
    if (w.kind == Change::lf_end && counts.byte_order_mark)
      words += check ? ", a byte-order mark to drop" : ", byte-order mark dropped";
    words += ", " + (w.counted ? std::to_string(lines.count) : std::string()) + (check ? w.check : w.repair);
    if (check && w.counted) words += first_lines(lines);
  }
  if (counts.byte_order_mark && counts.of(Change::lf_end).count == 0)
    words += check ? ", a byte-order mark to drop" : ", byte-order mark dropped";
  return words;
}

std::string touching_words(const RepairCounts& counts) {
  const ChangedLines& touching = counts.of(Change::touching);
  if (touching.count == 0) return "no touching numbers";
  return std::to_string(touching.count) + " with touching numbers" + first_lines(touching);
}

// Connects the output again in place, as the answer had it, showing its name; false when it cannot be.
bool connect_output_again(const FileRun& run) {
  rtl::ConnectSettings settings;
  settings.status = rtl::OpenStatus::unknown;
  settings.has_name = settings.exact_name = settings.return_errors = true;
  settings.name = run.plan.write_to;
  settings.shown_name = run.plan.unit_shows;
  return rtl::connect(run.out, settings) == 0;
}

// Makes the file that the repair is written to beside the one it replaces; empty, or why not.
std::string create_beside(FileRun& run) {
  const FilePlan& p = run.plan;
  if (p.answer_made_output) rtl::platform::remove_file(p.write_to.c_str());
  std::string why = run.replacement.create_beside(p.write_to, run.out, p.unit_shows);
  if (!why.empty() && p.written_in_place_otherwise && connect_output_again(run)) {
    run.replacing = false;
    why.clear();
  }
  return why;
}

// Opens the output: beside the file it replaces, or the name itself (standard output, a device or a pipe
// takes the records as they come). Empty, or why not.
std::string open_output(FileRun& run) {
  const FilePlan& p = run.plan;
  if (p.replacing) return create_beside(run);
  const int rc = connect_name(p.write_to, run.out, rtl::OpenStatus::unknown, false);
  if (rc == 0) return {};
  // Standard output says only that it cannot be opened.
  return p.write_to == "-" ? refusal_words(static_cast<int>(rtl::Failure::open_failure))
                           : failure_words(rc, rtl::last_refusal_error());
}

// Whether an existing OUTPUT is the file being repaired, asked of the file itself once the input is open.
bool output_is_input(const FileRun& run) {
  const std::int32_t probe = run.plan.units.probe;
  if (connect_name(run.plan.write_to, probe, rtl::OpenStatus::old_file, true) != 0) return false;
  const bool same = rtl::writes_file_read_by(probe, run.in);
  rtl::release(probe);
  return same;
}

// Opens both ends of the file's road, in the plan's order; nothing, or where it stops.
std::optional<Outcome> open_road(FileRun& run) {
  const FilePlan& p = run.plan;
  if (p.before_opening.stops) return report_stop(run, p.before_opening);
  if (!p.input_connected) {
    if (const int rc = connect_name(p.read_from, run.in, rtl::OpenStatus::old_file, true); rc != 0) {
      return report_skipped(run, p.input, failure_words(rc, rtl::last_refusal_error()),
                            p.writes ? Outcome::skipped : Outcome::unchecked);
    }
  }
  std::string why;
  if (p.probe_output && output_is_input(run)) {
    why = "cannot open: it is the file being repaired (-i repairs in place)";
  } else if (p.once_open.stops) {
    rtl::release(run.in);
    return report_stop(run, p.once_open);
  } else if (p.writes) {
    why = open_output(run);
  }
  if (why.empty()) return std::nullopt;
  if (!p.input_connected) rtl::release(run.in);
  return report_skipped(run, p.written_name, why);
}

Outcome report(const FileRun& run, const RepairCounts& counts, const std::string& kept) {
  const FilePlan& p = run.plan;
  const std::string lines = lines_words(counts.records) + ", ";
  if (!p.writes) {
    // Whatever a repair would change, the check says, and counts the file as needing repair.
    if (!p.quiet)
      run.lines.print_result(p.input + ": " + lines + touching_words(counts) + change_words(counts, true));
    return counts.changes_any() ? Outcome::needs_repair : Outcome::done;
  }
  if (p.quiet) return Outcome::done;
  // The line never mixes with repaired records on standard output, however that is named.
  run.lines.print_result(p.result_name + ": " + lines + std::to_string(counts.of(Change::touching).count) +
                         " with touching numbers repaired" + change_words(counts, false) + kept);
  return Outcome::done;
}

// A file that could not be read or written to its end: nothing of it is kept, and the run goes on.
void discard_and_report_failure(FileRun& run, const RepairCounts& counts) {
  run.replacement.discard();
  const bool on_output = counts.failed_unit == run.out;
  if (on_output && run.lines.records_on_standard_output() &&
      rtl::platform::broken_pipe_error(counts.failure_error)) {
    rtl::end_by_broken_pipe();
  }
  const std::string& name = on_output ? run.plan.written_name : run.plan.input;
  run.lines.print_problem(name + ": " + failure_words(counts.failure, counts.failure_error));
}

// A large disk file is repaired in parts at once, each writing at its place in the temporary file; a
// file that must take the road in one piece (or a small one) returns false and is repaired as one.
bool run_in_parts(FileRun& run, const RepairOptions& options, RepairCounts* counts) {
  const FilePlan& p = run.plan;
  if (p.parts < 2) return false;
  const std::int64_t size = rtl::input_file_size(run.in);
  if (size < rtl::platform::smallest_file_in_parts(kSmallestFileInParts)) return false;
  const std::string output = options.write ? run.replacement.temporary() : std::string();
  // The parts write the temporary file by its name; the file's own unit lets go of it meanwhile.
  if (options.write) rtl::release(run.out);
  const bool done = repair_in_parts(p.read_from, size, output, p.parts, options, counts, run.in, run.out);
  if (!done && options.write &&
      connect_name(output, run.out, rtl::OpenStatus::old_file, false, rtl::platform::Sharing::every) != 0) {
    counts->failure = static_cast<int>(rtl::Failure::open_failure);
    counts->failed_unit = run.out;
    return true;
  }
  if (done) rtl::release(run.in, true);
  return done;
}

// A file whose records go to a stream is looked at whole before its first record goes out, where it can
// be read twice (a disk file): a stream cannot take back what it was given. False when the file is
// refused or fails, with *counts saying why; true with the same file read from its start again.
bool shape_holds_first(FileRun& run, const RepairOptions& options, RepairCounts* counts) {
  if (!options.write || !options.refuse_other_formats || !run.lines.records_on_standard_output() ||
      rtl::input_file_size(run.in) < 0) {
    return true;
  }
  RepairOptions look = options;
  look.write = false;
  look.count_changes = false;
  const bool standard_input = run.plan.read_from == "-";
  // Subtle: standard input that is a file is read from where the caller left it, not from its start;
  // the records are read from there again after the look.
  const rtl::platform::Handle handle = rtl::platform::standard_handle(rtl::platform::StdStream::input);
  const std::int64_t start = standard_input ? rtl::platform::position(handle) : 0;
  repair_records(run.in, run.out, look, *counts);
  if (counts->failure == 0 && counts->not_interface.why == NotInterface::no) {
    *counts = RepairCounts{};
    if (rtl::read_again_from(run.in, start, &counts->failure_error)) return true;
    counts->failure = static_cast<int>(rtl::Failure::open_failure);
    counts->failed_unit = run.in;
  }
  rtl::release(run.in, true);
  return false;
}

// The pass over the file, with both units let go after it; a failure to release them is the pass's.
RepairCounts run_pass(FileRun& run) {
  const FilePlan& p = run.plan;
  RepairOptions options;
  options.write = p.writes;
  options.count_changes = options.step_back_in_hand = options.return_failures = !p.failures_end_the_run;
  options.refuse_other_formats = p.refuse_other_formats;
  // Records that go to standard output, a file there included, are the whole stream: the file's line
  // goes to standard error.
  if (options.write && (p.write_to == "-" || !rtl::on_disk_file(run.out)))
    run.lines.records_to_standard_output();
  RepairCounts counts;
  if (!shape_holds_first(run, options, &counts)) return counts;
  Progress progress;
  if (!p.in_batch && !p.one_record_at_a_time) progress.start(p.input, run.in, &options);
  if (run_in_parts(run, options, &counts)) {
    progress.erase();
    return counts;
  }
  if (options.write && !p.one_record_at_a_time) rtl::write_in_blocks(run.out);
  repair_records(run.in, run.out, options, counts);
  progress.erase();
  if (const int rc = rtl::release(run.out, !p.failures_end_the_run); rc != 0 && counts.failure == 0) {
    counts.failure = rc;
    counts.failed_unit = run.out;
    counts.failure_error = rtl::handled_system_error(run.out);
  }
  if (!p.input_connected) rtl::release(run.in, true);
  return counts;
}

// The repair in the file's place, unless it is the file byte for byte: such a file keeps its inode, its
// times and its links.
Outcome put_in_place(FileRun& run, const RepairCounts& counts) {
  const FilePlan& p = run.plan;
  if (p.in_place && rtl::platform::same_contents(p.write_to.c_str(), run.replacement.temporary().c_str())) {
    run.replacement.discard();
    if (!p.quiet)
      run.lines.print_result(p.input + ": " + lines_words(counts.records) + ", nothing to repair");
    return Outcome::done;
  }
  // Subtle: the dialogue cuts an existing output only from the first record it writes: a repair of no
  // record leaves it as it was.
  if (run.replacing && p.untouched_by_no_record && counts.records == 0) {
    run.replacement.discard();
    return report(run, counts, {});
  }
  std::string kept;
  // The file in place and its line are one step for an event: a file put in place gets its line.
  std::optional<rtl::CommitGate> with_its_line;
  if (p.guarded) with_its_line.emplace();
  if (run.replacing) {
    if (std::string why = run.replacement.commit(p.keep_original, &kept); !why.empty()) {
      if (run.replacement.left_as_it_was()) return report_skipped(run, p.written_name, why);
      // Not skipped: the name holds the repair, or nothing, and the line says where the data is.
      run.lines.print_problem(p.written_name + ": " + why);
      return Outcome::skipped;
    }
  }
  return report(run, counts, kept);
}

// The file that the repair reads, as a name whose facts tell whether it changed; empty for a stream.
std::string file_read(const FileRun& run) {
  if (!run.plan.guarded) return {};
  if (run.plan.in_place) return run.plan.read_from;
  return run.plan.read_from != "-" && rtl::input_file_size(run.in) >= 0 ? run.plan.read_from : std::string();
}

// A repair in place would part the file from its other names: it is not put in place. A file with
// nothing to repair keeps them all, and goes on to say so. The line, and the outcome.
std::optional<Outcome> left_for_its_links(FileRun& run) {
  if (!run.plan.if_changed.stops ||
      rtl::platform::same_contents(run.plan.write_to.c_str(), run.replacement.temporary().c_str())) {
    return std::nullopt;
  }
  run.replacement.discard();
  return report_stop(run, run.plan.if_changed);
}

// Another program that writes the file meanwhile leaves it other than it was read: what was read is
// then neither the old file nor the new one. Watches the file the repair reads (none for a stream).
class ChangeWatch {
 public:
  explicit ChangeWatch(std::string name) : name_(std::move(name)) {
    known_ = !name_.empty() && rtl::platform::file_facts(name_.c_str(), &before_);
  }
  bool changed() const {
    rtl::platform::FileFacts after;
    return known_ && (!rtl::platform::file_facts(name_.c_str(), &after) || !after.same_state(before_));
  }

 private:
  std::string name_;
  rtl::platform::FileFacts before_;
  bool known_ = false;
};

// A pass that failed: the file is left as it was, its failure printed and, but for -c, kept for the
// run's status.
Outcome report_failed_pass(FileRun& run, const RepairCounts& counts, int* first_failure) {
  discard_and_report_failure(run, counts);
  // A file that -c could not read is one it could not check.
  if (!run.plan.writes) return Outcome::unchecked;
  if (*first_failure == 0) *first_failure = rtl::failure_status(static_cast<std::uint32_t>(counts.failure));
  return Outcome::failed;
}

// Where the records, or the command's own lines, would go into the file that is read (or its kept
// original): refused before the first record, the file untouched. Written to the file they are read
// from, records would be read back as they are written, without end.
std::optional<Outcome> refused_for_its_output(FileRun& run) {
  const bool into_input = run.plan.writes && !run.plan.replacing && rtl::writes_file_read_by(run.out, run.in);
  const char* why = into_input ? ": the output is the input file" : nullptr;
  const int stream = why == nullptr ? rtl::standard_stream_read_by(run.in) : 0;
  if (why == nullptr && stream == 0) return std::nullopt;
  rtl::release(run.out);
  rtl::release(run.in);
  run.replacement.discard();
  // Subtle: a line on a standard error that is this file would change it: it goes unsaid.
  if (why == nullptr && stream == 1) why = ": skipped: standard output is this file";
  if (why != nullptr) run.lines.print_problem(run.plan.input + why);
  return Outcome::skipped;
}

}  // namespace

Outcome take_file_road(const FilePlan& plan, FileLines lines, int* first_failure, std::int64_t* records) {
  FileRun run(plan, lines);
  if (const std::optional<Outcome> stopped = open_road(run)) return *stopped;
  if (plan.guarded) {
    if (const std::optional<Outcome> refused = refused_for_its_output(run)) return *refused;
  }
  const ChangeWatch watch(file_read(run));
  const RepairCounts counts = run_pass(run);
  if (records != nullptr) *records = counts.records;
  if (counts.failure != 0) return report_failed_pass(run, counts, first_failure);
  if (watch.changed()) {
    run.replacement.discard();
    run.lines.print_problem(plan.input + ": changed while it was read; left as it is");
    return plan.writes ? Outcome::skipped : Outcome::unchecked;
  }
  if (counts.not_interface.why != NotInterface::no) {
    run.replacement.discard();
    return report_skipped(run, plan.input, "not an interface file: " + verdict_words(counts.not_interface),
                          Outcome::other_format);
  }
  if (const std::optional<Outcome> left = left_for_its_links(run)) return *left;
  return put_in_place(run, counts);
}

}  // namespace quil
