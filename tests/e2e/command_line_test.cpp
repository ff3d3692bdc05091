// QUIL with arguments: each run checks its standard streams, its status and every file it leaves.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <set>
#include <thread>

#include "e2e/harness.h"

namespace e2e {
namespace {

// The names in a folder, sorted, so that a test sees every file a run left behind.
std::string listing(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::string all;
  for (const std::string& n : names) all += n + " ";
  return all;
}

// What a repair says of the samples, and what a check says of plate.fem.
const std::string kPlateRepaired =
    "118 lines, 23 with touching numbers repaired, 90 with numbers in another form rewritten, 5 padded to 72 "
    "columns";
const std::string kTextRepaired =
    "26 lines, 7 with touching numbers repaired, 11 padded to 72 columns, LF line ends became CR LF";
const std::string kPlateChecked =
    "118 lines, 23 with touching numbers, first at lines 29, 30, 31, 32, 33, 90 with numbers in another "
    "form, "
    "first at lines 1, 2, 7, 9, 10, 5 shorter than 72 columns, first at lines 3, 4, 5, 6, 8";

// The system's words for a missing file (Wine's, for the Windows program).
std::string missing() { return windows_program() ? "File not found" : "No such file or directory"; }

std::string usage() {
  return "Usage: quil [-f] [--any-format] [-q] [-j N] [INPUT [OUTPUT]] | quil -i [--no-backup] [-f] "
         "[--any-format] [-q] [-j N] FILE... | quil -c [-f] [--any-format] [-q] [-j N] FILE..." +
         eol();
}

TEST(CommandLine, RepairsBesideInPlaceAndAsAFilter) {
  const std::string plate = sample("plate.fem"), plate_repaired = sample("plate.repaired.fem");
  const std::string text = sample("text-records.fem"), text_repaired = sample("text-records.repaired.fem");
  const std::string n = eol();
  // Files made before the run beside a.fem and b.fem; "@link:X" makes a symbolic link to X, "@fifo" a pipe,
  // "@folder" a folder, "@hardlink:X" another name of X.
  using Files = std::vector<std::pair<std::string, std::string>>;
  struct Row {
    const char* what;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out, err, files;
    Files contents, made = {};
    bool on_windows = true;  // Windows keeps device names and cuts trailing blanks itself; no links, no FIFOs
    bool close_stdout = false;
  } rows[] = {
      {"a full disk: one line in the system's words, the failure's number",
       {"a.fem", "/dev/full"},
       "",
       38,
       "",
       "quil: /dev/full: No space left on device" + n,
       "a.fem b.fem ",
       {},
       {},
       false},
      {"a reader that leaves standard output ends the command quietly, by its signal",
       {"a.fem", "-"},
       "",
       -1,
       "",
       "",
       "a.fem b.fem ",
       {},
       {},
       false,
       true},
      {"INPUT OUTPUT: no dialogue, a line once the file is in place",
       {"a.fem", "new.fem"},
       "",
       0,
       "a.fem -> new.fem: " + kPlateRepaired + n,
       "",
       "a.fem b.fem new.fem ",
       {{"new.fem", plate_repaired}, {"a.fem", plate}}},
      {"-f replaces an existing OUTPUT, and whole",
       {"-f", "b.fem", "a.fem"},
       "",
       0,
       "b.fem -> a.fem: " + kTextRepaired + n,
       "",
       "a.fem b.fem ",
       {{"a.fem", text_repaired}}},
      {"standard output under another name gets only the records",
       {"b.fem", "/dev/stdout"},
       "",
       0,
       text_repaired,
       "b.fem -> /dev/stdout: " + kTextRepaired + n,
       "a.fem b.fem ",
       {},
       {},
       false},
      {"the file being repaired is refused as OUTPUT",
       {"-f", "a.fem", "./a.fem"},
       "",
       1,
       "",
       "quil: ./a.fem: skipped: cannot open: it is the file being repaired (-i repairs in place)" + n,
       "a.fem b.fem ",
       {{"a.fem", plate}}},
      {"in place, many files: a missing one skipped, originals kept",
       {"-i", "a.fem", "missing.fem", "b.fem"},
       "",
       1,
       "a.fem: " + kPlateRepaired + ", original kept in a.fem.orig" + n + "b.fem: " + kTextRepaired +
           ", original kept in b.fem.orig" + n,
       "quil: missing.fem: skipped: " + missing() + n,
       "a.fem a.fem.orig b.fem b.fem.orig ",
       {{"a.fem", plate_repaired}, {"a.fem.orig", plate}, {"b.fem", text_repaired}, {"b.fem.orig", text}}},
      {"an unrelated FILE.orig stays; the original goes beside it",
       {"-i", "a.fem"},
       "",
       0,
       "a.fem: " + kPlateRepaired + ", original kept in a.fem.orig.1" + n,
       "",
       "a.fem a.fem.orig a.fem.orig.1 b.fem ",
       {{"a.fem.orig", "notes"}, {"a.fem.orig.1", plate}},
       {{"a.fem.orig", "notes"}}},
      {"without a backup; device words are file names; options combine",
       {"-i", "--no-backup", "-q", "nul.fem", "Con.Fem"},
       "",
       0,
       "",
       "",
       "Con.Fem a.fem b.fem nul.fem ",
       {{"nul.fem", plate_repaired}, {"Con.Fem", text_repaired}},
       {{"nul.fem", plate}, {"Con.Fem", text}},
       false},
      {"nothing to repair: the file is left untouched",
       {"-i", "c.fem"},
       "",
       0,
       "c.fem: 118 lines, nothing to repair" + n,
       "",
       "a.fem b.fem c.fem ",
       {{"c.fem", plate_repaired}},
       {{"c.fem", plate_repaired}}},
      {"a link is followed: its target repaired, the link kept",
       {"-i", "--no-backup", "l.fem"},
       "",
       0,
       "l.fem: " + kPlateRepaired + n,
       "",
       "a.fem b.fem l.fem ",
       {{"a.fem", plate_repaired}},
       {{"l.fem", "@link:a.fem"}},
       false},
      {"a link that leads nowhere is the user's own, no missing name: it stays unless -f",
       {"a.fem", "d.fem"},
       "",
       1,
       "",
       "quil: d.fem: skipped: is a link to a file that does not exist (-f replaces it)" + n,
       "a.fem b.fem d.fem ",
       {},
       {{"d.fem", "@link:nowhere.fem"}},
       false},
      {"check: writes nothing, status 1 when a file needs repair",
       {"-c", "a.fem", "b.fem"},
       "",
       1,
       "a.fem: " + kPlateChecked + n +
           "b.fem: 26 lines, 7 with touching numbers, first at lines 7, 10, 11, 16, 20, 11 shorter than 72 "
           "columns, first at lines 3, 4, 5, 6, 8, LF line ends to become CR LF" +
           n,
       "",
       "a.fem b.fem ",
       {{"a.fem", plate}}},
      {"check: a name is used as given, and a file not checked is 2",
       {"-c", "a.fem "},
       "",
       2,
       "",
       "quil: a.fem : skipped: " + missing() + n,
       "a.fem b.fem ",
       {},
       {},
       false},
      // Subtle: a name longer than the longest path the system takes never reaches the system.
      {"a batch whose files fail in different ways at once: each line names its own file's error",
       {"-c", "-j2", "loop.fem", "sub", "a.fem", std::string(300, 'x'), std::string(5000, 'y')},
       "",
       2,
       "a.fem: " + kPlateChecked + n,
       "quil: loop.fem: skipped: Too many levels of symbolic links" + n + "quil: sub: skipped: is a folder" +
           n + "quil: " + std::string(300, 'x') + ": skipped: File name too long" + n +
           "quil: " + std::string(5000, 'y') + ": skipped: File name too long" + n,
       "a.fem b.fem loop.fem sub ",
       {},
       {{"loop.fem", "@link:loop.fem"}, {"sub", "@folder"}},
       false},
      {"a file with another name (a hard link) is repaired with -f: the other keeps the original",
       {"-if", "a.fem"},
       "",
       0,
       "a.fem: " + kPlateRepaired + ", original kept in a.fem.orig" + n,
       "",
       "a.fem a.fem.orig b.fem h.fem ",
       {{"a.fem", plate_repaired}, {"h.fem", plate}},
       {{"h.fem", "@hardlink:a.fem"}},
       false},
      {"a file with other names and nothing to repair says so",
       {"-i", "c.fem"},
       "",
       0,
       "c.fem: 118 lines, nothing to repair" + n,
       "",
       "a.fem b.fem c.fem h.fem ",
       {{"c.fem", plate_repaired}},
       {{"c.fem", plate_repaired}, {"h.fem", "@hardlink:c.fem"}},
       false},
      {"a name with a control character is shown quoted in every line",
       {"-i", "a\nb.fem", "\xff"},
       "",
       1,
       "'a'$'\\n''b.fem': " + kPlateRepaired +
           ", original kept in "
           "'a'$'\\n''b.fem.orig'" +
           n,
       "quil: $'\\377': skipped: " + missing() + n,
       "a\nb.fem a\nb.fem.orig a.fem b.fem ",
       {{"a\nb.fem", plate_repaired}},
       {{"a\nb.fem", plate}},
       false},
      {"one file named twice is repaired once; one line is a line",
       {"-i", "--no-backup", "a.fem", "./a.fem", "one.fem"},
       "",
       0,
       "a.fem: " + kPlateRepaired + n + "./a.fem: the same file as a.fem, repaired once" + n +
           "one.fem: 1 line, 1 with touching numbers repaired" + n,
       "",
       "a.fem b.fem one.fem ",
       {{"a.fem", plate_repaired}},
       {{"one.fem", plate.substr(plate.find("GCOORD   2"), 74)}},
       false},
      {"a file that -c could not read is one it could not check",
       {"-c", "/proc/self/mem"},
       "",
       2,
       "",
       "quil: /proc/self/mem: Input/output error" + n,
       "a.fem b.fem ",
       {},
       {},
       false},
      {"check of clean input, read from a pipe",
       {"--check", "--", "-"},
       plate_repaired,
       0,
       "-: 118 lines, no touching numbers" + n,
       "",
       "a.fem b.fem ",
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (windows_program() && !row.on_windows) continue;
    TempDir dir;
    write_file(dir.file("a.fem"), plate);
    write_file(dir.file("b.fem"), text);
    for (const auto& [name, content] : row.made) {
      if (content.rfind("@hardlink:", 0) == 0) {
        EXPECT_EQ(link(dir.file(content.substr(10)).c_str(), dir.file(name).c_str()), 0);
      } else if (content.rfind("@link:", 0) == 0) {
        EXPECT_EQ(symlink(content.substr(6).c_str(), dir.file(name).c_str()), 0);
      } else if (content == "@fifo") {
        EXPECT_EQ(mkfifo(dir.file(name).c_str(), 0644), 0);
      } else if (content == "@folder") {
        EXPECT_EQ(mkdir(dir.file(name).c_str(), 0755), 0);
      } else {
        write_file(dir.file(name), content);
      }
    }
    Result r;
    if (row.close_stdout) {
      Child child({.cwd = dir.path(), .args = row.args});
      child.close_output();
      r = child.finish();
    } else {
      r = run({.input = row.input, .cwd = dir.path(), .args = row.args});
    }
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.signal, row.close_stdout ? SIGPIPE : 0);
    EXPECT_TRUE(r.out == row.out) << r.out;
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(listing(dir.path()), row.files);
    for (const auto& [name, content] : row.contents)
      EXPECT_TRUE(read_file(dir.file(name)) == content) << name;
  }
}

// A closed standard stream drops the messages meant for it, never the files' work: the status says what
// became of the files.
TEST(CommandLine, ClosedStreamsLoseOnlyMessages) {
  TempDir dir;
  write_file(dir.file("a.fem"), sample("plate.fem"));
  Result c = run({.cwd = dir.path(), .args = {"-c", "a.fem"}, .close_stdout = true});
  EXPECT_EQ(c.err, "");
  EXPECT_EQ(c.status, 1);
  Result f = run({.cwd = dir.path(), .args = {"a.fem", "-"}, .close_stderr = true});
  EXPECT_TRUE(f.out == sample("plate.repaired.fem"));
  EXPECT_EQ(f.status, 0);
  // A stream that is there but takes nothing (a full disk) fails the run, whose list nobody saw.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-c", "a.fem"}, {"--version"}}) {
    Result full = run({.cwd = dir.path(), .args = args, .stdout_file = "/dev/full"});
    EXPECT_EQ(full.err.rfind("quil: standard output: ", 0), 0u) << full.err;
    EXPECT_EQ(full.status, 38);
  }
}

// Files of other formats that lie beside models under the same names: refused by every mode and left as
// they are; damaged models never. All files go through one -c run and one -i run.
TEST(CommandLine, FilesOfOtherFormatsAreRefused) {
  const std::string record = "NODE     1.000000000E+00-2.500000000E-01 2.000000000E+02-3.000000000E+00";
  const std::string model = record + "\r\n";
  std::string noise;
  for (std::uint32_t x = 12345; noise.size() < 4096;)
    noise += static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  const struct {
    const char* what;
    std::string content;
    std::string why;  // empty: a model, repaired
  } rows[] = {
      {"binary records", std::string("AB\0CD\1\2", 7) + model, "line 1: binary data (byte 0x00 at column 3)"},
      {"gzip data", "\x1f\x8b\x08\x00" + model, "line 1: gzip data"},
      {"UTF-16 text", std::string("\xff\xfeN\0O\0", 6), "line 1: UTF-16 text"},
      {"free-format columns", model + "  NODE         91531   -21797.00000   -11123.70310   -48220.0000\n",
       "line 2: a record name that does not begin in column 1"},
      {"8-column cards", "GRID           1       0      10      20\n",
       "line 1: blanks inside a number field"},
      {"a line longer than any record", std::string(2000, 'x') + "\n" + model,
       "line 1: a line longer than any record"},
      {"random bytes", noise, "line 1: binary data"},
      // A repair would write it as a word that no reader, QUIL's check included, takes for a number.
      {"an infinity", model + record.substr(0, 56) + "             INF\r\n",
       "line 2: a number that is infinite or not a number"},
      {"optimisation problem in columns",
       "NAME          HS21\nROWS\n N  OBJ\nCOLUMNS\n    X1        OBJ       -1.0          C1     1.0\n",
       "line 1: a number field that does not read as a number"},
      {"free-field bulk data", "GRID,1,,-10.313008308411,-7.0365853309631,-45.275356292725,\n",
       "line 1: a comma in a data line"},
      {"magnetics problem", "[Format]      = 4.0\n", "line 1: a record name that is not capitals and digits"},
      {"tab-separated points", "1\t0\t0\t0\n", "line 1: a tab in a data line"},
      {"a deck's executive control", "TIME 10000\nSOL 159\nCEND\n",
       "line 1: a record name that is not capitals and digits"},
      {"a deck's case control", "CEND\n  ECHO = NONE\n",
       "line 2: a record name that does not begin in column 1"},
      {"a CSV table", "1,0.5,0.25,0.125\n", "line 1: a comma in a data line"},
      {"sequence numbers past the record", record + "00000010\n", "line 1: text past column 72"},
      {"a note and no record", "        a note, unannounced\n", "no line reads as a data record"},
      {"every number touching, signs in the first column, exponents without a letter",
       "NODE    -1.234567890E+00-1.234567890E+00  1.23456789-100+1.234567890E+00\n", ""},
      {"a results file's text records of NUL bytes",
       "TEXT      0.00000000E+00  0.00000000E+00  2.00000000E+00  7.20000000E+01\n" + std::string(72, '\0') +
           "\n" + std::string(72, '\0') + "\n" + model,
       ""},
      {"a note that no header announced, commas and all", model + "        LC_1 wave load, 100 years\n", ""},
  };
  TempDir dir;
  std::vector<std::string> names;
  for (const auto& row : rows) {
    names.push_back(std::to_string(names.size() + 10));
    names.back() += ".fem";
    write_file(dir.file(names.back()), row.content);
  }
  const std::string files = listing(dir.path());
  for (const char* mode : {"-c", "-i"}) {
    std::vector<std::string> args = {mode};
    if (mode == std::string("-i")) args.push_back("--no-backup");
    args.insert(args.end(), names.begin(), names.end());
    Result r = run({.cwd = dir.path(), .args = args});
    EXPECT_EQ(r.status, 1) << mode;
    std::size_t refused = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const auto& row = rows[i];
      const bool kept = read_file(dir.file(names[i])) == row.content;
      EXPECT_EQ(kept, !row.why.empty() || mode == std::string("-c")) << mode << " " << row.what;
      if (row.why.empty()) continue;
      ++refused;
      EXPECT_NE(r.err.find("quil: " + names[i] + ": skipped: not an interface file: " + row.why),
                std::string::npos)
          << mode << " " << row.what << " err: " << r.err << " out: " << r.out;
    }
    EXPECT_EQ(static_cast<std::size_t>(std::count(r.err.begin(), r.err.end(), '\n')), refused) << r.err;
    EXPECT_EQ(listing(dir.path()), files);
  }
  // --any-format repairs such a file all the same; -f does not.
  write_file(dir.file("x.fem"), "a,b,c\n");
  EXPECT_EQ(run({.cwd = dir.path(), .args = {"-if", "--no-backup", "x.fem"}}).status, 1);
  EXPECT_EQ(read_file(dir.file("x.fem")), "a,b,c\n");
  EXPECT_EQ(run({.cwd = dir.path(), .args = {"-i", "--any-format", "--no-backup", "x.fem"}}).status, 0);
  EXPECT_EQ(read_file(dir.file("x.fem")),
            "a,b,c     0.00000000E+00  0.00000000E+00  0.00000000E+00  0.00000000E+00\r\n");
}

