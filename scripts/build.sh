#!/usr/bin/env bash
# Builds both architectures: build/i686 (the deliverables) and build/x86_64; with "tests", also the
# test programs of the architectures named after it (both when none is named).
#   scripts/build.sh [tests [i686|x86_64]...]        called by scripts/run.sh and scripts/test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
tested=()
if [ "${1:-}" = tests ]; then
  shift
  tested=(i686 x86_64)
  [ $# -gt 0 ] && tested=("$@")
fi

configure_and_build() {
  local arch=$1; shift
  cmake -S "$root" -B "$root/build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" "$@" >/dev/null
  cmake --build "$root/build/$arch" -j"$jobs"
}

for arch in i686 x86_64; do
  if [[ " ${tested[*]} " == *" $arch "* ]]; then
    configure_and_build "$arch" -DCORVALENT_TESTS=ON
  else
    configure_and_build "$arch"
  fi
done
