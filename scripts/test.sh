#!/usr/bin/env bash
# Installs what is missing, builds the release and the sanitizer configurations, runs every test in
# both and the console event tests under the thread sanitizer, the Windows build under Wine, then the
# fuzz targets for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
fuzz_seconds="${QUIL_FUZZ_SECONDS:-30}"

echo "== style: formatting of every source"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

for preset in release asan; do
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$(nproc)"
done

echo "== style: function length and complexity of the product (.clang-tidy)"
git ls-files 'rtl/*.cpp' 'driver/*.cpp' 'fileconn/*.cpp' | grep -v 'win32' | xargs clang-tidy -p build/release --quiet 2>/dev/null

echo "== package: the .deb and the tarball, unpacked and run"
bash scripts/check-package.sh

# The console events, files repaired side by side and the parts of one file, whose work crosses threads,
# under the thread sanitizer.
echo "== tsan: build and the event tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan -j "$(nproc)"

bash scripts/test-windows.sh

echo "== fuzz: ${fuzz_seconds}s per target"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in fuzz_decode fuzz_records fuzz_repair fuzz_convert; do
  mkdir -p "build/fuzz/corpus-$target"
  seeds=()
  # The sample models start the whole-pass target among headers and their text blocks.
  if [ "$target" = fuzz_repair ]; then seeds=(tests/data); fi
  build/fuzz/fuzz/"$target" -max_total_time="$fuzz_seconds" -print_final_stats=0 "build/fuzz/corpus-$target" \
    "${seeds[@]}" \
    > "build/fuzz/$target.log" 2>&1 || { tail -50 "build/fuzz/$target.log"; exit 1; }
  tail -1 "build/fuzz/$target.log"
done
echo "all tests passed"
