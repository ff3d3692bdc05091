// QUIL from the command line: one file or many, in place or beside, or a check that writes nothing.
#include "driver/command_line.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "driver/arguments.h"
#include "driver/driver.h"
#include "driver/layouts.h"
#include "driver/parallel.h"
#include "driver/progress.h"
#include "driver/replacement.h"
#include "driver/settled.h"
#include "driver/words.h"
#include "quil_version.h"
#include "rtl/connect_settings.h"
#include "rtl/io.h"
#include "rtl/platform/platform.h"
#include "rtl/startup.h"

namespace quil {
namespace {

[[noreturn]] void end_with(std::int32_t status) { rtl::stop_with_status(status); }

// A line of the command's own. Where nobody reads standard output any more, the command ends quietly,
// as commands here do; a line that cannot be written otherwise (a closed stream) is dropped: the status
// says what became of the files.
void print_line(std::int32_t unit, std::string_view line) {
  if (rtl::write_handled<kOneTextLayout>(unit, rtl::Handlers{false, true}, line) == 0) return;
  if (unit == kConsoleOut && rtl::platform::broken_pipe_error(rtl::handled_system_error(unit)))
    rtl::platform::end_by_broken_pipe();
}

// Outcomes of one file, in the order in which they weigh on the status.
enum class Outcome { done, needs_repair, other_format, skipped, unchecked, failed };

// The words for a failure: the system's own where it has them ("No such file or directory", "No space
// left on device"), else the record layer's.
std::string failure_words(int failure, rtl::platform::SysError error) {
  return error != 0 ? system_words(error) : refusal_words(failure);
}

std::string lines_words(std::int64_t records) {
  return std::to_string(records) + (records == 1 ? " line" : " lines");
}

Outcome skipped(const std::string& name, const std::string& why, Outcome outcome = Outcome::skipped) {
  print_line(kErrorOut, "quil: " + name + ": skipped: " + why);
  return outcome;
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

std::string touching_words(const RepairCounts& counts) {
  if (counts.touching == 0) return "no touching numbers";
  std::string words = std::to_string(counts.touching) + " with touching numbers, first at line";
  if (counts.touching > 1) words += 's';
  for (std::int64_t i = 0; i < counts.touching && i < kShownTouching; ++i) {
    words += (i == 0 ? " " : ", ") + std::to_string(counts.first_touching[i]);
  }
  return words;
}

// How many files or parts go at once: as -j says, else one a processor that this process may use.
int jobs_at_once(const Request& r) {
  return r.jobs > 0 ? r.jobs : std::min(rtl::platform::processor_count(), kMostJobs);
}

// One file's road: where its records come from and go, through which units, and where its lines go.
struct Road {
  std::string input, output;  // as given
  std::string place;          // the file in place (links followed), or the disk file OUTPUT leads to
  Replacement replacement;
  bool replacing = false;  // written beside `place`, renamed over it at the end
  bool standard_output = false;
  std::int32_t in = kInputUnit, out = kOutputUnit, probe = kProbeUnit;
  std::string same_as;  // an earlier name of the same file, which is repaired or checked once
  // Files repaired side by side keep their lines until the file's turn comes; one at a time, they go out.
  std::vector<std::pair<std::int32_t, std::string>>* lines = nullptr;
  void say(std::int32_t unit, std::string text) const {
    if (lines != nullptr) {
      lines->emplace_back(unit, std::move(text));
    } else {
      print_line(unit, text);
    }
  }
};

Outcome skipped(const Road& road, const std::string& name, const std::string& why,
                Outcome outcome = Outcome::skipped) {
  road.say(kErrorOut, "quil: " + name + ": skipped: " + why);
  return outcome;
}

// Where the repair of `road.input` goes; empty when it may go there, else why not (and the outcome).
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
std::string held(const std::string& place) {
  const rtl::platform::SysError e = rtl::platform::replaceable(place.c_str());
  return e == 0 ? std::string() : system_words(e);
}

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
  if (!rtl::platform::writable_file(road.place.c_str())) return "cannot open: it is read-only";
  return held(road.place);
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
  const bool writable = mode != Mode::in_place || rtl::platform::writable_file(target);
  if (mode == Mode::in_place && writable) {
    if (std::string why = held(target); !why.empty()) return why;
  }
  // Subtle: a file this user may not open says so in the system's words, not as a read-only one.
  if (const int rc = connect_name(name, road.in, rtl::OpenStatus::old_file, true); rc != 0)
    return failure_words(rc, rtl::last_refusal_error());
  if (!writable) {
    rtl::release(road.in);
    return "cannot repair in place: it is read-only";
  }
  return {};
}

Outcome report(const Road& road, Mode mode, const RepairCounts& counts, const std::string& kept, bool quiet) {
  const std::string lines = lines_words(counts.records) + ", ";
  if (mode == Mode::check) {
    // A repair would change such a file as it does one with touching numbers: the check says so.
    std::string more;
    if (counts.byte_order_mark) more += ", a byte-order mark to drop";
    if (counts.bare_line_ends > 0) more += ", LF line ends to become CR LF";
    if (!quiet) road.say(kConsoleOut, road.input + ": " + lines + touching_words(counts) + more);
    return counts.touching > 0 || !more.empty() ? Outcome::needs_repair : Outcome::done;
  }
  if (quiet) return Outcome::done;
  const std::string shown = mode == Mode::in_place ? road.input : road.input + " -> " + road.output;
  const char* mark = counts.byte_order_mark ? ", byte-order mark dropped" : "";
  // The line never mixes with repaired records on standard output, however that is named.
  road.say(road.standard_output ? kErrorOut : kConsoleOut,
           shown + ": " + lines + std::to_string(counts.touching) + " with touching numbers repaired" + mark +
               kept);
  return Outcome::done;
}

// A file that could not be read or written to its end: nothing of it is kept, and the run goes on.
Outcome failed(Road& road, const Request& r, const RepairCounts& counts) {
  road.replacement.discard();
  const bool on_output = counts.failed_unit == road.out;
  if (on_output && road.standard_output && rtl::platform::broken_pipe_error(counts.failure_error)) {
    rtl::platform::end_by_broken_pipe();
  }
  const std::string& name = on_output && r.mode == Mode::repair ? road.output : road.input;
  road.say(kErrorOut, "quil: " + name + ": " + failure_words(counts.failure, counts.failure_error));
  return Outcome::failed;
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
  if (road.lines != nullptr || jobs < 2 ||
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
  if (!options.write || !options.refuse_other_formats || !road.standard_output ||
      rtl::input_file_size(road.in) < 0) {
    return true;
  }
  RepairOptions look = options;
  look.write = false;
  look.count_touching = false;
  repair_records(road.in, road.out, look, *counts);
  rtl::release(road.in, true);
  if (counts->failure != 0 || counts->not_interface.why != NotInterface::no) return false;
  *counts = RepairCounts{};
  if (connect_name(road.input, road.in, rtl::OpenStatus::old_file, true) == 0) return true;
  counts->failure = static_cast<int>(rtl::Failure::open_failure);
  counts->failed_unit = road.in;
  counts->failure_error = rtl::last_refusal_error();
  return false;
}

// The pass over the file, with both units let go after it; a failure to release them is the pass's.
RepairCounts run_pass(Road& road, const Request& r) {
  RepairOptions options;
  options.write = r.mode != Mode::check;
  options.count_touching = options.step_back_in_hand = options.return_failures = true;
  options.refuse_other_formats = !r.force;
  // Records that go to standard output, a file there included, are the whole stream: the file's line
  // goes to standard error.
  if (options.write) road.standard_output = road.output == "-" || !rtl::on_disk_file(road.out);
  RepairCounts counts;
  if (!shape_holds_first(road, options, &counts)) return counts;
  Progress progress;
  if (road.lines == nullptr) progress.start(road.input, road.in, &options);
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
      road.say(kConsoleOut, road.input + ": " + lines_words(counts.records) + ", nothing to repair");
    return Outcome::done;
  }
  std::string kept;
  if (road.replacing) {
    if (std::string why = road.replacement.commit(r.mode == Mode::in_place && r.backup, &kept);
        !why.empty()) {
      return skipped(road, r.mode == Mode::in_place ? road.input : road.output, why);
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

Outcome process(Road& road, const Request& r, int* first_failure) {
  if (!road.same_as.empty()) {
    if (!r.quiet) {
      road.say(kConsoleOut, road.input + ": the same file as " + road.same_as +
                                (r.mode == Mode::check ? ", checked once" : ", repaired once"));
    }
    return Outcome::done;
  }
  if (const std::uint64_t others = other_links(road, r); others > 0) {
    road.say(kErrorOut, "quil: " + road.input + ": has " + std::to_string(others) +
                            (others == 1 ? " other link" : " other links") + ": left as it is");
    return Outcome::skipped;
  }
  if (auto [name, why] = open_road(road, r); !why.empty()) {
    const bool unchecked = r.mode == Mode::check && name == road.input;
    return skipped(road, name, why, unchecked ? Outcome::unchecked : Outcome::skipped);
  }
  // Another program that writes the file meanwhile leaves it other than it was read: what was read is
  // then neither the old file nor the new one.
  const std::string read_from = file_read(road, r.mode);
  rtl::platform::FileFacts before, after;
  const bool known = !read_from.empty() && rtl::platform::file_facts(read_from.c_str(), &before);
  const RepairCounts counts = run_pass(road, r);
  if (counts.failure != 0) {
    // A file that -c could not read is one it could not check.
    if (r.mode == Mode::check) {
      failed(road, r, counts);
      return Outcome::unchecked;
    }
    if (*first_failure == 0) *first_failure = std::min(counts.failure, 255);
    return failed(road, r, counts);
  }
  if (known && (!rtl::platform::file_facts(read_from.c_str(), &after) || !after.same_state(before))) {
    road.replacement.discard();
    road.say(kErrorOut, "quil: " + road.input + ": changed while it was read; left as it is");
    return r.mode == Mode::check ? Outcome::unchecked : Outcome::skipped;
  }
  if (counts.not_interface.why != NotInterface::no) {
    road.replacement.discard();
    return skipped(road, road.input, "not an interface file: " + verdict_words(counts.not_interface),
                   Outcome::other_format);
  }
  return put_in_place(road, r, counts);
}

int status_for(Mode mode, Outcome worst) {
  if (worst == Outcome::done) return 0;
  if (mode == Mode::check && worst == Outcome::unchecked) return 2;
  return 1;
}

[[noreturn]] void answer(const ParsedArguments& p) {
  switch (p.kind) {
    case ParsedArguments::Kind::help:
      for (int i = 0; i < kHelpLines; ++i) print_line(kConsoleOut, kHelp[i]);
      end_with(0);
    case ParsedArguments::Kind::version:
      print_line(kConsoleOut, "quil " QUIL_VERSION);
      end_with(0);
    default:
      print_line(kErrorOut, "quil: " + p.error);
      print_line(kErrorOut, kUsage);
      end_with(2);
  }
}

// What became of one file of a batch, kept until its lines' turn comes.
struct FileResult {
  Outcome outcome = Outcome::done;
  int failure = 0;
  std::vector<std::pair<std::int32_t, std::string>> lines;
  bool out_of_memory = false;
  std::atomic<bool> done{false};
};

// Units of their own for each file repaired at the same time as others.
constexpr std::int32_t kFirstBatchInput = 30, kFirstBatchOutput = 40, kFirstBatchProbe = 50;

void repair_files(const Request& r, const std::vector<std::string>& same_as, std::vector<FileResult>& results,
                  std::atomic<std::size_t>& next, int k, Settled& settled) {
  const rtl::ProgramThreadScope program_thread;
  for (std::size_t i; (i = next++) < results.size();) {
    FileResult& result = results[i];
    try {
      Road road;
      road.input = road.output = r.names[i];
      road.same_as = same_as[i];
      road.in = kFirstBatchInput + k;
      road.out = kFirstBatchOutput + k;
      road.probe = kFirstBatchProbe + k;
      road.lines = &result.lines;
      result.outcome = process(road, r, &result.failure);
    } catch (const std::bad_alloc&) {
      // Its words are made when its turn comes, where memory may be had again.
      result.outcome = Outcome::failed;
      result.failure = static_cast<int>(rtl::Failure::no_memory);
      result.lines.clear();
      result.out_of_memory = true;
    }
    settled.settle([&result] { result.done.store(true); });
  }
}

// Many files in place or checked, side by side on the processors: each file keeps its promise (its
// original or its whole repair) and its lines come out in the files' order. False when the files go
// one at a time instead.
bool side_by_side(const Request& r, const std::vector<std::string>& same_as, Outcome* worst,
                  int* first_failure) {
  const int jobs = jobs_at_once(r);
  if (jobs < 2 || (r.mode != Mode::in_place && r.mode != Mode::check)) return false;
  std::vector<FileResult> results(r.names.size());
  std::atomic<std::size_t> next{0};
  Settled settled;
  std::vector<std::thread> workers;
  workers.reserve(static_cast<std::size_t>(jobs));
  for (int k = 0; k < jobs && static_cast<std::size_t>(k) < results.size(); ++k) {
    // Subtle: a thread that cannot be had (no memory, no thread) must not unwind past the running ones.
    try {
      workers.emplace_back(repair_files, std::cref(r), std::cref(same_as), std::ref(results), std::ref(next),
                           k, std::ref(settled));
    } catch (const std::exception&) {
      break;
    }
  }
  if (workers.empty()) return false;
  for (FileResult& result : results) {
    {
      rtl::OtherThreadAwaited waiting;
      settled.wait_until([&result] { return result.done.load(); });
    }
    for (const auto& [unit, line] : result.lines) print_line(unit, line);
    if (result.out_of_memory) {
      print_line(kErrorOut, "quil: " + r.names[static_cast<std::size_t>(&result - results.data())] + ": " +
                                refusal_words(static_cast<int>(rtl::Failure::no_memory)));
    }
    *worst = std::max(*worst, result.outcome);
    if (*first_failure == 0 && result.failure != 0) *first_failure = std::min(result.failure, 255);
  }
  for (std::thread& t : workers) t.join();
  return true;
}

// For each name, the first earlier name of the same file (by its device and index, links followed), or
// empty: a file named twice is repaired once, never twice at once.
std::vector<std::string> earlier_names_of_each(const std::vector<std::string>& names, std::size_t files) {
  std::vector<std::string> earlier(names.size());
  std::vector<rtl::platform::FileFacts> facts(files);
  std::vector<bool> known(files);
  for (std::size_t i = 0; i < files && files > 1; ++i) {
    known[i] = names[i] != "-" && rtl::platform::file_facts(names[i].c_str(), &facts[i]);
    for (std::size_t j = 0; j < i && known[i] && earlier[i].empty(); ++j) {
      if (known[j] && facts[j].same_file(facts[i])) earlier[i] = names[j];
    }
  }
  return earlier;
}

void run_command_line(int argc, char** argv) {
  const ParsedArguments p = parse_arguments(argc, argv);
  const Request& r = p.request;
  rtl::exit_with_failure_numbers(true);
  if (p.kind == ParsedArguments::Kind::run && r.mode == Mode::dialogue && r.unmatched.empty() &&
      !r.names.empty()) {
    // A file named on the command line (dropped on the program) is an argument mode: an event ends it as
    // it ends them, by its own signal once the temporary file is gone.
    rtl::end_events_by_their_signal();
    dialogue(r.names[0]);
  }
  // A command among commands: lines as this system ends them, and an event ends it by its own signal.
  if (rtl::platform::lines_end_with_lf()) {
    rtl::end_lines_with_lf(kConsoleOut);
    rtl::end_lines_with_lf(kErrorOut);
  }
  rtl::end_events_by_their_signal();
  if (p.kind != ParsedArguments::Kind::run) answer(p);
  Outcome worst = Outcome::done;
  int first_failure = 0;
  for (const std::string& pattern : r.unmatched) {
    worst = std::max(worst, skipped(pattern, "no file matches",
                                    r.mode == Mode::check ? Outcome::unchecked : Outcome::skipped));
  }
  // INPUT and OUTPUT are one pair: without all of it there is nothing to do.
  if (worst != Outcome::done && (r.mode == Mode::dialogue || r.mode == Mode::repair))
    end_with(status_for(r.mode, worst));
  if (r.mode == Mode::dialogue)
    answer(ParsedArguments{ParsedArguments::Kind::usage_error, {}, "no INPUT named"});
  rtl::read_standard_input_in_blocks();
  const std::size_t files = r.mode == Mode::repair ? 1 : r.names.size();
  const std::vector<std::string> same_as = earlier_names_of_each(r.names, files);
  if (files < 2 || !side_by_side(r, same_as, &worst, &first_failure)) {
    for (std::size_t i = 0; i < files; ++i) {
      Road road;
      road.input = r.names[i];
      road.same_as = same_as[i];
      road.output = r.mode == Mode::repair ? r.names[1] : r.names[i];
      const Outcome outcome = process(road, r, &first_failure);
      worst = std::max(worst, outcome);
    }
  }
  // A failure that stopped a file gives the run its number, the first of them.
  end_with(first_failure != 0 ? first_failure : status_for(r.mode, worst));
}

}  // namespace

void command_line(int argc, char** argv) {
  if (argc <= 1) dialogue();
  // The command line's own texts live on the heap: without memory the run ends with the record layer's
  // report for it (and its temporary file goes), never by an exception.
  try {
    run_command_line(argc, argv);
  } catch (const std::bad_alloc&) {
    rtl::issue_report(rtl::condition_code(rtl::Failure::no_memory), 0, {});
  }
  end_with(41);  // not reached: the report ends the run
}

}  // namespace quil
