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
#include <thread>

#include "e2e/harness.h"

namespace e2e {
namespace {

std::string sample(const std::string& name) { return read_file(std::string(QUIL_SAMPLES) + "/" + name); }

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

const std::string kUsage = "Usage: quil [INPUT [OUTPUT]] | quil -i [--no-backup] FILE... | quil -c FILE...\r\n";

TEST(CommandLine, RepairsBesideInPlaceAndAsAFilter) {
  const std::string plate = sample("plate.fem"), plate_repaired = sample("plate.repaired.fem");
  const std::string text = sample("text-records.fem"), text_repaired = sample("text-records.repaired.fem");
  struct Row {
    const char* what;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out, err, files;
    std::vector<std::pair<std::string, std::string>> contents;
  } rows[] = {
      {"INPUT OUTPUT: no dialogue, a line once the file is in place",
       {"a.fem", "new.fem"}, "", 0, "a.fem -> new.fem: 118 lines, 23 with touching numbers repaired\r\n", "",
       "a.fem b.fem new.fem ", {{"new.fem", plate_repaired}, {"a.fem", plate}}},
      {"an old, longer OUTPUT is replaced whole",
       {"b.fem", "a.fem"}, "", 0, "b.fem -> a.fem: 26 lines, 7 with touching numbers repaired\r\n", "",
       "a.fem b.fem ", {{"a.fem", text_repaired}}},
      {"a filter: text records in piped input, the line on standard error",
       {"-", "-"}, text, 0, text_repaired, "- -> -: 26 lines, 7 with touching numbers repaired\r\n", "a.fem b.fem ", {}},
      {"the file being repaired is refused as OUTPUT",
       {"a.fem", "./a.fem"}, "", 1, "",
       "quil: ./a.fem: skipped: cannot open: it is the file being repaired (-i repairs in place)\r\n", "a.fem b.fem ",
       {{"a.fem", plate}}},
      {"in place, many files: a missing one skipped, originals kept",
       {"-i", "a.fem", "missing.fem", "b.fem"}, "", 1,
       "a.fem: 118 lines, 23 with touching numbers repaired, original kept in a.fem.orig\r\n"
       "b.fem: 26 lines, 7 with touching numbers repaired, original kept in b.fem.orig\r\n",
       "quil: missing.fem: skipped: file not found\r\n", "a.fem a.fem.orig b.fem b.fem.orig ",
       {{"a.fem", plate_repaired}, {"a.fem.orig", plate}, {"b.fem", text_repaired}, {"b.fem.orig", text}}},
      {"without a backup", {"--in-place", "--no-backup", "a.fem"}, "", 0,
       "a.fem: 118 lines, 23 with touching numbers repaired\r\n", "", "a.fem b.fem ", {{"a.fem", plate_repaired}}},
      {"check: writes nothing, status 1 when a file needs repair",
       {"-c", "a.fem", "b.fem"}, "", 1,
       "a.fem: 118 lines, 23 with touching numbers, first at lines 29, 30, 31, 32, 33\r\n"
       "b.fem: 26 lines, 7 with touching numbers, first at lines 7, 10, 11, 16, 20\r\n", "", "a.fem b.fem ",
       {{"a.fem", plate}}},
      {"check of clean input, read from a pipe", {"--check", "--", "-"}, plate_repaired, 0,
       "-: 118 lines, no touching numbers\r\n", "", "a.fem b.fem ", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    write_file(dir.file("a.fem"), plate);
    write_file(dir.file("b.fem"), text);
    Result r = run({.input = row.input, .cwd = dir.path(), .args = row.args});
    EXPECT_EQ(r.status, row.status);
    EXPECT_TRUE(r.out == row.out) << r.out;
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(listing(dir.path()), row.files);
    for (const auto& [name, content] : row.contents) EXPECT_TRUE(read_file(dir.file(name)) == content) << name;
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
  EXPECT_EQ(r.status, 1);
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

TEST(CommandLine, AnEventPartWayLeavesTheFileAsItWas) {
  TempDir dir;
  Result g = run({.program = QUIL_GENERATOR, .args = {"3000000", "5", "12"}});
  write_file(dir.file("big.fem"), g.out);
  Child child({.cwd = dir.path(), .args = {"-i", "big.fem"}});
  // Once the temporary file has records in it, the run is part way.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (read_file(dir.file("big.fem.quil-1.tmp")).size() < 1000000 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  child.signal(SIGINT);
  Result r = child.finish();
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.err, "rtl: error (200): program aborting due to control-C event\r\r\n");
  EXPECT_EQ(listing(dir.path()), "big.fem ");
  EXPECT_TRUE(read_file(dir.file("big.fem")) == g.out);
}

TEST(CommandLine, UsageHelpAndVersion) {
  struct Row {
    std::vector<std::string> args;
    int status;
    std::string err;
    std::string out_begins = "";
  } rows[] = {
      {{"-x"}, 2, "quil: unknown option '-x'\r\n" + kUsage},
      {{"--in-place"}, 2, "quil: no FILE named\r\n" + kUsage},
      {{"-c"}, 2, "quil: no FILE named\r\n" + kUsage},
      {{"-i", "-c", "a"}, 2, "quil: -i and -c exclude each other\r\n" + kUsage},
      {{"--no-backup", "a", "b"}, 2, "quil: --no-backup goes with -i\r\n" + kUsage},
      {{"-i", "-"}, 2, "quil: standard input cannot be repaired in place\r\n" + kUsage},
      {{"a", "b", "c"}, 2, "quil: more than INPUT and OUTPUT named; -i repairs many files in place\r\n" + kUsage},
      {{"--", "-x", "out"}, 1, "quil: -x: skipped: file not found\r\n"},  // a name after --
      {{"-V"}, 0, "", "quil 1.0\r\n"},
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

TEST(CommandLine, OneNameIsTheDialogueWithItsFirstAnswer) {
  TempDir dir;
  write_file(dir.file("in.fem"), sample("plate.fem"));
  Result r = run({.input = "out.fem\n", .cwd = dir.path(), .args = {"in.fem"}});
  EXPECT_EQ(r.out, banner() + kInputPrompt + "in.fem\r\n" + kOutputPrompt + summary(118));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir.file("out.fem")), sample("plate.repaired.fem"));
  r = run({.input = "in.fem\nout.fem\n", .cwd = dir.path(), .args = {"missing.fem"}});
  EXPECT_EQ(r.out, banner() + kInputPrompt + "missing.fem\r\n" + refusal(" Nonexisting file :", "missing.fem") +
                       kInputPrompt + kOutputPrompt + summary(118));
}

// A check that takes longer than a second shows its progress on a terminal, then erases it. Its input
// comes slowly through a pipe; everything else is the terminal.
TEST(CommandLine, ProgressOnlyOnATerminal) {
  if (windows_program()) GTEST_SKIP() << "Wine gives a program under a pseudo-terminal no console of its own";
  int in[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    dup2(in[0], 0);
    close_range(3, ~0U, 0);
    execl("/bin/sh", "sh", "-c", ("exec " + program_under_test() + " -c -").c_str(), static_cast<char*>(nullptr));
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
  close(in[1]);
  while (drain(5000)) {
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_NE(seen.find("\rquil: -  "), std::string::npos) << seen;
  EXPECT_NE(seen.find(" lines\r                    "), std::string::npos) << seen;
  EXPECT_NE(seen.find("\r-: 49152 lines, 49152 with touching numbers, first at lines 1, 2, 3, 4, 5\r\r\n"),
            std::string::npos)
      << seen;
}

}  // namespace
}  // namespace e2e
