#!/usr/bin/env bash
# The ALSA output device against a sink that plays in real time: a private
# PulseAudio server with a null sink (scripts/null-sink.sh), which ALSA's
# "default" PCM reaches through the pulse plugin. The library is built as by
# default (auto), so that it opens ALSA's device there, and the ring's, the
# devices' and the ALSA device's tests run there; the sanitizer builds of the
# earlier steps, where present, run the ALSA device's tests and the ring's
# tests on it too. The server and its helper are stopped however the step
# ends.
set -euo pipefail

source scripts/null-sink.sh
trap null_sink_stop EXIT
null_sink_start

# The tests fail instead of skipping when the default device does not play,
# and may record the null sink's monitor as the default capture device.
export SONVALE_TEST_NULL_SINK=1

cmake -S . -B build-alsa -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONVALE_OUTPUT=auto \
  -DSONVALE_BENCH=OFF -DSONVALE_WERROR=ON >/dev/null
cmake --build build-alsa -j"$(nproc)"
# One at a time: every test plays into the same sink.
timeout 1200 bash scripts/ctest-counted.sh --test-dir build-alsa --output-on-failure --timeout 120 \
  -L '^(output|alsa|device)$'

for dir in build-asan build-tsan; do
  if [ -f "$dir/CMakeCache.txt" ]; then
    cmake --build "$dir" -j"$(nproc)"
    timeout 1200 bash scripts/ctest-counted.sh --test-dir "$dir" --output-on-failure --timeout 300 \
      -L '^(output|alsa|device)$' -R '[Aa]lsa'
  fi
done