// Where the records go to standard output, that is all it gets, whatever it is; the file's line goes to
// standard error. An editor's byte-order mark is no part of the first record.
TEST(CommandLine, TheRecordsStreamHoldsOnlyRecords) {
  TempDir dir;
  const std::string n = eol(), repaired = sample("text-records.repaired.fem");
  write_file(dir.file("in.fem"), "\xEF\xBB\xBF" + sample("text-records.fem"));
  const std::string line =
      ": 26 lines, 7 with touching numbers repaired, 11 padded to 72 columns, byte-order mark "
      "dropped, LF line ends became CR LF" +
      n;
  const struct {
    std::vector<std::string> args;
    std::string records_file, err, out;  // records_file: where the records go besides standard output
  } roads[] = {
      {{"-", "-"}, "", "- -> -" + line, ""},
      {{"in.fem", "-"}, "", "in.fem -> -" + line, ""},
      {{"-", "out.fem"}, "out.fem", "", "- -> out.fem" + line},
  };
  for (const auto& road : roads) {
    for (const std::string& standard_output : {std::string(), dir.file("so.txt"), std::string("/dev/null")}) {
      SCOPED_TRACE(road.args[0] + " " + road.args[1] + " > " + standard_output);
      Result r = run({.input = read_file(dir.file("in.fem")),
                      .cwd = dir.path(),
                      .args = road.args,
                      .stdout_file = standard_output});
      const std::string out = standard_output.empty() ? r.out : read_file(standard_output);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, road.err);
      const std::string& expected = road.records_file.empty() ? repaired : road.out;
      EXPECT_TRUE(standard_output == "/dev/null" || out == expected) << out;
      EXPECT_TRUE(road.records_file.empty() || read_file(dir.file(road.records_file)) == repaired);
      unlink(dir.file("out.fem").c_str());
    }
  }
  Result c = run({.cwd = dir.path(), .args = {"-c", "in.fem"}});
  EXPECT_EQ(c.out,
            "in.fem: 26 lines, 7 with touching numbers, first at lines 7, 10, 11, 16, 20, 11 shorter than 72 "
            "columns, "
            "first at lines 3, 4, 5, 6, 8, a byte-order mark "
            "to drop, LF line ends to become CR LF" +
                n);
  EXPECT_EQ(c.status, 1);
}

