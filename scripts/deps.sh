#!/usr/bin/env bash
# Installs, with apt-get, whatever is missing. Quiet when nothing is.
#   scripts/deps.sh run    what building and running QUIL needs: a compiler, CMake, Ninja
#   scripts/deps.sh        that, and every tool of the tests, the Windows build and the packages
set -euo pipefail
packages=(g++ cmake ninja-build)
if [ "${1:-test}" != run ]; then
  packages+=(libgtest-dev libbenchmark-dev clang libclang-rt-14-dev time util-linux strace wixl msitools
             g++-mingw-w64-x86-64-posix wine wine64 googletest tmux clang-format clang-tidy git
             dpkg-dev man-db file openssl osslsigncode)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
