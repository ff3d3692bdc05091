// Many files of one command: which names stand for one file, and files repaired side by side.
#pragma once

#include <string>
#include <vector>

#include "driver/arguments.h"
#include "driver/file_road.h"

namespace quil {

// For each of the first `files` names, the first earlier name of the same file (by its device and
// index, links followed), or empty: a file named twice is repaired once, never twice at once.
std::vector<std::string> earlier_names_of_each(const std::vector<std::string>& names, std::size_t files);

// Many files in place or checked, side by side on the processors: each file keeps its promise (its
// original or its whole repair) and its lines come out in the files' order. False when the files go
// one at a time instead.
bool repair_side_by_side(const Request& r, const std::vector<std::string>& same_as, Outcome* worst,
                         int* first_failure);

}  // namespace quil