// The check names every change that the repair then makes, in the same words; after the repair it finds
// nothing. Lines after a Ctrl-Z line refuse the file: a rewrite would drop them.
TEST(CommandLine, TheCheckNamesEveryChangeTheRepairMakes) {
  TempDir dir;
  const std::string n = eol(),
                    clean = "GNODE     1.00000000E+00  2.00000000E+00 -3.00000000E+00  4.00000000E-01";
  const std::string model = "\xEF\xBB\xBF" + clean +
                            "\r\nGCOORD  -2.000000000e+00-2.564999962e+01-2.935000038e+01+5.500000000e+00\n" +
                            "GNODE                  1               2               3               4\r\n" +
                            "GNODE     1.0D+00\r\n\r\n        a note\r\n" + clean + "   \r\n\x1a\r\n";
  write_file(dir.file("m.fem"), model);
  write_file(dir.file("z.fem"), model + clean + "\r\n");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } runs[] = {
      {{"-c", "m.fem"},
       1,
       "m.fem: 7 lines, 1 with touching numbers, first at line 2, 1 with numbers written without a point, "
       "read as "
       "\u00D710^-8, first at line 3, 1 with numbers in another form, first at line 4, 1 blank, to become "
       "records "
       "of zeros, first at line 5, 1 shorter than 72 columns, first at line 6, 1 with columns past 72, first "
       "at "
       "line 7, a byte-order mark to drop, LF line ends to become CR LF, an end-of-file mark (Ctrl-Z) to "
       "drop" +
           n,
       ""},
      {{"-i", "--no-backup", "m.fem"},
       0,
       "m.fem: 7 lines, 1 with touching numbers repaired, 1 with numbers written without a point (read as "
       "\u00D710^-8) rewritten, 1 with numbers in another form rewritten, 1 blank, now records of zeros, 1 "
       "padded "
       "to 72 columns, 1 cut at column 72, byte-order mark dropped, LF line ends became CR LF, end-of-file "
       "mark "
       "(Ctrl-Z) dropped" +
           n,
       ""},
      {{"-c", "m.fem"}, 0, "m.fem: 7 lines, no touching numbers" + n, ""},
      {{"-i", "z.fem"},
       1,
       "",
       "quil: z.fem: skipped: not an interface file: line 8: lines after an end-of-file mark (Ctrl-Z)" + n},
  };
  for (const auto& run_ : runs) {
    const Result r = run({.cwd = dir.path(), .args = run_.args});
    EXPECT_EQ(r.out, run_.out);
    EXPECT_EQ(r.err, run_.err);
    EXPECT_EQ(r.status, run_.status);
  }
  EXPECT_TRUE(read_file(dir.file("z.fem")) == model + clean + "\r\n");
}

