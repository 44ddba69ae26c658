#!/usr/bin/env bash
# Builds Sonvale and runs every test: each step under scripts/steps/, in
# order. Any failure stops the run with a non-zero status. At the end: the
# time each step took and the figures the tests reported (cycles survived,
# bytes recorded, faults injected, ...), summed per step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

figures=out/figures
rm -rf "$figures"
mkdir -p "$figures"
times=()
run_start=$(date +%s)
for step in scripts/steps/*.sh; do
  name=$(basename "$step" .sh)
  echo "==== ${step}"
  start=$(date +%s)
  SONVALE_FIGURES="$PWD/$figures/$name.txt" bash "$step"
  seconds=$(( $(date +%s) - start ))
  echo "==== ${step}: passed in ${seconds} s"
  times+=("$(printf '%-20s %5d s' "$name" "$seconds")")
done
echo "==== all steps passed"
printf '%s\n' "${times[@]}"
printf '%-20s %5d s\n' total "$(( $(date +%s) - run_start ))"
for file in "$figures"/*.txt; do
  [ -s "$file" ] || continue
  echo "figures of $(basename "$file" .txt):"
  awk '{ sum[$1] += $2 } END { for (k in sum) printf "  %-32s %d\n", k, sum[k] }' "$file" | sort
done
