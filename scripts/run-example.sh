#!/usr/bin/env bash
# Builds the library and the sonvale program, then runs the main job: two
# seconds of a generated 440 Hz tone recorded into a WAV file through a
# mixer's worker, which sox's own reader then describes and checks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target sonvale_cli
mkdir -p out
./build/cli/sonvale record out/tone.wav --tone 440 --seconds 2 --rate 44100 --channels 2
soxi out/tone.wav
[ "$(soxi -s out/tone.wav)" = 88200 ] || { echo "out/tone.wav does not hold 88200 frames" >&2; exit 1; }
echo "out/tone.wav holds 2 s of 440 Hz; play it with: ./build/cli/sonvale play out/tone.wav"