// Standard input is read from where the caller left it, whatever it is, and looked at before its first
// record goes out; an output that is the input itself is refused before it is touched.
TEST(CommandLine, StandardInputOfEveryKind) {
  TempDir dir;
  const std::string n = eol(), plate = sample("plate.fem"), repaired = sample("plate.repaired.fem");
  const std::string in = dir.file("in.fem"), fifo = dir.file("fifo");
  write_file(in, plate);
  write_file(dir.file("empty"), "");
  const long three_lines =
      static_cast<long>(plate.find('\n', plate.find('\n', plate.find('\n') + 1) + 1) + 1);
  const std::string after_three = repaired.substr(3 * 74);
  const struct {
    const char* what;
    std::string file;  // empty: a pipe
    long offset;
    std::string records, counts;
  } inputs[] = {
      {"a pipe", "", 0, repaired, kPlateRepaired},
      {"a file", in, 0, repaired, kPlateRepaired},
      {"a file read from its fourth line", in, three_lines, after_three,
       "115 lines, 23 with touching numbers repaired, 88 with numbers in another form rewritten, 4 padded to "
       "72 "
       "columns"},
      {"a FIFO", fifo, 0, repaired, kPlateRepaired},
      {"/dev/null", "/dev/null", 0, "", "0 lines, 0 with touching numbers repaired"},
      {"an empty file", dir.file("empty"), 0, "", "0 lines, 0 with touching numbers repaired"},
  };
  for (const auto& input : inputs) {
    for (const std::string& output : {std::string("-"), std::string("out.fem")}) {
      SCOPED_TRACE(std::string(input.what) + " -> " + output);
      if (input.file == fifo && windows_program()) continue;  // Wine hands no FIFO over as standard input
      std::thread writer;
      if (input.file == fifo) {
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        writer = std::thread([&] { write_file(fifo, plate); });
      }
      Result r = run({.input = input.file.empty() ? plate : "",
                      .cwd = dir.path(),
                      .args = {"-", output},
                      .stdin_file = input.file,
                      .stdin_offset = input.offset});
      if (writer.joinable()) writer.join();
      unlink(fifo.c_str());
      const std::string line = "- -> " + output + ": " + input.counts + n;
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(output == "-" ? r.err : r.out, line);
      EXPECT_TRUE((output == "-" ? r.out : read_file(dir.file(output))) == input.records);
      unlink(dir.file("out.fem").c_str());
    }
  }
  // The output appended to the input, however each is named, or the command's own lines (which would
  // land in the kept original too). Wine cannot tell which file a redirected standard output is
  // (Windows itself refuses the input's opening while a redirection writes it).
  const std::vector<std::vector<std::string>> onto_itself = {
      {"in.fem", "-", "the output is the input file"},
      {"-", "-", "the output is the input file"},
      {"-i", "in.fem", "skipped: standard output is this file"},
      {"-c", "in.fem", "skipped: standard output is this file"}};
  for (const auto& row : windows_program() ? decltype(onto_itself){} : onto_itself) {
    Result r = run({.cwd = dir.path(),
                    .args = {row[0], row[1]},
                    .stdout_file = in,
                    .stdout_appends = true,
                    .stdin_file = in});
    EXPECT_EQ(r.err,
              "quil: " + (row[0][0] == '-' && row[0].size() > 1 ? row[1] : row[0]) + ": " + row[2] + n);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(read_file(in) == plate);
    EXPECT_FALSE(file_exists(in + ".orig"));
  }
}

