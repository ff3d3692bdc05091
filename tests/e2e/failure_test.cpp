// Failure reports on standard error, byte for byte, and the exit status that follows them.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e/harness.h"

namespace e2e {
namespace {

const std::string kEndOfInput = "rtl: severe (24): end-of-file during read, unit 5, file CONIN$\r\r\n";
const std::string kHeading =
    "Image              PC        Routine            Line        Source             \r\n";
const std::string kRecord = "GRID     1.000000000E+00-2.500000000E-01 2.000000000E+02-3.000000000E+00\n";

// Checks the heading and frame lines of a traceback and returns how many frames it shows.
int traceback_frames(const std::string& text) {
  EXPECT_EQ(text.substr(0, kHeading.size()), kHeading);
  // "%-17.17s  %8.8lX  %-17.17s  %10.10s  %s" with Unknown for routine, line and source.
  auto is_frame = [](const std::string& line) {
    static const std::string tail =
        "  Unknown          "
        "     Unknown  Unknown\r\n";
    if (line.size() != 19 + 8 + tail.size() || line.compare(17, 2, "  ") != 0) return false;
    for (char c : line.substr(19, 8)) {
      if (!std::isxdigit(static_cast<unsigned char>(c)) || std::islower(static_cast<unsigned char>(c)))
        return false;
    }
    return line.compare(27, tail.size(), tail) == 0;
  };
  int frames = 0;
  std::string rest = text.substr(std::min(text.size(), kHeading.size()));
  while (!rest.empty()) {
    std::size_t end = rest.find("\r\n");
    if (end == std::string::npos) {
      ADD_FAILURE() << "frame line without line end: " << rest;
      break;
    }
    std::string one = rest.substr(0, end + 2);
    EXPECT_TRUE(is_frame(one)) << one;
    rest.erase(0, end + 2);
    ++frames;
  }
  return frames;
}

TEST(Failure, EndOfInputAtTheFirstQuestion) {
  TempDir dir;
  Result r = run({.cwd = dir.path()});
  EXPECT_EQ(r.out, banner() + kInputPrompt);
  ASSERT_EQ(r.err.substr(0, kEndOfInput.size()), kEndOfInput);
  int frames = traceback_frames(r.err.substr(kEndOfInput.size()));
  EXPECT_GE(frames, 1);
  EXPECT_LE(frames, 20);
  EXPECT_EQ(r.status, 24);
}

TEST(Failure, EndOfInputAtTheSecondQuestionCreatesNoOutput) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord);
  Result r = run({.input = "in.fem\n", .env = {"RTL_DISABLE_STACK_TRACE=yes"}, .cwd = dir.path()});
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt);
  EXPECT_EQ(r.err, kEndOfInput);
  EXPECT_EQ(r.status, 24);
  EXPECT_EQ(read_file(dir.file("in.fem")), kRecord);
}

// Without the 16384-byte report buffer a buffer of the report's own size gives the line without the
// traceback; without that either, the number stands alone.
TEST(Failure, ReportBufferRefused) {
  TempDir dir;
  struct Row {
    const char* below;
    std::string err;
  } rows[] = {{"16384", kEndOfInput}, {"1", "24"}};
  for (const Row& row : rows) {
    Result r =
        run({.cwd = dir.path(), .program = probe_program(), .args = {"report-buffers-below", row.below}});
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.status, 24);
  }
}

TEST(Failure, SwitchesShapeTheReport) {
  TempDir dir;
  struct Case {
    std::vector<std::string> env;
    bool traceback;
  } cases[] = {
      {{"RTL_DISABLE_STACK_TRACE=yes"}, false},
      {{"rtl_disable_stack_trace=T"}, false},  // names match without regard to case
      {{"RTL_DISABLE_STACK_TRACE=007"}, false},
      {{"RTL_DISABLE_STACK_TRACE=0"}, true},
      {{"RTL_DISABLE_STACK_TRACE=no"}, true},
      {{"RTL_DISABLE_STACK_TRACE="}, true},
      {{"RTL_DISABLE_STACK_TRACE=1x"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.env[0]);
    Result r = run({.env = c.env, .cwd = dir.path()});
    ASSERT_EQ(r.err.substr(0, kEndOfInput.size()), kEndOfInput);
    EXPECT_EQ(r.err.size() > kEndOfInput.size(), c.traceback);
    EXPECT_EQ(r.status, 24);
  }
}

TEST(Failure, LogFileWithDisplayOff) {
  TempDir dir;
  write_file(dir.file("log.txt"), "earlier\r\n");
  Result r =
      run({.env = {"RTL_DISABLE_DIAGNOSTIC_DISPLAY=1", "RTL_DIAGNOSTIC_LOG_FILE=" + dir.file("log.txt")},
           .cwd = dir.path()});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 24);
  std::string log = read_file(dir.file("log.txt"));
  ASSERT_EQ(log.substr(0, 9 + kEndOfInput.size()), "earlier\r\n" + kEndOfInput);
  EXPECT_GE(traceback_frames(log.substr(9 + kEndOfInput.size())), 1);
}

