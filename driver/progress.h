// A file's progress on a terminal: shown after a second, redrawn four times a second, erased at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "driver/driver.h"

namespace quil {

class Progress {
 public:
  // Shows nothing unless standard error is a terminal.
  void start(const std::string& name, std::int32_t input_unit, RepairOptions* options);
  void erase();

 private:
  static void show(void* context, std::int64_t records, std::int64_t consumed);
  std::string name_;
  std::int64_t size_ = -1;
  std::chrono::steady_clock::time_point start_, last_;
  bool shown_ = false;
};

}  // namespace quil
