#include "e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace e2e {
namespace {

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::vector<std::string> split(const std::string& command) {
  std::vector<std::string> words;
  std::istringstream in(command);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

}  // namespace

std::string program_under_test() {
  const char* env = getenv("QUIL_UNDER_TEST");
  return env != nullptr && *env != '\0' ? env : QUIL_UNDER_TEST;
}

std::string probe_program() {
  const char* env = getenv("QUIL_PROBE");
  return env != nullptr && *env != '\0' ? env : RTL_PROBE;
}

bool windows_program() { return program_under_test().find(".exe") != std::string::npos; }

std::string eol() { return windows_program() ? "\r\n" : "\n"; }

std::string shown_name(const std::string& path) {
  if (!windows_program()) return path;
  // Wine shows this machine's files on drive Z:, with the system's separators.
  std::string shown = "Z:" + path;
  for (char& c : shown) {
    if (c == '/') c = '\\';
  }
  return shown;
}

bool can_run_as_other_user() {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) return false;
  const char* prefix = getenv("QUIL_WINEPREFIX_OTHER_USER");
  return !windows_program() || (prefix != nullptr && *prefix != '\0');
}

Options as_other_user(Options o) {
  std::vector<std::string> args = {"--clear-groups", "--regid=65534", "--reuid=65534"};
  if (windows_program()) {
    const char* prefix = getenv("QUIL_WINEPREFIX_OTHER_USER");
    const std::string folder = prefix != nullptr ? prefix : "";
    // That user's home is its prefix folder too, so that Wine writes nothing elsewhere.
    args.insert(args.end(), {"/usr/bin/env", "HOME=" + folder, "QUIL_WINEPREFIX=" + folder});
  }
  for (const std::string& word : split(o.program.empty() ? program_under_test() : o.program))
    args.push_back(word);
  args.insert(args.end(), o.args.begin(), o.args.end());
  o.program = "/usr/bin/setpriv";
  o.args = args;
  return o;
}

std::string after_system_line(const std::string& err, const std::string& posix_text,
                              const std::string& report) {
  if (!windows_program()) return "rtl: " + posix_text + "\r\r\n" + report;
  const std::size_t end = err.find("\r\r\n");
  if (err.rfind("rtl: ", 0) != 0 || end == std::string::npos) return "<a system error line>" + report;
  return err.substr(0, end + 3) + report;
}

Child::Child(const Options& o) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe");
  std::vector<std::string> argv = split(o.program.empty() ? program_under_test() : o.program);
  for (const auto& a : o.args) argv.push_back(a);
  // Wine reads this system's file names and arguments in the locale's encoding: UTF-8, as they are.
  std::vector<std::string> env = {"PATH=/usr/bin:/bin", windows_program() ? "LANG=C.UTF-8" : "LANG=C"};
  for (const auto& e : o.env) env.push_back(e);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (o.close_stdout) close(1);
    if (o.close_stderr) close(2);
    if (!o.stdout_file.empty()) {
      const int fd =
          open(o.stdout_file.c_str(), O_WRONLY | (o.stdout_appends ? O_APPEND : O_CREAT | O_TRUNC), 0644);
      if (fd < 0 || dup2(fd, 1) < 0) _exit(127);
    }
    if (!o.stdin_file.empty()) {
      const int fd = open(o.stdin_file.c_str(), O_RDONLY);
      if (fd < 0 || (o.stdin_offset != 0 && lseek(fd, o.stdin_offset, SEEK_SET) < 0) || dup2(fd, 0) < 0)
        _exit(127);
    }
    // Subtle: a descriptor another test thread opened without close-on-exec (the far end of a named
    // pipe, say) would make the program its own reader or writer; it inherits only its three streams.
    close_range(3, ~0U, 0);
    if (!o.cwd.empty() && chdir(o.cwd.c_str()) != 0) _exit(127);
    // The child starts with no signal blocked and default dispositions, as from a shell.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // The harness ignores SIGPIPE, and an ignored signal stays ignored across exec.
    ::signal(SIGPIPE, o.pipe_signal_ignored ? SIG_IGN : SIG_DFL);
    std::vector<char*> av, ev;
    for (auto& a : argv) av.push_back(a.data());
    av.push_back(nullptr);
    for (auto& e : env) ev.push_back(e.data());
    ev.push_back(nullptr);
    execve(av[0], av.data(), ev.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (o.close_stderr_reader) {
    close(err_);
    err_ = -1;
  }
  ::signal(SIGPIPE, SIG_IGN);
  if (!o.input.empty()) send(o.input);
}

Child::~Child() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_, err_}) {
    if (fd >= 0) close(fd);
  }
}

void Child::send(const std::string& input) {
  std::size_t done = 0;
  while (done < input.size()) {
    ssize_t n = write(in_, input.data() + done, input.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EPIPE) return;
      // The child is not reading yet: drain its output so that neither side blocks.
      pump(10);
      continue;
    }
    done += static_cast<std::size_t>(n);
  }
}

