#!/usr/bin/env bash
# Every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer:
# any report fails the run.
set -euo pipefail
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSONVALE_SANITIZE=address,undefined \
  -DSONVALE_BENCH=OFF >/dev/null
cmake --build build-asan -j"$(nproc)"
ctest --test-dir build-asan --output-on-failure -j"$(nproc)" --timeout 600
