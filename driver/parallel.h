// A large file repaired in parts at once: each part on a thread of its own, with units of its own,
// writing its records at their place in the output (every output line is 74 bytes).
#pragma once

#include <cstdint>
#include <string>

#include "driver/driver.h"

namespace quil {

// Below this size a file is repaired in one piece: the parts would cost more than they save.
inline constexpr std::int64_t kSmallestFileInParts = 8 << 20;

// Repairs the disk file `input` of `size` bytes in `parts` parts at once, each writing its records at
// their place in the file `output` (empty: the parts are only checked). Returns false when the file
// must take the road in one piece (a part that cannot be planned, a lone Ctrl-Z line, a block of text
// records across a cut); what was written is then to be written again. A part's failure is told of the
// file's own units `in` and `out`.
bool repair_in_parts(const std::string& input, std::int64_t size, const std::string& output, int parts,
                     const RepairOptions& options, RepairCounts* counts, std::int32_t in, std::int32_t out);

}  // namespace quil
