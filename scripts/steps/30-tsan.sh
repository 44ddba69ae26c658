#!/usr/bin/env bash
# The concurrency tests (mixer, worker, recorder, ring, device, threads and
# inboxes, the flat functions, the loader, the stress tests) built with
# ThreadSanitizer: any report fails the run. The stress tests run at a
# quarter of their counts here, as every step is many times slower.
set -euo pipefail
source scripts/sanitizer-options.sh
export SONVALE_STRESS_SCALE="${SONVALE_TSAN_STRESS_SCALE:-0.25}"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DSONVALE_SANITIZE=thread \
  -DSONVALE_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)"
bash scripts/ctest-counted.sh --test-dir build-tsan --output-on-failure -j"$(nproc)" --timeout 600 \
  -L '^(mixer|worker|record|output|platform|flat|loader|stress)$'
