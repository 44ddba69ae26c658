#!/usr/bin/env bash
# Builds the Debian packages from debian/ (libsonvale1, libsonvale-dev,
# libsonvale-doc, sonvale-tools) out of a copy of the source, checks them with
# lintian (any error or warning fails), installs them with apt-get, and uses
# them as a user would, with nothing pointing at a build tree: the program,
# its manual page, the API reference, the consumer project built with
# find_package and with pkg-config, and the README's ctypes example. The
# packages are removed again however the step ends.
set -euo pipefail
packages=(libsonvale1 libsonvale-dev libsonvale-doc sonvale-tools)
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
work=$(mktemp -d)
cleanup() {
  "${sudo_cmd[@]}" apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
unset LD_LIBRARY_PATH SONVALE_LIBRARY

version=$(sed -n 's/^project(Sonvale VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$(dpkg-parsechangelog -S Version)" = "$version" ] \
  || { echo "debian/changelog is not at version $version" >&2; exit 1; }

echo "-- dpkg-buildpackage"
bash scripts/source-tarball.sh "$work/source.tar.gz"
tar -xzf "$work/source.tar.gz" -C "$work"
if ! (cd "$work/sonvale-$version" && dpkg-buildpackage -us -uc -b -j"$(nproc)") >"$work/build.log" 2>&1; then
  tail -n 60 "$work/build.log" >&2
  exit 1
fi
debs=()
for p in "${packages[@]}"; do
  # The API reference is the same on every architecture.
  for arch in "$(dpkg --print-architecture)" all; do
    [ -f "$work/${p}_${version}_$arch.deb" ] && debs+=("$work/${p}_${version}_$arch.deb")
  done
done
[ ${#debs[@]} -eq ${#packages[@]} ] || { echo "not every package was built" >&2; exit 1; }
ls -l "${debs[@]}" | awk '{ print $5, $NF }'

echo "-- lintian"
lintian --fail-on error,warning --display-info "$work"/*.changes

echo "-- apt-get install"
"${sudo_cmd[@]}" apt-get install -y -qq "${debs[@]}" >/dev/null
[ "$(sonvale --version)" = "sonvale $version" ]
[ -f /usr/share/doc/libsonvale-doc/html/index.html ] || { echo "the API reference is missing" >&2; exit 1; }
zgrep -q 'COMMAND RECORD' /usr/share/man/man1/sonvale.1.gz \
  || { echo "the manual page lacks the record command" >&2; exit 1; }
sonvale record "$work/tone.wav" --tone 440 --seconds 0.5 --rate 8000 >/dev/null
[ "$(soxi -s "$work/tone.wav")" = 4000 ]

echo "-- consumer built with find_package(Sonvale) against the package"
cmake -S examples/consumer -B "$work/with-cmake" >/dev/null
cmake --build "$work/with-cmake" >/dev/null
"$work/with-cmake/consumer" "$work/with-cmake.wav"

echo "-- consumer built with pkg-config against the package"
make -s -C examples/consumer OUT="$work"
"$work/consumer" "$work/with-pkg-config.wav"

echo "-- the ctypes example, which finds the installed library"
python3 examples/readme_ctypes.py "$work/ctypes.wav"
[ "$(soxi -s "$work/ctypes.wav")" = 8000 ]
