#include "driver/batch.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <new>
#include <thread>

#include "driver/settled.h"
#include "driver/shown_name.h"
#include "driver/words.h"
#include "rtl/diagnostics/diagnostics.h"
#include "rtl/ending/ending.h"
#include "rtl/platform/platform.h"
#include "rtl/statements/io.h"

namespace quil {
namespace {

// What became of one file of a batch, kept until its lines' turn comes.
struct FileResult {
  Outcome outcome = Outcome::done;
  int failure = 0;
  FileLines::Kept lines;
  bool out_of_memory = false;
  std::atomic<bool> done{false};
};

void repair_files(const Request& r, const std::vector<std::string>& same_as, std::vector<FileResult>& results,
                  std::atomic<std::size_t>& next, int k, Settled& settled) {
  const rtl::ProgramThreadScope program_thread;
  for (std::size_t i; (i = next++) < results.size();) {
    FileResult& result = results[i];
    try {
      const FilePlan plan = plan_file(r, r.names[i], r.names[i], same_as[i], 1, true,
                                      RoadUnits::of_batch_file(k), PlanAnswers::of_this_system());
      result.outcome = take_file_road(plan, FileLines(&result.lines), &result.failure);
    } catch (const std::bad_alloc&) {
      // Its words are made when its turn comes, where memory may be had again.
      result.outcome = Outcome::failed;
      result.failure = static_cast<int>(rtl::Failure::no_memory);
      result.lines.clear();
      result.out_of_memory = true;
    }
    settled.settle([&result] { result.done.store(true); });
  }
}

}  // namespace

bool repair_side_by_side(const Request& r, const std::vector<std::string>& same_as, Outcome* worst,
                         int* first_failure) {
  const int jobs = jobs_at_once(r);
  if (jobs < 2 || (r.mode != Mode::in_place && r.mode != Mode::check)) return false;
  std::vector<FileResult> results(r.names.size());
  std::atomic<std::size_t> next{0};
  Settled settled;
  std::vector<std::thread> workers;
  workers.reserve(static_cast<std::size_t>(jobs));
  for (int k = 0; k < jobs && static_cast<std::size_t>(k) < results.size(); ++k) {
    // Subtle: a thread that cannot be had (no memory, no thread) must not unwind past the running ones.
    try {
      workers.emplace_back(repair_files, std::cref(r), std::cref(same_as), std::ref(results), std::ref(next),
                           k, std::ref(settled));
    } catch (const std::exception&) {
      break;
    }
  }
  if (workers.empty()) return false;
  for (FileResult& result : results) {
    {
      rtl::OtherThreadAwaited waiting;
      settled.wait_until([&result] { return result.done.load(); });
    }
    for (const auto& [unit, line] : result.lines) print_line(unit, line);
    if (result.out_of_memory) {
      FileLines().print_problem(shown_name(r.names[static_cast<std::size_t>(&result - results.data())]) +
                                ": " + refusal_words(static_cast<int>(rtl::Failure::no_memory)));
    }
    *worst = std::max(*worst, result.outcome);
    // The file's road gave its failure the run's form already.
    if (*first_failure == 0) *first_failure = result.failure;
  }
  for (std::thread& t : workers) t.join();
  return true;
}

std::vector<std::string> earlier_names_of_each(const std::vector<std::string>& names, std::size_t files) {
  std::vector<std::string> earlier(names.size());
  std::vector<rtl::platform::FileFacts> facts(files);
  std::vector<bool> known(files);
  for (std::size_t i = 0; i < files && files > 1; ++i) {
    known[i] = names[i] != "-" && rtl::platform::file_facts(names[i].c_str(), &facts[i]);
    for (std::size_t j = 0; j < i && known[i] && earlier[i].empty(); ++j) {
      if (known[j] && facts[j].same_file(facts[i])) earlier[i] = names[j];
    }
  }
  return earlier;
}

}  // namespace quil
