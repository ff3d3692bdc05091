#include "driver/parallel.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/settled.h"
#include "rtl/ending/ending.h"
#include "rtl/platform/platform.h"
#include "rtl/statements/io.h"
#include "rtl/units/connect_settings.h"
#include "rtl/units/line_scan.h"

namespace quil {
namespace {

// Every output record: 72 columns and CR LF.
constexpr std::int64_t kRecordBytes = interface_rule::kLastColumn + 2;

struct Part {
  std::int64_t begin = 0, end = 0;  // bytes of the input
  std::int64_t lines = -1;          // counted by the next part's thread; the last part's are not
  bool lone_ctrl_z = false;
  // The lines before the part, once its thread knows them; kAbandoned when the part is not repaired.
  std::atomic<std::int64_t> lines_before{kUnknown};
  RepairCounts counts;
  // How far the part's repair has come, for the file's progress.
  std::atomic<std::int64_t> records_done{0}, bytes_done{0};

  static constexpr std::int64_t kUnknown = -1, kAbandoned = -2;
};

// Runs job(k) for k in [0, n), each on a thread of its own where one can be had, else on this one.
template <typename Job>
void run_at_once(int n, const Job& job) {
  std::vector<std::thread> threads;
  std::vector<int> left_over;
  threads.reserve(static_cast<std::size_t>(n));
  left_over.reserve(static_cast<std::size_t>(n));
  for (int k = 1; k < n; ++k) {
    // Subtle: a thread that cannot be had (no memory, no thread) does its part here instead.
    try {
      threads.emplace_back([&job, k] {
        const rtl::ProgramThreadScope program_thread;
        job(k);
      });
    } catch (const std::exception&) {
      left_over.push_back(k);
    }
  }
  job(0);
  for (int k : left_over) job(k);
  for (std::thread& t : threads) t.join();
}

rtl::ConnectSettings part_spec(const std::string& name, std::int64_t begin, std::int64_t end, bool reading) {
  rtl::ConnectSettings settings;
  settings.status = rtl::OpenStatus::old_file;
  settings.read_only = reading;
  settings.has_name = settings.exact_name = settings.return_errors = true;
  settings.name = name;
  settings.part_begin = begin;
  settings.part_end = end;
  // Every part has the file open at once: each lets the others read and write it, and the output (a
  // temporary file) lets the end of the run remove it.
  settings.sharing = reading ? rtl::platform::Sharing::read_write : rtl::platform::Sharing::every;
  settings.drop_byte_order_mark = reading;
  return settings;
}

// The parts of one file and the file's own progress, which the first part shows for all.
struct PartsProgress {
  std::vector<Part>* pieces = nullptr;
  std::int32_t file_in = 0, file_out = 0;  // the file's own units, which a part's failure is told of
  void (*show)(void* context, std::int64_t records, std::int64_t consumed) = nullptr;
  void* context = nullptr;
};
struct PartReport {
  PartsProgress* all = nullptr;
  Part* part = nullptr;
};

void part_progress(void* context, std::int64_t records, std::int64_t consumed) {
  const auto* report = static_cast<const PartReport*>(context);
  report->part->records_done.store(records);
  report->part->bytes_done.store(consumed - report->part->begin);
  if (report->part != &report->all->pieces->front()) return;
  std::int64_t all_records = 0, all_bytes = 0;
  for (const Part& p : *report->all->pieces) {
    all_records += p.records_done.load();
    all_bytes += p.bytes_done.load();
  }
  report->all->show(report->all->context, all_records, all_bytes);
}

// A part stopped: `unit` is the file's own unit that the failure is told of; `error` the system's.
void stop_part(Part& p, std::int32_t unit, int failure, rtl::platform::SysError error) {
  p.counts.failure = failure;
  p.counts.failed_unit = unit;
  p.counts.failure_error = error;
}

void repair_part(Part& p, int k, const std::string& input, const std::string& output, RepairOptions options,
                 PartsProgress* progress) {
  const std::int32_t in = kFirstPartInput + k, out = kFirstPartOutput + k;
  const std::int64_t lines_before = p.lines_before;
  if (int rc = rtl::connect(in, part_spec(input, p.begin, p.end, true))) {
    return stop_part(p, progress->file_in, rc, rtl::last_refusal_error());
  }
  if (!output.empty()) {
    // Subtle: the part's own lines are counted on another thread, or not at all; its output has no
    // line for more than each byte of its input.
    const std::int64_t at = kRecordBytes * lines_before;
    if (int rc = rtl::connect(out, part_spec(output, at, at + kRecordBytes * (p.end - p.begin), false))) {
      rtl::release(in);
      return stop_part(p, progress->file_out, rc, rtl::last_refusal_error());
    }
    rtl::write_in_blocks(out);
  }
  options.lines_before = lines_before;
  PartReport report{progress, &p};
  options.progress = options.progress != nullptr ? part_progress : nullptr;
  options.context = &report;
  repair_records(in, out, options, p.counts);
  if (p.counts.failure != 0)
    p.counts.failed_unit = p.counts.failed_unit == in ? progress->file_in : progress->file_out;
  if (int rc = rtl::release(out, true); rc != 0 && p.counts.failure == 0) {
    stop_part(p, progress->file_out, rc, rtl::handled_system_error(out));
  }
  rtl::release(in, true);
}

// The first part is repaired at once; every other part's thread first counts the lines of the part
// before it, to learn its place, and the last part's own lines are never counted.
void place_and_repair(std::vector<Part>& pieces, int k, const std::string& input, const std::string& output,
                      const RepairOptions& options, PartsProgress* progress, Settled* settled) {
  std::int64_t before = 0;
  if (k > 0) {
    Part& previous = pieces[k - 1];
    previous.lines = rtl::count_lines(input.c_str(), previous.begin, previous.end, &previous.lone_ctrl_z);
    {
      rtl::OtherThreadAwaited waiting;
      settled->wait_until([&previous] { return previous.lines_before.load() != Part::kUnknown; });
    }
    const std::int64_t previous_before = previous.lines_before.load();
    // A lone Ctrl-Z ends the input wherever it stands: the lines after it are not repaired.
    const bool abandoned = previous_before == Part::kAbandoned || previous.lines < 0 || previous.lone_ctrl_z;
    before = abandoned ? Part::kAbandoned : previous_before + previous.lines;
  }
  settled->settle([&] { pieces[k].lines_before = before; });
  if (before != Part::kAbandoned) repair_part(pieces[k], k, input, output, options, progress);
}

// Whether the parts together are the file's repair; false when it must take the road in one piece.
bool parts_hold(const std::vector<Part>& pieces) {
  const std::size_t count = pieces.size();
  for (std::size_t k = 0; k < count; ++k) {
    if (pieces[k].lines_before == Part::kAbandoned) return false;
    const RepairCounts& c = pieces[k].counts;
    const bool stopped = c.failure != 0 || c.not_interface.why != NotInterface::no;
    // Text records that a header announced run on into the next part, which read them as data.
    if (k + 1 < count && c.block_open_at_end && !stopped) return false;
    // A file that changed while it was read has lines elsewhere than counted: its places are wrong.
    if (k + 1 < count && !stopped && c.records != pieces[k].lines) return false;
  }
  return true;
}

// The parts' counts as the file's: in order, the first failure or verdict standing for all.
void merge(const std::vector<Part>& parts, RepairCounts* counts) {
  RepairCounts all;
  for (const Part& p : parts) {
    const RepairCounts& c = p.counts;
    for (int kind = 0; kind < static_cast<int>(Change::count); ++kind) {
      ChangedLines& lines = all.changed[kind];
      const ChangedLines& part = c.changed[kind];
      for (std::int64_t i = 0; i < part.count && i < kShownTouching; ++i) lines.add(part.first[i]);
      lines.count += std::max<std::int64_t>(part.count - kShownTouching, 0);
    }
    all.records += c.records;
    all.data_seen = all.data_seen || c.data_seen;
    all.byte_order_mark = all.byte_order_mark || c.byte_order_mark;
    if (all.failure == 0 && all.not_interface.why == NotInterface::no) {
      all.failure = c.failure;
      all.failed_unit = c.failed_unit;
      all.failure_error = c.failure_error;
      // Whether a file holds no data record at all is the file's verdict, not a part's.
      if (c.not_interface.why != NotInterface::no_data_record) all.not_interface = c.not_interface;
    }
  }
  *counts = all;
}

}  // namespace

bool repair_in_parts(const std::string& input, std::int64_t size, const std::string& output, int parts,
                     const RepairOptions& options, RepairCounts* counts, std::int32_t in, std::int32_t out) {
  const int count = std::clamp(parts, 1, kMostJobs);
  std::vector<Part> pieces(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) {
    pieces[k].begin = k == 0 ? 0 : pieces[k - 1].end;
    // The first part is larger by what counting a part costs the others' threads (a sixteenth of its
    // repair, as measured), so that the parts end together.
    const std::int64_t cut = size * (16 * (k + 1) + 1) / (16 * count + 1);
    pieces[k].end = k + 1 == count ? size : rtl::line_start_after(input.c_str(), cut, size);
    if (pieces[k].end < pieces[k].begin) return false;
  }
  PartsProgress progress{&pieces, in, out, options.progress, options.context};
  Settled settled;
  run_at_once(count,
              [&](int k) { place_and_repair(pieces, k, input, output, options, &progress, &settled); });
  if (!parts_hold(pieces)) return false;
  merge(pieces, counts);
  if (options.refuse_other_formats && counts->failure == 0 && counts->not_interface.why == NotInterface::no &&
      counts->records > 0 && !counts->data_seen) {
    counts->not_interface = {NotInterface::no_data_record};
  }
  return true;
}

}  // namespace quil
