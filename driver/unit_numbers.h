// The units that QUIL's own code connects, by name, and how many files or parts run at once.
#pragma once

#include <cstdint>

#include "rtl/units/unit_numbers.h"

namespace quil {

inline constexpr std::int32_t kConsoleIn = rtl::kConsoleInput;
inline constexpr std::int32_t kConsoleOut = rtl::kConsoleOutput;
inline constexpr std::int32_t kErrorOut = rtl::kErrorUnit;
inline constexpr std::int32_t kInputUnit = 88;   // the file being repaired
inline constexpr std::int32_t kOutputUnit = 90;  // the repaired file
inline constexpr std::int32_t kProbeUnit = 91;   // a look at an existing output before it is written

// At most this many files side by side, or parts of one file, at once (-j).
inline constexpr int kMostJobs = 8;
// Each file of a batch, and each part of a file, has units of its own: the first of each kind here, the
// rest after it.
inline constexpr std::int32_t kFirstBatchInput = 30, kFirstBatchOutput = 40, kFirstBatchProbe = 50;
inline constexpr std::int32_t kFirstPartInput = 60, kFirstPartOutput = 70;
static_assert(kFirstBatchInput + kMostJobs <= kFirstBatchOutput &&
                  kFirstBatchOutput + kMostJobs <= kFirstBatchProbe &&
                  kFirstBatchProbe + kMostJobs <= kFirstPartInput &&
                  kFirstPartInput + kMostJobs <= kFirstPartOutput &&
                  kFirstPartOutput + kMostJobs <= kInputUnit,
              "the units of one job stand apart from every other job's");

}  // namespace quil
