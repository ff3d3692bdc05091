#include "driver/file_road.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "driver/driver.h"
#include "driver/parallel.h"
#include "driver/progress.h"
#include "driver/replacement.h"
#include "driver/shown_name.h"
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

// Prints why the file is skipped; returns `outcome`.
Outcome report_skipped(const Road& road, const std::string& name, const std::string& why,
                       Outcome outcome = Outcome::skipped) {
  road.lines.print_problem(shown_name(name) + ": skipped: " + why);
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

// The last part of a name, after its folders.
std::string last_part(const std::string& name) {
  const std::size_t slash = name.find_last_of(rtl::platform::slash_options() ? "/\\:" : "/");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Whether the folder that a name stands in exists (a name without a folder stands in this one).
bool folder_exists(const std::string& name) {
  const std::size_t slash = name.find_last_of(rtl::platform::slash_options() ? "/\\:" : "/");
  if (slash == std::string::npos || slash == 0) return true;
  char target[rtl::kLongestPath + 1];
  rtl::platform::SysError error = 0;
  return rtl::platform::name_kind(name.substr(0, slash).c_str(), target, sizeof target, &error) ==
         rtl::platform::NameKind::folder;
}

// Whether the existing file at `place` may be replaced now; empty, or the system's words for what holds it.
std::string holder_words(const std::string& place) {
  const rtl::platform::SysError e = rtl::platform::replaceable(place.c_str());
  return e == 0 ? std::string() : system_words(e);
}

// Why a file may not be written: its permissions, or the system's words for another cause (a read-only
// file system).
std::string read_only_words(rtl::platform::SysError refusal) {
  return refusal != 0 ? system_words(refusal) : "it is read-only";
}

// Where the repair of `road.input` goes (a folder takes it under the input's own name): empty when it may
// go there, else why not.
std::string choose_output(Road& road, const Request& r) {
  if (road.output == "-")
    return connect_name("-", road.out, rtl::OpenStatus::unknown, false) == 0
               ? std::string()
               : refusal_words(static_cast<int>(rtl::Failure::open_failure));
  char target[rtl::kLongestPath + 1];
  rtl::platform::SysError error = 0;
  rtl::platform::NameKind kind = rtl::platform::name_kind(road.output.c_str(), target, sizeof target, &error);
  if (kind == rtl::platform::NameKind::folder) {
    // A folder receives the repair under the input's own name, as a copy into it would.
    const char separator = rtl::platform::slash_options() ? '\\' : '/';
    const bool ends = !road.output.empty() && (road.output.back() == '/' || road.output.back() == separator);
    road.output += (ends ? "" : std::string(1, separator)) + last_part(road.input);
    kind = rtl::platform::name_kind(road.output.c_str(), target, sizeof target, &error);
  }
  if (rtl::platform::device_name(road.output.c_str()))
    return "is a device, which takes no repair (-c checks a file without writing one)";
  switch (kind) {
    case rtl::platform::NameKind::missing:
      if (!folder_exists(road.output)) return "its folder does not exist";
      road.place = road.output;
      road.replacing = true;
      return {};
    case rtl::platform::NameKind::regular_file:
      break;
    case rtl::platform::NameKind::folder:
      return "is a folder";
    case rtl::platform::NameKind::other: {
      // A device or a pipe takes the records as they come.
      const int rc = connect_name(road.output, road.out, rtl::OpenStatus::unknown, false);
      return rc == 0 ? std::string() : failure_words(rc, rtl::last_refusal_error());
    }
  }
  road.place = target;
  road.replacing = true;
  if (connect_name(road.place, road.probe, rtl::OpenStatus::old_file, true) == 0) {
    const bool same = rtl::writes_file_read_by(road.probe, road.in);
    rtl::release(road.probe);
    if (same) return "cannot open: it is the file being repaired (-i repairs in place)";
  }
  if (!r.force) return "it exists (-f replaces it)";
  if (rtl::platform::SysError refusal = 0; !rtl::platform::writable_file(road.place.c_str(), &refusal))
    return "cannot open: " + read_only_words(refusal);
  return holder_words(road.place);
}

// Opens the input; for -i, the regular file the name leads to. Empty or why not.
std::string open_input(Road& road, Mode mode) {
  std::string name = road.input;
  char target[rtl::kLongestPath + 1];
  rtl::platform::SysError error = 0;
  const rtl::platform::NameKind kind =
      name == "-" ? rtl::platform::NameKind::other
                  : rtl::platform::name_kind(name.c_str(), target, sizeof target, &error);
  if (kind == rtl::platform::NameKind::folder) return "is a folder";
  if (mode == Mode::in_place) {
    if (kind == rtl::platform::NameKind::missing) return system_words(error);
    if (kind == rtl::platform::NameKind::other)
      return error != 0 ? system_words(error) : "not a regular file";
    road.place = name = target;
  }
  // Learnt before the repair: a file that another program holds cannot take its place afterwards (asked
  // before the file is opened here, whose own handle would hold it too).
  rtl::platform::SysError refusal = 0;
  const bool writable = mode != Mode::in_place || rtl::platform::writable_file(target, &refusal);
  if (mode == Mode::in_place && writable) {
    if (std::string why = holder_words(target); !why.empty()) return why;
  }
  // Subtle: a file this user may not open says so in the system's words, not as a read-only one.
  if (const int rc = connect_name(name, road.in, rtl::OpenStatus::old_file, true); rc != 0)
    return failure_words(rc, rtl::last_refusal_error());
  if (!writable) {
    rtl::release(road.in);
    return "cannot repair in place: " + read_only_words(refusal);
  }
  return {};
}

Outcome report(const Road& road, Mode mode, const RepairCounts& counts, const std::string& kept, bool quiet) {
  const std::string lines = lines_words(counts.records) + ", ";
  if (mode == Mode::check) {
    // Whatever a repair would change, the check says, and counts the file as needing repair.
    if (!quiet)
      road.lines.print_result(road.input + ": " + lines + touching_words(counts) +
                              change_words(counts, true));
    return counts.changes_any() ? Outcome::needs_repair : Outcome::done;
  }
  if (quiet) return Outcome::done;
  const std::string shown = mode == Mode::in_place ? road.input : road.input + " -> " + road.output;
  // The line never mixes with repaired records on standard output, however that is named.
  road.lines.print_result(shown + ": " + lines + std::to_string(counts.of(Change::touching).count) +
                          " with touching numbers repaired" + change_words(counts, false) + kept);
  return Outcome::done;
}

// A file that could not be read or written to its end: nothing of it is kept, and the run goes on.
void discard_and_report_failure(Road& road, const Request& r, const RepairCounts& counts) {
  road.replacement.discard();
  const bool on_output = counts.failed_unit == road.out;
  if (on_output && road.lines.records_on_standard_output() &&
      rtl::platform::broken_pipe_error(counts.failure_error)) {
    rtl::end_by_broken_pipe();
  }
  const std::string& name = on_output && r.mode == Mode::repair ? road.output : road.input;
  road.lines.print_problem(shown_name(name) + ": " + failure_words(counts.failure, counts.failure_error));
}

// Opens both ends of a file's road. Empty, or the name and the reason it is skipped for.
std::pair<std::string, std::string> open_road(Road& road, const Request& r) {
  if (std::string why = open_input(road, r.mode); !why.empty()) return {road.input, why};
  road.replacing = r.mode == Mode::in_place;
  std::string why;
  if (r.mode == Mode::repair) why = choose_output(road, r);
  if (why.empty() && road.replacing) why = road.replacement.create_beside(road.place, road.out);
  if (why.empty()) return {};
  rtl::release(road.in);
  return {r.mode == Mode::in_place ? road.input : road.output, why};
}

// A large disk file is repaired in parts at once, each writing at its place in the temporary file; a
// file that must take the road in one piece (or a small one) returns false and is repaired as one.
bool run_in_parts(Road& road, const Request& r, const RepairOptions& options, RepairCounts* counts) {
  const int jobs = jobs_at_once(r);
  const std::int64_t size = rtl::input_file_size(road.in);
  // Files side by side already keep the processors busy: each goes in one piece.
  if (!road.lines.shows_progress() || jobs < 2 ||
      size < rtl::platform::smallest_file_in_parts(kSmallestFileInParts) || road.input == "-" ||
      (options.write && !road.replacing)) {
    return false;
  }
  const std::string& input = r.mode == Mode::in_place ? road.place : road.input;
  const std::string output = options.write ? road.replacement.temporary() : std::string();
  // The parts write the temporary file by its name; the file's own unit lets go of it meanwhile.
  if (options.write) rtl::release(road.out);
  const bool done = repair_in_parts(input, size, output, jobs, options, counts);
  if (!done && options.write &&
      connect_name(output, road.out, rtl::OpenStatus::old_file, false, rtl::platform::Sharing::every) != 0) {
    counts->failure = static_cast<int>(rtl::Failure::open_failure);
    counts->failed_unit = road.out;
    return true;
  }
  if (done) rtl::release(road.in, true);
  return done;
}

// A file whose records go to a stream is looked at whole before its first record goes out, where it can
// be read twice (a disk file): a stream cannot take back what it was given. False when the file is
// refused or fails, with *counts saying why; true with the input read from its start again.
bool shape_holds_first(Road& road, const RepairOptions& options, RepairCounts* counts) {
  if (!options.write || !options.refuse_other_formats || !road.lines.records_on_standard_output() ||
      rtl::input_file_size(road.in) < 0) {
    return true;
  }
  RepairOptions look = options;
  look.write = false;
  look.count_changes = false;
  // Subtle: standard input that is a file is read from where the caller left it, not from its start;
  // the records are read from there again after the look.
  const rtl::platform::Handle standard_input =
      rtl::platform::standard_handle(rtl::platform::StdStream::input);
  const std::int64_t start = road.input == "-" ? rtl::platform::position(standard_input) : 0;
  repair_records(road.in, road.out, look, *counts);
  rtl::release(road.in, true);
  if (counts->failure != 0 || counts->not_interface.why != NotInterface::no) return false;
  *counts = RepairCounts{};
  const bool back = road.input != "-" || (start >= 0 && rtl::platform::seek(standard_input, start));
  if (back && connect_name(road.input, road.in, rtl::OpenStatus::old_file, true) == 0) return true;
  counts->failure = static_cast<int>(rtl::Failure::open_failure);
  counts->failed_unit = road.in;
  counts->failure_error = rtl::last_refusal_error();
  return false;
}

// The pass over the file, with both units let go after it; a failure to release them is the pass's.
RepairCounts run_pass(Road& road, const Request& r) {
  RepairOptions options;
  options.write = r.mode != Mode::check;
  options.count_changes = options.step_back_in_hand = options.return_failures = true;
  options.refuse_other_formats = !r.any_format;
  // Records that go to standard output, a file there included, are the whole stream: the file's line
  // goes to standard error.
  if (options.write && (road.output == "-" || !rtl::on_disk_file(road.out)))
    road.lines.records_to_standard_output();
  RepairCounts counts;
  if (!shape_holds_first(road, options, &counts)) return counts;
  Progress progress;
  if (road.lines.shows_progress()) progress.start(shown_name(road.input), road.in, &options);
  if (run_in_parts(road, r, options, &counts)) {
    progress.erase();
    return counts;
  }
  if (options.write) rtl::write_in_blocks(road.out);
  repair_records(road.in, road.out, options, counts);
  progress.erase();
  if (const int rc = rtl::release(road.out, true); rc != 0 && counts.failure == 0) {
    counts.failure = rc;
    counts.failed_unit = road.out;
    counts.failure_error = rtl::handled_system_error(road.out);
  }
  rtl::release(road.in, true);
  return counts;
}

// The repair in the file's place, unless it is the file byte for byte: such a file keeps its inode, its
// times and its links.
Outcome put_in_place(Road& road, const Request& r, const RepairCounts& counts) {
  if (r.mode == Mode::in_place &&
      rtl::platform::same_contents(road.place.c_str(), road.replacement.temporary().c_str())) {
    road.replacement.discard();
    if (!r.quiet)
      road.lines.print_result(road.input + ": " + lines_words(counts.records) + ", nothing to repair");
    return Outcome::done;
  }
  std::string kept;
  // The file in place and its line are one step for an event: a file put in place gets its line.
  const rtl::CommitGate with_its_line;
  if (road.replacing) {
    if (std::string why = road.replacement.commit(r.mode == Mode::in_place && r.backup, &kept);
        !why.empty()) {
      const std::string& name = r.mode == Mode::in_place ? road.input : road.output;
      if (road.replacement.left_as_it_was()) return report_skipped(road, name, why);
      // Not skipped: the name holds the repair, or nothing, and the line says where the data is.
      road.lines.print_problem(name + ": " + why);
      return Outcome::skipped;
    }
  }
  return report(road, r.mode, counts, kept, r.quiet);
}

// The file that the repair reads, as a name whose facts tell whether it changed; empty for a stream.
std::string file_read(const Road& road, Mode mode) {
  if (mode == Mode::in_place) return road.place;
  return road.input != "-" && rtl::input_file_size(road.in) >= 0 ? road.input : std::string();
}

// How many other names (hard links) a file to be repaired in place has, which a repair in place would
// part from it; 0 when it has none, or may be parted from them (-f).
std::uint64_t other_links(const Road& road, const Request& r) {
  rtl::platform::FileFacts facts;
  if (r.mode != Mode::in_place || r.force || !rtl::platform::file_facts(road.input.c_str(), &facts) ||
      !facts.regular_file) {
    return 0;
  }
  return facts.links > 1 ? facts.links - 1 : 0;
}

// A file that another name of the run stands for, or that is one of QUIL's own backups (unless -f), is
// left as it is: the line that says so, and the outcome; nothing when its road goes on.
std::optional<Outcome> left_as_it_is(const Road& road, const Request& r) {
  if (!road.same_as.empty()) {
    if (!r.quiet) {
      road.lines.print_result(shown_name(road.input) + ": the same file as " + shown_name(road.same_as) +
                              (r.mode == Mode::check ? ", checked once" : ", repaired once"));
    }
    return Outcome::done;
  }
  // `-i *` in a folder of models takes their originals too: repaired, each would be backed up in turn.
  if (r.mode != Mode::repair && !r.force && names_a_backup(road.input)) {
    road.lines.print_problem(shown_name(road.input) +
                             ": a backup (QUIL keeps originals under .orig): left as it is");
    return Outcome::done;
  }
  return std::nullopt;
}

// A repair in place would part the file from its other names: it is not put in place. A file with
// nothing to repair keeps them all, and goes on to say so. The line, and the outcome.
std::optional<Outcome> left_for_its_links(Road& road, const Request& r) {
  const std::uint64_t others = other_links(road, r);
  if (others == 0 || rtl::platform::same_contents(road.place.c_str(), road.replacement.temporary().c_str())) {
    return std::nullopt;
  }
  road.replacement.discard();
  road.lines.print_problem(shown_name(road.input) + ": has " + std::to_string(others) +
                           (others == 1 ? " other link" : " other links") + ": left as it is");
  return Outcome::skipped;
}

// Once the file is read and its repair written, the road's names serve only its lines: they take the
// form those show.
void names_for_lines(Road& road) {
  road.input = shown_name(road.input);
  road.output = shown_name(road.output);
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
Outcome report_failed_pass(Road& road, const Request& r, const RepairCounts& counts, int* first_failure) {
  discard_and_report_failure(road, r, counts);
  // A file that -c could not read is one it could not check.
  if (r.mode == Mode::check) return Outcome::unchecked;
  if (*first_failure == 0) *first_failure = std::min(counts.failure, 255);
  return Outcome::failed;
}

// Why the records may not go where they are to go, or nullptr: written to the file they are read from,
// they would be read back as they are written, without end.
const char* output_is_input(const Road& road, const Request& r) {
  if (r.mode != Mode::repair || road.replacing || !rtl::writes_file_read_by(road.out, road.in))
    return nullptr;
  return ": the output is the input file";
}

// Where the records, or the command's own lines, would go into the file that is read (or its kept
// original): refused before the first record, the file untouched.
std::optional<Outcome> refused_for_its_output(Road& road, const Request& r) {
  const char* why = output_is_input(road, r);
  const int stream = why == nullptr ? rtl::standard_stream_read_by(road.in) : 0;
  if (why == nullptr && stream == 0) return std::nullopt;
  rtl::release(road.out);
  rtl::release(road.in);
  road.replacement.discard();
  // Subtle: a line on a standard error that is this file would change it: it goes unsaid.
  if (why == nullptr && stream == 1) why = ": skipped: standard output is this file";
  if (why != nullptr) road.lines.print_problem(shown_name(road.input) + why);
  return Outcome::skipped;
}

}  // namespace

Outcome take_file_road(Road& road, const Request& r, int* first_failure) {
  if (const std::optional<Outcome> left = left_as_it_is(road, r)) return *left;
  if (auto [name, why] = open_road(road, r); !why.empty()) {
    const bool unchecked = r.mode == Mode::check && name == road.input;
    return report_skipped(road, name, why, unchecked ? Outcome::unchecked : Outcome::skipped);
  }
  if (const std::optional<Outcome> refused = refused_for_its_output(road, r)) return *refused;
  const ChangeWatch watch(file_read(road, r.mode));
  const RepairCounts counts = run_pass(road, r);
  if (counts.failure != 0) return report_failed_pass(road, r, counts, first_failure);
  if (watch.changed()) {
    road.replacement.discard();
    road.lines.print_problem(shown_name(road.input) + ": changed while it was read; left as it is");
    return r.mode == Mode::check ? Outcome::unchecked : Outcome::skipped;
  }
  if (counts.not_interface.why != NotInterface::no) {
    road.replacement.discard();
    return report_skipped(road, road.input, "not an interface file: " + verdict_words(counts.not_interface),
                          Outcome::other_format);
  }
  if (const std::optional<Outcome> left = left_for_its_links(road, r)) return *left;
  names_for_lines(road);
  return put_in_place(road, r, counts);
}

}  // namespace quil