TEST(Failure, Unit0SendsReportsToAFile) {
  TempDir dir;
  write_file(dir.file("errors.txt"), "before\r\n");
  Result r =
      run({.env = {"RTL_UNIT0=" + dir.file("errors.txt"), "RTL_DISABLE_STACK_TRACE=1"}, .cwd = dir.path()});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(dir.file("errors.txt")), "before\r\n" + kEndOfInput);
  EXPECT_EQ(r.status, 24);
}

// A file that cannot be opened for RTL_UNIT0 leaves standard error where it was.
TEST(Failure, Unit0ThatCannotBeOpenedKeepsStandardError) {
  TempDir dir;
  Result r = run({.env = {"RTL_UNIT0=" + dir.file("no/such/dir/errors.txt"), "RTL_DISABLE_STACK_TRACE=1"},
                  .cwd = dir.path()});
  EXPECT_EQ(r.err, kEndOfInput);
  EXPECT_EQ(r.status, 24);
}

TEST(Failure, DumpFlagEndsAbnormally) {
  TempDir dir;
  Result r = run({.env = {"rtl_dump_flag=y", "RTL_DISABLE_STACK_TRACE=1"}, .cwd = dir.path()});
  EXPECT_EQ(r.err, kEndOfInput + "\r\nabnormal program termination\r\n");
  EXPECT_EQ(r.status, 3);
}

// Without a debugger attached, asking to break into one must not turn the failure into success.
TEST(Failure, DebuggerSwitchWithoutDebuggerKeepsTheStatus) {
  TempDir dir;
  Result r = run({.env = {"RTL_IS_DEBUGGER_PRESENT=1", "RTL_DISABLE_STACK_TRACE=1"}, .cwd = dir.path()});
  EXPECT_EQ(r.err, kEndOfInput);
  EXPECT_EQ(r.status, 24);
}

TEST(Failure, FullDiskWhileWriting) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord);
  Result r = run({.input = "in.fem\n/dev/full\n", .env = {"RTL_DISABLE_STACK_TRACE=1"}, .cwd = dir.path()});
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt);
  EXPECT_EQ(r.err, after_system_line(r.err, "No space left on device",
                                     "rtl: severe (38): error during write, unit 90, file " +
                                         shown_name("/dev/full") + "\r\r\n"));
  EXPECT_EQ(r.status, 38);
}

// A small file system fills up part way: the report names the output, which is not made, and no
// temporary file stays.
TEST(Failure, FileSystemFillsUpPartWay) {
  TempDir dir;
  std::string small = dir.file("small");
  mkdir(small.c_str(), 0755);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  std::string input;
  for (int i = 0; i < 5000; ++i) input += kRecord;
  write_file(dir.file("in.fem"), input);
  Result r =
      run({.input = "in.fem\nsmall/out.fem\n", .env = {"RTL_DISABLE_STACK_TRACE=1"}, .cwd = dir.path()});
  DIR* folder = opendir(small.c_str());
  int entries = 0;
  while (folder != nullptr && readdir(folder) != nullptr) ++entries;
  if (folder != nullptr) closedir(folder);
  umount(small.c_str());
  EXPECT_EQ(r.status, 38);
  EXPECT_EQ(r.err, after_system_line(r.err, "No space left on device",
                                     "rtl: severe (38): error during write, unit 90, file " +
                                         shown_name(small + "/out.fem") + "\r\r\n"));
  EXPECT_EQ(entries, 2);  // . and ..
}

