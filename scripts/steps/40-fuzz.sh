#!/usr/bin/env bash
# Fuzzes the WAV file loader with libFuzzer (clang, AddressSanitizer, leak
# checking and UBSan) for a bounded time, starting from a generated seed
# corpus; then runs the target once on each input too large for the fuzzer's
# size cap (a multi-megabyte sparse file of empty chunks). Any crash, leak,
# sanitizer report or time-out fails the run.
set -euo pipefail
seconds="${SONVALE_FUZZ_SECONDS:-60}"
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSONVALE_FUZZ=ON -DSONVALE_TESTS=OFF -DSONVALE_BENCH=OFF -DSONVALE_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_loader fuzz_make_corpus

rm -rf "$build/corpus" "$build/seeds" "$build/large" "$build/findings"
mkdir -p "$build/corpus" "$build/seeds" "$build/large" "$build/findings"
"$build/fuzz/fuzz_make_corpus" "$build/seeds" "$build/large"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Inputs stay small, so an allocation above 64 MB can only come from a
# trusted forged size.
status=0
"$build/fuzz/fuzz_loader" "$build/corpus" "$build/seeds" \
  -max_total_time="$seconds" -max_len=65536 -timeout=10 -malloc_limit_mb=64 \
  -artifact_prefix="$build/findings/" -print_final_stats=1 >"$build/fuzz.log" 2>&1 || status=$?
# Files given by name run once each, whatever their size.
"$build/fuzz/fuzz_loader" -timeout=20 -artifact_prefix="$build/findings/" "$build/large"/* \
  >"$build/large.log" 2>&1 || status=$?

if [ "$status" -ne 0 ] || grep -qE "ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:" \
  "$build/fuzz.log" "$build/large.log"; then
  tail -n 200 "$build/fuzz.log" "$build/large.log" >&2
  echo "fuzzing found a problem (status $status); inputs in $build/findings" >&2
  exit 1
fi
tail -n 15 "$build/fuzz.log"
grep -E "^Executed" "$build/large.log"
if [ -n "${SONVALE_FIGURES:-}" ]; then
  sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/fuzz.executions \1/p' "$build/fuzz.log" \
    >>"$SONVALE_FIGURES"
fi
