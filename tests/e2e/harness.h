// Runs the built program with real pipes, files and environment, and collects what it wrote.
#pragma once

#include <string>
#include <vector>

namespace e2e {

struct Result {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when a signal ended the process
  int signal = 0;
};

struct Options {
  std::string input = {};             // written to standard input, which is then closed
  std::vector<std::string> env = {};  // NAME=value entries added to a minimal environment
  std::string cwd = {};
  std::string program = {};  // empty: the program under test
  std::vector<std::string> args = {};
  bool close_stdout = false;
  bool close_stderr = false;
  std::string stdout_file = {};      // standard output goes to this file (made or emptied) instead
  bool stdout_appends = false;       // ... opened to append, neither made nor emptied
  std::string stdin_file = {};       // standard input is this file (or FIFO) instead of a pipe,
  long stdin_offset = 0;             // ... positioned here
  bool close_stderr_reader = false;  // the child's standard error is a pipe nobody reads
  bool pipe_signal_ignored = false;  // the child starts with SIGPIPE ignored, as some callers start it
};

Result run(const Options& options);

// A running child whose streams are read as they come.
class Child {
 public:
  explicit Child(const Options& options);
  ~Child();
  // Reads standard output until it holds `text` or the seconds run out; false on time-out.
  bool wait_for_output(const std::string& text, double seconds = 20);
  void send(const std::string& input);
  void signal(int sig);
  // Stops reading the child's standard output: its next write there finds the pipe without a reader.
  void close_output();
  // Closes standard input (unless told to keep it open, so that only a signal can end the child) and
  // collects everything until the child has ended.
  Result finish(double seconds = 60, bool close_input = true);
  int pid() const { return pid_; }

 private:
  void pump(int timeout_ms);
  int pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  Result result_;
};

std::string program_under_test();
std::string probe_program();
// Whether the program under test is the Windows one (run under Wine).
bool windows_program();
// How the program's messages with arguments end a line: LF here, CR LF on Windows.
std::string eol();
// A file's full name as the program under test shows it.
std::string shown_name(const std::string& path);
// Permission cases run the program as user 65534, for whom permissions hold (the tests run as root).
// The Windows program then runs in a Wine prefix of that user's, named by QUIL_WINEPREFIX_OTHER_USER.
bool can_run_as_other_user();
Options as_other_user(Options o);

// What standard error must hold: the system error line with the POSIX text, then the report. Under Wine
// the systems' own texts differ, so the program's own line stands and only the report is compared.
std::string after_system_line(const std::string& err, const std::string& posix_text,
                              const std::string& report);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
// A sample model or its repaired form, as the samples folder holds it.
std::string sample(const std::string& name);
bool file_exists(const std::string& path);
void write_file(const std::string& path, const std::string& data);

// The console texts the dialogue is made of.
std::string banner();
extern const std::string kInputPrompt;
extern const std::string kOutputPrompt;
std::string refusal(const std::string& message, const std::string& name);  // the failure record
std::string summary(int lines);
std::string padded(const std::string& text, std::size_t width);

}  // namespace e2e
