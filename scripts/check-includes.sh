#!/usr/bin/env bash
# Every include of the record layer points down its layers. The layers, from the bottom: base (rtl/*.h),
# platform, convert, run, diagnostics, units, statements, ending, startup; the command (fileconn, driver)
# stands above them all. Each is a library of its own in CMakeLists.txt that links only layers below it.
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(base platform convert run diagnostics units statements ending startup fileconn driver)
layer_of() {
  case "$1" in
    rtl/startup.*) echo startup ;;
    rtl/*/*) local rest="${1#rtl/}"; echo "${rest%%/*}" ;;
    rtl/*) echo base ;;
    driver/*) echo driver ;;
    fileconn/*) echo fileconn ;;
  esac
}
rank() { local i; for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done; echo -1; }
bad=0
while IFS=: read -r file include; do
  from="$(layer_of "$file")" to="$(layer_of "$include")"
  [ -n "$to" ] && [ "$from" != "$to" ] || continue
  if [ "$(rank "$from")" -lt 0 ] || [ "$(rank "$to")" -lt 0 ]; then
    echo "check-includes: $file includes $include: a layer that is not in the list" >&2
    bad=1
  fi
  if [ "$(rank "$to")" -gt "$(rank "$from")" ]; then
    echo "check-includes: $file includes $include: $from may not depend on $to" >&2
    bad=1
  fi
done < <(git ls-files 'rtl/*' 'driver/*' 'fileconn/*' | xargs grep -o '^#include "[a-z_/]*\.h"' |
         sed 's/#include "\(.*\)"/\1/')
# The same order in CMakeLists.txt: a library for each layer (rtl_LAYER, or quil_LAYER for the command's),
# linking only libraries of layers below it.
cmake_layer() { case "$1" in rtl_*) echo "${1#rtl_}" ;; quil_*) echo "${1#quil_}" ;; esac; }
for layer in "${layers[@]}"; do
  grep -Eq "^add_library\((rtl|quil)_$layer " CMakeLists.txt ||
    { echo "check-includes: CMakeLists.txt has no library for the layer $layer" >&2; bad=1; }
done
while read -r target links; do
  from="$(cmake_layer "$target")"
  [ "$(rank "$from")" -ge 0 ] || continue
  for link in $links; do
    to="$(cmake_layer "$link")"
    if [ -n "$to" ] && [ "$(rank "$to")" -ge "$(rank "$from")" ]; then
      echo "check-includes: CMakeLists.txt: $target links $link: $from may not depend on $to" >&2
      bad=1
    fi
  done
done < <(sed -n 's/^target_link_libraries(\([a-z_]*\) [A-Z]* \(.*\))$/\1 \2/p' CMakeLists.txt)
exit "$bad"
