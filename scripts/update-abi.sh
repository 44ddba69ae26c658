#!/usr/bin/env bash
# Records the ABI of the library as it is now as the baselines in abi/ that
# CI compares every build with: the Linux library's abidw description and
# exported names, and sonvale.dll's export table (cross-built with
# MinGW-w64 in build-win). Run it when a release adds to the interface, or
# breaks it with a new major version, and commit abi/ with the change.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/abi-common.sh

library=$(abi_build_linux)
abi_describe "$library" >"$abi_dir/libsonvale.abi"
abi_symbols "$library" >"$abi_dir/libsonvale.symbols"

cmake -S . -B build-win --toolchain cmake/toolchains/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONVALE_BENCH=OFF -DSONVALE_WERROR=ON >/dev/null
cmake --build build-win -j"$(nproc)" --target sonvale
abi_symbols build-win/bin/sonvale.dll >"$abi_dir/sonvale.dll.symbols"

wc -l "$abi_dir"/*
