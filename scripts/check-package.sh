#!/usr/bin/env bash
# Builds the Linux packages and checks them as a user would meet them: the .deb's fields and files, the
# program unpacked from it reporting the project's version, its manual page rendering, the tarball's files.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build --preset release --target package >/dev/null
version="$(sed -n 's/^project(quil VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
deb="$(ls build/release/quil_"$version"_*.deb)"
tarball="$(ls build/release/quil-"$version"-linux-*.tar.gz)"
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT

# Listings are taken whole first: a reader that stops early would break the lister's pipe.
info="$(dpkg-deb --info "$deb")"
contents="$(dpkg-deb --contents "$deb")"
listing="$(tar tzf "$tarball")"
grep -q "Package: quil" <<<"$info"
grep -q "Version: $version" <<<"$info"
for f in usr/bin/quil usr/share/man/man1/quil.1.gz usr/share/doc/quil/README.md usr/share/doc/quil/copyright \
         usr/share/bash-completion/completions/quil; do
  grep -q " \./$f\$" <<<"$contents" || { echo "the package lacks $f"; exit 1; }
  grep -q "/$f\$" <<<"$listing" || { echo "the tarball lacks $f"; exit 1; }
done
dpkg -x "$deb" "$unpacked"
[ "$("$unpacked/usr/bin/quil" --version)" = "quil $version" ] || { echo "the packaged quil is not $version"; exit 1; }
page="$(MANWIDTH=80 man -l -P cat "$unpacked/usr/share/man/man1/quil.1.gz" 2>/dev/null)"
grep -q "EXIT STATUS" <<<"$page" || { echo "the manual page does not render"; exit 1; }
# The README's own line for the tarball, run as it stands but into a folder of ours: the program must land
# in bin/ and the manual in share/man/ below the folder named.
line="$(sed -n 's/^- From the tarball: `sudo \(tar [^`]*\)`.*/\1/p' README.md)"
[ -n "$line" ] || { echo "the README has no tarball line"; exit 1; }
mkdir "$unpacked/local"
(cd "$(dirname "$tarball")" && ${line/\/usr\/local/$unpacked/local})
[ -x "$unpacked/local/bin/quil" ] && [ -f "$unpacked/local/share/man/man1/quil.1.gz" ] ||
  { echo "the README's tarball line does not install into bin/ and share/"; exit 1; }
# Lintian's own scratch files stay in the folder that goes at the end.
if command -v lintian >/dev/null; then
  mkdir "$unpacked/lintian-tmp"
  TMPDIR="$unpacked/lintian-tmp" lintian --fail-on error "$deb"
fi
bash scripts/check-completion.sh
echo "packages: $(basename "$deb") and $(basename "$tarball") checked"
