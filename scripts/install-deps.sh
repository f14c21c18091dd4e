#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing; with "i686" also
# the i386 architecture and the 32-bit Wine loader. Called by scripts/run.sh and scripts/test.sh.
set -euo pipefail

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb xdotool cmake googletest python3 nsis)
# scripts/release.sh and check-release.sh: signing (osslsigncode 2.9 or later, for -time and
# -readpass; Debian 12 has it from bookworm-backports), the throwaway certificate, the manifests.
packages+=(osslsigncode openssl python3-jsonschema python3-yaml)
packages+=(trayer x11vnc x11-apps x11-utils x11-xserver-utils)  # scripts/run.sh: tray, VNC, xwd, xwininfo, xrefresh
packages+=(debootstrap)  # scripts/wine10-root.sh: the Debian 13 root of the Wine 10 run
packages+=(fonts-wine)  # scripts/screenshots.sh: Wine's own fonts (Marlett draws the caption buttons)
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
if [ "${1:-}" = i686 ]; then
  packages+=(wine32:i386)
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
fi
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
  --no-install-recommends "${missing[@]}" >/dev/null
