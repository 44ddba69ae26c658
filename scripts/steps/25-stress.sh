#!/usr/bin/env bash
# The stress tests (label stress), one program at a time so that they do not
# compete for the two cores: first in the plain build, then in the
# AddressSanitizer+UBSan build, where a leak or a use after free left by
# thousands of cycles fails the run. Uses the builds of the two steps before.
# SONVALE_STRESS_SCALE multiplies their counts and durations (default 1).
set -euo pipefail
source scripts/sanitizer-options.sh
bash scripts/ctest-counted.sh --test-dir build --output-on-failure --timeout 600 -L '^stress$'
if [ -n "${SONVALE_FIGURES:-}" ]; then
  export SONVALE_FIGURES="${SONVALE_FIGURES%.txt}-asan.txt"
fi
bash scripts/ctest-counted.sh --test-dir build-asan --output-on-failure --timeout 900 -L '^stress$'
