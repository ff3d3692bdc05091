// The command's arguments read into a request, with the system's answers given by the test.
#include "driver/arguments.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/shown_name.h"

namespace {

using quil::Mode;
using quil::ParsedArguments;

// A pattern with a * matches no file; a name that begins "dir" is a folder; every other name is a file.
int expand(const char* pattern, void (*take)(const char*, void*), void* context) {
  if (std::strchr(pattern, '*') != nullptr) return 0;
  take(pattern, context);
  return 1;
}
bool alone_no() { return false; }
bool alone_yes() { return true; }
bool regular(const char* name) { return std::strncmp(name, "dir", 3) != 0; }

TEST(Arguments, ReadIntoARequest) {
  using Kind = ParsedArguments::Kind;
  const struct Row {
    std::vector<const char*> args;
    Kind kind;
    std::string error_or_names;  // the usage error, or the names joined by blanks
    Mode mode = Mode::dialogue;
    int jobs = 0;
    bool alone = false;  // alone on a console of its own
    bool slash = false;  // /? and /h are help
    bool dropped = false;
  } rows[] = {
      {{}, Kind::run, ""},
      {{"a.fem"}, Kind::run, "a.fem"},
      {{"a.fem", "b.fem"}, Kind::run, "a.fem b.fem", Mode::repair},
      {{"-i", "a", "b", "c"}, Kind::run, "a b c", Mode::in_place},
      {{"-c", "a", "*.none"}, Kind::run, "a", Mode::check},  // the pattern goes to the unmatched
      {{"-x"}, Kind::usage_error, "unknown option '-x'"},
      {{"--any-format", "-i\x1b"}, Kind::usage_error, "unknown option '-'$'\\033'"},  // quoted as a name is
      {{"--in-place"}, Kind::usage_error, "no FILE named"},
      {{"-c"}, Kind::usage_error, "no FILE named"},
      {{"-ic", "a"}, Kind::usage_error, "-i and -c exclude each other"},
      {{"--no-backup", "a", "b"}, Kind::usage_error, "--no-backup goes with -i"},
      {{"-i", "-"}, Kind::usage_error, "standard input cannot be repaired in place"},
      {{"a", "b", "c"},
       Kind::usage_error,
       "more than INPUT and OUTPUT named; -i repairs many files in place"},
      {{"a.fem", ""}, Kind::usage_error, "an empty name"},
      {{"-"}, Kind::usage_error, "standard input as INPUT needs an OUTPUT (quil - OUTPUT)"},
      {{"-", "out"}, Kind::run, "- out", Mode::repair},
      {{"--", "-x", "out"}, Kind::run, "-x out", Mode::repair},  // a name after --
      // -j as getopt has it: the rest of the argument, or the next one.
      {{"-ij", "9", "a"}, Kind::usage_error, "-j takes a number of parts from 1 to 8"},
      {{"-ij", "0", "a"}, Kind::usage_error, "-j takes a number of parts from 1 to 8"},
      {{"-ij", "2", "a"}, Kind::run, "a", Mode::in_place, 2},
      {{"-qij2", "--", "-x"}, Kind::run, "-x", Mode::in_place, 2},
      {{"--jobs=3", "-c", "a"}, Kind::run, "a", Mode::check, 3},
      {{"--jobs", "8", "a", "b"}, Kind::run, "a b", Mode::repair, 8},
      {{"-j"}, Kind::usage_error, "-j takes a number of parts from 1 to 8"},
      {{"-V", "-x"}, Kind::version, ""},  // the first answer stands
      {{"a", "--help"}, Kind::help, ""},
      {{"-?"}, Kind::help, ""},
      {{"/?"}, Kind::run, "/?", Mode::dialogue},  // a name where options begin with -
      {{"/h"}, Kind::help, "", Mode::dialogue, 0, false, true},
      // Files dropped on the program's own window are repaired in place; not so with an option, a
      // folder among them, or a console shared with others.
      {{"a", "b"}, Kind::run, "a b", Mode::in_place, 0, true, false, true},
      {{"-f", "a", "b"}, Kind::run, "a b", Mode::repair, 0, true},
      {{"a", "dir"}, Kind::run, "a dir", Mode::repair, 0, true},
  };
  for (const Row& row : rows) {
    std::vector<const char*> argv = {"quil"};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    SCOPED_TRACE(testing::PrintToString(row.args));
    const quil::SystemAnswers system{expand, row.alone ? alone_yes : alone_no, regular, row.slash};
    const ParsedArguments p = quil::parse_arguments(static_cast<int>(argv.size()), argv.data(), system);
    ASSERT_EQ(p.kind, row.kind);
    if (p.kind == Kind::usage_error) {
      EXPECT_EQ(p.error, row.error_or_names);
      continue;
    }
    if (p.kind != Kind::run) continue;
    std::string names;
    for (const std::string& n : p.request.names) names += (names.empty() ? "" : " ") + n;
    EXPECT_EQ(names, row.error_or_names);
    EXPECT_EQ(p.request.mode, row.mode);
    EXPECT_EQ(p.request.jobs, row.jobs);
    EXPECT_EQ(p.request.dropped, row.dropped);
  }
}

}  // namespace

TEST(ShownName, QuotedOnlyWhereABytePrintsNothing) {
  const struct {
    std::string name, shown;
  } rows[] = {
      {"T1 with blanks.FEM", "T1 with blanks.FEM"},
      {"it's.fem", "it's.fem"},
      {"\xe6\x97\xa5\xe6\x9c\xac.fem \xc2\xa0", "\xe6\x97\xa5\xe6\x9c\xac.fem \xc2\xa0"},
      {"a\nb.fem", "'a'$'\\n''b.fem'"},
      {"\xff", "$'\\377'"},
      {"\x1b[31mred\x7f", "$'\\033''[31mred'$'\\177'"},
      {"it's a\tb", "'it'\\''s a'$'\\t''b'"},
      {"\xc2\x85\xe6\x97 \xed\xa0\x80",
       "$'\\302\\205\\346\\227'' '$'\\355\\240\\200'"},                            // C1, cut, surrogate
      {"\xf4\x90\x80\x80\xe0\x9f\xbf", "$'\\364\\220\\200\\200\\340\\237\\277'"},  // past U+10FFFF, overlong
  };
  for (const auto& row : rows) EXPECT_EQ(quil::shown_name(row.name), row.shown) << row.shown;
}
