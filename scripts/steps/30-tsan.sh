#!/usr/bin/env bash
# The concurrency tests (mixer, worker, recorder, ring, device, threads and
# inboxes, the flat functions, the loader, the stress tests, the command-line
# program) built with ThreadSanitizer: any report fails the run.
set -euo pipefail
source scripts/sanitizer-options.sh
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DSONVALE_SANITIZE=thread \
  -DSONVALE_BENCH=OFF -DSONVALE_WERROR=ON >/dev/null
cmake --build build-tsan -j"$(nproc)"
bash scripts/ctest-counted.sh --test-dir build-tsan --output-on-failure -j"$(nproc)" --timeout 600 \
  -L '^(mixer|worker|record|output|platform|device|flat|loader|stress|cli)$'
