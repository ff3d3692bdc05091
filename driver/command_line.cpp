// QUIL from the command line: one file or many, in place or beside, or a check that writes nothing.
#include "driver/command_line.h"

#include <atomic>
#include <new>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "driver/driver.h"
#include "driver/layouts.h"
#include "fileconn/connect.h"
#include "rtl/io.h"
#include "rtl/platform/platform.h"

namespace quil {
namespace {

constexpr std::int32_t kErrorUnit = 0;
constexpr std::int32_t kProbeUnit = 91;
constexpr std::size_t kLongestName = 256;  // the record layer's longest file name

constexpr const char* kUsage = "Usage: quil [INPUT [OUTPUT]] | quil -i [--no-backup] FILE... | quil -c FILE...";
constexpr const char* kHelp[] = {
    "Usage: quil                      asks for the file to repair and the file to write",
    "       quil INPUT                asks only for the file to write",
    "       quil INPUT OUTPUT         repairs INPUT into OUTPUT; - is standard input or output",
    "       quil -i [--no-backup] FILE...",
    "                                 repairs each FILE in place, the original kept as FILE.orig",
    "       quil -c FILE...           checks each FILE and writes nothing",
    "",
    "Data lines are written again with a blank before every number; every other line, and the",
    "text records that headers announce, are copied as 72 columns. A file is written under a",
    "temporary name and takes its own name only when it is complete.",
    "",
    "  -i, --in-place   repair each FILE in place; an existing FILE.orig is never replaced",
    "      --no-backup  with -i: keep no FILE.orig",
    "  -c, --check      count the data lines whose numbers touch, and show the first of them",
    "  -h, --help       show this text",
    "  -V, --version    show the version",
    "  --               every argument after it is a name",
    "",
    "Exit status: 0 done, nothing to repair; 1 a file needs repair (-c) or was skipped;",
    "2 a usage error; 200 a console event (control-C); any other number is the failure",
    "of the record layer that ended the run (24 end of file, 38 write error, 39 read error).",
};

enum class Mode { dialogue, repair, in_place, check };

struct Arguments {
  Mode mode = Mode::dialogue;
  bool backup = true;
  std::vector<std::string> names;
  std::vector<std::string> unmatched;  // patterns that name no file
};

void say(std::int32_t unit, std::string_view line) { rtl::write<kOneTextLayout>(unit, line); }

[[noreturn]] void end(std::int32_t status) { rtl::stop({}, false, status, true); }

[[noreturn]] void usage_error(const std::string& why) {
  say(kErrorUnit, "quil: " + why);
  say(kErrorUnit, kUsage);
  end(2);
}

struct Names {
  std::vector<std::string> list;
  bool out_of_memory = false;
};

// Called by the platform for each name: nothing may be thrown through it.
void add_name(const char* name, void* names) noexcept {
  auto* n = static_cast<Names*>(names);
  try {
    n->list.emplace_back(name);
  } catch (const std::bad_alloc&) {
    n->out_of_memory = true;
  }
}

Arguments parse(int argc, char** argv) {
  Arguments a;
  bool options_end = false, backup_option = false, in_place = false, check = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      Names expanded;
      const int found = rtl::platform::expand_wildcards(argv[i], add_name, &expanded);
      if (expanded.out_of_memory) throw std::bad_alloc();
      if (found == 0) a.unmatched.emplace_back(argv[i]);
      a.names.insert(a.names.end(), expanded.list.begin(), expanded.list.end());
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "-h" || arg == "--help") {
      for (const char* line : kHelp) say(kConsoleOut, line);
      end(0);
    } else if (arg == "-V" || arg == "--version") {
      say(kConsoleOut, "quil 1.0");
      end(0);
    } else if (arg == "-i" || arg == "--in-place") {
      in_place = true;
    } else if (arg == "--no-backup") {
      backup_option = true;
    } else if (arg == "-c" || arg == "--check") {
      check = true;
    } else {
      usage_error("unknown option '" + std::string(arg) + "'");
    }
  }
  if (in_place && check) usage_error("-i and -c exclude each other");
  if (backup_option && !in_place) usage_error("--no-backup goes with -i");
  a.backup = !backup_option;
  if (in_place || check) {
    a.mode = in_place ? Mode::in_place : Mode::check;
    if (a.names.empty() && a.unmatched.empty()) usage_error("no FILE named");
    if (in_place) {
      for (const std::string& n : a.names) {
        if (n == "-") usage_error("standard input cannot be repaired in place");
      }
    }
  } else if (a.names.size() > 2) {
    usage_error("more than INPUT and OUTPUT named; -i repairs many files in place");
  } else if (a.names.size() == 2) {
    a.mode = Mode::repair;
  }
  return a;
}

// ---- the temporary file, which no road to the end may leave behind --------------------------------

char g_temporary[kLongestName + 1];
std::atomic<bool> g_temporary_exists{false};

void remove_temporary() {
  if (g_temporary_exists.exchange(false)) rtl::platform::remove_file(g_temporary);
}

// ---- progress on a terminal ----------------------------------------------------------------------------

