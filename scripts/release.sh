#!/usr/bin/env bash
# Builds what a user downloads into dist/: per architecture (x86 is the i686 build, x64 the x86_64
# one) the setup program and the portable zip, and SHA256SUMS over them. Same commit, same bytes.
#
#   scripts/release.sh        # clean builds in build/release-i686 and build/release-x86_64
#
# SOURCE_DATE_EPOCH (the time stamped into the zip) is the commit's time unless already set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$root/dist

"$root/scripts/install-deps.sh"
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct) ||
    { echo "release: not a git checkout; set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH

rm -rf "$dist"
mkdir -p "$dist"
for arch in i686 x86_64; do
  build=$root/build/release-$arch
  rm -rf "$build"
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
  cmake --build "$build" -j"$(nproc)" --target portable_zip installer >/dev/null
  cp "$build"/dist/*-portable.zip "$build"/dist/*-setup.exe "$dist/"
done

(cd "$dist" && LC_ALL=C sha256sum -- *.exe *.zip > SHA256SUMS)
echo "dist/ (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
(cd "$dist" && LC_ALL=C ls -l --time-style=+ -- * | awk '{ printf "  %-36s %8d bytes\n", $NF, $5 }')
