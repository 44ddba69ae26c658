#!/usr/bin/env bash
# The ABI of the Linux library against the baselines in abi/: abidiff with
# abidw's description (an incompatible change fails unless the major version,
# and so the SONAME, changed with it; additions are reported) and the list of
# exported names (a name gone fails likewise). The Windows step compares
# sonvale.dll's export table. First the checks' own test: a private member
# added to an exported class must fail, a new function must not.
set -euo pipefail
source scripts/abi-common.sh
bash tests/abi/abi_check_test.sh

library=$(abi_build_linux)
abi_compare_description "$abi_dir/libsonvale.abi" "$library" build-abi/libsonvale.abi
abi_compare_symbols "$library" "$abi_dir/libsonvale.symbols"
