#!/usr/bin/env bash
# Builds Sonvale and runs every test: each step under scripts/steps/, in
# order. Any failure stops the run with a non-zero status.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

for step in scripts/steps/*.sh; do
  echo "==== ${step}"
  start=$(date +%s)
  bash "$step"
  echo "==== ${step}: passed in $(( $(date +%s) - start )) s"
done
echo "==== all steps passed"
