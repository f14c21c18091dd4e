#!/usr/bin/env bash
# Builds both architectures: build/i686 (the deliverables) and build/x86_64 (with the tests
# when given "tests"). Called by scripts/run.sh and scripts/test.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

configure_and_build() {
  local arch=$1; shift
  cmake -S "$root" -B "$root/build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" "$@" >/dev/null
  cmake --build "$root/build/$arch" -j"$jobs"
}

configure_and_build i686
if [ "${1:-}" = tests ]; then
  configure_and_build x86_64 -DCORVALENT_TESTS=ON
else
  configure_and_build x86_64
fi
