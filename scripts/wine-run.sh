#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's own prefix inside build/, never the home folder,
# without debug output or the debugger dialog of an unhandled exception.
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${QUIL_WINEPREFIX:-$root/build/windows/wine-prefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
exec wine "$@"