// The Windows console hands wildcards to the program; a POSIX shell expands them before.
TEST(CommandLine, WildcardsOnWindows) {
  if (!windows_program()) GTEST_SKIP() << "the shell expands wildcards on this system";
  TempDir dir;
  write_file(dir.file("T1.FEM"), sample("plate.repaired.fem"));
  write_file(dir.file("T2.FEM"), sample("text-records.repaired.fem"));
  Result r = run({.cwd = dir.path(), .args = {"-c", "T?.FEM", "*.none"}});
  EXPECT_EQ(r.out, "T1.FEM: 118 lines, no touching numbers\r\nT2.FEM: 26 lines, no touching numbers\r\n");
  EXPECT_EQ(r.err, "quil: *.none: skipped: no file matches\r\n");
  EXPECT_EQ(r.status, 2);
}

TEST(CommandLine, ASecondRunInPlaceKeepsTheFirstOriginalAndThePermissions) {
  TempDir dir;
  write_file(dir.file("T1.FEM"), sample("plate.fem"));
  chmod(dir.file("T1.FEM").c_str(), 0640);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(run({.cwd = dir.path(), .args = {"-i", "T1.FEM"}}).status, 0);
  EXPECT_EQ(read_file(dir.file("T1.FEM.orig")), sample("plate.fem"));
  EXPECT_EQ(read_file(dir.file("T1.FEM")), sample("plate.repaired.fem"));
  struct stat st;
  ASSERT_EQ(stat(dir.file("T1.FEM").c_str(), &st), 0);
  // Nobody reads the repair who could not read the model (Wine keeps no permissions of its own).
  EXPECT_TRUE(windows_program() || (st.st_mode & 0777) == 0640) << std::oct << st.st_mode;
}

