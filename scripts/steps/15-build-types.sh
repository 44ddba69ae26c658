#!/usr/bin/env bash
# The build types no other step builds, compiled with warnings as errors and
# not run: MinSizeRel with gcc and Release with clang. Everything is built,
# tests and benchmarks included, so that their code compiles cleanly at every
# optimisation level too. (Release and RelWithDebInfo with gcc are the builds
# of the test steps, Debug those of the sanitizer steps.)
set -euo pipefail

build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DSONVALE_WERROR=ON -DSONVALE_TESTS=ON -DSONVALE_BENCH=ON "$@" >/dev/null
  [ -f "$dir/tests/CTestTestfile.cmake" ] && [ -d "$dir/bench" ] \
    || { echo "$dir: the tests or benchmarks were left out" >&2; exit 1; }
  cmake --build "$dir" -j"$(nproc)"
}

build build-minsizerel -DCMAKE_BUILD_TYPE=MinSizeRel
CC=clang CXX=clang++ build build-clang -DCMAKE_BUILD_TYPE=Release
