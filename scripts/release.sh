#!/usr/bin/env bash
# Builds what a user downloads into dist/: per architecture (x86 is the i686 build, x64 the x86_64
# one) the setup program and the portable zip, SHA256SUMS over them, and the manifests for winget
# (dist/winget/) and Scoop (dist/corvalent.json). Unsigned: same commit, same bytes.
#
#   scripts/release.sh [--url <download address>]
#                      [--sign-pfx <cert.p12> --sign-password-file <file>
#                       (--timestamp-url <address> | --no-timestamp)]
#
# Clean builds in build/release-i686 and build/release-x86_64. The download address the manifests
# name (CORVALENT_DOWNLOAD_URL) is the maker's web site unless given. With a PKCS#12 certificate
# (CORVALENT_SIGN_PFX, its password in CORVALENT_SIGN_PASSWORD_FILE or CORVALENT_SIGN_PASSWORD;
# keep both out of the repository) both deliverables, the uninstaller and the setups are signed
# and time-stamped by the authority at CORVALENT_TIMESTAMP_URL (scripts/sign.sh, osslsigncode 2.9
# or later); a signed release without one is refused unless CORVALENT_NO_TIMESTAMP=1. The stamp is
# the authority's, so a signed release differs from one build to the next: verify it, don't compare.
# Without a certificate nothing is signed.
# SOURCE_DATE_EPOCH (the time stamped into the zip and the signing time) is the commit's time unless
# already set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$root/dist
url=${CORVALENT_DOWNLOAD_URL:-}
while [ $# -gt 0 ]; do
  case "$1" in
    --no-timestamp) export CORVALENT_NO_TIMESTAMP=1; shift; continue ;;
    --url) url=$2 ;;
    --sign-pfx) export CORVALENT_SIGN_PFX=$2 ;;
    --sign-password-file) export CORVALENT_SIGN_PASSWORD_FILE=$2 ;;
    --timestamp-url) export CORVALENT_TIMESTAMP_URL=$2 ;;
    *) echo "release: unknown option $1 (see the head of $0)" >&2; exit 1 ;;
  esac
  [ $# -ge 2 ] || { echo "release: $1 needs a value" >&2; exit 1; }
  shift 2
done
default_url=
[ -n "$url" ] || { url=https://www.bramlow.example/corvalent/; default_url=$url; }
[[ "$url" == */ ]] || url=$url/
sign=OFF
if [ -n "${CORVALENT_SIGN_PFX:-}" ]; then
  [ -r "$CORVALENT_SIGN_PFX" ] || { echo "release: can't read $CORVALENT_SIGN_PFX" >&2; exit 1; }
  CORVALENT_SIGN_PFX=$(realpath "$CORVALENT_SIGN_PFX")
  [ -z "${CORVALENT_SIGN_PASSWORD_FILE:-}" ] ||
    CORVALENT_SIGN_PASSWORD_FILE=$(realpath "$CORVALENT_SIGN_PASSWORD_FILE")
  for variable in CORVALENT_TIMESTAMP_CERTS CORVALENT_TIMESTAMP_KEY; do
    [ -z "${!variable:-}" ] || export "$variable=$(realpath "${!variable}")"
  done
  # Refused here, before anything is built, when there is no time stamp to be had.
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-0} "$root/scripts/sign.sh" || exit 1
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
[ -z "$default_url" ] ||
  echo "release: the manifests name the default download address $default_url; give --url for the real one"
