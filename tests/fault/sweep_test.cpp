// Every call may fail: the dialogue repairs a file while the Nth call of one kind fails (or a console event
// arrives at the Nth write), for every N until the calls of that kind run out. The program under test is
// the one whose door fails calls on request, on either system (QUIL_FAULTY names it; allocations fail
// through a preloaded library, on this system only). Whatever happens, the run ends by itself with a
// status and a report (or, named on the command line, by an event's own signal), and the output is the
// old one or the whole repair: never a record twice, never old bytes after new ones, nothing left behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <string_view>

#include "e2e/harness.h"

namespace e2e {
namespace {

struct Kind {
  const char* name;
  bool signal = false;  // a console event, not a failed call
};
// (No road of the program truncates a file or removes one before a failure: a repair is written to a
// file of its own, which only a failure removes.)
const Kind kKinds[] = {{"malloc"}, {"read"},  {"write"}, {"open"},
                       {"seek"},   {"close"}, {"stat"},  {"signal", true}};

// The names in a folder that are not among `allowed`.
std::string strangers(const std::string& folder, std::initializer_list<std::string_view> allowed) {
  std::string found;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string_view name = e->d_name;
      if (name != "." && name != ".." && std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
        found += std::string(name) + " ";
      }
    }
    closedir(d);
  }
  return found;
}

std::string faulty_program() {
  const char* env = getenv("QUIL_FAULTY");
  return env != nullptr && *env != '\0' ? env : QUIL_FAULTY;
}

std::vector<std::string> fault_environment(const TempDir& dir, const std::string& fault) {
  std::vector<std::string> env = {"QUIL_FAULT=" + fault, "QUIL_FAULT_FIRED=" + dir.file("fired"),
                                  "RTL_DISABLE_STACK_TRACE=1"};
  // Wine keeps its server's socket in TMPDIR: another one would start a server for every run.
  if (!windows_program()) env.push_back("TMPDIR=" + dir.file("tmp"));
  if (fault.find("malloc") != std::string::npos) {
    env.insert(env.end(), {"LD_PRELOAD=" QUIL_FAULT_LIBRARY, "ASAN_OPTIONS=verify_asan_link_order=0"});
  }
  return env;
}

// Allocations fail through a library preloaded into the program, which Wine's programs are not.
bool skipped(const std::string& kind) {
#ifdef QUIL_SANITIZE
  if (kind == "malloc") return true;  // a sanitizer's allocator cannot be replaced
#endif
  return kind == "malloc" && windows_program();
}

struct Sweep {
  std::string input, expected;
  int step;  // every Nth N
  int runs = 0, fired = 0;
  int fired_by[std::size(kKinds)][4] = {};  // runs whose fault fired, by kind and mode
};

// The ways a file is repaired: buffered or not, and the input named on the command line (dropped on the
// program) or answered, over an old output. (An old output is never opened before the repair is whole,
// so that answered over one, a run makes the same calls as without.)
enum Mode { kBuffered = 1, kOverOld = 2, kDropped = 4 };
constexpr int kModes[] = {0, kBuffered, kDropped | kOverOld, kDropped | kOverOld | kBuffered};