void Child::pump(int timeout_ms) {
  pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
  int nfds = 0;
  pollfd active[2];
  for (auto& f : fds) {
    if (f.fd >= 0) active[nfds++] = f;
  }
  if (nfds == 0) {
    usleep(static_cast<useconds_t>(timeout_ms) * 1000);
    return;
  }
  if (poll(active, static_cast<nfds_t>(nfds), timeout_ms) <= 0) return;
  for (int i = 0; i < nfds; ++i) {
    if (!(active[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buf[65536];
    ssize_t n = read(active[i].fd, buf, sizeof buf);
    bool is_out = active[i].fd == out_;
    if (n > 0) {
      (is_out ? result_.out : result_.err).append(buf, static_cast<std::size_t>(n));
    } else if (n == 0) {
      close(active[i].fd);
      (is_out ? out_ : err_) = -1;
    }
  }
}

bool Child::wait_for_output(const std::string& text, double seconds) {
  double end = now() + seconds;
  while (result_.out.find(text) == std::string::npos) {
    if (now() > end || out_ < 0) return result_.out.find(text) != std::string::npos;
    pump(20);
  }
  return true;
}

void Child::signal(int sig) { kill(pid_, sig); }

void Child::close_output() {
  if (out_ >= 0) close(out_);
  out_ = -1;
}

Result Child::finish(double seconds, bool close_input) {
  if (in_ >= 0 && close_input) {
    close(in_);
    in_ = -1;
  }
  double end = now() + seconds;
  while ((out_ >= 0 || err_ >= 0) && now() < end) pump(50);
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) break;
    if (now() > end) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      result_.err += "[harness: killed after time-out]";
      break;
    }
    usleep(10000);
  }
  pid_ = -1;
  if (in_ >= 0) {
    close(in_);
    in_ = -1;
  }
  if (WIFEXITED(status)) {
    result_.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result_.signal = WTERMSIG(status);
  }
  return result_;
}

Result run(const Options& options) {
  Child child(options);
  return child.finish();
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/quil-e2e-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::string cmd = "chmod -R u+w '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
  if (system(cmd.c_str()) != 0) {
  }
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string sample(const std::string& name) { return read_file(std::string(QUIL_SAMPLES) + "/" + name); }

bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void write_file(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
}

std::string padded(const std::string& text, std::size_t width) {
  std::string s = text.substr(0, width);
  s.resize(width, ' ');
  return s;
}

// Columns count from 1, as the banner is described.
std::string banner() {
  auto record = [](std::initializer_list<std::pair<int, std::string>> parts) {
    std::string r(59, ' ');
    for (const auto& [column, text] : parts)
      r.replace(static_cast<std::size_t>(column - 1), text.size(), text);
    return r + "\r\n";
  };
  std::string b = std::string(54, ' ') + "\r\n";
  for (int i = 0; i < 3; ++i) b += record({});
  b += record({{12, std::string(48, '=')}});
  b += record({{12, "-"}, {59, "-"}});
  b += record({{12, "-"}, {24, "***"}, {29, "Q"}, {32, "U"}, {35, "I"}, {38, "L"}, {41, "***"}, {59, "-"}});
  b += record({{12, "-"}, {59, "-"}});
  b += record({{12, "-"}, {18, "Repairs PATRAN-PRE output."}, {59, "-"}});
  b += record({{12, "-"}, {18, "Ensures space between the numbers."}, {59, "-"}});
  b += record({{12, "-"}, {18, "(Prints the SESAM file: A8,4E16.8)"}, {59, "-"}});
  b += record({{12, "-"}, {59, "-"}});
  b += record({{12, "-"}, {23, "Version 1.0 / Oct. 2005"}, {59, "-"}});
  b += record({{12, "-"}, {17, "Questions: the model data support desk"}, {59, "-"}});
  b += record({{12, std::string(48, '=')}});
  for (int i = 0; i < 3; ++i) b += record({});
  return b;
}

const std::string kInputPrompt = " Give SESAM file to repair (complete name) :  ";
const std::string kOutputPrompt = " File to print the repaired data           :  ";

std::string refusal(const std::string& message, const std::string& name) {
  // The name's first 256 characters, blanks completing them; a character of UTF-8 may take several bytes.
  std::size_t characters = 0, end = 0;
  for (; end < name.size(); ++end) {
    if ((static_cast<unsigned char>(name[end]) & 0xC0) != 0x80 && characters++ == 256) break;
  }
  return message + name.substr(0, end) + std::string(characters < 256 ? 256 - characters : 0, ' ') + "\r\n";
}

std::string summary(int lines) {
  char count[16];
  std::snprintf(count, sizeof count, "%6d", lines);
  std::string c = count;
  if (c.size() > 6) c = "******";
  return "\r\n" + c + " lines with found\r\n\r\n";
}

}  // namespace e2e
