// Names as users have them: letters outside ASCII, files other programs hold, names Windows keeps for its
// devices, long paths, and what batch files see of the exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "e2e/harness.h"

namespace e2e {
namespace {

TEST(UsersNames, LettersOutsideAscii) {
  TempDir dir;
  mkdir(dir.file("mod\xc3\xa8le").c_str(), 0755);
  mkdir(dir.file("Bj\xc3\xb8rn").c_str(), 0755);
  write_file(dir.file("mod\xc3\xa8le/plate.fem"), sample("plate.fem"));
  write_file(dir.file("\xc3\xa9t\xc3\xa9.fem"), sample("plate.fem"));
  // The dialogue from an answers file in UTF-8; a missing name is shown as it was typed.
  Result r = run(
      {.input = "M\xc3\xbcller/x.fem\nmod\xc3\xa8le/plate.fem\nBj\xc3\xb8rn/\xe6\x97\xa5\xe6\x9c\xac.fem\n",
       .cwd = dir.path()});
  EXPECT_EQ(r.out, banner() + kInputPrompt + refusal(" Nonexisting file :", "M\xc3\xbcller/x.fem") +
                       kInputPrompt + kOutputPrompt + summary(118));
  EXPECT_EQ(read_file(dir.file("Bj\xc3\xb8rn/\xe6\x97\xa5\xe6\x9c\xac.fem")), sample("plate.repaired.fem"));
  // The command line, and a report that names such a file.
  r = run({.cwd = dir.path(), .args = {"mod\xc3\xa8le/plate.fem", "Bj\xc3\xb8rn/T1.FEM"}});
  EXPECT_EQ(r.out,
            "mod\xc3\xa8le/plate.fem -> Bj\xc3\xb8rn/T1.FEM: 118 lines, 23 with touching numbers repaired, "
            "90 with numbers in "
            "another form rewritten, 5 padded to 72 columns" +
                eol());
  EXPECT_EQ(read_file(dir.file("Bj\xc3\xb8rn/T1.FEM")), sample("plate.repaired.fem"));
  // An answer that is not UTF-8 is read in the ANSI code page on Windows (0xE9 is e acute there); this
  // system takes the bytes as the name.
  r = run({.input = "\xe9t\xe9.fem\nout.fem\n", .cwd = dir.path()});
  if (windows_program()) {
    EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(118));
  } else {
    EXPECT_EQ(r.out.find(" Nonexisting file :\xe9t\xe9.fem"), banner().size() + kInputPrompt.size());
  }
}

TEST(UsersNames, AFileAnotherProgramLetsOthersRead) {
  TempDir dir;
  write_file(dir.file("held.fem"), sample("plate.fem"));
  Child holder({.cwd = dir.path(), .program = probe_program(), .args = {"hold-sharing-reads", "held.fem"}});
  ASSERT_TRUE(holder.wait_for_output("holding"));
  Result r = run({.input = "held.fem\nout.fem\n", .cwd = dir.path()});
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(118));
  EXPECT_EQ(read_file(dir.file("out.fem")), sample("plate.repaired.fem"));
  holder.finish();
  if (!windows_program()) return;  // this system has no such hold
  // Held for good, each file is named for what holds it.
  write_file(dir.file("a.fem"), sample("plate.fem"));
  write_file(dir.file("b.fem"), sample("plate.fem"));
  Child a({.cwd = dir.path(), .program = probe_program(), .args = {"hold-sharing-nothing", "a.fem"}});
  Child b({.cwd = dir.path(), .program = probe_program(), .args = {"hold-sharing-nothing", "b.fem"}});
  ASSERT_TRUE(a.wait_for_output("holding") && b.wait_for_output("holding"));
  r = run({.cwd = dir.path(), .args = {"-j1", "-i", "a.fem", "b.fem"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.find("quil: a.fem: skipped: it is held open by another program ("), 0u) << r.err;
  EXPECT_NE(r.err.find("\nquil: b.fem: skipped: it is held open by another program ("), std::string::npos);
  a.finish();
  b.finish();
}

TEST(UsersNames, NamesWindowsKeepsForDevicesAreNeverMade) {
  if (!windows_program()) GTEST_SKIP() << "this system keeps no file names for devices";
  TempDir dir;
  mkdir(dir.file("sub").c_str(), 0755);
  write_file(dir.file("in.fem"), sample("plate.fem"));
  // (aux.fem is the device AUX to the record layer itself, and stays one.)
  const char* names[] = {"COM5", "LPT5", "lpt1.txt", "sub\\com1.fem", "nul\\x.fem"};
  std::string answers = "in.fem\n", refusals;
  for (const char* name : names) {
    answers += std::string(name) + "\n";
    refusals += refusal(" Cannot Open  :", name) + kOutputPrompt;
  }
  Result r = run({.input = answers + "out.fem\n", .cwd = dir.path()});
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + refusals + summary(118));
  for (const char* name : {"COM5", "LPT5", "lpt1.txt", "sub/com1.fem"}) {
    EXPECT_FALSE(file_exists(dir.file(name))) << name;
  }
}

// A relative name whose full path is longer than old programs' 260 characters. Wine has no such limit,
// so this shows that such names reach the file and the reports, not the limit itself.
TEST(UsersNames, FullPathsLongerThan260Characters) {
  TempDir dir;
  std::string relative;
  for (int i = 0; i < 5; ++i) {
    relative += std::string(47, static_cast<char>('a' + i)) + "/";
    mkdir(dir.file(relative).c_str(), 0755);
  }
  write_file(dir.file(relative + "in.fem"), sample("plate.fem"));
  Result r = run({.input = relative + "in.fem\n" + relative + "out.fem\n", .cwd = dir.path()});
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(118));
  EXPECT_EQ(read_file(dir.file(relative + "out.fem")), sample("plate.repaired.fem"));
  r = run({.cwd = dir.path(), .args = {"-i", relative + "in.fem"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir.file(relative + "in.fem.orig")), sample("plate.fem"));
}

// Names and answers as Windows users give them, and what they get on either system.
TEST(UsersNames, NamesAndAnswersOnEitherSystem) {
  const bool windows = windows_program();
  struct Row {
    const char* what;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err_begins;
    bool windows_only = false;
  } rows[] = {
      // The parser's table has every way to ask for help; here, that Windows takes / for options.
      {"/? is help on Windows", {"/?"}, "", 0, "", true},
      {"NUL takes no repair on Windows, and says what does",
       {"in.fem", "NUL"},
       "",
       1,
       "quil: NUL: skipped: is a device, which takes no repair (-c checks a file without writing one)",
       true},
      {"a name that is all device and colon is refused, not a crash",
       {"NUL:", "out.fem"},
       "",
       1,
       "quil: NUL:: ",
       true},
      {"... in a folder too", {"-c", "sub\\NUL:"}, "", 2, "quil: sub\\NUL:: skipped: ", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.windows_only && !windows) continue;
    TempDir dir;
    mkdir(dir.file("sub").c_str(), 0755);
    write_file(dir.file("in.fem"), sample("plate.fem"));
    Result r = run({.input = row.input, .cwd = dir.path(), .args = row.args});
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err.substr(0, row.err_begins.size()), row.err_begins);
    if (row.args[0].find('?') != std::string::npos || row.args[0] == "/h") {
      EXPECT_EQ(r.out.rfind("Usage: quil", 0), 0u);
    }
  }
  // Answers files that an editor began with the UTF-8 mark, or that PowerShell 5.1 wrote in UTF-16.
  TempDir dir;
  write_file(dir.file("in.fem"), sample("plate.fem"));
  std::string utf16 = "\xFF\xFE";
  for (const char c : std::string("in.fem\r\nout.fem\r\n")) utf16 += {c, '\0'};
  Result r;
  for (const std::string& answers : {std::string("\xEF\xBB\xBFin.fem\nout.fem\n"), utf16}) {
    r = run({.input = answers, .cwd = dir.path()});
    EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(118));
  }
  // A name of 95 characters in 275 bytes: the dialogue's limit counts characters.
  std::string folder, long_name;
  for (int i = 0; i < 60; ++i) folder += "\xe6\x97\xa5";
  mkdir(dir.file(folder).c_str(), 0755);
  long_name = folder + "/";
  for (int i = 0; i < 30; ++i) long_name += "\xe6\x9c\xac";
  long_name += ".fem";
  r = run({.input = "in.fem\n" + long_name + "\n", .cwd = dir.path()});
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(118));
  EXPECT_EQ(read_file(dir.file(long_name)), sample("plate.repaired.fem"));
}

