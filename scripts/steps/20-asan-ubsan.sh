#!/usr/bin/env bash
# Every test but the stress tests again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer: any report (a leak included) fails the run.
set -euo pipefail
source scripts/sanitizer-options.sh
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSONVALE_SANITIZE=address,undefined \
  -DSONVALE_BENCH=OFF -DSONVALE_WERROR=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
bash scripts/ctest-counted.sh --test-dir build-asan --output-on-failure -j"$(nproc)" --timeout 600 -LE '^stress$'
