#!/usr/bin/env bash
# Runs ctest with the given arguments and, when SONVALE_FIGURES names a file,
# adds the number of tests that ran to it as "tests_run.<build folder>". A run
# that finds no test fails: the build left its tests out.
set -euo pipefail
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --no-tests=error "$@" 2>&1 | tee "$log" || status=$?
if [ -n "${SONVALE_FIGURES:-}" ]; then
  build=""
  args=("$@")
  for i in "${!args[@]}"; do
    [ "${args[$i]}" = "--test-dir" ] && build=$(basename "${args[$((i + 1))]}")
  done
  ran=$(sed -n 's/.*tests passed, [0-9]* tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  [ -n "$ran" ] && echo "tests_run.${build:-build} $ran" >>"$SONVALE_FIGURES"
fi
exit "$status"
