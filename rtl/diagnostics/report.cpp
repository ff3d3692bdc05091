// The failure report: its words, where it goes, and the report of a processor exception.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rtl/diagnostics/diagnostics.h"
#include "rtl/diagnostics/traceback.h"
#include "rtl/run/options.h"
#include "rtl/run/run_state.h"

namespace rtl {

ExceptionContext* g_exception_context = nullptr;

namespace {

constexpr const char* kSeverityWords[] = {"rtl", "rtl: info", "rtl: warning", "rtl: error", "rtl: severe"};

int severity_index(std::uint32_t code) {
  const auto s = static_cast<std::uint32_t>(severity_of(code));
  return static_cast<int>(s > 1 ? s + 1 : s);
}

std::atomic<ReportAllocator> g_report_allocator{std::malloc};
std::atomic<bool> g_error_stream_redirected{false};
// A severe failure turned into an exception comes back as this one, not as an unknown processor exception.
std::atomic<bool> g_debug_exception_raised{false};

std::atomic<std::size_t> g_status_line{0};

// Before the first line on standard error, once per process, RTL_UNIT0 may send that stream to a file.
// A status line that a command keeps redrawing there is erased first, so that no line begins after it.
void redirect_error_stream_once() {
  erase_status_line();
  if (g_error_stream_redirected.exchange(true)) return;
  platform::EnvValue name;
  if (!platform::get_env("RTL_UNIT0", &name) || name.length == 0) return;
  // A file that cannot be opened leaves standard error as it was, so no later report is lost.
  platform::redirect_standard_error(name.text);
}

// Text mode: every LF reaches the stream as CR LF.
std::size_t to_text_mode(std::string_view text, char* out, std::size_t capacity) {
  std::size_t n = 0;
  for (char c : text) {
    if (c == '\n') {
      if (n + 2 > capacity) break;
      out[n++] = '\r';
    }
    if (n + 1 > capacity) break;
    out[n++] = c;
  }
  return n;
}

// Writes text in text mode to standard error, or appends it to the file at `path`.
void write_translated(const char* path, std::string_view text) {
  char stack[4096];
  char* out = stack;
  std::size_t capacity = sizeof stack;
  char* heap = nullptr;
  if (text.size() * 2 > capacity) {
    heap = static_cast<char*>(std::malloc(text.size() * 2));
    if (heap != nullptr) {
      out = heap;
      capacity = text.size() * 2;
    }
  }
  std::size_t n = to_text_mode(text, out, capacity);
  if (path != nullptr) {
    platform::append_to_file(path, out, n);
  } else {
    platform::write_all(platform::standard_handle(platform::StdStream::error), out, n);
  }
  std::free(heap);
}

}  // namespace

void set_status_line(std::size_t width) { g_status_line.store(width); }

void erase_status_line() {
  const std::size_t width = std::min<std::size_t>(g_status_line.exchange(0), 1024);
  if (width == 0) return;
  char blank[1026];
  std::memset(blank, ' ', width + 2);
  blank[0] = blank[width + 1] = '\r';
  platform::write_all(platform::standard_handle(platform::StdStream::error), blank, width + 2);
}

void write_system_error_line(platform::SysError error) {
  char line[1100] = "rtl: ";
  std::size_t n = platform::system_error_text(error, line + 5, sizeof line - 5);
  if (n == 0) {
    std::snprintf(line + 5, sizeof line - 5, "FormatMessage failed for sysmem message number %u", error);
  }
  redirect_error_stream_once();
  write_translated(nullptr, line);
}

namespace {

constexpr std::size_t kReportBuffer = 16384;

// Formats a template: %d and %i take the number, %s the text, %lx and %ld the number as well.
std::size_t expand(const char* tmpl, std::int32_t number, std::string_view text, char* out,
                   std::size_t capacity) {
  std::size_t n = 0;
  auto put = [&](const char* s, std::size_t len) {
    std::size_t k = std::min(len, capacity - 1 - n);
    std::memcpy(out + n, s, k);
    n += k;
  };
  for (const char* p = tmpl; *p != '\0' && n + 1 < capacity; ++p) {
    if (*p != '%') {
      out[n++] = *p;
      continue;
    }
    char buf[32];
    if (p[1] == 'd' || p[1] == 'i') {
      put(buf, static_cast<std::size_t>(std::snprintf(buf, sizeof buf, "%d", number)));
      ++p;
    } else if (p[1] == 's') {
      put(text.data(), text.size());
      ++p;
    } else if (p[1] == 'l' && p[2] == 'x') {
      put(buf, static_cast<std::size_t>(std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(number))));
      p += 2;
    } else if (p[1] == 'l' && p[2] == 'd') {
      put(buf, static_cast<std::size_t>(std::snprintf(buf, sizeof buf, "%d", number)));
      p += 2;
    } else {
      out[n++] = '%';
    }
  }
  out[n] = '\0';
  return n;
}

void write_report(std::string_view report) {
  platform::EnvValue log;
  if (platform::get_env("RTL_DIAGNOSTIC_LOG_FILE", &log) && log.length > 0)
    write_translated(log.text, report);
  if (runtime_options().disable_display) return;
  redirect_error_stream_once();
  write_translated(nullptr, report);
}

}  // namespace