// A file that can only be read is refused as the output and asked again, as the dialogue refuses any
// name it cannot use; the file keeps what it held.
TEST(Failure, ReadOnlyOutputFileIsAskedAgain) {
  if (!can_run_as_other_user()) GTEST_SKIP() << "cannot run the program as another user here";
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  write_file(dir.file("in.fem"), kRecord);
  write_file(dir.file("out.fem"), "keep me\r\n");
  chmod(dir.file("in.fem").c_str(), 0644);
  chmod(dir.file("out.fem").c_str(), 0444);
  Result r = run(as_other_user({.input = "in.fem\nout.fem\nnew.fem\n", .cwd = dir.path()}));
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + refusal(" Cannot Open  :", "out.fem") +
                       kOutputPrompt + summary(1));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir.file("out.fem")), "keep me\r\n");
  EXPECT_EQ(read_file(dir.file("new.fem")).size(), 74u);
}

TEST(Failure, Unit5NamingAMissingFile) {
  TempDir dir;
  Result r = run({.env = {"RTL_UNIT5=missing.txt", "RTL_DISABLE_STACK_TRACE=1"}, .cwd = dir.path()});
  EXPECT_EQ(r.out, banner() + kInputPrompt);
  EXPECT_EQ(r.err, "rtl: severe (29): file not found, unit 5, file " + shown_name(dir.file("missing.txt")) +
                       "\r\r\n");
  EXPECT_EQ(r.status, 29);
}

TEST(Failure, Unit5NamingAFileReadsTheAnswersFromIt) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord);
  write_file(dir.file("answers.txt"), "in.fem\nout.fem\n");
  Result r = run({.env = {"RTL_UNIT5=answers.txt"}, .cwd = dir.path()});
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(1));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST(Failure, ProcessorExceptions) {
  struct Case {
    const char* mode;
    std::string report;
    int status;
  } cases[] = {
      {"segv", "rtl: severe (157): Program Exception - access violation\r\r\n", 157},
      {"stack", "rtl: severe (170): Program Exception - stack overflow\r\r\n", 170 & 0xFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Result r = run({.program = probe_program(), .args = {c.mode}});
    ASSERT_EQ(r.err.substr(0, c.report.size()), c.report);
    EXPECT_GE(traceback_frames(r.err.substr(c.report.size())), 1);
    EXPECT_EQ(r.status, c.status);
  }
}

// A severe failure raised as an exception takes the road of processor exceptions.
TEST(Failure, DebugExceptionInsteadOfTheReport) {
  Result r = run({.env = {"RTL_GENERATE_DEBUG_EXCEPTION=1"}});
  const std::string report = "rtl: severe (169): Program Exception - noncontinuable exception\r\r\n";
  ASSERT_EQ(r.err.substr(0, report.size()), report);
  EXPECT_GE(traceback_frames(r.err.substr(report.size())), 1);
  EXPECT_EQ(r.status, 169);
}

// With a tracer attached and the switch on, a severe failure breaks into it after its one report and
// still ends with its own status; a processor exception is reported once and passed on to the tracer.
// Raising a severe failure as an exception works from inside a processor exception too.
TEST(Failure, DebuggerRoad) {
  const bool tracer = access("/usr/bin/strace", X_OK) == 0;
  struct Row {
    const char* what;
    bool traced;
    std::vector<std::string> env, args;
    std::string err;
    int status, signal;
  } rows[] = {
      {"a severe failure under a tracer", true, {"RTL_IS_DEBUGGER_PRESENT=1"}, {}, kEndOfInput, 24, 0},
      {"a processor exception under a tracer",
       true,
       {"RTL_IS_DEBUGGER_PRESENT=1"},
       {"segv"},
       "rtl: severe (157): Program Exception - access violation\r\r\n",
       -1,
       SIGSEGV},
      {"a debug exception in place of a processor exception's report",
       false,
       {"RTL_GENERATE_DEBUG_EXCEPTION=1"},
       {"segv"},
       "rtl: severe (169): Program Exception - noncontinuable exception\r\r\n",
       169,
       0},
  };
  bool untried = false;
  for (Row& row : rows) {
    SCOPED_TRACE(row.what);
    // A tracer of Wine's process is no Windows debugger: the program never sees one attached.
    if (row.traced && windows_program()) continue;
    if (row.traced && !tracer) {
      untried = true;
      continue;
    }
    row.env.push_back("RTL_DISABLE_STACK_TRACE=1");
    std::string program = row.args.empty() ? program_under_test() : probe_program();
    if (row.traced) row.args.insert(row.args.begin(), {"-f", "-o", "/dev/null", program});
    Result r = run({.env = row.env, .program = row.traced ? "/usr/bin/strace" : program, .args = row.args});
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.signal, row.signal);
  }
  if (untried) GTEST_SKIP() << "strace is missing: the rows under a tracer did not run";
}