// One run with the fault at N; false once N is past the last call of the kind.
bool run_once(Sweep& s, const Kind& kind, int n, int mode, const std::string& extra) {
  const bool buffered = mode & kBuffered, old_output = mode & kOverOld, dropped = mode & kDropped;
  TempDir dir;
  const std::string tmp = dir.file("tmp");
  mkdir(tmp.c_str(), 0700);
  write_file(dir.file("in.fem"), s.input);
  const std::string old(old_output ? s.expected.size() + 1000 : 0, 'o');
  if (old_output) write_file(dir.file("out.fem"), old);
  std::string fault = std::string(kind.name) + ":" + std::to_string(n) + extra;
  std::vector<std::string> env = fault_environment(dir, fault);
  env.push_back(buffered ? "RTL_BUFFERED=1" : "RTL_BUFFERED=0");
  const Options options{.input = dropped ? "out.fem\n" : "in.fem\nout.fem\n",
                        .env = env,
                        .cwd = dir.path(),
                        .program = faulty_program(),
                        .args = dropped ? std::vector<std::string>{"in.fem"} : std::vector<std::string>{}};
  Result r = Child(options).finish(20);
  // Subtle: under a loaded machine Wine now and then fails to start a program, which then writes not even
  // the banner; such a run is tried again, once (the fault had not fired: nothing of it ran).
  if (windows_program() && r.status != 0 && r.out.empty() && r.err.empty() &&
      !file_exists(dir.file("fired"))) {
    std::printf("Wine did not start the program (status %d): tried again\n", r.status);
    r = Child(options).finish(20);
  }
  const bool fired = file_exists(dir.file("fired"));
  ++s.runs;
  s.fired += fired;
  SCOPED_TRACE(fault + (buffered ? " buffered" : "") + (old_output ? " over an old file" : "") +
               (dropped ? " dropped" : "") + "\n" + r.err);
  const std::string out = read_file(dir.file("out.fem"));
  // A file named on the command line is an argument mode: an event ends it silently, by its own signal
  // (on Windows with the status of a program that control-C ended).
  const bool event_end = kind.signal && fired && dropped;
  const bool silent = r.signal != 0 || (windows_program() && r.status == (0xC000013A & 0xff));
  EXPECT_TRUE(r.signal == 0 || (event_end && (r.signal == SIGQUIT || r.signal == SIGHUP))) << r.signal;
  EXPECT_EQ(r.err.find("[harness: killed after time-out]"), std::string::npos);
  if (r.status == 0) {
    EXPECT_TRUE(out == s.expected) << "status 0 with an incomplete output of " << out.size() << " bytes";
    const std::string tail = summary(static_cast<int>(s.expected.size() / 74));
    EXPECT_TRUE(r.out.size() >= tail.size() &&
                r.out.compare(r.out.size() - tail.size(), tail.size(), tail) == 0);
  } else {
    EXPECT_TRUE((event_end && silent) || r.err.find("rtl: ") != std::string::npos ||
                r.err.find("quil: ") != std::string::npos)
        << "status " << r.status << " without a report";
    // A disk file is written under a temporary name: the old output (or none) or the whole repair.
    EXPECT_TRUE(out == old || out == s.expected) << "neither the old output nor the repair";
    // In the dialogue an event ends the run with its own number.
    EXPECT_TRUE(!kind.signal || !fired || event_end || r.status == 1 || r.status == 2) << r.status;
    // A step back that a failed call stopped names the call's cause, as every transfer failure does.
    EXPECT_TRUE(r.err.find("severe (23)") == std::string::npos || r.err.find("rtl: Input/output error") == 0);
  }
  EXPECT_EQ(strangers(tmp, {}), "");
  EXPECT_EQ(strangers(dir.path(), {"in.fem", "out.fem", "tmp", "fired"}), "");
  return fired;
}

int failures_so_far() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}
bool failed_since(int failures) { return failures_so_far() != failures; }

TEST(FaultSweep, EveryCallOfEveryKind) {
  int failures = 0;
  const auto start = std::chrono::steady_clock::now();
  Sweep sample{e2e::sample("plate.fem"), e2e::sample("plate.repaired.fem"), 1};
  const Result generated = run({.program = QUIL_GENERATOR, .args = {"3000", "11", "300"}});
  Sweep larger{generated.out, "", 50};
  {
    TempDir dir;
    write_file(dir.file("in.fem"), larger.input);
    run({.input = "in.fem\nout.fem\n", .cwd = dir.path()});
    larger.expected = read_file(dir.file("out.fem"));
  }
#ifdef QUIL_SANITIZE
  // Under the sanitizer a sampled subset; its own allocator cannot be replaced.
  sample.step = 3;
  larger.step = 150;
#endif
  for (Sweep* s : {&sample, &larger}) {
    for (const Kind& kind : kKinds) {
      if (skipped(kind.name)) continue;
      const std::size_t k = static_cast<std::size_t>(&kind - kKinds);
      for (std::size_t mode = 0; mode < std::size(kModes) && (s == &sample || mode < 2); ++mode) {
        // The first run that fails stands for its kind and mode; the sweep goes on with the next.
        for (int n = 1; n < 100000 && !failed_since(failures); n += s->step) {
          if (!run_once(*s, kind, n, kModes[mode], "")) break;
          ++s->fired_by[k][mode];
        }
        // A kind that never fires sweeps nothing.
        EXPECT_TRUE(failed_since(failures) || s->fired_by[k][mode] > 0) << kind.name << " mode " << mode;
        failures = failures_so_far();
      }
    }
  }
  // A failed allocation at start-up, then a console event: never a death without a report.
  for (int n = 1; n < 200 && !skipped("malloc") && !failed_since(failures); ++n) {
    if (!run_once(sample, kKinds[0], n, kBuffered, ",signal:5")) break;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "runs with the fault fired: kind, then default / buffered / dropped / dropped buffered (the sample), "
      "then the first two for the larger input\n");
  for (std::size_t k = 0; k < std::size(kKinds); ++k) {
    std::printf("  %-8s", kKinds[k].name);
    for (const Sweep* s : {&sample, &larger}) {
      for (int mode = 0; mode < (s == &sample ? 4 : 2); ++mode) std::printf(" %5d", s->fired_by[k][mode]);
      std::printf("   ");
    }
    std::printf("\n");
  }
  std::printf("fault sweep: %d runs (%d with the fault fired) on the sample, %d on %zu lines, %.1f s\n",
              sample.runs, sample.fired, larger.runs, larger.input.size() / 74, seconds);
}

