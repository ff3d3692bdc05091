#include "capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "rtl/io.h"

namespace test {

namespace {
// Every file a test makes lives in one folder of the process, removed when the process ends, so that
// a file a test leaves on purpose (or on a failure) is gone all the same. A plain array outlives every
// destructor that might run before the removal.
char g_folder[4096];

const char* folder() {
  static const bool made = [] {
    const char* dir = getenv("TMPDIR");
    std::snprintf(g_folder, sizeof g_folder, "%s/quil-unit-XXXXXX", dir && *dir ? dir : "/tmp");
    if (mkdtemp(g_folder) == nullptr) return false;
    std::atexit([] {
      std::string cmd = std::string("rm -rf '") + g_folder + "'";
      if (std::system(cmd.c_str()) != 0) std::perror("rm");
    });
    return true;
  }();
  return made ? g_folder : "/tmp";
}
}  // namespace

std::string temp_path(const std::string& name) {
  static std::atomic<int> counter{0};
  return std::string(folder()) + "/" + std::to_string(counter++) + "-" + name;
}

void write_file(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

int connect_named(std::int32_t unit, const std::string& path, const char* status) {
  rtl::ConnectRequest req;
  req.name = path.c_str();
  req.name_length = path.size();
  req.status = status;
  req.status_length = std::strlen(status);
  req.return_errors = true;
  return rtl::connect(unit, req);
}

std::string written_by(std::int32_t unit, const std::function<void()>& statements) {
  std::string path = temp_path("out");
  if (connect_named(unit, path, "REPLACE") != 0) return "<connect failed>";
  statements();
  rtl::release(unit);
  std::string bytes = read_file(path);
  unlink(path.c_str());
  return bytes;
}

void connect_reading(std::int32_t unit, const std::string& content) {
  std::string path = temp_path("in");
  write_file(path, content);
  connect_named(unit, path, "OLD");
  unlink(path.c_str());
}

namespace {
void throwing_end(int status) { throw Ended{status}; }
}  // namespace

FatalRoad::FatalRoad() : path_(temp_path("stderr")) {
  // Each fatal road starts as in a fresh process: no stop under way, and reports without the traceback,
  // whose frames depend on whether an earlier test made the exception context.
  rtl::testing_reset_stop();
  const char* trace = getenv("RTL_DISABLE_STACK_TRACE");
  saved_trace_switch_ = trace != nullptr ? std::optional<std::string>(trace) : std::nullopt;
  setenv("RTL_DISABLE_STACK_TRACE", "1", 1);
  rtl::set_end_hook(throwing_end);
  fflush(stderr);
  saved_stderr_ = dup(2);
  int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(fd, 2);
  close(fd);
}

FatalRoad::~FatalRoad() {
  dup2(saved_stderr_, 2);
  close(saved_stderr_);
  rtl::set_end_hook(nullptr);
  unlink(path_.c_str());
  if (saved_trace_switch_) {
    setenv("RTL_DISABLE_STACK_TRACE", saved_trace_switch_->c_str(), 1);
  } else {
    unsetenv("RTL_DISABLE_STACK_TRACE");
  }
  rtl::testing_reset_stop();
}

std::string FatalRoad::error_output() const { return read_file(path_); }

}  // namespace test
