// One file's road through the command: open it, check its shape, repair it in one piece or in parts,
// put the repair in place, report.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "driver/arguments.h"
#include "driver/file_lines.h"
#include "driver/replacement.h"
#include "driver/unit_numbers.h"

namespace quil {

// Outcomes of one file, in the order in which they weigh on the status.
enum class Outcome { done, needs_repair, other_format, skipped, unchecked, failed };

// How many files or parts go at once: as -j says, else one a processor that this process may use.
int jobs_at_once(const Request& r);

// Where a file's records come from and go, through which units, and where its lines go.
// A file's own units: the command's, or those of the k-th file that goes side by side with others.
struct RoadUnits {
  std::int32_t in = kInputUnit, out = kOutputUnit, probe = kProbeUnit;
  static RoadUnits of_batch_file(int k) {
    return {kFirstBatchInput + k, kFirstBatchOutput + k, kFirstBatchProbe + k};
  }
};

struct Road {
  Road(std::string input_name, std::string output_name, std::string earlier_name, RoadUnits units = {},
       FileLines file_lines = FileLines())
      : input(std::move(input_name)),
        output(std::move(output_name)),
        same_as(std::move(earlier_name)),
        in(units.in),
        out(units.out),
        probe(units.probe),
        lines(file_lines) {}

  std::string input, output;  // as given
  std::string same_as;        // an earlier name of the same file, which is repaired or checked once
  std::int32_t in, out, probe;
  FileLines lines;
  // Learnt on the way:
  std::string place;  // the file in place (links followed), or the disk file OUTPUT leads to
  Replacement replacement;
  bool replacing = false;  // written beside `place`, renamed over it at the end
};

// Takes `road` to its end and prints its lines. A failure that stopped the file, the first of the run,
// goes to *first_failure.
Outcome take_file_road(Road& road, const Request& r, int* first_failure);

}  // namespace quil
