# The ABI checks' common parts, sourced by scripts/steps/65-abi.sh,
# scripts/steps/80-windows.sh and scripts/update-abi.sh. abi/ holds the
# baselines of the released ABI: libsonvale.abi (abidw's description of the
# Linux library), libsonvale.symbols and sonvale.dll.symbols (the exported
# names, demangled, one a line).

abi_dir=abi

# Builds the Linux library alone with debug information (abidw reads the
# types from it) in build-abi and prints its path.
abi_build_linux() {
  cmake -S . -B build-abi -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONVALE_WERROR=ON \
    -DSONVALE_CLI=OFF -DSONVALE_EXAMPLES=OFF -DSONVALE_TESTS=OFF -DSONVALE_BENCH=OFF >/dev/null
  cmake --build build-abi -j"$(nproc)" --target sonvale >&2
  readlink -f build-abi/libsonvale.so
}

# abidw's description of the shared library $1: the exported interface only,
# without source locations, and its sources named from the source folder, so
# that it changes only with the ABI.
abi_describe() {
  abidw --no-corpus-path --no-comp-dir-path --no-show-locs --exported-interfaces-only \
    --type-id-style hash "$1" | sed "s|path='$PWD/|path='|"
}

# The names the shared library or DLL $1 exports, demangled and sorted: what
# the dynamic linker or Windows' loader resolves for a client.
abi_symbols() {
  if [[ "$1" == *.dll ]]; then
    x86_64-w64-mingw32-objdump -p "$1" \
      | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' \
      | x86_64-w64-mingw32-c++filt
  else
    # Left out: the symbols the linker defines in every shared object.
    nm -D --defined-only --demangle "$1" | cut -d' ' -f3- \
      | grep -vxE '_init|_fini|_edata|_end|__bss_start'
  fi | LC_ALL=C sort -u
}

# Compares the exported names of $1 with the baseline list $2: a name gone
# fails unless the major version changed with it; a new name is reported, to
# be added by scripts/update-abi.sh.
abi_compare_symbols() {
  local current gone added
  current=$(abi_symbols "$1")
  gone=$(LC_ALL=C comm -23 "$2" <(echo "$current"))
  added=$(LC_ALL=C comm -13 "$2" <(echo "$current"))
  if [ -n "$added" ]; then
    echo "$(basename "$1") exports names $2 lacks (scripts/update-abi.sh adds them):"
    echo "$added" | sed 's/^/  + /'
  fi
  if [ -z "$gone" ]; then
    echo "$(basename "$1"): every name of $2 is exported"
  elif abi_break_allowed; then
    echo "$(basename "$1") no longer exports, as the new major version may:"
    echo "$gone" | sed 's/^/  - /'
  else
    echo "$(basename "$1") no longer exports, under the same major version:" >&2
    echo "$gone" | sed 's/^/  - /' >&2
    return 1
  fi
}

# True when the project's major version, and so the SONAME, is no longer the
# one the baselines record: a release that may break the ABI.
abi_break_allowed() {
  local major recorded
  major=$(sed -n 's/^project(Sonvale VERSION \([0-9]*\)\..*/\1/p' CMakeLists.txt)
  recorded=$(sed -n "1s/.* soname='libsonvale\.so\.\([0-9]*\)'.*/\1/p" "$abi_dir/libsonvale.abi")
  [ "$major" != "$recorded" ]
}

# Compares the shared library $2 with the ABI description $1 (abidiff),
# writing the library's own description to $3: any change but an addition
# fails, unless the major version changed with it. Additions are reported.
abi_compare_description() {
  local baseline=$1 library=$2 current=$3 status=0
  abi_describe "$library" >"$current"
  abidiff "$baseline" "$current" || status=$?
  # Bits 1 and 2: abidiff itself failed; 4 and 8: the ABI changed.
  if [ $((status & 3)) -ne 0 ]; then
    echo "abidiff failed (status $status)" >&2
    return 1
  fi
  [ "$status" -eq 0 ] && return 0
  status=0
  abidiff --no-added-syms "$baseline" "$current" >/dev/null || status=$?
  if [ "$status" -eq 0 ]; then
    echo "$(basename "$library"): additions only, which keep the ABI (scripts/update-abi.sh records them)"
  elif abi_break_allowed; then
    echo "$(basename "$library"): the ABI changed with the major version; scripts/update-abi.sh records it"
  else
    echo "$(basename "$library"): an incompatible ABI change without a new major version" \
      "(SONAME): keep the ABI, or raise the major version" >&2
    return 1
  fi
}
