#!/usr/bin/env bash
# Repairs generated files of N lines (default 1,000,000) with QUIL, answers piped in, in the default
# mode and with RTL_BUFFERED on: values as models hold them (decimal exponents -12..12) and values over
# the whole range (-300..300). Prints lines/s, MB/s and peak resident memory, median of RUNS runs.
# BASELINE=/path/to/another/quil runs every measurement with that program too, one after the other, and
# prints this program's time as a ratio of its time.
set -euo pipefail
cd "$(dirname "$0")/.."
lines="${1:-1000000}"
runs="${RUNS:-3}"
[ -f build/release/build.ninja ] || cmake --preset release >/dev/null
cmake --build --preset release --target quil generate_damaged >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

quil="$PWD/build/release/quil"
baseline="${BASELINE:-}"
# median_run COMMAND...: runs the command in the work folder RUNS times; prints the median seconds and
# peak resident KiB.
median_run() {
  local secs=() rss=()
  for ((i = 0; i < runs; i++)); do
    rm -f "$work/out.fem"
    (cd "$work" && /usr/bin/time -f '%e %M' -o "$work/time" "$@" > /dev/null)
    read -r s m < "$work/time"
    secs+=("$s")
    rss+=("$m")
  done
  echo "$(printf '%s\n' "${secs[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")" \
       "$(printf '%s\n' "${rss[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")"
}
# measure MODE COMMAND...: the command, QUIL standing for the program, with this program and the baseline.
measure() {
  local mode="$1"
  shift
  local s m b=0 bm
  read -r s m < <(median_run "${@//QUIL/$quil}")
  if [ -n "$baseline" ]; then
    # The baseline repairs the file in one piece: the parts are measured against one core.
    local base=() a
    for a in "$@"; do
      a="${a//QUIL/$baseline}"
      [[ "$a" =~ ^-j[0-9]+$ ]] || base+=("${a// -j1/}")
    done
    read -r b bm < <(median_run "${base[@]}")
  fi
  awk -v mode="$mode" -v n="$lines" -v bytes="$bytes" -v s="$s" -v m="$m" -v b="$b" 'BEGIN {
    if (s <= 0) s = 0.005;
    printf "%-14s %9d lines  %6.3f s  %12.0f lines/s  %8.1f MB/s  peak RSS %6.1f MiB", mode, n, s, n / s,
           bytes / s / 1e6, m / 1024
    if (b > 0) printf "  baseline %6.3f s  ratio %.2f", b, s / b
    printf "\n" }'
}
for spread in 12 300; do
  build/release/generate_damaged "$lines" 20261207 "$spread" > "$work/in.fem"
  bytes=$(stat -c %s "$work/in.fem")
  echo "values with decimal exponents -$spread..$spread:"
  measure default sh -c "printf 'in.fem\nout.fem\n' | RTL_BUFFERED=0 'QUIL'"
  measure buffered sh -c "printf 'in.fem\nout.fem\n' | RTL_BUFFERED=1 'QUIL'"
  measure "IN OUT -j1" QUIL -j1 in.fem out.fem
  measure "IN OUT -j2" QUIL -j2 in.fem out.fem
  # The filter's row counts only if the filter writes the repair that IN OUT wrote.
  (cd "$work" && "$quil" -q - - < in.fem > filtered.fem)
  cmp -s "$work/filtered.fem" "$work/out.fem" || { echo "the filter did not write the repair" >&2; exit 1; }
  measure "- - (filter)" sh -c "'QUIL' -q - - < in.fem"
done

echo "one call over many files (exponents -300..300):"
mkdir -p "$work/many"
per_file=$((lines / 1000))
build/release/generate_damaged "$per_file" 20261207 300 > "$work/one-part.fem"
for ((f = 1; f <= 1000; f++)); do cp "$work/one-part.fem" "$work/many/T$f.FEM"; done
bytes=$(stat -c %s "$work/in.fem")
# Each run repairs fresh copies (a repaired file is left alone by the next run); the copy is timed too.
measure "-i 1 file" sh -c "cp in.fem work.fem && 'QUIL' -i --no-backup -j1 work.fem"
bytes=$((1000 * $(stat -c %s "$work/one-part.fem")))
measure "-i 1000 files" sh -c "rm -rf work && cp -r many work && cd work && 'QUIL' -i --no-backup T*.FEM"

if command -v valgrind >/dev/null; then
  echo "instructions and mispredicted branches a line (callgrind, 100,000 lines, quil IN OUT, buffered):"
  # Every field form the decoder takes, mixed, as a third file.
  for spread in 12 300 "12 mixed"; do
    build/release/generate_damaged 100000 5 $spread > "$work/small.fem"
    rm -f "$work/out.fem"
    (cd "$work" && RTL_BUFFERED=1 valgrind --tool=callgrind --branch-sim=yes --callgrind-out-file=/dev/null \
      "$quil" small.fem out.fem 2>&1 >/dev/null) |
      awk -v s="${spread%% *}" -v m="${spread#"${spread%% *}"}" '/Collected/ { printf "  exponents -%s..%s%s: %.0f instructions, %.1f mispredicts a line\n", s, s, m, $4 / 100000, ($6 + $8) / 100000 }'
  done
fi
