# Sourced by the steps that play into a sink in real time: null_sink_start
# runs a private PulseAudio server whose default sink is a null sink, which
# ALSA's "default" PCM (through the pulse plugin) and Wine's wave output both
# reach; null_sink_stop stops it. The server keeps its cookie and runtime
# files in a private folder, and no user configuration is read from there.

null_sink_dir=""
null_sink_pids=""

null_sink_start() {
  null_sink_dir=$(mktemp -d /tmp/sonvale-pulse-XXXXXX)
  export HOME="$null_sink_dir" XDG_RUNTIME_DIR="$null_sink_dir"
  export PULSE_SERVER="unix:$null_sink_dir/native"
  # Without rewinds the sink never mixes a new stream into audio its monitor
  # has already recorded, so a recording holds every frame played.
  timeout 1800 pulseaudio --daemonize=no -n --exit-idle-time=-1 --use-pid-file=no \
    --disable-shm=yes --log-target=stderr --log-level=error \
    -L "module-null-sink sink_name=sonvale_null norewinds=1" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$null_sink_dir/native" </dev/null &
  null_sink_pids=$!
  for _ in $(seq 50); do
    timeout 5 pactl info >/dev/null 2>&1 && break
    sleep 0.2
  done
  if ! timeout 5 pactl info >/dev/null 2>&1; then
    echo "the PulseAudio server did not start" >&2
    return 1
  fi
  # An idle null sink renders up to two seconds ahead, which would hold up the
  # start of every new stream; a silent low-latency stream keeps it short.
  timeout 1800 pacat --playback --raw --latency-msec=20 --client-name=sonvale-keepalive \
    </dev/zero &
  null_sink_pids="$! $null_sink_pids"
}

null_sink_stop() {
  for pid in $null_sink_pids; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  null_sink_pids=""
  [ -z "$null_sink_dir" ] || rm -rf "$null_sink_dir"
  null_sink_dir=""
}
