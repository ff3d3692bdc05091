#!/usr/bin/env bash
# Every include of the record layer points down its layers, or is one of the few arrows still named
# below that point up (each to go). The layers, from the bottom: base (rtl/*.h), platform, convert,
# options, units, statements, diagnostics, ending, startup; the command (driver, fileconn) stands above
# them all.
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(base platform convert options units statements diagnostics ending startup fileconn driver)
# Arrows that still point up: "from to".
still_up=("units statements" "units diagnostics" "units ending" "statements diagnostics" "statements ending"
          "diagnostics ending")
layer_of() {
  case "$1" in
    rtl/options.*) echo options ;;
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
  [ "$from" != "$to" ] || continue
  if [ "$(rank "$to")" -gt "$(rank "$from")" ] && [[ ! " ${still_up[*]/%/;} " =~ " $from $to; " ]]; then
    echo "check-includes: $file includes $include: $from may not depend on $to" >&2
    bad=1
  fi
done < <(git ls-files 'rtl/*' 'driver/*' 'fileconn/*' | xargs grep -o '^#include "[a-z_/]*\.h"' |
         sed 's/#include "\(.*\)"/\1/')
exit "$bad"