TEST(Failure, IgnoredExceptionsGoToTheSystem) {
  Result r = run({.env = {"RTL_IGNORE_EXCEPTIONS=1"}, .program = probe_program(), .args = {"segv"}});
  if (windows_program()) {
    // The system ends the process with the exception's code; Wine says so in words of its own.
    EXPECT_EQ(r.err.find("rtl:"), std::string::npos) << r.err;
    EXPECT_EQ(r.status, 0xC0000005 & 0xFF);
  } else {
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.signal, SIGSEGV);
  }
}

TEST(Failure, DeepStackShowsTwentyFrames) {
  Result r = run({.program = probe_program(), .args = {"deep"}});
  ASSERT_EQ(r.err.substr(0, kEndOfInput.size()), kEndOfInput);
  EXPECT_EQ(traceback_frames(r.err.substr(kEndOfInput.size())), 20);
}

TEST(Failure, VerboseTraceback) {
  Result r = run({.env = {"RTL_ENABLE_VERBOSE_STACK_TRACE=1"}});
  std::string head =
      kEndOfInput + "\r\nTraceback symbolic or hex stack dump follows:\r\n\r\n--------- Frame # 0\r\n";
  EXPECT_EQ(r.err.substr(0, head.size()), head);
  // A processor exception shows its saved registers before the frames.
  r = run({.env = {"RTL_ENABLE_VERBOSE_STACK_TRACE=1"}, .program = probe_program(), .args = {"segv"}});
  head =
      "rtl: severe (157): Program Exception - access violation\r\r\n\r\nTraceback symbolic or hex stack dump "
      "follows:\r\n\r\nRIP = ";
  EXPECT_EQ(r.err.substr(0, head.size()), head);
  EXPECT_LT(r.err.find("RSP = "), r.err.find("--------- Frame # 0"));
}

TEST(Failure, FlawedDivisionEndsBeforeTheBanner) {
  Result r = run({.env = {"RTL_DISABLE_STACK_TRACE=1"}, .program = probe_program(), .args = {"flawed-fdiv"}});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "rtl: severe (201): floating-point divide flaw detected, please update the processor\r\r\n");
  EXPECT_EQ(r.status, 201);

  r = run({.env = {"RTL_RUN_FLAWED_FDIV=yes", "RTL_DISABLE_STACK_TRACE=1"},
           .program = probe_program(),
           .args = {"flawed-fdiv"}});
  EXPECT_EQ(r.out, banner() + kInputPrompt);
  EXPECT_EQ(r.status, 24);
}

TEST(Failure, DriverThatReturnsEndsWithZero) {
  Result r = run({.program = probe_program(), .args = {"return"}});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

// Start-up switches change nothing on the console of a normal run.
// Every switch that shapes reports is on, and a normal run still writes no line of report anywhere: not on
// standard error, not in the diagnostic log, not in the file that standard error would go to.
TEST(Failure, NormalRunIsSilent) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord);
  Result r = run({.input = "in.fem\nout.fem\n",
                  .env = {"RTL_DIAGNOSTIC_LOG_FILE=" + dir.file("log"), "RTL_UNIT0=" + dir.file("err"),
                          "RTL_ENABLE_VERBOSE_STACK_TRACE=1", "RTL_NOERROR_DIALOGS=1",
                          "RTL_RUN_FLAWED_FDIV=yes", "RTL_BUFFERED=1"},
                  .cwd = dir.path()});
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(1));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(file_exists(dir.file("log")));
  EXPECT_FALSE(file_exists(dir.file("err")));
}

}  // namespace
}  // namespace e2e
