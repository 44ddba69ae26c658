#!/usr/bin/env bash
# Windows: sonvale.dll, its tests and programs cross-built with MinGW-w64
# (cmake/toolchains/mingw-w64-x86_64.cmake) and run under Wine, in a Wine
# prefix of the step's own.
# 1. Every test, the stress tests at a quarter of their counts, with no sound
#    server running: winmm finds no device, so the virtual device plays.
# 2. With a PulseAudio null sink (scripts/null-sink.sh), which Wine's wave
#    output plays into in real time: the ring's and the devices' tests on
#    winmm, among them 5 s of audio that must take 5 s (+-2 %); sonvale.exe
#    records a 5 s tone and plays it through winmm.
# 3. The README's C example compiled with MinGW against the DLL's import
#    library, as any client would: the file it records must hold exactly the
#    header and samples it queued.
# 4. The release zip (CPack) unpacked into a prefix: what it must hold, the
#    DLL stripped and carrying its version; a MinGW consumer built against it
#    with find_package, and a client built for the MSVC ABI (clang and
#    lld-link, no C runtime) against its sonvale.lib alone, both run.
# sonvale.dll's export table is compared with abi/sonvale.dll.symbols.
set -euo pipefail

bash scripts/deps.sh windows # the cross compiler, Wine, GoogleTest's source, clang and lld

# Debian installs the 64-bit Wine launcher outside PATH.
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d /tmp/sonvale-wine-XXXXXX)
export WINEPREFIX
out=$(mktemp -d /tmp/sonvale-windows-XXXXXX)
source scripts/null-sink.sh

finish() {
  null_sink_stop
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$out"
}
trap finish EXIT

"$wine" wineboot -i >/dev/null 2>&1

cmake -S . -B build-win --toolchain cmake/toolchains/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONVALE_BENCH=OFF -DSONVALE_WERROR=ON >/dev/null
cmake --build build-win -j"$(nproc)"

# The DLL carries its C++ runtime: it imports system DLLs only.
imports=$(x86_64-w64-mingw32-objdump -p build-win/bin/sonvale.dll | sed -n 's/^\tDLL Name: //p')
if echo "$imports" | grep -viqE '^(kernel32|msvcrt|winmm)\.dll$'; then
  echo "sonvale.dll imports more than the system's DLLs:" $imports >&2
  exit 1
fi

source scripts/abi-common.sh
abi_compare_symbols build-win/bin/sonvale.dll "$abi_dir/sonvale.dll.symbols"

SONVALE_STRESS_SCALE=0.25 timeout 1200 bash scripts/ctest-counted.sh --test-dir build-win \
  --output-on-failure -j"$(nproc)" --timeout 300

null_sink_start
# The winmm tests fail instead of skipping when the device does not play.
export SONVALE_TEST_NULL_SINK=1
# One at a time: every test plays into the same sink.
timeout 900 bash scripts/ctest-counted.sh --test-dir build-win --output-on-failure --timeout 120 \
  -L '^(output|device|winmm)$' -R '[Ww]inmm'

"$wine" build-win/bin/sonvale.exe record "$out/tone.wav" --tone 440 --seconds 5 --rate 44100 \
  --channels 2 --bits 16
start=$(date +%s%N)
"$wine" build-win/bin/sonvale.exe play "$out/tone.wav" </dev/null 2>&1 | tee "$out/play.txt"
ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "sonvale.exe played 5 s through winmm in ${ms} ms, Wine's start included"
grep -q "wave mapper" "$out/play.txt"
[ "$ms" -ge 4900 ] && [ "$ms" -lt 8000 ]

# A name the ANSI code page cannot hold reaches the program whole.
LC_ALL=C.UTF-8 "$wine" build-win/bin/sonvale.exe record "$out/Müller Ωμέγα.wav" --tone 440 \
  --seconds 0.2 --rate 8000 >/dev/null
LC_ALL=C.UTF-8 "$wine" build-win/bin/sonvale.exe play "$out/Müller Ωμέγα.wav" </dev/null

