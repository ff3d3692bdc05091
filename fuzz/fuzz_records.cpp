// Arbitrary bytes as an input file, read as the repair pass reads it, with record buffers of any size.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "fuzz/scratch_files.h"
#include "rtl/statements/io.h"
#include "rtl/units/unit_io.h"

namespace {
constexpr rtl::Layout kData{"(A8,4E16.8)"};
constexpr rtl::Layout kText{"(A)"};
constexpr std::int32_t kUnit = 88;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const std::string path = fuzz::scratch_file("records");
  if (!fuzz::put_file(path, data + 1, size - 1)) return 0;

  rtl::initial_sizes().record_buffer = 2 + data[0] % 64;
  rtl::ConnectRequest req;
  req.name = path.c_str();
  req.name_length = path.size();
  static const char kOld[] = "OLD";
  req.status = kOld;
  req.status_length = 3;
  req.return_errors = true;
  if (rtl::connect(kUnit, req) != 0) std::abort();
  std::size_t records = 0;
  for (;;) {
    char name[8];
    double v[4];
    int rc =
        rtl::read<kData>(kUnit, rtl::Handlers{true, true}, std::span<char>(name), v[0], v[1], v[2], v[3]);
    if (rc == -1) break;
    if (rc > 0) {
      if (rc != 64 || rtl::backspace(kUnit, true) != 0) std::abort();
      char copy[72];
      if (rtl::read<kText>(kUnit, rtl::Handlers{true, false}, std::span<char>(copy)) == -1) break;
    }
    // Every record costs at least its line end, except a last line without one.
    if (++records > size) std::abort();
  }
  rtl::release(kUnit);
  return 0;
}