// An event and the failed read that it brings (a closed window, input ended with control-C) end the run
// once: whichever claimed the end first writes the only report, and the status is its own. An event that
// has arrived but whose handler has not yet run comes first (the machine may be too busy to run it).
TEST(FaultSweep, AnEventAndAFailedReadEndTheRunOnce) {
  const std::string end_of_file = "rtl: severe (24): end-of-file during read, unit 5, file CONIN$\r\r\n";
  const struct {
    int event, status;
    const char* name;
  } events[] = {{0, 0, "control-C"}, {1, 1, "control-BREAK"}, {2, 2, "window-CLOSE"}};
  for (const auto& e : events) {
    // lateevent: the event thread is kept from the event until the end of input has come and gone.
    for (const char* order :
         {"readsignal:1,eof:1", "heldsignal:1,eof:1", "lateevent:1,eof:1", "eof:1,signal:next"}) {
      // Windows starts the thread of an event itself: nothing tells of the event before that thread runs.
      if (order[0] == 'l' && windows_program()) continue;
      TempDir dir;
      std::vector<std::string> env = fault_environment(dir, order);
      env.push_back("QUIL_FAULT_EVENT=" + std::to_string(e.event));
      const Result r = run({.input = "in.fem\n", .env = env, .cwd = dir.path(), .program = faulty_program()});
      SCOPED_TRACE(std::string(e.name) + " " + order);
      const bool event_first = order[0] != 'e';
      EXPECT_EQ(r.err, event_first ? std::string("rtl: error (200): program aborting due to ") + e.name +
                                         " event\r\r\n"
                                   : end_of_file);
      EXPECT_EQ(r.status, event_first ? e.status : 24);
    }
  }
}

// An output that is its own input (`quil a.fem - >> a.fem`, `quil - - < a.fem >> a.fem`) is refused
// before its first record, whatever call fails on the way: the file is never touched. (A failed status
// call leaves the two files indistinguishable, as a standard output that Windows gives no right to ask
// about does: the run then goes on, and the file's change is seen after it.)
TEST(FaultSweep, AnOutputThatIsItsInputIsNeverWritten) {
  if (windows_program()) GTEST_SKIP() << "Wine cannot tell which file a redirected standard output is";
  const std::string plate = sample("plate.fem");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"a.fem", "-"}, {"-", "-"}}) {
    for (const char* kind : {"read", "write", "open", "seek", "close"}) {
      for (int n = 1; n < 100; ++n) {
        TempDir dir;
        write_file(dir.file("a.fem"), plate);
        const std::string fault = std::string(kind) + ":" + std::to_string(n);
        const Result r = run({.env = fault_environment(dir, fault),
                              .cwd = dir.path(),
                              .program = faulty_program(),
                              .args = args,
                              .stdout_file = dir.file("a.fem"),
                              .stdout_appends = true,
                              .stdin_file = dir.file("a.fem")});
        SCOPED_TRACE(args[0] + " " + fault + "\n" + r.err);
        EXPECT_NE(r.status, 0);
        EXPECT_TRUE(read_file(dir.file("a.fem")) == plate);
        if (!file_exists(dir.file("fired"))) break;
      }
    }
  }
}

// Another program writes the file while it is read (the door appends a line to it before the Nth read):
// the file is left as that program left it, nothing is written, and the run says so.
TEST(FaultSweep, AFileThatChangesWhileItIsReadIsLeftAsItIs) {
  if (windows_program()) GTEST_SKIP() << "Windows lets no other program write a file that QUIL reads";
  const std::string n = windows_program() ? "\r\n" : "\n", plate = sample("plate.fem");
  const std::string changed = plate + "        another program's line\n";
  const struct {
    std::vector<std::string> args;
    int status;
  } rows[] = {{{"-i", "-j1", "w.fem"}, 1},
              {{"-i", "--no-backup", "w.fem"}, 1},
              {{"w.fem", "out.fem"}, 1},
              {{"-c", "w.fem"}, 2}};
  for (const auto& row : rows) {
    for (const char* at : {"change:1", "change:2"}) {
      TempDir dir;
      write_file(dir.file("w.fem"), plate);
      std::vector<std::string> env = fault_environment(dir, at);
      env.push_back("QUIL_FAULT_CHANGE=" + dir.file("w.fem"));
      const Result r = run({.env = env, .cwd = dir.path(), .program = faulty_program(), .args = row.args});
      SCOPED_TRACE(row.args[0] + " " + row.args[1] + " " + at);
      if (!file_exists(dir.file("fired"))) continue;  // the file was read whole before the Nth read
      EXPECT_EQ(r.err, "quil: w.fem: changed while it was read; left as it is" + n);
      EXPECT_EQ(r.status, row.status);
      EXPECT_TRUE(read_file(dir.file("w.fem")) == changed);
      EXPECT_EQ(strangers(dir.path(), {"w.fem", "tmp", "fired"}), "");
    }
  }
}