struct Progress {
  std::string name;
  std::int64_t size = -1;
  std::chrono::steady_clock::time_point start, last;
  bool shown = false;
};

void show_progress(void* context, const RepairCounts& counts) {
  auto* p = static_cast<Progress*>(context);
  const auto now = std::chrono::steady_clock::now();
  if (now - p->start < std::chrono::seconds(1) || now - p->last < std::chrono::milliseconds(250)) return;
  p->last = now;
  p->shown = true;
  std::int64_t consumed = 0;
  rtl::record_in_hand(kInputUnit, &consumed);
  char line[64];
  if (p->size > 0) {
    std::snprintf(line, sizeof line, " %3d%%  %lld lines", static_cast<int>(consumed * 100 / p->size),
                  static_cast<long long>(counts.records));
  } else {
    std::snprintf(line, sizeof line, "  %lld lines", static_cast<long long>(counts.records));
  }
  rtl::write<kProgressLayout>(kErrorUnit, "\rquil: " + p->name + line);
}

void erase_progress(const Progress& p) {
  if (!p.shown) return;
  std::string blank(p.name.size() + 40, ' ');
  blank.front() = blank.back() = '\r';
  rtl::write<kProgressLayout>(kErrorUnit, blank);
}

// ---- one file ---------------------------------------------------------------------------------------------

// The catalogue's words for a refusal, without the unit and file it names.
std::string refusal_words(std::int32_t failure) {
  const char* text = rtl::message_template(rtl::condition_code(static_cast<rtl::Failure>(failure)));
  if (text == nullptr) return "failure " + std::to_string(failure);
  const char* comma = std::strchr(text, ',');
  return std::string(text, comma != nullptr ? static_cast<std::size_t>(comma - text) : std::strlen(text));
}

bool skipped(const std::string& name, const std::string& why) {
  say(kErrorUnit, "quil: " + name + ": skipped: " + why);
  return false;
}

// Connects `unit` to `name` (- is the standard stream of the unit's direction). Returns 0 or the failure.
std::int32_t connect_name(const std::string& name, std::int32_t unit, std::int32_t status_code) {
  const bool standard = name == "-";
  const std::string& given = standard ? std::string(unit == kInputUnit ? "CONIN$" : "CONOUT$") : name;
  // A longer name would be cut by the record layer and name another file.
  if (given.size() > kLongestName) return static_cast<std::int32_t>(rtl::Failure::bad_file_name);
  std::int32_t result = 0;
  connect_file(given.c_str(), static_cast<std::int32_t>(given.size()), unit, status_code, 0, 1, 0, 0, 0, 0, result);
  return -result;
}

constexpr std::int32_t kOld = 2, kNew = 3, kUnknown = 1;

struct Target {
  std::string name;       // the file that gets the repaired records
  std::string temporary;  // written first, renamed over `name`; empty when the records go straight there
};

// Opens the output: a temporary file beside a disk file, the file itself when it is a device or a pipe.
bool open_output(const std::string& output, bool in_place, Target* target) {
  target->name = output;
  bool direct = output == "-";
  if (!direct && !in_place) {
    const std::int32_t rc = connect_name(output, kProbeUnit, kOld);
    if (rc == 0) {
      const bool same = rtl::writes_file_read_by(kProbeUnit, kInputUnit);
      const bool read_only = rtl::connected_read_only(kProbeUnit);
      direct = !rtl::on_disk_file(kProbeUnit);
      rtl::release(kProbeUnit);
      if (same) return skipped(output, "cannot open: it is the file being repaired (-i repairs in place)");
      if (read_only) return skipped(output, "cannot open: it is read-only");
    } else if (rc != static_cast<std::int32_t>(rtl::Failure::file_not_found)) {
      return skipped(output, refusal_words(rc));
    }
  }
  if (direct) {
    const std::int32_t rc = connect_name(output, kOutputUnit, kUnknown);
    return rc == 0 || skipped(output, refusal_words(rc));
  }
  // Named for the file it becomes; where that name would be too long, a short one in the same folder.
  const std::size_t leaf = output.find_last_of("/\\:");
  const std::string folder = leaf == std::string::npos ? "" : output.substr(0, leaf + 1);
  for (int n = 1; n < 100; ++n) {
    target->temporary = output + ".quil-" + std::to_string(n) + ".tmp";
    if (target->temporary.size() > kLongestName) target->temporary = folder + "quil-" + std::to_string(n) + ".tmp";
    const std::int32_t rc = connect_name(target->temporary, kOutputUnit, kNew);
    if (rc == static_cast<std::int32_t>(rtl::Failure::file_exists)) continue;
    if (rc != 0) return skipped(output, "cannot write beside it: " + refusal_words(rc));
    std::memcpy(g_temporary, target->temporary.c_str(), target->temporary.size() + 1);
    g_temporary_exists.store(true);
    return true;
  }
  return skipped(output, "cannot write beside it: too many temporary files");
}

std::string system_words(rtl::platform::SysError error) {
  char text[256];
  std::size_t n = rtl::platform::system_error_text(error, text, sizeof text);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) --n;
  return std::string(text, n);
}

