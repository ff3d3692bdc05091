// Roads on which data used to be lost or sent astray: closed pipes, failed reads, the console as a file,
// named pipes, device names, refusals, memory and file-size limits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "e2e/harness.h"

namespace e2e {
namespace {

const std::string kIn = "N        1.000000000E+00-2.500000000E-01 2.000000000E+02-3.000000000E+00\n";
const std::string kOut = "N         1.00000000E+00 -2.50000000E-01  2.00000000E+02 -3.00000000E+00\r\n";
const std::string kNoTrace = "RTL_DISABLE_STACK_TRACE=1";

std::string times(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

// The program under test in a shell, so that a redirection or a limit can be set around it.
Options in_shell(Options o, const std::string& before, const std::string& redirections) {
  o.program = "/bin/bash";
  o.args = {"-c", before + " exec " + program_under_test() + " " + redirections};
  return o;
}

TEST(Hostile, ClosedConsolePipeIsAWriteFailure) {
  TempDir dir;
  write_file(dir.file("big.fem"), times(kIn, 2000));
  for (const char* buffered : {"RTL_BUFFERED=0", "RTL_BUFFERED=1"}) {
    SCOPED_TRACE(buffered);
    Child child({.input = "big.fem\n", .env = {buffered, kNoTrace}, .cwd = dir.path()});
    ASSERT_TRUE(child.wait_for_output(kOutputPrompt));
    child.close_output();
    child.send("out.fem\n");
    Result r = child.finish();
    EXPECT_EQ(r.err, after_system_line(r.err, "Broken pipe",
                                       "rtl: severe (38): error during write, unit 6, file CONOUT$\r\r\n"));
    EXPECT_EQ(r.status, 38);
    EXPECT_TRUE(read_file(dir.file("out.fem")) == times(kOut, 2000));
  }
  // A report that finds standard error without a reader still ends with the failure's status.
  Result r = run({.cwd = dir.path(), .close_stderr_reader = true});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 24);
}

// The second read of the input file fails: the records of the first block are repaired once, and the
// failure is reported instead of sending a record down the copy path (the records go to standard output,
// which keeps what it was given).
TEST(Hostile, FailedReadIsReportedNotCopied) {
  TempDir dir;
  write_file(dir.file("big.fem"), times(kIn, 8000));
  for (const char* buffered : {"RTL_BUFFERED=0", "RTL_BUFFERED=1"}) {
    SCOPED_TRACE(buffered);
    Result r = run({.input = "big.fem\nCONOUT$\n",
                    .env = {buffered, kNoTrace},
                    .cwd = dir.path(),
                    .program = probe_program(),
                    .args = {"read-fails", "2"}});
    EXPECT_EQ(r.err, after_system_line(r.err, "Input/output error",
                                       "rtl: severe (39): error during read, unit 88, file " +
                                           shown_name(dir.file("big.fem")) + "\r\r\n"));
    EXPECT_EQ(r.status, 39);
    EXPECT_TRUE(r.out == banner() + kInputPrompt + kOutputPrompt + times(kOut, 262144 / 73));
  }
}

TEST(Hostile, ConsoleStreamsAsFiles) {
  TempDir dir;
  const std::string plate = sample("plate.fem"), repaired = sample("plate.repaired.fem");
  const std::string head = banner() + kInputPrompt + kOutputPrompt;
  write_file(dir.file("in.fem"), plate);
  write_file(dir.file("answers.txt"), "CON\nout.fem\n" + plate);
  struct Row {
    const char* what;
    Options options;
    int status;
    std::string log, err, out;
  } rows[] = {
      {"CON reads a standard input that is a file; the step back stays on it",
       in_shell({.cwd = dir.path()}, "", "<answers.txt >log.txt"), 0, head + summary(118), "", repaired},
      {"CON on a standard input pipe cannot step back",
       in_shell({.input = "CON\nout.fem\n" + plate, .env = {kNoTrace}, .cwd = dir.path()}, "", ">log.txt"),
       23, head, "rtl: severe (23): BACKSPACE error, unit 88, file CON\r\r\n", ""},
      {"CONOUT$ sends the repaired records to a standard output that is a file",
       in_shell({.input = "in.fem\nCONOUT$\n", .cwd = dir.path()}, "", ">log.txt"), 0,
       head + repaired + summary(118), "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    unlink(dir.file("out.fem").c_str());
    write_file(dir.file("out.fem"), "");
    Result r = run(row.options);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err, row.err);
    EXPECT_TRUE(read_file(dir.file("log.txt")) == row.log);
    EXPECT_TRUE(read_file(dir.file("out.fem")) == row.out);
  }
}

// Opens the other end of a named pipe without blocking, trying until the program has opened its end.
int open_other_end(const std::string& path, int flags) {
  for (int i = 0; i < 3000; ++i) {
    int fd = open(path.c_str(), flags | O_NONBLOCK);
    if (fd >= 0) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    usleep(10000);
  }
  return -1;
}

TEST(Hostile, PipesNamedAsFiles) {
  // Windows has no pipes among its files; Wine shows POSIX pipes as such, but (measured) opens them
  // without waiting for the other end and keeps reading after the writer has gone.
  if (windows_program()) GTEST_SKIP() << "no pipes among the files of Windows";
  TempDir dir;
  write_file(dir.file("big.fem"), times(kIn, 3000));
  ASSERT_EQ(mkfifo(dir.file("in.fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(dir.file("out.fifo").c_str(), 0600), 0);

  // Input: end of file when the writer closes.
  std::thread writer([&] {
    int fd = open_other_end(dir.file("in.fifo"), O_WRONLY);
    std::string data = times(kIn, 3000);
    if (fd >= 0 && write(fd, data.data(), data.size()) < 0) ADD_FAILURE() << "writing the pipe";
    if (fd >= 0) close(fd);
  });
  Result r = run({.input = "in.fifo\nout.fem\n", .cwd = dir.path()});
  writer.join();
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(3000));
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(read_file(dir.file("out.fem")) == times(kOut, 3000));

  // Output: a reader that leaves is a write failure.
  std::thread reader([&] {
    int fd = open(dir.file("out.fifo").c_str(), O_RDONLY | O_NONBLOCK);
    char buffer[1000];
    pollfd p{fd, POLLIN, 0};
    if (fd >= 0 && poll(&p, 1, 30000) == 1 && read(fd, buffer, sizeof buffer) <= 0)
      ADD_FAILURE() << "reading";
    if (fd >= 0) close(fd);
  });
  r = run({.input = "big.fem\nout.fifo\n", .env = {kNoTrace}, .cwd = dir.path()});
  reader.join();
  EXPECT_EQ(r.err, "rtl: Broken pipe\r\r\nrtl: severe (38): error during write, unit 90, file " +
                       dir.file("out.fifo") + "\r\r\n");
  EXPECT_EQ(r.status, 38);

  // The standard input named as a file, when it is a pipe.
  r = run({.input = "/dev/stdin\nout.fem\n" + times(kIn, 10), .cwd = dir.path()});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(read_file(dir.file("out.fem")) == times(kOut, 10));
}

TEST(Hostile, DeviceNames) {
  TempDir dir;
  write_file(dir.file("in.fem"), kIn);
  for (const char* name : {"nul.d/y", "con.txt/x", "AUX.dir/z.fem"}) {
    SCOPED_TRACE(name);
    std::string folder(name, std::string(name).find('/'));
    mkdir(dir.file(folder).c_str(), 0755);
    Result r = run({.input = "in.fem\n" + std::string(name) + "\n", .cwd = dir.path()});
    EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(1));
    EXPECT_EQ(read_file(dir.file(name)), kOut);
  }
  if (file_exists("/dev/lp1")) GTEST_SKIP() << "this machine has the device behind LPT2";
  Result r = run({.input = "in.fem\nLPT2\n", .env = {kNoTrace}, .cwd = dir.path()});
  EXPECT_EQ(r.out,
            banner() + kInputPrompt + kOutputPrompt + refusal(" Cannot Open  :", "LPT2") + kOutputPrompt);
  EXPECT_EQ(r.status, 24);
  EXPECT_FALSE(file_exists("/dev/lp1"));
}

TEST(Hostile, NewFileInAFolderWithoutWriteAccessIsAccessDenied) {
  if (!can_run_as_other_user()) GTEST_SKIP() << "cannot run the program as another user here";
  TempDir dir;
  chmod(dir.path().c_str(), 0755);
  Result r = run(as_other_user({.env = {"RTL_UNIT6=" + dir.file("console.txt"), kNoTrace}, .cwd = "/tmp"}));
  EXPECT_EQ(r.err, "rtl: severe (9): permission to access file denied, unit 6, file " +
                       shown_name(dir.file("console.txt")) + "\r\r\n");
  EXPECT_EQ(r.status, 9);
}

// Every allocation the run makes, from the record buffers to the report, fails at one of these limits:
// each run ends with the repaired file or with a report, never by a signal.
TEST(Hostile, MemoryRunsOut) {
#ifdef QUIL_SANITIZE
  GTEST_SKIP() << "the sanitizer's own memory needs no limit";
#endif
  if (windows_program()) GTEST_SKIP() << "Wine needs more address space than a limit would leave";
  TempDir dir;
  write_file(dir.file("big.fem"), times(kIn, 2000));
  for (const char* buffered : {"RTL_BUFFERED=0", "RTL_BUFFERED=1"}) {
    for (int kib = 0; kib <= 320; kib += 16) {
      SCOPED_TRACE(std::string(buffered) + " " + std::to_string(kib) + " KiB");
      unlink(dir.file("out.fem").c_str());
      Result r = run({.input = "big.fem\nout.fem\n",
                      .env = {buffered},
                      .cwd = dir.path(),
                      .program = probe_program(),
                      .args = {"memory", std::to_string(kib)}});
      ASSERT_EQ(r.signal, 0);
      if (r.status == 0) {
        EXPECT_TRUE(read_file(dir.file("out.fem")) == times(kOut, 2000));
      } else {
        EXPECT_EQ(r.err.substr(0, 13), "rtl: severe (") << r.err;
      }
    }
  }
  Result r = run(in_shell({.input = "/dev/zero\nout.fem\n", .env = {kNoTrace}, .cwd = dir.path()},
                          "ulimit -v 200000;", ""));
  EXPECT_EQ(r.err, "rtl: severe (22): input record too long, unit 88, file /dev/zero\r\r\n");
  EXPECT_EQ(r.status, 22);
}

// A line without end is judged by its first bytes, and never held whole: a sparse file of NULs, a device
// and a run of CR-only line ends, each far larger than a limit that leaves room for one longest record.
TEST(Hostile, ALineWithoutEndIsNotHeld) {
#ifdef QUIL_SANITIZE
  GTEST_SKIP() << "the sanitizer's own memory needs no limit";
#endif
  if (windows_program()) GTEST_SKIP() << "Wine needs more address space than a limit would leave";
  TempDir dir;
  write_file(dir.file("returns.fem"), std::string(40 << 20, '\r'));
  write_file(dir.file("nul.fem"), "");
  ASSERT_EQ(truncate(dir.file("nul.fem").c_str(), 3LL << 30), 0);
  const std::string other = ": skipped: not an interface file: line 1: ",
                    binary = "binary data (byte 0x00 at column 1)";
  const struct {
    const char* command;
    std::string err;
    int status;
  } rows[] = {
      {"-c nul.fem", "quil: nul.fem" + other + binary, 1},
      {"-c /dev/zero", "quil: /dev/zero" + other + binary, 1},
      {"-c returns.fem", "quil: returns.fem" + other + "a line longer than any record", 1},
      {"- - <returns.fem", "quil: -" + other + "a line longer than any record", 1},
      {"-c --any-format nul.fem", "quil: nul.fem: input record too long", 2},
  };
  for (const auto& row : rows) {
    Result r = run(in_shell({.cwd = dir.path()}, "ulimit -v 60000;", row.command));
    EXPECT_EQ(r.err, row.err + "\n") << row.command;
    EXPECT_EQ(r.status, row.status) << row.command;
  }
}

// The output is written whole or not at all: a file-size limit part way leaves none, and no temporary file.
TEST(Hostile, FileSizeLimitLeavesNoPartialOutput) {
  // Measured: Wine writes from its own POSIX process, which the limit's signal ends mid-record.
  if (windows_program()) GTEST_SKIP() << "a POSIX file-size limit ends Wine itself";
  TempDir dir;
  write_file(dir.file("big.fem"), times(kIn, 2000));
  for (const char* buffered : {"RTL_BUFFERED=0", "RTL_BUFFERED=1"}) {
    SCOPED_TRACE(buffered);
    Result r = run(in_shell({.input = "big.fem\nout.fem\n", .env = {buffered, kNoTrace}, .cwd = dir.path()},
                            "ulimit -f 100;", ""));
    EXPECT_EQ(r.err, "rtl: File too large\r\r\nrtl: severe (38): error during write, unit 90, file " +
                         dir.file("out.fem") + "\r\r\n");
    EXPECT_EQ(r.status, 38);
    EXPECT_FALSE(file_exists(dir.file("out.fem")));
    EXPECT_FALSE(file_exists(dir.file("out.fem.quil-1.tmp")));
  }
}

}  // namespace
}  // namespace e2e
