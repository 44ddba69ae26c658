#!/usr/bin/env bash
# Writes the project's source files, as git sees them (tracked, and new files
# not ignored), to the tarball $1 under the folder sonvale-<version>/: the
# release's source archive, without build folders; and its SHA-256 checksum
# to $1.sha256, in the form `sha256sum -c` reads.
set -euo pipefail
out=$(realpath "$1")
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(Sonvale VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
git ls-files -z --cached --others --exclude-standard \
  | xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh \
  | tar -czf "$out" --null -T - --transform "s,^,sonvale-$version/,"
(cd "$(dirname "$out")" && sha256sum "$(basename "$out")") >"$out.sha256"
