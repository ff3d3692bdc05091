#!/usr/bin/env bash
# Builds quil.exe and the unit tests with MinGW-w64, runs the unit tests under Wine, then the end-to-end
# suite of the native build against quil.exe under Wine, makes the packages, signed with a throwaway
# certificate, and checks the installer (check-msi.sh). Wine keeps its prefix inside build/windows; its
# servers run for the length of this script only.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

export WINEPREFIX="$root/build/windows/wine-prefix"
export WINEDEBUG=-all
run_wine="$root/scripts/wine-run.sh"
other_prefix="$root/build/windows/wine-prefix-other-user"
other_user=()
if [ "$(id -u)" -eq 0 ] && [ -x /usr/bin/setpriv ]; then
  other_user=(/usr/bin/setpriv --clear-groups --regid=65534 --reuid=65534 /usr/bin/env "HOME=$other_prefix"
              "QUIL_WINEPREFIX=$other_prefix" "WINEPREFIX=$other_prefix" WINEDEBUG=-all)
fi

# Wine keeps its servers' sockets in folders of /tmp; those this script brought there go with it.
wine_tmp() { find /tmp -maxdepth 1 \( -name 'wine-*' -o -name '.wine-*' \) 2>/dev/null | sort; }
wine_tmp_before="$(wine_tmp)"
stop_servers() {
  wineserver -k 2>/dev/null || true
  if ((${#other_user[@]})); then "${other_user[@]}" wineserver -k 2>/dev/null || true; fi
  sleep 1
  comm -13 <(printf '%s\n' "$wine_tmp_before") <(wine_tmp) | while read -r d; do [ -n "$d" ] && rm -rf "$d"; done
}
trap stop_servers EXIT

# A persistent server, and one warm-up run with every standard stream on /dev/null, before anything
# else runs under Wine (ctest lists the unit tests by running them): the first program after the server
# starts hands its pipes to Wine's helper processes, which never close them.
# On a loaded machine wineboot has once left a prefix without its system folder, and every program then
# failed to load kernel32.dll: a prefix is checked whole, and made again a bounded number of times.
prefix_ready() {  # PREFIX [the command that runs as the prefix's user...]
  local prefix="$1" try
  local run=("${@:2}")
  for try in 1 2 3; do
    mkdir -p "$prefix"
    if ((${#run[@]})); then chown 65534:65534 "$prefix"; fi
    "${run[@]}" wineserver -p || true  # a server left running for this prefix serves as well
    "${run[@]}" "$run_wine" wineboot </dev/null >/dev/null 2>&1 || true
    [ ! -f "$prefix/drive_c/windows/system32/kernel32.dll" ] || return 0
    echo "windows: the Wine prefix $prefix is not whole after wineboot (try $try of 3); made again"
    "${run[@]}" wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
  done
  echo "windows: wineboot did not make a whole Wine prefix in $prefix; is Wine installed (scripts/deps.sh)?" >&2
  return 1
}
prefix_ready "$WINEPREFIX"
if ((${#other_user[@]})); then prefix_ready "$other_prefix" "${other_user[@]}"; fi

cmake --preset windows >/dev/null
cmake --build --preset windows

echo "== windows: function length and complexity of the backend (.clang-tidy)"
mingw_cxx="$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++ | head -1)"
git ls-files 'rtl/platform/win32*.cpp' | xargs clang-tidy -p build/windows --quiet \
  --extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-isystem"$mingw_cxx" \
  --extra-arg=-isystem"$mingw_cxx/x86_64-w64-mingw32" 2>/dev/null

echo "== windows: unit tests under Wine"
ctest --preset windows -j "$(nproc)"

# Runs a test program under Wine; the tests that fail run once more, alone, and must pass then. A program
# under Wine once ended with status 1 and not a word, in a test that passed in dozens of runs before and
# after: the first failure's whole output (from its RUN line to its FAILED line) stays in the log for a
# look, a second one fails the run.
run_with_one_retry() {
  local log="$root/build/windows/last-run.log" failed t
  local status=0
  "$@" > "$log" 2>&1 || status=$?
  grep -Ev '^\[ +(RUN|OK) +\]' "$log" || true
  [ "$status" -ne 0 ] || return 0
  failed="$(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_/]*\.[A-Za-z0-9_/]*\) (.*/\1/p' "$log" | sort -u | paste -sd:)"
  [ -n "$failed" ] || return 1
  echo "== windows: the first run's failures, whole"
  for t in ${failed//:/ }; do
    awk -v run="[ RUN      ] $t" -v end="[  FAILED  ] $t (" \
      'index($0, run) == 1 { p = 1 } p { print } p && index($0, end) == 1 { p = 0 }' "$log"
  done
  echo "== windows: once more, alone: $failed"
  "$@" --gtest_brief=1 --gtest_filter="$failed"
}

echo "== windows: end-to-end tests of quil.exe under Wine"
e2e_env=(QUIL_UNDER_TEST="$run_wine $root/build/windows/quil.exe"
         QUIL_PROBE="$run_wine $root/build/windows/tests/rtl_probe.exe")
if ((${#other_user[@]})); then e2e_env+=(QUIL_WINEPREFIX_OTHER_USER="$other_prefix"); fi
run_with_one_retry env "${e2e_env[@]}" build/release/tests/quil_e2e_tests

echo "== windows: the fault sweep, every door call of quil.exe failed in turn under Wine"
run_with_one_retry env "${e2e_env[@]}" QUIL_FAULTY="$run_wine $root/build/windows/quil_faulty.exe" \
  build/release/tests/quil_fault_sweep

echo "== windows: package: the ZIP, the installer and winget's manifests, signed with a throwaway certificate"
signing="$root/build/windows/throwaway-signing"
mkdir -p "$signing"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$signing/key.pem" -out "$signing/cert.pem" -days 2 \
  -subj "/CN=QUIL throwaway signing" -addext extendedKeyUsage=codeSigning 2>/dev/null
QUIL_SIGN_CERT="$signing/cert.pem" QUIL_SIGN_KEY="$signing/key.pem" cmake --build --preset windows --target package >/dev/null
ls build/windows/quil-*-windows-x64.zip build/windows/quil-*-windows-x64.msi build/windows/winget/*.yaml
QUIL_SIGN_CERT="$signing/cert.pem" bash scripts/check-msi.sh
