#!/usr/bin/env bash
# The ALSA output device against a sink that plays in real time: a private
# PulseAudio server with a null sink, which ALSA's "default" PCM reaches
# through the pulse plugin. The library is built as by default (auto), so
# that it opens ALSA's device there, and the ring's, the devices' and the
# ALSA device's tests run there; the sanitizer builds of the earlier steps,
# where present, run the ALSA device's tests and the ring's tests on it too.
# The server and its helper are stopped however the step ends.
set -euo pipefail

run_dir=$(mktemp -d /tmp/sonvale-pulse-XXXXXX)
server_pid=""
keepalive_pid=""

stop_server() {
  for pid in $keepalive_pid $server_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$run_dir"
}
trap stop_server EXIT

# The server keeps its cookie and runtime files in the private folder, and
# ALSA reads no user configuration from there.
export HOME="$run_dir" XDG_RUNTIME_DIR="$run_dir"
export PULSE_SERVER="unix:$run_dir/native"

# Without rewinds the sink never mixes a new stream into audio its monitor
# has already recorded, so a recording holds every frame played.
timeout 1800 pulseaudio --daemonize=no -n --exit-idle-time=-1 --use-pid-file=no \
  --disable-shm=yes --log-target=stderr --log-level=error \
  -L "module-null-sink sink_name=sonvale_null norewinds=1" \
  -L "module-native-protocol-unix auth-anonymous=1 socket=$run_dir/native" </dev/null &
server_pid=$!

for _ in $(seq 50); do
  timeout 5 pactl info >/dev/null 2>&1 && break
  sleep 0.2
done
if ! timeout 5 pactl info >/dev/null 2>&1; then
  echo "the PulseAudio server did not start" >&2
  exit 1
fi

# An idle null sink renders up to two seconds ahead, which would hold up the
# start of every new stream; a silent low-latency stream keeps it short.
timeout 1800 pacat --playback --raw --latency-msec=20 --client-name=sonvale-keepalive \
  </dev/zero &
keepalive_pid=$!

# The tests fail instead of skipping when the default device does not play,
# and may record the null sink's monitor as the default capture device.
export SONVALE_TEST_NULL_SINK=1

cmake -S . -B build-alsa -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONVALE_OUTPUT=auto \
  -DSONVALE_BENCH=OFF -DSONVALE_WERROR=ON >/dev/null
cmake --build build-alsa -j"$(nproc)"
# One at a time: every test plays into the same sink.
timeout 1200 bash scripts/ctest-counted.sh --test-dir build-alsa --output-on-failure --timeout 120 \
  -L '^(output|alsa|platform)$'

for dir in build-asan build-tsan; do
  if [ -f "$dir/CMakeCache.txt" ]; then
    cmake --build "$dir" -j"$(nproc)"
    timeout 1200 bash scripts/ctest-counted.sh --test-dir "$dir" --output-on-failure --timeout 300 \
      -L '^(output|alsa|platform)$' -R '[Aa]lsa'
  fi
done
