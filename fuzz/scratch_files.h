// Files of a fuzz target live in one folder of its own, removed when the target ends.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace fuzz {

// A plain array, so that it outlives every destructor the removal at exit might run after.
inline const char* scratch_folder() {
  static char folder[] = "/tmp/quil-fuzz-XXXXXX";
  static const bool made = [] {
    if (mkdtemp(folder) == nullptr) return false;
    std::atexit([] {
      std::string cmd = std::string("rm -rf '") + folder + "'";
      if (std::system(cmd.c_str()) != 0) std::perror("rm");
    });
    return true;
  }();
  return made ? folder : "/tmp";
}

inline std::string scratch_file(const char* name) { return std::string(scratch_folder()) + "/" + name; }

// Writes bytes to a scratch file; false when it cannot.
inline bool put_file(const std::string& path, const void* data, std::size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace fuzz
