#!/usr/bin/env bash
# Writes the project's source files, as git sees them (tracked, and new files
# not ignored), to the tarball $1 under the folder sonvale-<version>/: what a
# release archive would hold, without build folders.
set -euo pipefail
out=$(realpath "$1")
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(Sonvale VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
git ls-files -z --cached --others --exclude-standard \
  | xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh \
  | tar -czf "$out" --null -T - --transform "s,^,sonvale-$version/,"
