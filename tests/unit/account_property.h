// The account of a pass is one: what the check says a rewrite changes is what the repair changes. Held
// by the unit sweep over generated files and by the repair pass's fuzz target.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "driver/driver.h"

namespace test {

struct PassResult {
  quil::RepairCounts counts;
  std::string output;
};

// What a file's passes break of the account, or nullptr. `run(write)` passes over `input` as a check
// (false) or as a repair (true), with the command line's options.
template <typename Run>
const char* account_breaks(std::string_view input, Run run) {
  const PassResult check = run(false), repair = run(true);
  const quil::RepairCounts &c = check.counts, &r = repair.counts;
  if (c.failure != 0 || r.failure != 0) return nullptr;
  if (c.not_interface.why != r.not_interface.why) return "the check and the repair judge the format apart";
  if (c.not_interface.why != quil::NotInterface::no) return nullptr;
  for (int kind = 0; kind < static_cast<int>(quil::Change::count); ++kind) {
    const quil::ChangedLines &a = c.changed[kind], &b = r.changed[kind];
    if (a.count != b.count || !std::equal(a.first, a.first + quil::kShownTouching, b.first))
      return "the check and the repair count a change apart";
  }
  if (c.changes_any() == (repair.output == input) || c.byte_order_mark != r.byte_order_mark)
    return "the check's status is not whether the repair leaves the file as it is";
  // Every line of the file is a record of the repair, but a last lone Ctrl-Z.
  const std::int64_t lines =
      std::count(input.begin(), input.end(), '\n') + (!input.empty() && input.back() != '\n');
  if (r.records + r.of(quil::Change::end_mark).count != lines) return "the repair dropped a line";
  return nullptr;
}

}  // namespace test
