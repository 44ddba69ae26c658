#!/usr/bin/env bash
# Installs Sonvale into a temporary prefix, checks what landed there, and
# builds and runs the consumer project in examples/consumer against it: once
# with find_package(Sonvale), once with pkg-config.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target sonvale sonvale_cli
cmake --install build --prefix "$prefix" >/dev/null

libdir=$(dirname "$(find "$prefix" -name libsonvale.so)")
soname=$(objdump -p "$libdir/libsonvale.so" | awk '$1 == "SONAME" { print $2 }')
for path in "$libdir/libsonvale.so" "$libdir/$soname" "$prefix/include/sonvale.h" \
  "$libdir/cmake/Sonvale/SonvaleConfig.cmake" "$libdir/cmake/Sonvale/SonvaleConfigVersion.cmake" \
  "$libdir/pkgconfig/sonvale.pc" "$prefix/bin/sonvale"; do
  [ -e "$path" ] || { echo "not installed: $path" >&2; exit 1; }
done
[ -L "$libdir/libsonvale.so" ] && [ -L "$libdir/$soname" ] \
  || { echo "the SONAME links are missing" >&2; exit 1; }

echo "-- the installed program"
"$prefix/bin/sonvale" record "$work/tone.wav" --tone 440 --seconds 0.5 --rate 8000
[ "$(soxi -s "$work/tone.wav")" = 4000 ]

echo "-- consumer built with find_package(Sonvale)"
cmake -S examples/consumer -B "$work/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/with-cmake"
"$work/with-cmake/consumer" "$work/with-cmake.wav"

echo "-- consumer built with pkg-config"
PKG_CONFIG_PATH="$libdir/pkgconfig" make -s -C examples/consumer OUT="$work"
"$work/consumer" "$work/with-pkg-config.wav"
