#!/usr/bin/env bash
# The concurrency tests (mixer, worker, recorder, ring, device, threads and
# inboxes) built with ThreadSanitizer: any report fails the run.
set -euo pipefail
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DSONVALE_SANITIZE=thread \
  -DSONVALE_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)"
ctest --test-dir build-tsan --output-on-failure -j"$(nproc)" --timeout 600 \
  -L '^(mixer|worker|record|output|platform|flat|loader|stress)$'