// Puts the finished temporary file in the target's place, the original kept first when asked.
bool put_in_place(const Target& target, bool keep_original, std::string* kept) {
  if (keep_original) {
    const std::string backup = target.name + ".orig";
    const rtl::platform::SysError e = rtl::platform::keep_copy(target.name.c_str(), backup.c_str());
    if (rtl::platform::file_exists_error(e)) {
      *kept = ", earlier original kept in " + backup;
    } else if (e != 0) {
      remove_temporary();
      return skipped(target.name, "cannot keep the original as " + backup + ": " + system_words(e));
    } else {
      *kept = ", original kept in " + backup;
    }
  }
  if (const rtl::platform::SysError e =
          rtl::platform::copy_permissions(target.name.c_str(), target.temporary.c_str())) {
    remove_temporary();
    return skipped(target.name, "cannot give the repair the file's permissions: " + system_words(e));
  }
  if (const rtl::platform::SysError e = rtl::platform::rename_file(target.temporary.c_str(), target.name.c_str())) {
    remove_temporary();
    return skipped(target.name, "cannot replace it: " + system_words(e));
  }
  g_temporary_exists.store(false);
  return true;
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

enum class Outcome { done, needs_repair, skipped };

Outcome process(const std::string& input, const std::string& output, Mode mode, bool backup) {
  const std::int32_t rc = connect_name(input, kInputUnit, kOld);
  if (rc != 0) {
    skipped(input, refusal_words(rc));
    return Outcome::skipped;
  }
  if (mode == Mode::in_place && rtl::connected_read_only(kInputUnit)) {
    rtl::release(kInputUnit);
    skipped(input, "cannot repair in place: it is read-only");
    return Outcome::skipped;
  }
  Target target;
  if (mode != Mode::check && !open_output(output, mode == Mode::in_place, &target)) {
    rtl::release(kInputUnit);
    return Outcome::skipped;
  }
  if (mode != Mode::check) rtl::write_in_blocks(kOutputUnit);

  Progress progress;
  RepairOptions options;
  options.write = mode != Mode::check;
  options.count_touching = true;
  options.step_back_in_hand = true;
  static const bool error_on_terminal =
      rtl::platform::is_terminal(rtl::platform::standard_handle(rtl::platform::StdStream::error));
  if (error_on_terminal) {
    progress.name = input;
    progress.size = rtl::input_file_size(kInputUnit);
    progress.start = progress.last = std::chrono::steady_clock::now();
    options.progress = show_progress;
    options.context = &progress;
  }
  RepairCounts counts;
  repair_records(kInputUnit, kOutputUnit, options, counts);
  erase_progress(progress);
  rtl::release(kOutputUnit);
  rtl::release(kInputUnit);

  std::string kept;
  if (!target.temporary.empty() && !put_in_place(target, mode == Mode::in_place && backup, &kept)) {
    return Outcome::skipped;
  }
  const std::string lines = std::to_string(counts.records) + " lines, ";
  if (mode == Mode::check) {
    say(kConsoleOut, input + ": " + lines + touching_words(counts));
    return counts.touching > 0 ? Outcome::needs_repair : Outcome::done;
  }
  const std::string shown = mode == Mode::in_place ? input : input + " -> " + output;
  say(output == "-" ? kErrorUnit : kConsoleOut,
      shown + ": " + lines + std::to_string(counts.touching) + " with touching numbers repaired" + kept);
  return Outcome::done;
}

void run_command_line(int argc, char** argv);

}  // namespace

void command_line(int argc, char** argv) {
  if (argc <= 1) driver();
  // The command line's own texts live on the heap: without memory the run ends with the record layer's
  // report for it (and its temporary file goes), never by an exception.
  try {
    run_command_line(argc, argv);
  } catch (const std::bad_alloc&) {
    rtl::issue_report(rtl::condition_code(rtl::Failure::no_memory), 0, {});
  }
  end(41);  // not reached: the report ends the run
}

namespace {

void run_command_line(int argc, char** argv) {
  Arguments a = parse(argc, argv);
  rtl::exit_with_failure_numbers(true);
  std::int32_t status = 0;
  for (const std::string& pattern : a.unmatched) {
    skipped(pattern, "no file matches");
    status = 1;
  }
  // INPUT and OUTPUT are one pair: without all of it there is nothing to do.
  if (status != 0 && (a.mode == Mode::dialogue || a.mode == Mode::repair)) end(status);
  if (a.mode == Mode::dialogue) {
    if (a.names.empty()) usage_error("no INPUT named");
    driver(a.names[0]);
  }
  rtl::set_exit_cleanup(remove_temporary);
  const std::size_t files = a.mode == Mode::repair ? 1 : a.names.size();
  for (std::size_t i = 0; i < files; ++i) {
    const std::string& output = a.mode == Mode::repair ? a.names[1] : a.names[i];
    if (process(a.names[i], output, a.mode, a.backup) != Outcome::done) status = 1;
  }
  end(status);
}

}  // namespace
}  // namespace quil