// In place, files side by side (a batch) or one file in parts at once: whatever call fails, or when a
// console event comes in a worker, each file is its original or its whole repair, a kept original is the
// original, and no temporary file is left.
struct Column {
  const char* name;
  int files;
  std::vector<std::string> env;
  std::vector<std::string> args = {};
};
const Column kBatch{"-j2 batch", 2, {}}, kParts{"-j2 parts", 1, {"QUIL_FAULT_PARTS_FROM=1"}};

std::string sweep_in_place(const Column& column, std::initializer_list<const char*> kinds) {
  const std::string names[] = {"a.fem", "b.fem"};
  const std::string originals[] = {sample("plate.fem"), sample("text-records.fem")};
  const std::string repaired[] = {sample("plate.repaired.fem"), sample("text-records.repaired.fem")};
  int runs = 0;
  std::string by_kind;
  for (const char* kind : kinds) {
    if (skipped(kind)) continue;
    const int failures = failures_so_far();
    for (int n = 1; n < 100000 && !failed_since(failures); ++n) {
      TempDir dir;
      mkdir(dir.file("tmp").c_str(), 0700);
      for (int f = 0; f < column.files; ++f) write_file(dir.file(names[f]), originals[f]);
      // "rename+" fails that call and every later one: a file held for longer than the retries wait;
      // "signal,rename:1" adds a fault that stays where it is.
      const std::string_view name = kind, head = name.substr(0, name.find_first_of("+,"));
      const std::string fault =
          std::string(head) + ":" + std::to_string(n) + std::string(name.substr(head.size()));
      std::vector<std::string> env = fault_environment(dir, fault);
      env.insert(env.end(), column.env.begin(), column.env.end());
      std::vector<std::string> args = {"-i", "-j2"};
      args.insert(args.end(), column.args.begin(), column.args.end());
      args.insert(args.end(), names, names + column.files);
      const Result r =
          Child({.env = env, .cwd = dir.path(), .program = faulty_program(), .args = args}).finish(20);
      ++runs;
      SCOPED_TRACE(std::string(column.name) + " " + fault + "\n" + r.out + r.err);
      // A console event ends the command by its own signal, once its temporary file is gone; a reader
      // that leaves standard output, by the broken pipe's.
      const bool event = head == "signal", pipe = head == "pipe";
      EXPECT_TRUE(r.signal == 0 || (event && (r.signal == SIGQUIT || r.signal == SIGHUP)) ||
                  (pipe && r.signal == SIGPIPE))
          << r.signal;
      EXPECT_TRUE(!event || !file_exists(dir.file("fired")) || r.signal != 0 || r.status != 0);
      // On Windows a console event ends the command with the status that control-C gives, silently.
      const bool event_status =
          windows_program() && ((event && r.status == (0xC000013A & 0xff)) || (pipe && r.status == 38));
      EXPECT_TRUE(r.status == 0 || r.signal != 0 || !r.err.empty() || event_status)
          << "status " << r.status << " without a word";
      for (int f = 0; f < column.files; ++f) {
        const std::string now = read_file(dir.file(names[f]));
        EXPECT_TRUE(now == originals[f] || now == repaired[f]) << names[f] << " is neither";
        EXPECT_TRUE(r.status != 0 || now == repaired[f]);
        // A file that an event found in place, once put there, got its line (one file: none is kept).
        EXPECT_TRUE(!event || column.files > 1 || now != repaired[f] || r.out.find(names[f] + ": ") == 0)
            << "in place without its line";
        EXPECT_TRUE(!file_exists(dir.file(names[f] + ".orig")) ||
                    read_file(dir.file(names[f] + ".orig")) == originals[f]);
      }
      EXPECT_EQ(strangers(dir.file("tmp"), {}), "");
      EXPECT_EQ(strangers(dir.path(), {"a.fem", "b.fem", "a.fem.orig", "b.fem.orig", "tmp", "fired"}), "");
      // Where a fault stays at its place, the swept event alone tells that N has not passed its last call.
      const bool ended_by_event = r.signal != 0 || event_status;
      if (!file_exists(dir.file("fired")) || (name.find(',') != std::string_view::npos && !ended_by_event)) {
        EXPECT_GT(n, 1) << kind << " never fired";
        char entry[64];
        std::snprintf(entry, sizeof entry, " %s %d", kind, n - 1);
        by_kind += entry;
        break;
      }
    }
  }
  return by_kind + " (" + std::to_string(runs) + " runs)";
}

