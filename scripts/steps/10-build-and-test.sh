#!/usr/bin/env bash
# The plain build (Release, as packagers build): library, tests, benchmarks
# and examples; then every test but the stress tests, which have a step of
# their own.
set -euo pipefail
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSONVALE_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
bash scripts/ctest-counted.sh --test-dir build --output-on-failure -j"$(nproc)" --timeout 300 -LE '^stress$'
