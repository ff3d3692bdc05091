#!/usr/bin/env bash
# Builds QUIL when needed and runs it on this terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh >&2
if [ ! -f build/release/build.ninja ]; then cmake --preset release >/dev/null; fi
cmake --build --preset release --target quil >/dev/null
exec build/release/quil