void set_report_allocator(ReportAllocator allocate) {
  g_report_allocator.store(allocate ? allocate : std::malloc);
}

void issue_report(std::uint32_t code, std::int32_t number_value, std::string_view text_value) {
  const bool severe = severity_of(code) == Severity::severe;
  // One end per run: the report and the status belong to whoever claimed it; anyone later is silent.
  if (severe && !claim_the_end()) wait_for_the_end();
  const char* tmpl = message_template(code);
  if (tmpl == nullptr) tmpl = "Message not found\n";

  if (severe && runtime_options().generate_debug_exception && g_exception_context != nullptr &&
      (code & 0xFFFF) != 169 && !g_exception_context->in_exception) {
    g_debug_exception_raised.store(true);
    platform::raise_debug_exception();
  }

  // The walk starts here, in the report routine itself.
  void* frames[64];
  const int frame_count = platform::capture_stack(frames, 64);
  char text[8192];
  expand(tmpl, number_value, text_value, text, sizeof text);
  const char* word = kSeverityWords[severity_index(code)];
  std::size_t capacity = kReportBuffer;
  char* buffer = static_cast<char*>(g_report_allocator.load()(capacity));
  const bool full_buffer = buffer != nullptr;
  if (buffer == nullptr) {
    // A buffer of exactly the report's size still gives the whole line, without the traceback.
    const int needed = std::snprintf(nullptr, 0, "%s (%u): %s", word, code & 0xFFFF, text);
    capacity = static_cast<std::size_t>(needed < 0 ? 0 : needed) + 1;
    buffer = static_cast<char*>(g_report_allocator.load()(capacity));
  }
  if (buffer == nullptr) {
    // Without any buffer the report shrinks to its number.
    char number[16];
    std::snprintf(number, sizeof number, "%u", code & 0xFFFF);
    write_report(number);
  } else {
    int k = std::snprintf(buffer, capacity, "%s (%u): %s", word, code & 0xFFFF, text);
    std::size_t used = std::min<std::size_t>(capacity - 1, static_cast<std::size_t>(k < 0 ? 0 : k));
    if (severe && full_buffer && g_exception_context != nullptr && !runtime_options().disable_stack_trace) {
      used = append_traceback(frames, frame_count, buffer, used, capacity);
    }
    write_report(std::string_view(buffer, used));
    std::free(buffer);
  }
  if (!severe) return;
  if (g_exception_context != nullptr && g_exception_context->in_exception) return;

  exit_handler();
  delete g_exception_context;
  g_exception_context = nullptr;
  // Breaking only makes sense with a debugger there; without one the failure keeps its own status.
  if (runtime_options().debugger_present && platform::debugger_attached()) platform::break_into_debugger();
  if (runtime_options().dump) platform::abnormal_termination();
  end_program(exit_status_for(code, static_cast<int>(code)));
}

platform::ExceptionOutcome report_processor_exception(platform::ExceptionKind kind, std::uint32_t code) {
  // The exception that a severe report raised in its place, also from inside the report of a processor
  // exception: reported as itself, which raises nothing more.
  if (g_debug_exception_raised.exchange(false)) {
    issue_report(condition_code(Failure::noncontinuable_exception), 0, {});
    return platform::ExceptionOutcome::handled;
  }
  // A fault inside the report of a fault goes to the system: a second report could only loop.
  static std::atomic<bool> reporting{false};
  if (reporting.exchange(true) || runtime_options().ignore_exceptions)
    return platform::ExceptionOutcome::pass_on;
  // With a debugger attached and the switch on, the report returns and the exception goes on to it.
  const bool to_debugger =
      g_exception_context != nullptr && runtime_options().debugger_present && platform::debugger_attached();
  if (to_debugger) g_exception_context->in_exception = true;
  switch (kind) {
    case platform::ExceptionKind::access_violation:
      issue_report(condition_code(Failure::access_violation), 0, {});
      break;
    case platform::ExceptionKind::stack_overflow:
      issue_report(condition_code(Failure::stack_overflow), 0, {});
      break;
    case platform::ExceptionKind::other:
      issue_report(condition_code(Failure::exception_code), static_cast<std::int32_t>(code), {});
      break;
  }
  if (!to_debugger) return platform::ExceptionOutcome::handled;  // not reached: the report ended the process
  exit_handler();
  return platform::ExceptionOutcome::pass_on;
}

}  // namespace rtl
