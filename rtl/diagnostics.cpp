// The message catalogue, the failure return, the failure report and its traceback.
#include "rtl/diagnostics.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "rtl/io.h"
#include "rtl/unit_io.h"

namespace rtl {

ExceptionContext* g_exception_context = nullptr;

namespace {

struct Message {
  std::uint32_t code;
  const char* text;
};

constexpr std::uint32_t kSevere = 0xC0000000u;
constexpr std::uint32_t kError = 0x80000000u;

// Every template ends with CR LF, as the report stream shows it.
constexpr Message kCatalogue[] = {
    {kSevere | 9, "permission to access file denied, unit %d, file %s\r\n"},
    {kSevere | 10, "file already exists, unit %d, file %s\r\n"},
    {kSevere | 22, "input record too long, unit %d, file %s\r\n"},
    {kSevere | 23, "BACKSPACE error, unit %d, file %s\r\n"},
    {kSevere | 24, "end-of-file during read, unit %d, file %s\r\n"},
    {kSevere | 28, "CLOSE error, unit %d, file %s\r\n"},
    {kSevere | 29, "file not found, unit %d, file %s\r\n"},
    {kSevere | 30, "open failure, unit %d, file %s\r\n"},
    {kSevere | 32, "invalid logical unit number, unit %d, file %s\r\n"},
    {kSevere | 38, "error during write, unit %d, file %s\r\n"},
    {kSevere | 39, "error during read, unit %d, file %s\r\n"},
    {kSevere | 40, "recursive I/O operation, unit %d, file %s\r\n"},
    {kSevere | 41, "insufficient virtual memory\r\n"},
    {kSevere | 42, "no such device, unit %d, file %s\r\n"},
    {kSevere | 43, "file name specification error, unit %d, file %s\r\n"},
    {kSevere | 45, "keyword value error in OPEN statement, unit %d, file %s\r\n"},
    {kSevere | 46, "inconsistent OPEN/CLOSE parameters, unit %d, file %s\r\n"},
    {kSevere | 47, "write to READONLY file, unit %d, file %s\r\n"},
    {kSevere | 63, "output conversion error, unit %d, file %s\r\n"},
    {kSevere | 64, "input conversion error, unit %d, file %s\r\n"},
    {kSevere | 66, "output statement overflows record, unit %d, file %s\r\n"},
    {kSevere | 67, "input statement requires too much data, unit %d, file %s\r\n"},
    {kSevere | 157, "Program Exception - access violation\r\n"},
    {kSevere | 169, "Program Exception - noncontinuable exception\r\n"},
    {kSevere | 170, "Program Exception - stack overflow\r\n"},
    {kSevere | 172, "Program Exception - exception code = 0x%lx (%ld)\r\n"},
    {kError | 200, "program aborting due to %s event\r\n"},
    {kSevere | 201, "floating-point divide flaw detected, please update the processor\r\n"},
    {kSevere | 257, "formatted I/O to unit open for unformatted transfers, unit %d, file %s\r\n"},
    {kSevere | 259, "sequential-access I/O to unit open for direct access, unit %d, file %s\r\n"},
};

constexpr const char* kSeverityWords[] = {"rtl", "rtl: info", "rtl: warning", "rtl: error", "rtl: severe"};

int severity_index(std::uint32_t code) {
  std::uint32_t s = code >> 30;
  return static_cast<int>(s > 1 ? s + 1 : s);
}

void default_end(int status) { platform::exit_process(status); }
std::atomic<ReportAllocator> g_report_allocator{std::malloc};
std::atomic<EndHook> g_end_hook{default_end};
std::atomic<bool> g_error_stream_redirected{false};
// A severe failure turned into an exception comes back as this one, not as an unknown processor exception.
std::atomic<bool> g_debug_exception_raised{false};

// Before the first line on standard error, once per process, RTL_UNIT0 may send that stream to a file.
void redirect_error_stream_once() {
  if (g_error_stream_redirected.exchange(true)) return;
  std::string_view name;
  if (!platform::get_env("RTL_UNIT0", &name) || name.empty()) return;
  char path[4096];
  if (name.size() >= sizeof path) return;
  std::memcpy(path, name.data(), name.size());
  path[name.size()] = '\0';
  // A file that cannot be opened leaves standard error as it was, so no later report is lost.
  platform::redirect_standard_error(path);
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

// The system's text for a saved error, written before the report it explains.
void write_system_error_line(platform::SysError error) {
  char line[1100] = "rtl: ";
  std::size_t n = platform::system_error_text(error, line + 5, sizeof line - 5);
  if (n == 0) {
    std::snprintf(line + 5, sizeof line - 5, "FormatMessage failed for sysmem message number %u", error);
  }
  redirect_error_stream_once();
  write_translated(nullptr, line);
}

constexpr std::size_t kReportBuffer = 16384;

// Formats a template: %d and %i take the number, %s the text, %lx and %ld the number as well.
std::size_t expand(const char* tmpl, std::int32_t number, std::string_view text, char* out, std::size_t capacity) {
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

// The traceback of `count` return addresses (or -1 after a failed walk), innermost first. For a
// processor exception the faulting instruction comes first and the frames of its handling are left out.
std::size_t append_traceback(void* const* walked, int count, char* out, std::size_t used, std::size_t capacity) {
  bool verbose = switch_on("RTL_ENABLE_VERBOSE_STACK_TRACE");
  auto advance = [&](int k) {
    if (k > 0) used = std::min(capacity - 1, used + static_cast<std::size_t>(k));
  };
  if (verbose) {
    advance(std::snprintf(out + used, capacity - used, "\nTraceback symbolic or hex stack dump follows:\n\n"));
    used += platform::exception_registers(out + used, capacity - used);
  } else {
    advance(std::snprintf(out + used, capacity - used, "%-19.19s%-10.10s%-19.19s%-12.12s%-19.19s\n", "Image", "PC",
                          "Routine", "Line", "Source"));
  }
  if (count < 0) {
    // A walker that fails leaves its line end on standard output, flushed at the end of the process.
    std::fputc('\n', stdout);
    return used;
  }
  void* const* frames = walked;
  void* fault[1];
  if (void* pc = platform::exception_address()) {
    int at = 0;
    while (at < count && walked[at] != pc) ++at;
    if (at < count) {
      frames = walked + at;
      count -= at;
    } else {
      // The walk did not pass through the faulting instruction: it stands alone.
      fault[0] = pc;
      frames = fault;
      count = 1;
    }
  }
  for (int i = 0; i < count && i < 20 && used + 1 < capacity; ++i) {
    if (frames[i] == nullptr) break;
    platform::FrameModule m = platform::frame_module(frames[i]);
    const char* image = m.known ? m.name : "Unknown";
    // Addresses are shown within their module, so that they mean the same in every run.
    unsigned long pc =
        static_cast<unsigned long>(m.known ? m.offset : reinterpret_cast<std::uintptr_t>(frames[i])) & 0xFFFFFFFFul;
    if (verbose) {
      advance(std::snprintf(out + used, capacity - used,
                            "--------- Frame # %d\nImage: %s\nRoutine: Unknown\nSource: Unknown\nLine: Unknown\n"
                            "PC: %8.8lX\n",
                            i, image, pc));
    } else {
      advance(std::snprintf(out + used, capacity - used, "%-17.17s  %8.8lX  %-17.17s  %10.10s  %s\n", image, pc,
                            "Unknown", "Unknown", "Unknown"));
    }
  }
  return used;
}

void write_report(std::string_view report) {
  std::string_view log;
  if (platform::get_env("RTL_DIAGNOSTIC_LOG_FILE", &log) && !log.empty()) {
    char path[4096];
    if (log.size() < sizeof path) {
      std::memcpy(path, log.data(), log.size());
      path[log.size()] = '\0';
      write_translated(path, report);
    }
  }
  if (switch_on("RTL_DISABLE_DIAGNOSTIC_DISPLAY")) return;
  redirect_error_stream_once();
  write_translated(nullptr, report);
}

}  // namespace

const char* message_template(std::uint32_t code) {
  for (const Message& m : kCatalogue) {
    if (m.code == code) return m.text;
  }
  return nullptr;
}

bool switch_on(std::string_view name) {
  std::string_view value;
  if (!platform::get_env(name, &value) || value.empty()) return false;
  char c = value.front();
  if (c == 't' || c == 'T' || c == 'y' || c == 'Y') return true;
  bool non_zero = false;
  for (char d : value) {
    if (d < '0' || d > '9') return false;
    non_zero = non_zero || d != '0';
  }
  return non_zero;
}

void set_report_allocator(ReportAllocator allocate) { g_report_allocator.store(allocate ? allocate : std::malloc); }

namespace {
std::atomic<bool> g_failure_numbers{false};
}  // namespace

void exit_with_failure_numbers(bool on) { g_failure_numbers.store(on); }

int exit_status_for(std::uint32_t code, int native_status) {
  if (!g_failure_numbers.load()) return native_status;
  // Numbers above 255 belong to statements this program never makes; no platform may cut them.
  return static_cast<int>(std::min<std::uint32_t>(code & 0xFFFF, 255));
}

EndHook set_end_hook(EndHook hook) { return g_end_hook.exchange(hook ? hook : default_end); }

namespace {
// Who ends the run: 0 while nobody has claimed it, a thread's token, or an event's mark.
std::atomic<std::uint32_t> g_ending{0};
constexpr std::uint32_t kEventMark = 0xFFFFFF00u;
static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "the claim is made inside a signal handler");
}  // namespace

bool claim_the_end() {
  const std::uint32_t me = platform::thread_token();
  std::uint32_t first = 0;
  if (g_ending.compare_exchange_strong(first, me) || first == me) return true;
  // The thread that handles the event holds the claim that the event made when it arrived.
  return first >= kEventMark && console_event_in_progress() && !console_event_on_other_thread();
}

bool claim_the_end_for_event(int event) {
  const std::uint32_t mark = kEventMark + static_cast<std::uint32_t>(event);
  std::uint32_t first = 0;
  return g_ending.compare_exchange_strong(first, mark) || first == mark;
}

bool end_claimed_by_event() { return g_ending.load() >= kEventMark; }

void testing_reset_end() { g_ending.store(0); }

void end_program(int status) {
  // Only one road ends the process, and its status is the one the process ends with.
  if (!claim_the_end()) wait_for_the_end();
  platform::hold_own_window_before_the_end(console_event_in_progress());
  g_end_hook.load()(status);
  // A hook that returns still must not let the failed statement go on.
  platform::exit_process(status);
}


void issue_report(std::uint32_t code, std::int32_t number_value, std::string_view text_value) {
  const bool severe = (code >> 30) == 3;
  // One end per run: the report and the status belong to whoever claimed it; anyone later is silent.
  if (severe && !claim_the_end()) wait_for_the_end();
  const char* tmpl = message_template(code);
  if (tmpl == nullptr) tmpl = "Message not found\n";

  if (severe && switch_on("RTL_GENERATE_DEBUG_EXCEPTION") && g_exception_context != nullptr &&
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
    if (severe && full_buffer && g_exception_context != nullptr && !switch_on("RTL_DISABLE_STACK_TRACE")) {
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
  if (switch_on("RTL_IS_DEBUGGER_PRESENT") && platform::debugger_attached()) platform::break_into_debugger();
  if (switch_on("rtl_dump_flag")) platform::abnormal_termination();
  end_program(exit_status_for(code, static_cast<int>(code)));
}

int fail(std::uint32_t code, Unit* unit, std::int32_t unit_number, std::string_view file_name, Handlers handlers,
         Disposal disposal, int handled_value) {
  const std::uint32_t number = code & 0xFFFF;
  const bool end_kind = number == 24 || number == 613;
  const bool record_kind = number == 268 || number == 758;
  bool handled = false;
  int outcome = 0;
  const bool covered = handlers.only_error == Failure{} || static_cast<std::uint32_t>(handlers.only_error) == number;
  if (handlers.errors && covered && !end_kind && !record_kind) {
    handled = true;
    outcome = handled_value;
  } else if (handlers.end_of_file && (end_kind || number == 27)) {
    handled = true;
    outcome = -1;
  }
  // The name is copied first: the disposal below may discard the block that holds it.
  char name[kLongestPath + 1];
  std::size_t name_length = std::min(file_name.size(), kLongestPath);
  if (name_length > 0) std::memcpy(name, file_name.data(), name_length);

  if (handled) {
    if (unit != nullptr) {
      unit->handled_error = unit->saved_error;
      unit->saved_error = 0;
    }
  } else {
    // A failure that ends the run claims the end before it writes a line: an event that came first
    // keeps it, and this failure stays silent.
    if ((code >> 30) == 3 && !claim_the_end()) wait_for_the_end();
    if (unit != nullptr && unit->saved_error != 0) {
      write_system_error_line(unit->saved_error);
      unit->saved_error = 0;
    }
  }
  if (unit != nullptr) {
    switch (disposal) {
      case Disposal::leave:
        break;
      case Disposal::end_hold:
        free_unit(unit);
        break;
      case Disposal::discard:
        free_unit(unit);
        discard_unit(unit);
        break;
      case Disposal::release:
        release_held_unit(unit);
        free_unit(unit);
        break;
    }
  }
  if (!handled) {
    issue_report(code, unit_number, std::string_view(name, name_length));
    outcome = static_cast<int>(number);
  }
  return outcome;
}

int fail(Failure failure, Unit* unit, Handlers handlers, Disposal disposal) {
  return fail(condition_code(failure), unit, unit->number, unit->file_name(), handlers, disposal,
              static_cast<int>(failure));
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
  if (reporting.exchange(true) || switch_on("RTL_IGNORE_EXCEPTIONS")) return platform::ExceptionOutcome::pass_on;
  // With a debugger attached and the switch on, the report returns and the exception goes on to it.
  const bool to_debugger = g_exception_context != nullptr && switch_on("RTL_IS_DEBUGGER_PRESENT") &&
                           platform::debugger_attached();
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