// A reader that leaves standard output or error ends the run as control-C does: quietly, by the broken
// pipe's own signal, with every file whole or as it was and no temporary file behind, while the other
// files of the run are still under way. Started with that signal ignored, the run takes it as the write
// error it then is.
TEST(CommandLine, AReaderThatLeavesEndsTheRunAsAnEventDoes) {
  if (windows_program()) GTEST_SKIP() << "Wine's writes to a pipe whose reader has gone do not fail";
  TempDir dir;
  const std::string model = run({.program = QUIL_GENERATOR, .args = {"60000", "21", "300"}}).out;
  const std::vector<std::string> names = {"a.fem", "b.fem", "c.fem", "d.fem"};
  write_file(dir.file("m.fem"), model);
  run({.cwd = dir.path(), .args = {"m.fem", "r.fem"}});
  const std::string repaired = read_file(dir.file("r.fem"));
  for (const auto& [standard_error, ignored] : {std::pair{false, false}, {true, false}, {false, true}}) {
    SCOPED_TRACE(std::string(standard_error ? "standard error" : "standard output") +
                 (ignored ? ", ignored" : ""));
    for (const std::string& name : names) write_file(dir.file(name), model);
    std::vector<std::string> args = {"-i", "--no-backup", "-j2"};
    // A file that is not there has its line on standard error at once.
    if (standard_error) args.push_back("missing.fem");
    args.insert(args.end(), names.begin(), names.end());
    Child child({.cwd = dir.path(),
                 .args = args,
                 .close_stderr_reader = standard_error,
                 .pipe_signal_ignored = ignored});
    if (!standard_error) child.close_output();
    const Result r = child.finish();
    EXPECT_TRUE(ignored ? r.status == 38 && r.err.find(": Broken pipe") != std::string::npos
                        : r.signal == SIGPIPE)
        << r.status << " " << r.signal << " " << r.err;
    for (const std::string& name : names) {
      const std::string now = read_file(dir.file(name));
      EXPECT_TRUE(now == model || now == repaired) << name;
    }
    EXPECT_EQ(listing(dir.path()), "a.fem b.fem c.fem d.fem m.fem r.fem ");
  }
}

