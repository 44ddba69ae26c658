#!/usr/bin/env bash
# Builds the library and runs its main job: a generated tone recorded into a
# WAV file, whose header is then printed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target record_tone
mkdir -p out
./build/examples/record_tone out/tone.wav
