// QUIL from the command line: one file or many, in place or beside, or a check that writes nothing.
#include "driver/command_line.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "driver/arguments.h"
#include "driver/batch.h"
#include "driver/driver.h"
#include "driver/file_road.h"
#include "driver/shown_name.h"
#include "quil_version.h"
#include "rtl/ending/ending.h"
#include "rtl/platform/platform.h"
#include "rtl/startup.h"
#include "rtl/statements/io.h"

namespace quil {
namespace {

// A line that could not be written gives the run its failure's number where no file's failure did.
[[noreturn]] void end_with(std::int32_t status) {
  const int unwritten = lines_failure();
  rtl::stop_with_status(unwritten != 0 && status <= 2 ? unwritten : status);
}

int status_for(Mode mode, Outcome worst) {
  if (worst == Outcome::done) return 0;
  if (mode == Mode::check && worst == Outcome::unchecked) return 2;
  return 1;
}

// The parser's questions, answered by this system.
bool regular_file(const char* name) {
  char target[rtl::platform::kLongestPath + 1];
  rtl::platform::SysError error = 0;
  return rtl::platform::name_kind(name, target, sizeof target, &error) ==
         rtl::platform::NameKind::regular_file;
}
SystemAnswers system_answers() {
  return {rtl::platform::expand_wildcards, rtl::platform::alone_on_own_console, regular_file,
          rtl::platform::slash_options()};
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

void run_command_line(int argc, char** argv) {
  const ParsedArguments p = parse_arguments(argc, argv, system_answers());
  const Request& r = p.request;
  rtl::exit_with_failure_numbers(true);
  if (p.kind == ParsedArguments::Kind::run && r.mode == Mode::dialogue && r.unmatched.empty() &&
      !r.names.empty()) {
    // A file named on the command line (dropped on the program) is an argument mode: an event ends it as
    // it ends them, by its own signal once the temporary file is gone.
    rtl::end_events_by_their_signal();
    dialogue(r.names[0], r.any_format);
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
    FileLines().print_problem(shown_name(pattern) + ": skipped: no file matches");
    worst = std::max(worst, r.mode == Mode::check ? Outcome::unchecked : Outcome::skipped);
  }
  // INPUT and OUTPUT are one pair: without all of it there is nothing to do.
  if (worst != Outcome::done && (r.mode == Mode::dialogue || r.mode == Mode::repair))
    end_with(status_for(r.mode, worst));
  if (r.mode == Mode::dialogue)
    answer(ParsedArguments{ParsedArguments::Kind::usage_error, {}, "no INPUT named"});
  rtl::read_standard_input_in_blocks();
  const std::size_t files = r.mode == Mode::repair ? 1 : r.names.size();
  const std::vector<std::string> same_as = earlier_names_of_each(r.names, files);
  if (files < 2 || !repair_side_by_side(r, same_as, &worst, &first_failure)) {
    const PlanAnswers system = PlanAnswers::of_this_system();
    for (std::size_t i = 0; i < files; ++i) {
      const FilePlan plan = plan_file(r, r.names[i], r.mode == Mode::repair ? r.names[1] : r.names[i],
                                      same_as[i], jobs_at_once(r), false, RoadUnits(), system);
      worst = std::max(worst, take_file_road(plan, FileLines(), &first_failure));
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
