#!/usr/bin/env bash
# Builds QUIL when needed and runs it on this terminal, in the caller's folder, with the caller's arguments.
# Installs only what building and running it needs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" run >&2
(
  cd "$root"
  if [ ! -f build/run/build.ninja ]; then cmake --preset run >/dev/null; fi
  cmake --build --preset run --target quil >/dev/null
)
exec "$root/build/run/quil" "$@"
