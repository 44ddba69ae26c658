#!/usr/bin/env bash
# Writes the manual page of the sonvale program $1 to $2, made from its own
# help so that the two always agree: help2man reads the top-level --help, and
# each command the top level lists gets a section holding that command's
# --help (its options and exit status).
set -euo pipefail
program=$1
out=$2
include=$(mktemp)
trap 'rm -f "$include"' EXIT

# roff reads a backslash as an escape and a leading dot or quote as a request.
roff_text() { sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"; }

commands=$("$program" --help | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || { echo "$program --help lists no command" >&2; exit 1; }
for command in $commands; do
  printf '[COMMAND %s]\n.nf\n' "${command^^}"
  "$program" "$command" --help | roff_text
  printf '.fi\n\n'
done >"$include"

help2man --no-info --include="$include" --output="$out" \
  --name="records and plays WAV files through the Sonvale library" "$program"