// What `if errorlevel 1` in a batch file sees: the command line's statuses, never a negative code.
TEST(UsersNames, StatusesThatBatchFilesCanTest) {
  if (!windows_program()) GTEST_SKIP() << "batch files are Windows'";
  TempDir dir;
  write_file(dir.file("a.fem"), sample("plate.fem"));
  std::istringstream words(program_under_test());
  std::string wine, exe;
  words >> wine >> exe;
  struct Row {
    std::string args;
    std::string out;
  } rows[] = {
      {"-c a.fem", "errorlevel 1"},
      {"-x", "errorlevel 2"},
      {"--", "errorlevel 2"},
      {"a.fem out.fem", "errorlevel 0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    const std::string line = shown_name(exe) + " " + row.args +
                             " >nul 2>nul & if errorlevel 2 (echo errorlevel 2) else if errorlevel 1 "
                             "(echo errorlevel 1) else (echo errorlevel 0)";
    Result r = run({.cwd = dir.path(), .program = wine + " cmd", .args = {"/c", line}});
    EXPECT_EQ(r.out.substr(0, row.out.size()), row.out);
  }
  // Repaired in place, a hidden file stays hidden, as its kept original does.
  const std::string line =
      "attrib +h a.fem & " + shown_name(exe) + " -i a.fem >nul & attrib a.fem & attrib a.fem.orig";
  const Result r = run({.cwd = dir.path(), .program = wine + " cmd", .args = {"/c", line}});
  EXPECT_EQ(r.out.substr(0, 5) + r.out.substr(r.out.find('\n') + 1, 5), "A   HA   H") << r.out;
  EXPECT_EQ(read_file(dir.file("a.fem")), sample("plate.repaired.fem"));
}

}  // namespace
}  // namespace e2e
