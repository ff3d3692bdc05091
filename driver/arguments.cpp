#include "driver/arguments.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "driver/shown_name.h"
#include "driver/unit_numbers.h"

namespace quil {

const char* const kUsage =
    "Usage: quil [-f] [--any-format] [-q] [-j N] [INPUT [OUTPUT]] | quil -i [--no-backup] [-f] "
    "[--any-format] [-q] [-j N] FILE... | quil -c [-f] [--any-format] [-q] [-j N] FILE...";
const char* const kHelp[] = {
    "Usage: quil                      asks for the file to repair and the file to write",
    "       quil INPUT                asks only for the file to write",
    "       quil [-f] INPUT OUTPUT    repairs INPUT into OUTPUT; - is standard input or output",
    "       quil -i [--no-backup] [-f] FILE...",
    "                                 repairs each FILE in place, the original kept as FILE.orig",
    "       quil -c FILE...           checks each FILE and writes nothing",
    "",
    "Data lines are written again with a blank before every number; every other line, and the",
    "text records that headers announce, are copied as 72 columns. A file is written under a",
    "temporary name and takes its own name only when it is complete. A file of another format",
    "(binary data, blanks inside number fields, no data line) is refused and left as it is.",
    "",
    "  -i, --in-place   repair each FILE in place; an existing FILE.orig is never replaced",
    "                   (the original then goes to FILE.orig.1, .2, ...); a file with nothing",
    "                   to repair is left untouched",
    "      --no-backup  with -i: keep no FILE.orig",
    "  -c, --check      name every change a repair would make (touching numbers, other forms,",
    "                   line ends, ...) with the first lines of each, and write nothing; status",
    "                   0 only when a repair would leave the file as it is",
    "  -f, --force      replace an existing OUTPUT; repair in place a file with other names (hard",
    "                   links: they keep the original); repair or check a backup (FILE.orig.N)",
    "      --any-format repair or check a file of another format all the same",
    "  -q, --quiet      no line for each file; refusals and failures are still shown",
    "  -j, --jobs N     repair N files, or N parts of a large file, at once (1 to 8; the",
    "                   default is the number of processors)",
    "  -h, --help       show this text",
    "  -V, --version    show the version",
    "  --               every argument after it is a name",
    "",
    "Exit status: 0 done, nothing to repair; 1 a file needs repair (-c), is of another format",
    "or was skipped; 2 a usage error, or -c could not check a file; control-C and termination",
    "end the run by their own signal after the temporary file is removed; any other number is",
    "the failure that ended the run (24 end of file, 38 write error, 39 read error).",
};
const int kHelpLines = static_cast<int>(std::size(kHelp));

namespace {

struct Names {
  std::vector<std::string> list;
  bool out_of_memory = false;
};

// Called by the system's expansion for each name: nothing may be thrown through it.
void add_name(const char* name, void* names) noexcept {
  auto* n = static_cast<Names*>(names);
  try {
    n->list.emplace_back(name);
  } catch (const std::bad_alloc&) {
    n->out_of_memory = true;
  }
}

struct Flags {
  bool in_place = false, check = false, no_backup = false;
};

// One option; false when it is unknown.
bool take_option(std::string_view option, Flags& f, Request& r, ParsedArguments& p) {
  if (option == "-h" || option == "--help") {
    p.kind = ParsedArguments::Kind::help;
  } else if (option == "-V" || option == "--version") {
    p.kind = ParsedArguments::Kind::version;
  } else if (option == "-i" || option == "--in-place") {
    f.in_place = true;
  } else if (option == "--no-backup") {
    f.no_backup = true;
  } else if (option == "-c" || option == "--check") {
    f.check = true;
  } else if (option == "-f" || option == "--force") {
    r.force = true;
  } else if (option == "--any-format") {
    r.any_format = true;
  } else if (option == "-q" || option == "--quiet") {
    r.quiet = true;
  } else {
    return false;
  }
  return true;
}

bool take_jobs(std::string_view value, Request& r) {
  r.options_given = true;
  if (value.size() != 1 || value[0] < '1' || value[0] > '0' + kMostJobs) return false;
  r.jobs = value[0] - '0';
  return true;
}

// Shown in quotes, or quoted as a shell reads it back where it holds a byte that prints nothing.
std::string unknown_option(std::string_view option) {
  const std::string shown = shown_name(option);
  return "unknown option " + (shown == option ? "'" + shown + "'" : shown);
}

constexpr const char* kJobsWords = "-j takes a number of parts from 1 to 8";
static_assert(kMostJobs == 8, "the usage, the help and the manual say 1 to 8");

// The value of an option that takes one: the rest of its argument when there is any, else the next
// argument (which it then uses up).
std::string_view option_value(std::string_view rest, int argc, const char* const* argv, int* i) {
  if (!rest.empty()) return rest;
  return *i + 1 < argc ? std::string_view(argv[++*i]) : std::string_view();
}

// One argument of options. Short ones combine as getopt has them (-ic is -i -c; -ij2 and -ij 2 give -j
// its number, the rest of the argument or the next one). Returns why it is not taken, if it is not.
std::string take_options(std::string_view arg, int argc, const char* const* argv, int* i, Flags& flags,
                         ParsedArguments& p) {
  p.request.options_given = true;
  if (arg == "--jobs" || arg.rfind("--jobs=", 0) == 0) {
    return take_jobs(option_value(arg.substr(std::min<std::size_t>(arg.size(), 7)), argc, argv, i), p.request)
               ? std::string()
               : kJobsWords;
  }
  if (arg[1] == '-') {
    return take_option(arg, flags, p.request, p) ? std::string() : unknown_option(arg);
  }
  for (std::size_t k = 1; k < arg.size(); ++k) {
    if (arg[k] == 'j')
      return take_jobs(option_value(arg.substr(k + 1), argc, argv, i), p.request) ? "" : kJobsWords;
    const char option[] = {'-', arg[k], '\0'};
    if (!take_option(option, flags, p.request, p)) return unknown_option(option);
  }
  return {};
}

void add_names(const char* argument, Request& r, const SystemAnswers& system) {
  Names expanded;
  const int found = system.expand_wildcards(argument, add_name, &expanded);
  if (expanded.out_of_memory) throw std::bad_alloc();
  if (found == 0) r.unmatched.emplace_back(argument);
  r.names.insert(r.names.end(), expanded.list.begin(), expanded.list.end());
}

ParsedArguments usage_error(std::string why) {
  ParsedArguments p;
  p.kind = ParsedArguments::Kind::usage_error;
  p.error = std::move(why);
  return p;
}

// Which mode the options and the number of names make, or a usage error.
// Several files dropped on the program's window: every argument an existing file, no option, and the
// program alone on a console of its own. They are repaired in place, not one over another.
bool dropped_on_window(const Request& r, const SystemAnswers& system) {
  if (r.options_given || r.names.size() < 2 || !r.unmatched.empty() || !system.alone_on_own_console()) {
    return false;
  }
  return std::all_of(r.names.begin(), r.names.end(),
                     [&system](const std::string& n) { return system.regular_file(n.c_str()); });
}

ParsedArguments settle_mode(ParsedArguments p, Flags f, const SystemAnswers& system) {
  Request& r = p.request;
  r.dropped = dropped_on_window(r, system);
  f.in_place = f.in_place || r.dropped;
  if (f.in_place && f.check) return usage_error("-i and -c exclude each other");
  if (f.no_backup && !f.in_place) return usage_error("--no-backup goes with -i");
  r.backup = !f.no_backup;
  for (const std::string& n : r.names) {
    if (n.empty()) return usage_error("an empty name");
  }
  if (f.in_place || f.check) {
    r.mode = f.in_place ? Mode::in_place : Mode::check;
    if (r.names.empty() && r.unmatched.empty()) return usage_error("no FILE named");
    for (const std::string& n : r.names) {
      if (f.in_place && n == "-") return usage_error("standard input cannot be repaired in place");
    }
  } else if (r.names.size() > 2) {
    return usage_error("more than INPUT and OUTPUT named; -i repairs many files in place");
  } else if (r.names.size() == 2) {
    r.mode = Mode::repair;
  } else if (r.names.size() == 1 && r.names[0] == "-") {
    // The dialogue reads its answers from standard input: the records cannot come from there too.
    return usage_error("standard input as INPUT needs an OUTPUT (quil - OUTPUT)");
  }
  return p;
}

}  // namespace

ParsedArguments parse_arguments(int argc, const char* const* argv, const SystemAnswers& system) {
  ParsedArguments p;
  Flags flags;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool slash_help = arg == "/?" || arg == "/h" || arg == "/H";
    if (!options_end && (arg == "-?" || (slash_help && system.slash_options))) {
      p.kind = ParsedArguments::Kind::help;
      return p;
    }
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      add_names(argv[i], p.request, system);
    } else if (arg == "--") {
      options_end = true;
    } else if (std::string why = take_options(arg, argc, argv, &i, flags, p); !why.empty()) {
      return usage_error(why);
    }
    if (p.kind != ParsedArguments::Kind::run) return p;
  }
  return settle_mode(std::move(p), flags, system);
}

}  // namespace quil