# The README's C example (one second) and the MSVC-ABI client (one block)
# record the same square wave, 8000 Hz mono 16-bit: FILE SAMPLES.
expect_square_wave() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
samples = b"".join(struct.pack("<h", 8000 if (i // 9) % 2 else -8000)
                   for i in range(int(sys.argv[2])))
header = (b"RIFF" + struct.pack("<I", 36 + len(samples)) + b"WAVEfmt "
          + struct.pack("<IHHIIHH", 16, 1, 1, 8000, 16000, 2, 16)
          + b"data" + struct.pack("<I", len(samples)))
got = open(sys.argv[1], "rb").read()
if got != header + samples:
    sys.exit(sys.argv[1] + " is not what its client queued")
print(sys.argv[1], "holds", len(got), "bytes, as queued")
PY
}

x86_64-w64-mingw32-gcc-posix -std=c11 -Wall -Wextra -Werror -Iinclude examples/readme_c_api.c \
  -Lbuild-win -lsonvale -o "$out/readme_c_api.exe"
cp build-win/bin/sonvale.dll "$out/"
(cd "$out" && "$wine" ./readme_c_api.exe c_api.wav)
expect_square_wave "$out/c_api.wav" 8000

echo "-- the release zip"
version=$(sed -n 's/^project(Sonvale VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
cmake --build build-win --target package >/dev/null
(cd build-win && sha256sum -c "sonvale-$version-win64.zip.sha256")
(cd "$out" && cmake -E tar xf "$OLDPWD/build-win/sonvale-$version-win64.zip")
prefix=$out/sonvale-$version-win64
for path in bin/sonvale.dll bin/sonvale.exe lib/libsonvale.dll.a lib/sonvale.lib lib/sonvale.def \
  include/sonvale.h lib/cmake/Sonvale/SonvaleConfig.cmake lib/pkgconfig/sonvale.pc LICENSE.txt \
  README.txt; do
  [ -f "$prefix/$path" ] || { echo "the zip lacks $path" >&2; exit 1; }
done
if x86_64-w64-mingw32-objdump -h "$prefix/bin/sonvale.dll" | grep -q '\.debug_info'; then
  echo "the zip's sonvale.dll carries its debug information" >&2
  exit 1
fi
python3 - "$version" "$prefix/bin/sonvale.dll" "$prefix/bin/sonvale.exe" <<'PY'
import re, sys
utf16 = lambda text: text.encode("utf-16-le")
# The resource's string: its key, padding to 4 bytes, then the value.
entry = re.compile(re.escape(utf16("FileVersion\0")) + b"(\0\0)?" + re.escape(utf16(sys.argv[1])))
for path in sys.argv[2:]:
    if not entry.search(open(path, "rb").read()):
        sys.exit(path + " carries no version resource of " + sys.argv[1])
print("sonvale.dll and sonvale.exe carry version", sys.argv[1])
PY

echo "-- a MinGW consumer built with find_package against the zip's prefix"
# The cross toolchain looks for packages under the MinGW root only: the
# prefix is named to find_package directly.
cmake -S examples/consumer -B "$out/consumer" --toolchain "$PWD/cmake/toolchains/mingw-w64-x86_64.cmake" \
  -DSonvale_DIR="$prefix/lib/cmake/Sonvale" -DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
cmake --build "$out/consumer" >/dev/null
cp "$prefix/bin/sonvale.dll" "$out/consumer/"
(cd "$out/consumer" && "$wine" ./consumer.exe consumer.wav)

echo "-- a client built for the MSVC ABI against the zip's sonvale.lib"
# No Windows SDK on Debian: MinGW-w64's headers stand in for its <windows.h>
# (they take clang for GCC), and an import library of the one kernel32
# function the client calls stands in for the SDK's kernel32.lib.
mkdir -p "$out/msvc"
printf 'LIBRARY kernel32.dll\nEXPORTS\n    ExitProcess\n' >"$out/msvc/kernel32.def"
llvm-dlltool -m i386:x86-64 -d "$out/msvc/kernel32.def" -l "$out/msvc/kernel32.lib"
clang --target=x86_64-pc-windows-msvc -ffreestanding -fgnuc-version=4.2.1 -O2 -Wall -Wextra \
  -Werror -isystem /usr/share/mingw-w64/include -I"$prefix/include" \
  -c tests/msvc_client/msvc_client.c -o "$out/msvc/msvc_client.obj"
lld-link /nologo /entry:client_main /subsystem:console /nodefaultlib \
  /out:"$out/msvc/msvc_client.exe" "$out/msvc/msvc_client.obj" "$prefix/lib/sonvale.lib" \
  "$out/msvc/kernel32.lib"
cp "$prefix/bin/sonvale.dll" "$out/msvc/"
(cd "$out/msvc" && "$wine" ./msvc_client.exe)
expect_square_wave "$out/msvc/msvc_client.wav" 640
