// Console control events, delivered as real signals while the program waits or works.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "e2e/harness.h"

namespace e2e {
namespace {

// Measured: Wine turns SIGINT into control-C, but delivers neither SIGQUIT nor SIGHUP as a console event,
// and has no other way to send control-BREAK or window-CLOSE from outside the console.
constexpr const char* kWineEvents = "Wine delivers only control-C from outside the console";

TEST(Events, SignalsAtTheFirstQuestion) {
  struct Case {
    int sig;
    const char* name;
    int status;
  } cases[] = {{SIGINT, "control-C", 0}, {SIGQUIT, "control-BREAK", 1}, {SIGHUP, "window-CLOSE", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (windows_program() && c.sig != SIGINT) continue;  // see kWineEvents
    TempDir dir;
    Child child({.cwd = dir.path()});
    ASSERT_TRUE(child.wait_for_output(kInputPrompt));
    child.signal(c.sig);
    Result r = child.finish(60, false);
    EXPECT_EQ(r.out, banner() + kInputPrompt);
    EXPECT_EQ(r.err, std::string("rtl: error (200): program aborting due to ") + c.name + " event\r\r\n");
    EXPECT_EQ(r.status, c.status);
  }
}

#if defined(QUIL_SLOW_TESTS)
// Input that ends right after the signal, on a loaded machine: never two reports, never a status that
// is not the report's.
TEST(Events, InputEndingWithTheEventEndsTheRunOnce) {
  std::vector<Child*> load;
  for (int i = 0; i < 2; ++i)
    load.push_back(new Child({.program = "/bin/sh", .args = {"-c", "while :; do :; done"}}));
  const struct {
    int sig, status;
    const char* name;
  } events[] = {{SIGINT, 0, "control-C"}, {SIGQUIT, 1, "control-BREAK"}, {SIGHUP, 2, "window-CLOSE"}};
  for (const auto& e : events) {
    int wrong = 0;
    for (int run = 0; run < 200; ++run) {
      TempDir dir;
      Child child({.cwd = dir.path()});
      if (!child.wait_for_output(kInputPrompt)) continue;
      child.signal(e.sig);
      const Result r = child.finish();
      const bool event =
          r.err == std::string("rtl: error (200): program aborting due to ") + e.name + " event\r\r\n";
      const bool end_of_file =
          r.err.rfind("rtl: severe (24)", 0) == 0 && r.err.find("aborting") == std::string::npos;
      wrong += !((event && r.status == e.status) || (end_of_file && r.status == 24));
    }
    EXPECT_EQ(wrong, 0) << e.name;
  }
  for (Child* c : load) {
    c->signal(SIGKILL);
    c->finish();
    delete c;
  }
}
#endif

// Runs the program on a pseudo-terminal of its own and closes the terminal once the first prompt is on it,
// as a user closes the window. Standard error goes to a pipe, so that the report outlives the terminal.
Result close_terminal_at_the_prompt(const std::string& dir) {
  Result r;
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) return r;
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    dup2(err[1], 2);
    close_range(3, ~0U, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    if (chdir(dir.c_str()) != 0) _exit(127);
    const std::string command = "exec " + program_under_test();
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(err[1]);
  for (int waited = 0; r.out.find(kInputPrompt) == std::string::npos && waited < 2000; ++waited) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 10) != 1) continue;
    char buffer[4096];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    r.out.append(buffer, static_cast<std::size_t>(n));
  }
  close(master);
  char buffer[4096];
  for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;)
    r.err.append(buffer, static_cast<std::size_t>(n));
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  return r;
}

// The hang-up and the read it cuts short are one event: the window-CLOSE report alone, every time.
TEST(Events, ClosedTerminalAtThePrompt) {
  if (windows_program()) GTEST_SKIP() << kWineEvents;
  TempDir dir;
  for (int trial = 0; trial < 20; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    Result r = close_terminal_at_the_prompt(dir.path());
    EXPECT_EQ(r.err, "rtl: error (200): program aborting due to window-CLOSE event\r\r\n");
    EXPECT_EQ(r.status, 2);
  }
}

// Signals that the caller ignored (as `cmd &` in a script leaves them) stay ignored on every road: no
// report, no effect, no wait, from the first moment of the run to its last.
TEST(Events, SignalsIgnoredAtStartStayIgnored) {
  if (windows_program()) GTEST_SKIP() << "Wine hands a program no signal disposition of its caller's";
  TempDir dir;
  const std::string model = run({.program = QUIL_GENERATOR, .args = {"200000", "21", "300"}}).out;
  write_file(dir.file("m.fem"), model);
  run({.cwd = dir.path(), .args = {"m.fem", "r.fem"}});
  const std::string repaired = read_file(dir.file("r.fem"));
  const int storm[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
  for (const bool dialogue : {true, false}) {
    SCOPED_TRACE(dialogue ? "the dialogue" : "-i");
    write_file(dir.file("q.fem"), model);
    Child child({.cwd = dir.path(),
                 .program = "/bin/bash",
                 .args = {"-c", "trap '' INT QUIT HUP TERM; exec " + program_under_test() +
                                    (dialogue ? "" : " -i --no-backup q.fem")}});
    // The storm begins once the shell has become the program, the signals already ignored.
    const std::string exe = "/proc/" + std::to_string(child.pid()) + "/exe";
    char target[4096] = {};
    const std::string program = program_under_test().substr(program_under_test().rfind('/'));
    for (int i = 0; i < 100000 && !std::string(target).ends_with(program); ++i) {
      usleep(100);
      const ssize_t n = readlink(exe.c_str(), target, sizeof target - 1);
      if (n < 0) break;
      target[n] = '\0';
    }
    for (int i = 0; i < 2000; ++i) {
      child.signal(storm[i % 4]);
      usleep(50);
    }
    if (dialogue) {
      EXPECT_TRUE(child.wait_for_output(kInputPrompt));
      child.send("q.fem\nout.fem\n");
    }
    const Result r = child.finish();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(read_file(dir.file(dialogue ? "out.fem" : "q.fem")) == repaired);
  }
}

// Termination ends the dialogue silently by its own signal, as it ends a command: at the prompt, and part
// way through a repair, whose temporary file goes first.
TEST(Events, TerminateEndsByItsSignalAfterCleanUp) {
  TempDir dir;
  write_file(dir.file("m.fem"), run({.program = QUIL_GENERATOR, .args = {"1000000", "21", "300"}}).out);
  for (const bool part_way : {false, true}) {
    if (part_way && windows_program()) continue;  // Windows knows no termination signal to catch
    SCOPED_TRACE(part_way ? "part way" : "at the prompt");
    Child child({.cwd = dir.path()});
    ASSERT_TRUE(child.wait_for_output(kInputPrompt));
    if (part_way) {
      child.send("m.fem\nout.fem\n");
      for (int i = 0; i < 20000 && !file_exists(dir.file("out.fem.quil-1.tmp")); ++i) usleep(500);
      kill(child.pid(), SIGSTOP);  // the repair may not end before the signal is in
    }
    child.signal(SIGTERM);
    kill(child.pid(), SIGCONT);
    Result r = child.finish(60, false);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.signal, SIGTERM);
    EXPECT_FALSE(file_exists(dir.file("out.fem.quil-1.tmp")));
    EXPECT_FALSE(file_exists(dir.file("out.fem")));
  }
}

}  // namespace
}  // namespace e2e
