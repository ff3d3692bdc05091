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
  // or TARGET.orig.1, .2, ... where that exists), in one step that a console event waits for. Empty, or
  // why not; *kept receives where the original went. The temporary file goes only while the target
  // holds what it held before: after a replace that failed half way the repair (else the kept original)
  // is put under the target's name, and the text says where each is (left_as_it_was() is then false).
  std::string commit(bool keep_original, std::string* kept);
  bool left_as_it_was() const { return left_as_it_was_; }
  void discard();
  const std::string& temporary() const { return temporary_; }

 private:
  std::string keep_original_copy(std::string* kept);
  std::string after_failed_replace(rtl::platform::SysError error, const rtl::platform::FileFacts* before,
                                   const std::string& kept);
  std::string target_, temporary_, backup_;
  int slot_ = -1;  // where the exit cleanup finds the temporary file
  bool left_as_it_was_ = true;
};

// Whether a name is one that commit() gives an original: NAME.orig, or NAME.orig.N with N digits.
bool names_a_backup(std::string_view name);

}  // namespace quil
