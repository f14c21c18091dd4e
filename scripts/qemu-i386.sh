#!/usr/bin/env bash
# Puts Debian 13's i386 user emulator (qemu 10) into build/qemu and registers it with binfmt_misc
# as the handler of i386 ELF files, so the 32-bit Wine loader runs here. Called by scripts/test.sh
# and the benchmarks for the i686 build.
#
# This kernel runs no 32-bit code and Debian 12's qemu 7.2 crashes under 32-bit Wine, so the
# emulator comes from trixie without touching the machine's apt: a side configuration under
# build/qemu/apt (its own sources list naming trixie of the machine's Debian mirror, its own state
# and cache folders, an empty dpkg status) downloads the qemu-user package; only usr/bin/qemu-i386
# is kept. Nothing is installed into the system. A second run reuses the emulator it finds there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/qemu
emulator=$work/qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
# shellcheck source=scripts/trixie.sh
source "$root/scripts/trixie.sh"
# i386 ELF executables and shared objects: the ELF header of a 32-bit little-endian file for machine 3.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

log() {
  echo "qemu-i386: $*" >&2
}

die() {
  log "FAIL: $*"
  exit 1
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# emulator_fit <file>: true when the file is there and is qemu-i386 10 or later.
emulator_fit() {
  local version
  version=$("$1" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
  [ -n "$version" ] && [ "$version" -ge 10 ]
}

fetch_emulator() {
  local mirror apt=$work/apt
  mirror=$(trixie_mirror)
  [ -n "$mirror" ] || die "no Debian mirror for the machine's own release in its apt sources"
  rm -rf "$apt" "$work/extract"
  mkdir -p "$apt/sources.list.d" "$apt/state/lists/partial" "$apt/cache/archives/partial" "$work/extract"
  echo "deb [signed-by=$TRIXIE_KEYRING] $mirror $TRIXIE_SUITE main" >"$apt/sources.list"
  : >"$apt/status"
  local side=(-q -o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts="$apt/sources.list.d"
              -o Dir::State="$apt/state" -o Dir::State::Status="$apt/status" -o Dir::Cache="$apt/cache"
              -o APT::Architectures=amd64 -o Acquire::Languages=none -o APT::Sandbox::User="$(id -un)")
  log "downloading qemu-user from $mirror $TRIXIE_SUITE"
  apt-get "${side[@]}" update >"$work/apt-update.log" 2>&1 ||
    die "apt-get update of the side configuration failed (log $work/apt-update.log)"
  (cd "$apt" && apt-get "${side[@]}" download qemu-user) >"$work/apt-download.log" 2>&1 ||
    die "apt-get download qemu-user failed (log $work/apt-download.log)"
  dpkg -x "$apt"/qemu-user_*.deb "$work/extract"
  mv "$work/extract/usr/bin/qemu-i386" "$emulator"
  rm -rf "$apt" "$work/extract"
}

# True when i386 ELF files already go, enabled and with flag F, to this emulator or to another
# fit one (say, of another checkout, whose runs a new registration would disturb).
registered_fit() {
  local entry=$binfmt/qemu-i386 interpreter
  [ -e "$entry" ] && grep -qx enabled "$entry" && grep -qx "flags: F" "$entry" || return 1
  interpreter=$(sed -n 's/^interpreter //p' "$entry")
  [ "$interpreter" = "$emulator" ] || emulator_fit "$interpreter"
}

# Registers the emulator (flag F: the kernel opens it now, so it serves every mount namespace),
# replacing a registration of an unfit emulator such as Debian 12's qemu 7.2.
register_emulator() {
  if [ ! -e "$binfmt/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$binfmt" ||
      die "cannot mount binfmt_misc on $binfmt; 32-bit Wine cannot run on this machine"
  fi
  if registered_fit; then
    log "i386 ELF files go to $(sed -n 's/^interpreter //p' "$binfmt/qemu-i386") already"
    return 0
  fi
  if [ -e "$binfmt/qemu-i386" ]; then
    echo -1 | as_root tee "$binfmt/qemu-i386" >/dev/null
  fi
  printf '%s' ":qemu-i386:M::$magic:$mask:$emulator:F" | as_root tee "$binfmt/register" >/dev/null ||
    die "cannot register $emulator in $binfmt/register"
  log "registered $emulator for i386 ELF files"
}

mkdir -p "$work"
if emulator_fit "$emulator"; then
  log "reusing $("$emulator" --version | head -1) in $work"
else
  fetch_emulator
  emulator_fit "$emulator" || die "$emulator is not qemu 10 or later"
fi
register_emulator
