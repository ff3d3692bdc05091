// A file replaced whole or not at all: written under a temporary name beside it, it takes the file's
// name only when complete. The temporary file goes on every road to the end of the run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rtl/platform/platform.h"

namespace quil {

class Replacement {
 public:
  Replacement() = default;
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Connects `unit` to a new temporary file beside `target`, with no permission that `target` lacks.
  // Returns an empty text, or why it cannot be made.
  // `shown`, when given, is the name the unit shows in reports meanwhile.
  std::string create_beside(const std::string& target, std::int32_t unit, std::string_view shown = {});
  // Puts the finished file in the target's place, the original kept first when asked (as TARGET.orig,
  // or TARGET.orig.1, .2, ... where that exists). Empty, or why not (the temporary file is then gone);
  // *kept receives where the original went.
  std::string commit(bool keep_original, std::string* kept);
  void discard();
  const std::string& temporary() const { return temporary_; }

 private:
  std::string target_, temporary_;
  int slot_ = -1;  // where the exit cleanup finds the temporary file
};

// Whether a name is one that commit() gives an original: NAME.orig, or NAME.orig.N with N digits.
bool names_a_backup(std::string_view name);

}  // namespace quil
