#!/usr/bin/env bash
# Builds what a user downloads into dist/: per architecture (x86 is the i686 build, x64 the x86_64
# one) the setup program and the portable zip, SHA256SUMS over them, and the manifests for winget
# (dist/winget/) and Scoop (dist/corvalent.json). Same commit, same bytes.
#
#   scripts/release.sh [--url <download address>] [--sign-pfx <cert.p12> --sign-password-file <file>]
#
# Clean builds in build/release-i686 and build/release-x86_64. The download address the manifests
# name (CORVALENT_DOWNLOAD_URL) is the maker's web site unless given. With a PKCS#12 certificate
# (CORVALENT_SIGN_PFX, its password in CORVALENT_SIGN_PASSWORD_FILE or CORVALENT_SIGN_PASSWORD;
# keep both out of the repository) both deliverables, the uninstaller and the setups are signed
# (scripts/sign.sh, osslsigncode 2.9 or later); without one nothing is signed.
# SOURCE_DATE_EPOCH (the time stamped into the zip and the signatures) is the commit's time unless
# already set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$root/dist
url=${CORVALENT_DOWNLOAD_URL:-https://www.bramlow.example/corvalent/}
while [ $# -gt 0 ]; do
  case "$1" in
    --url) url=$2 ;;
    --sign-pfx) export CORVALENT_SIGN_PFX=$2 ;;
    --sign-password-file) export CORVALENT_SIGN_PASSWORD_FILE=$2 ;;
    *) echo "release: unknown option $1 (see the head of $0)" >&2; exit 1 ;;
  esac
  [ $# -ge 2 ] || { echo "release: $1 needs a value" >&2; exit 1; }
  shift 2
done
[[ "$url" == */ ]] || url=$url/
sign=OFF
if [ -n "${CORVALENT_SIGN_PFX:-}" ]; then
  [ -r "$CORVALENT_SIGN_PFX" ] || { echo "release: can't read $CORVALENT_SIGN_PFX" >&2; exit 1; }
  CORVALENT_SIGN_PFX=$(realpath "$CORVALENT_SIGN_PFX")
  [ -z "${CORVALENT_SIGN_PASSWORD_FILE:-}" ] ||
    CORVALENT_SIGN_PASSWORD_FILE=$(realpath "$CORVALENT_SIGN_PASSWORD_FILE")
  sign=ON
fi

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
    -DCMAKE_BUILD_TYPE=MinSizeRel -DCORVALENT_SIGN=$sign >/dev/null
  cmake --build "$build" -j"$(nproc)" --target portable_zip installer >/dev/null
  cp "$build"/dist/*-portable.zip "$build"/dist/*-setup.exe "$dist/"
done

(cd "$dist" && LC_ALL=C sha256sum -- *.exe *.zip > SHA256SUMS)
version=$(sed -n 's/^set(CORVALENT_VERSION \(.*\))$/\1/p' "$root/installer/CMakeLists.txt")
python3 "$root/installer/make_manifests.py" "$dist" "$version" "$url"
echo "dist/ (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH, signed: $sign, download address $url):"
(cd "$dist" && LC_ALL=C ls -l --time-style=+ -- *.* SHA256SUMS winget/* | awk '{ printf "  %-36s %8d bytes\n", $NF, $5 }')