TEST(CommandLine, AnEventPartWayLeavesTheFileAsItWas) {
  TempDir dir;
  Result g = run({.program = QUIL_GENERATOR, .args = {"1000000", "5", "12"}});
  // Terminated or interrupted as a command is: silently, by the signal (on Windows, by the status of
  // control-C), once its temporary file is gone.
  for (const int sig : windows_program() ? std::vector<int>{SIGINT} : std::vector<int>{SIGTERM, SIGINT}) {
    write_file(dir.file("big.fem"), g.out);
    Child child({.cwd = dir.path(), .args = {"-i", "-j1", "big.fem"}});
    // Once the temporary file has records in it, the run is part way.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    // Subtle: its size, not its contents: a look that reads the growing file falls behind the repair.
    const auto written = [&] {
      std::error_code none;
      const std::uintmax_t size = std::filesystem::file_size(dir.file("big.fem.quil-1.tmp"), none);
      return none ? 0 : size;
    };
    while (written() < 100000 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    // Subtle: held still while the signal is sent, so that a fast repair cannot end before it arrives.
    kill(child.pid(), SIGSTOP);
    child.signal(sig);
    kill(child.pid(), SIGCONT);
    Result r = child.finish();
    EXPECT_TRUE(windows_program() ? r.status == 0x3A : r.signal == sig) << r.status << " " << r.signal;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(listing(dir.path()), "big.fem ");
    EXPECT_TRUE(read_file(dir.file("big.fem")) == g.out);
  }
}

TEST(CommandLine, UsageHelpAndVersion) {
  struct Row {
    std::vector<std::string> args;
    int status;
    std::string err;
    std::string out_begins = "";
  } rows[] = {
      // The parser's table holds every usage error; here, the bytes and the status a process shows.
      {{"-ic", "a"}, 2, "quil: -i and -c exclude each other" + eol() + usage()},
      {{"--", "-x", "out"}, 1, "quil: -x: skipped: " + missing() + eol()},  // a name after --
      {{"-V"}, 0, "", "quil 1.0" + eol()},
      {{"--help"}, 0, "", "Usage: quil "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[0]);
    TempDir dir;
    Result r = run({.cwd = dir.path(), .args = row.args});
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.out.substr(0, row.out_begins.size()), row.out_begins);
    EXPECT_EQ(listing(dir.path()), "");
  }
}

// A large file is repaired in parts at once, and gives what one piece gives (where the cuts fall is the
// parts' unit table's): the same bytes and lines, repaired or checked.
TEST(CommandLine, PartsAtOnceGiveWhatOnePieceGives) {
  const std::string text = sample("text-records.fem");
  std::string model;
  while (model.size() < (9u << 20)) model += text;  // above the size that is cut into parts
  TempDir dir;
  write_file(dir.file("in.fem"), model);
  for (const char* mode : {"", "-c"}) {
    SCOPED_TRACE(mode);
    const auto args = [mode](const char* jobs) {
      return *mode != 0 ? std::vector<std::string>{mode, "-j", jobs, "in.fem"}
                        : std::vector<std::string>{"-j", jobs, "in.fem", std::string("out") + jobs + ".fem"};
    };
    const Result one = run({.cwd = dir.path(), .args = args("1")});
    const Result parts = run({.cwd = dir.path(), .args = args("3")});
    EXPECT_EQ(parts.status, one.status);
    EXPECT_EQ(parts.err, one.err);
    EXPECT_EQ(parts.out.substr(parts.out.find(':')), one.out.substr(one.out.find(':')));
  }
  EXPECT_TRUE(read_file(dir.file("out3.fem")) == read_file(dir.file("out1.fem")));
}

// The manual page and --help list the same options.
TEST(CommandLine, ManualListsTheOptionsOfTheHelp) {
  const auto options = [](std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at; (at = text.find("\\-")) != std::string::npos;) text.erase(at, 1);  // troff's \-
    text = text.substr(text.find(from), text.find(to) - text.find(from));
    // Words that begin with - or -- and a letter, after a blank, a comma or a line's start.
    std::set<std::string> found;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '-' || (i > 0 && std::string(" ,\n").find(text[i - 1]) == std::string::npos)) continue;
      std::size_t end = i;
      while (end < text.size() && (std::isalpha(static_cast<unsigned char>(text[end])) || text[end] == '-'))
        ++end;
      const std::string word = text.substr(i, end - i);
      if (word.find_first_not_of('-') != std::string::npos) found.insert(word);
      i = end;
    }
    return found;
  };
  const std::string help = run({.args = {"--help"}}).out;
  const std::string manual = read_file(std::string(QUIL_SAMPLES) + "/../../packaging/quil.1");
  EXPECT_EQ(options(help, "  -i,", "Exit status"), options(manual, ".SH OPTIONS", ".SH EXIT STATUS"));
  EXPECT_EQ(options(help, "  -i,", "Exit status").size(), 16u);  // -i, --in-place ... --version
}

