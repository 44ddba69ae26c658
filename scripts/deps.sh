#!/usr/bin/env bash
# Installs the Debian packages Sonvale needs, where missing, by purpose:
#   build    the library, the sonvale program and the README's examples
#   test     the tests, benchmarks, fuzzing, sound-server and ABI checks, the
#            API reference
#   windows  the Windows cross build, Wine and the MSVC-style client
#   debian   the Debian packages
# With no purpose named, all of them (what scripts/test.sh runs).
set -euo pipefail

build=(cmake g++ make pkg-config libasound2-dev sox python3)
test=(
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev libsndfile1-dev
  libasound2-plugins pulseaudio pulseaudio-utils alsa-utils abigail-tools doxygen
)
windows=(g++-mingw-w64-x86-64-posix wine64 googletest clang lld llvm)
debian=(dpkg-dev debhelper doxygen help2man lintian)

purposes=("$@")
[ ${#purposes[@]} -gt 0 ] || purposes=(build test windows debian)
packages=()
for purpose in "${purposes[@]}"; do
  case "$purpose" in
    build | test | windows | debian)
      declare -n group=$purpose
      packages+=("${group[@]}")
      unset -n group
      ;;
    *) echo "deps.sh: unknown purpose '$purpose' (build, test, windows or debian)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
