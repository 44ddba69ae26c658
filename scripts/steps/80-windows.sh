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

SONVALE_STRESS_SCALE=0.25 timeout 1200 bash scripts/ctest-counted.sh --test-dir build-win \
  --output-on-failure -j"$(nproc)" --timeout 300

null_sink_start
# The winmm tests fail instead of skipping when the device does not play.
export SONVALE_TEST_NULL_SINK=1
# One at a time: every test plays into the same sink.
timeout 900 bash scripts/ctest-counted.sh --test-dir build-win --output-on-failure --timeout 120 \
  -L '^(output|platform|winmm)$' -R '[Ww]inmm'

"$wine" build-win/bin/sonvale.exe record "$out/tone.wav" --tone 440 --seconds 5 --rate 44100 \
  --channels 2 --bits 16
start=$(date +%s%N)
"$wine" build-win/bin/sonvale.exe play "$out/tone.wav" </dev/null 2>&1 | tee "$out/play.txt"
ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "sonvale.exe played 5 s through winmm in ${ms} ms, Wine's start included"
grep -q "wave mapper" "$out/play.txt"
[ "$ms" -ge 4900 ] && [ "$ms" -lt 8000 ]

x86_64-w64-mingw32-gcc-posix -std=c11 -Wall -Wextra -Werror -Iinclude examples/readme_c_api.c \
  -Lbuild-win -lsonvale -o "$out/readme_c_api.exe"
cp build-win/bin/sonvale.dll "$out/"
(cd "$out" && "$wine" ./readme_c_api.exe c_api.wav)
python3 - "$out/c_api.wav" <<'PY'
import struct, sys
samples = b"".join(struct.pack("<h", 8000 if (i // 9) % 2 else -8000) for i in range(640))
header = (b"RIFF" + struct.pack("<I", 36 + len(samples)) + b"WAVEfmt "
          + struct.pack("<IHHIIHH", 16, 1, 1, 8000, 16000, 2, 16)
          + b"data" + struct.pack("<I", len(samples)))
got = open(sys.argv[1], "rb").read()
if got != header + samples:
    sys.exit("the C example's recording is not what it queued")
print("the C example recorded", len(got), "bytes, as queued")
PY
