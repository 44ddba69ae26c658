#!/usr/bin/env bash
# Installs Sonvale, with its API reference, into a temporary prefix, checks
# what landed there, and builds and runs the consumer project in
# examples/consumer against it: once with find_package(Sonvale), once with
# pkg-config. Then builds the consumer
# with Sonvale's source inside it, through add_subdirectory and through
# FetchContent from a local tarball, and checks that only the library was
# built along and that the consumer's build type was left as it was.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSONVALE_WERROR=ON -DSONVALE_DOCS=ON >/dev/null
cmake --build build -j"$(nproc)" --target sonvale sonvale_cli sonvale_docs
# A Doxygen warning (an undocumented name or parameter) has failed the build
# above: docs/Doxyfile says FAIL_ON_WARNINGS.
cmake --install build --prefix "$prefix" >/dev/null

libdir=$(dirname "$(find "$prefix" -name libsonvale.so)")
soname=$(objdump -p "$libdir/libsonvale.so" | awk '$1 == "SONAME" { print $2 }')
for path in "$libdir/libsonvale.so" "$libdir/$soname" "$prefix/include/sonvale.h" \
  "$libdir/cmake/Sonvale/SonvaleConfig.cmake" "$libdir/cmake/Sonvale/SonvaleConfigVersion.cmake" \
  "$libdir/pkgconfig/sonvale.pc" "$prefix/bin/sonvale" "$prefix/share/doc/Sonvale/LICENSE" \
  "$prefix/share/doc/Sonvale/html/index.html"; do
  [ -e "$path" ] || { echo "not installed: $path" >&2; exit 1; }
done
[ -L "$libdir/libsonvale.so" ] && [ -L "$libdir/$soname" ] \
  || { echo "the SONAME links are missing" >&2; exit 1; }
# The SONAME names the major version; the file the whole version.
version=$(sed -n 's/^project(Sonvale VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
library=$(basename "$(readlink -f "$libdir/libsonvale.so")")
[ "$soname" = "libsonvale.so.${version%%.*}" ] && [ "$library" = "libsonvale.so.$version" ] \
  || { echo "version $version installed as $library, SONAME $soname" >&2; exit 1; }

echo "-- the installed program"
"$prefix/bin/sonvale" --version
"$prefix/bin/sonvale" record "$work/tone.wav" --tone 440 --seconds 0.5 --rate 8000
[ "$(soxi -s "$work/tone.wav")" = 4000 ]

echo "-- consumer built with find_package(Sonvale)"
cmake -S examples/consumer -B "$work/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/with-cmake"
"$work/with-cmake/consumer" "$work/with-cmake.wav"

echo "-- consumer built with pkg-config"
PKG_CONFIG_PATH="$libdir/pkgconfig" make -s -C examples/consumer OUT="$work"
"$work/consumer" "$work/with-pkg-config.wav"

# Sonvale's source built inside the consumer: no build type is given, so
# Sonvale must not set one, and the library is all it builds.
embedded() {
  local how=$1 source=$2 dir=$work/$1
  echo "-- consumer built with Sonvale through $how"
  cmake -S examples/consumer -B "$dir" -DSONVALE_FROM="$how" -DSONVALE_SOURCE_DIR="$source" >/dev/null
  cmake --build "$dir" -j"$(nproc)" >/dev/null
  "$dir/consumer" "$work/$how.wav"
  grep -qx 'CMAKE_BUILD_TYPE:STRING=' "$dir/CMakeCache.txt" \
    || { echo "$how: the consumer's build type was changed" >&2; exit 1; }
  local built
  built=$(find "$dir" \( -name CMakeFiles -o -name sonvale-src \) -prune \
    -o -type f \( -executable -o -name '*.a' \) -print \
    | xargs -r -n1 basename | sort | tr '\n' ' ')
  [ "$built" = "consumer $library " ] \
    || { echo "$how: built more than the library: $built" >&2; exit 1; }
}
embedded subdirectory "$PWD"
bash scripts/source-tarball.sh "$work/sonvale.tar.gz"
(cd "$work" && sha256sum -c sonvale.tar.gz.sha256)
embedded fetch "$work/sonvale.tar.gz"