TEST(FaultSweep, InPlaceLeavesEveryFileWholeOrRepaired) {
  for (const Column* column : {&kBatch, &kParts}) {
    const std::string fired =
        sweep_in_place(*column, {"malloc", "read", "write", "open", "seek", "close", "stat", "rename",
                                 "rename+", "copy", "signal", "pipe"});
    std::printf("in place under faults, %s, runs with the fault fired:%s\n", column->name, fired.c_str());
  }
}

// A replace that fails, on Windows 1175 (nothing changed), 1176 and 1177 (the replaced file gone: removed,
// or under a name of the system's own) or a plain failure, alone or with an event at every moment of
// the commit: each file is its original or its repair, with or without a kept original.
TEST(FaultSweep, AFailedReplaceLosesNothing) {
  const struct {
    bool windows;
    const char* code;
    std::initializer_list<const char*> kinds;
  } rows[] = {{true, "1175", {"rename", "rename+"}}, {true, "1176:gone", {"rename", "signal,rename:1"}},
              {true, "1177:gone", {"rename"}},       {true, "64", {"rename", "rename+"}},
              {false, "5", {"rename", "rename+"}},   {false, "5:gone", {"rename", "signal,rename:1"}}};
  for (const auto& row : rows) {
    if (row.windows != windows_program()) continue;
    for (const bool keep : {true, false}) {
      Column column{row.code, 2, {std::string("QUIL_FAULT_ERROR=") + row.code}};
      if (!keep) column.args = {"--no-backup"};
      std::printf("%s%s:%s\n", row.code, keep ? "" : " --no-backup",
                  sweep_in_place(column, row.kinds).c_str());
    }
  }
}

// Half way, the line says where the data is: the repair under the name, else the kept original, and the
// repair where it could not be moved.
TEST(FaultSweep, AReplaceFailedHalfWaySaysWhereTheDataIs) {
  const std::string n = windows_program() ? "\r\n" : "\n", plate = sample("plate.fem");
  const std::string repair = sample("plate.repaired.fem"), kept = ", original kept in w.fem.orig";
  const struct {
    const char* fault;
    std::vector<std::string> args;
    std::string end, now;
  } rows[] = {{"rename:1", {"-i", "w.fem"}, "; the repair is in its place" + kept, repair},
              {"rename:1", {"-i", "--no-backup", "w.fem"}, "; the repair is in its place", repair},
              {"rename:1+",
               {"-i", "w.fem"},
               "; the original is back in its place, the repair is in w.fem.quil-1.tmp" + kept,
               plate},
              {"rename:1+", {"-i", "--no-backup", "w.fem"}, "; the repair is in w.fem.quil-1.tmp", ""}};
  for (const auto& row : rows) {
    TempDir dir;
    write_file(dir.file("w.fem"), plate);
    std::vector<std::string> env = fault_environment(dir, row.fault);
    env.push_back(windows_program() ? "QUIL_FAULT_ERROR=1176:gone" : "QUIL_FAULT_ERROR=5:gone");
    const Result r = run({.env = env, .cwd = dir.path(), .program = faulty_program(), .args = row.args});
    SCOPED_TRACE(std::string(row.fault) + " " + row.args[1] + "\n" + r.err);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("quil: w.fem: cannot replace it: ", 0), 0u);
    EXPECT_TRUE(r.err.ends_with(row.end + n));
    EXPECT_TRUE(read_file(dir.file("w.fem")) == row.now);
    EXPECT_EQ(file_exists(dir.file("w.fem.quil-1.tmp")), row.now != repair);
    EXPECT_TRUE(row.now == repair || read_file(dir.file("w.fem.quil-1.tmp")) == repair);
  }
}

// The event in a worker alone, for the thread sanitizer.
TEST(FaultSweep, EventsInWorkers) {
  for (const Column* column : {&kBatch, &kParts}) {
    std::printf("events in workers, %s:%s\n", column->name, sweep_in_place(*column, {"signal"}).c_str());
  }
}

}  // namespace
}  // namespace e2e