// A read-only file system refuses a repair in its own words. The run needs a read-only mount of its own
// (in a mount namespace): where the system allows none, the test does not run.
TEST(CommandLine, AReadOnlyFileSystemIsNamed) {
  const std::string read_only = "mount --bind . . && mount -o remount,bind,ro . && cd . && ";
  TempDir dir;
  write_file(dir.file("a.fem"), sample("plate.fem"));
  const auto in_read_only = [&](const std::string& command) {
    return run(
        {.cwd = dir.path(), .program = "/usr/bin/unshare", .args = {"-m", "sh", "-c", read_only + command}});
  };
  if (windows_program() || in_read_only("! touch x 2>/dev/null").status != 0)
    GTEST_SKIP() << "no read-only mount may be made here";
  for (const auto& [args, err] :
       {std::pair<std::string, std::string>{"-i a.fem", "a.fem: skipped: cannot repair in place"},
        {"a.fem b.fem", "b.fem: skipped: cannot write beside it"}}) {
    const Result r = in_read_only("exec " + program_under_test() + " " + args);
    EXPECT_EQ(r.err, "quil: " + err + ": Read-only file system\n");
    EXPECT_EQ(r.status, 1);
  }
}

TEST(CommandLine, OneNameIsTheDialogueWithItsFirstAnswer) {
  TempDir dir;
  write_file(dir.file("in.fem"), sample("plate.fem"));
  Result r = run({.input = "out.fem\n", .cwd = dir.path(), .args = {"in.fem"}});
  EXPECT_EQ(r.out, banner() + kInputPrompt + "in.fem\r\n" + kOutputPrompt + summary(118));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir.file("out.fem")), sample("plate.repaired.fem"));
  r = run({.input = "in.fem\nout.fem\n", .cwd = dir.path(), .args = {"missing.fem"}});
  EXPECT_EQ(r.out, banner() + kInputPrompt + "missing.fem\r\n" +
                       refusal(" Nonexisting file :", "missing.fem") + kInputPrompt + kOutputPrompt +
                       summary(118));
  // Named so, a file of another format is refused as every argument mode refuses it, and the output that
  // the answer made goes; --any-format copies it through.
  write_file(dir.file("bin.fem"), "GRID\x01\x02\x03\n");
  r = run({.input = "made.fem\n", .cwd = dir.path(), .args = {"bin.fem"}});
  EXPECT_EQ(r.err, "quil: bin.fem: not an interface file: line 1: binary data (byte 0x01 at column 5)\r\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(file_exists(dir.file("made.fem")));
  r = run({.input = "made.fem\n", .cwd = dir.path(), .args = {"--any-format", "bin.fem"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(file_exists(dir.file("made.fem")));
  // Its output is written through a link (the link stays), and nothing but the output is left.
  if (windows_program()) return;
  write_file(dir.file("real.fem"), "old");
  ASSERT_EQ(symlink("real.fem", dir.file("link.fem").c_str()), 0);
  r = run({.input = "link.fem\n", .cwd = dir.path(), .args = {"in.fem"}});
  EXPECT_EQ(read_file(dir.file("real.fem")), sample("plate.repaired.fem"));
  struct stat st;
  EXPECT_TRUE(lstat(dir.file("link.fem").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_FALSE(file_exists(dir.file("link.fem.quil-1.tmp")) || file_exists(dir.file("real.fem.quil-1.tmp")));
}

// A check that takes longer than a second shows its progress on a terminal, then erases it: at its end,
// and when control-C ends it part way. Its input comes slowly through a pipe; everything else is the
// terminal.
TEST(CommandLine, ProgressOnlyOnATerminal) {
  if (windows_program()) GTEST_SKIP() << "Wine gives a program under a pseudo-terminal no console of its own";
  for (const bool interrupted : {false, true}) {
    SCOPED_TRACE(interrupted ? "interrupted" : "to the end");
    int in[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
      dup2(in[0], 0);
      close_range(3, ~0U, 0);
      execl("/bin/sh", "sh", "-c", ("exec " + program_under_test() + " -c -").c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    const std::string line = "N        1.000000000E+00-2.500000000E-01 2.000000000E+02-3.000000000E+00\n";
    std::string chunk;
    for (int i = 0; i < 8192; ++i) chunk += line;
    std::string seen;
    auto drain = [&](int ms) {
      pollfd p{master, POLLIN, 0};
      char buffer[4096];
      while (poll(&p, 1, ms) == 1) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) return false;
        seen.append(buffer, static_cast<std::size_t>(n));
      }
      return true;
    };
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(write(in[1], chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
      drain(300);
    }
    // Subtle: input stays open until an interrupted run has ended, or the end of input may win the race
    // with the signal and finish the check first.
    if (interrupted) {
      kill(pid, SIGINT);
    } else {
      close(in[1]);
    }
    while (drain(5000)) {
    }
    if (interrupted) close(in[1]);
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_NE(seen.find("\rquil: -  "), std::string::npos) << seen;
    EXPECT_NE(seen.rfind(" lines\r                    "), std::string::npos) << seen;
    if (interrupted) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
      EXPECT_EQ(seen.back(), '\r') << "the progress line stays";
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
      EXPECT_NE(
          seen.find("\r-: 49152 lines, 49152 with touching numbers, first at lines 1, 2, 3, 4, 5, LF line "
                    "ends to become CR LF\r\n"),
          std::string::npos)
          << seen;
    }
  }
}

}  // namespace
}  // namespace e2e
