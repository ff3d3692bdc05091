#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build and test tools is missing. Quiet when nothing is.
set -euo pipefail
packages=(g++ cmake ninja-build libgtest-dev libbenchmark-dev clang libclang-rt-14-dev time util-linux strace
          g++-mingw-w64-x86-64-posix wine wine64 googletest tmux clang-format clang-tidy git)
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
