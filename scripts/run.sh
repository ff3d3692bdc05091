#!/usr/bin/env bash
# Builds QUIL when needed and runs it on this terminal, in the caller's folder, with the caller's arguments.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" >&2
(
  cd "$root"
  if [ ! -f build/release/build.ninja ]; then cmake --preset release >/dev/null; fi
  cmake --build --preset release --target quil >/dev/null
)
exec "$root/build/release/quil" "$@"
