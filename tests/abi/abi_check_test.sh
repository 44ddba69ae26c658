#!/usr/bin/env bash
# The ABI checks of scripts/abi-common.sh on a small exported class built in
# variants against a baseline: what a client of the baseline survives passes,
# what breaks it fails.
set -euo pipefail
source scripts/abi-common.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/probe.cpp" <<'CPP'
#define API __attribute__((visibility("default")))
class API CProbe {
public:
    CProbe();
    int Get() const;
#ifndef WITHOUT_SET
    void Set(int value);
#endif
private:
#ifdef WITH_MEMBER
    int m_nAdded = 0;
#endif
    int m_nValue;
};
CProbe::CProbe() : m_nValue(1) {}
int CProbe::Get() const { return m_nValue; }
#ifndef WITHOUT_SET
void CProbe::Set(int value) { m_nValue = value; }
#endif
#ifdef WITH_FUNCTION
extern "C" API int Probe_Added(void) { return 2; }
#endif
CPP

build() {
  mkdir -p "$work/$1"
  c++ -std=c++17 -g -O2 -shared -fPIC -fvisibility=hidden -Wl,-soname,libprobe.so.1 "${@:2}" \
    -o "$work/$1/libprobe.so" "$work/probe.cpp"
}
build baseline
abi_describe "$work/baseline/libprobe.so" >"$work/baseline.abi"
abi_symbols "$work/baseline/libprobe.so" >"$work/baseline.symbols"

checks=0
failures=0
# variant, compiler flags, whether the description and the names must pass
while read -r variant flags description names; do
  build "$variant" $flags
  for check in description names; do
    checks=$((checks + 1))
    outcome=pass
    if [ $check = description ]; then
      abi_compare_description "$work/baseline.abi" "$work/$variant/libprobe.so" \
        "$work/$variant.abi" >"$work/$variant.$check.log" 2>&1 || outcome=fail
    else
      abi_compare_symbols "$work/$variant/libprobe.so" "$work/baseline.symbols" \
        >"$work/$variant.$check.log" 2>&1 || outcome=fail
    fi
    if [ "$outcome" != "${!check}" ]; then
      echo "FAILED: $variant: the $check check should ${!check}, it did $outcome:"
      cat "$work/$variant.$check.log"
      failures=$((failures + 1))
    fi
  done
done <<'CASES'
same           -DSAME          pass pass
private_member -DWITH_MEMBER   fail pass
new_function   -DWITH_FUNCTION pass pass
removed_member -DWITHOUT_SET   fail fail
CASES
echo "abi checks: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
