#!/usr/bin/env bash
# The bash completion as a shell without the bash-completion package uses it: options, -j's numbers, and
# interface files and folders, names with blanks among them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT
mkdir -p "$folder/sub dir"
touch "$folder/T1.FEM" "$folder/notes.txt" "$folder/sub dir/a.fem"
cd "$folder"
# shellcheck source=/dev/null
source "$root/packaging/quil.bash-completion"
complete -p quil | grep -q -- '-F _quil' || { echo "quil's completion is not registered"; exit 1; }
offered() {  # the words, then what completing the last of them offers, one a line
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _quil
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' '|'
}
check() {
  local got
  got="$(offered "${@:2}")"
  [ "$got" = "$1" ] || { echo "completing '${*:2}': got '$got', expected '$1'"; exit 1; }
}
check '--jobs|' quil --j
[[ "|$(offered quil -)" == *"|-j|"* ]] || { echo "-j is not offered"; exit 1; }
check '1|2|3|4|5|6|7|8|' quil -j ''
check '2|' quil -ij 2
check 'T1.FEM|sub dir|' quil ''
check 'sub dir/a.fem|' quil 'sub\ dir/'
check 'sub dir/a.fem|' quil '"sub dir/'
echo "completion: checked"
