#!/usr/bin/env bash
# Installs what is missing, builds the release and the sanitizer configurations, runs every test in
# both and the console event tests under the thread sanitizer, the Windows build under Wine, then the
# fuzz targets for a bounded time. `scripts/test.sh quick` stops after the release build's tests.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stages.sh
trap 'stage ""' EXIT
bash scripts/deps.sh
fuzz_seconds="${QUIL_FUZZ_SECONDS:-30}"
# The benchmarks are built for measuring, not for checking a change.
bench=ON
[ -z "${CI:-}" ] || bench=OFF

stage "style: formatting of every source"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
stage "style: every include points down the layers"
bash scripts/check-includes.sh

presets=(release asan)
[ "${1:-}" != quick ] || presets=(release)
for preset in "${presets[@]}"; do
  stage "$preset: build"
  cmake --preset "$preset" -DQUIL_BENCH="$([ "$preset" = release ] && echo "$bench" || echo OFF)" >/dev/null
  cmake --build --preset "$preset"
  stage "$preset: tests"
  ctest --preset "$preset" -j "$(nproc)"
done
if [ "${1:-}" = quick ]; then
  stage ""
  echo "quick tests passed"
  exit 0
fi

stage "style: function length and complexity of the product (.clang-tidy)"
git ls-files 'rtl/*.cpp' 'driver/*.cpp' 'fileconn/*.cpp' | grep -v 'win32' | xargs clang-tidy -p build/release --quiet 2>/dev/null

stage "package: the .deb and the tarball, unpacked and run"
bash scripts/check-package.sh

# The console events, files repaired side by side and the parts of one file, whose work crosses threads,
# under the thread sanitizer.
stage "tsan: build and the event tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan -j "$(nproc)"

stage "windows"
bash scripts/test-windows.sh

# The word-arithmetic roads that stand beside the vector ones on machines without them: built alone,
# unit-tested, and fuzzed briefly against the exact library.
stage "novector: build, unit tests, fuzz targets briefly"
cmake --preset novector >/dev/null
cmake --build --preset novector
ctest --preset novector
cmake --preset fuzz-novector >/dev/null
cmake --build --preset fuzz-novector
for target in fuzz_decode fuzz_records fuzz_repair fuzz_convert; do
  mkdir -p "build/fuzz-novector/corpus-$target"
  build/fuzz-novector/fuzz/"$target" -max_total_time=5 -print_final_stats=0 "build/fuzz-novector/corpus-$target" \
    > "build/fuzz-novector/$target.log" 2>&1 || { tail -50 "build/fuzz-novector/$target.log"; exit 1; }
done

stage "fuzz: ${fuzz_seconds}s per target"
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
stage ""
echo "all tests passed"
