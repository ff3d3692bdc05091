// One file's plan carried out: open it, check its shape, repair it in one piece or in parts, put the
// repair in place, report.
#pragma once

#include <cstdint>

#include "driver/arguments.h"
#include "driver/file_lines.h"
#include "driver/file_plan.h"

namespace quil {

// How many files or parts go at once: as -j says, else one a processor that this process may use.
int jobs_at_once(const Request& r);

// Carries out `plan` and prints its lines through `lines`. A failure that stopped the file, the first
// of the run, goes to *first_failure; the records written (or read, for -c) to *records when asked.
Outcome take_file_road(const FilePlan& plan, FileLines lines, int* first_failure,
                       std::int64_t* records = nullptr);

}  // namespace quil
