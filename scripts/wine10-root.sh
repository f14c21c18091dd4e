#!/usr/bin/env bash
# Debian 13's Wine 10, the second Windows both builds' tests run on (scripts/test.sh wine10 and
# i686-wine10): a Debian 13 root in build/wine10/root, made once by debootstrap from the machine's own
# Debian mirror and given wine, wine64, the 32-bit wine32 (run under qemu, scripts/qemu-i386.sh),
# xvfb, xdotool, ctest and python3 by its own apt. The machine's apt sources and packages stay as
# they are. Root, or sudo.
#
# Debian 13's 32-bit Wine loader is position-independent, and the emulator puts such a program where
# the kernel puts one of a 32-bit process on x86_64, at 0x400000: the preferred base of most 32-bit
# programs, which a program without relocations (NSIS's setup stub) cannot leave. Wine's preloader
# (wine32-preloader, which Debian only suggests) is a program at a fixed address above it that
# reserves the low addresses before it loads the loader, as Windows keeps them free.
#   scripts/wine10-root.sh                  makes the root when it is missing or half made
#   scripts/wine10-root.sh run <command...>  runs the command in the root as the caller, in the
#                                            current folder (inside the checkout)
# A run mounts /proc, a /dev/shm of its own and the checkout (at its own path) into the root, in a
# mount namespace that ends with the run; a trap unmounts them too, so nothing stays mounted
# whatever happens. A root lacking the mark that its making writes last (the packages and Wine's
# version), or whose mark names other packages, is removed and made again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/wine10
rootfs=$work/root
ready=$rootfs/.corvalent-root-ready
packages=(wine wine64 wine32:i386 wine32-preloader:i386 xvfb xdotool cmake python3)
# shellcheck source=scripts/trixie.sh
source "$root/scripts/trixie.sh"

log() {
  echo "wine10-root: $*" >&2
}

die() {
  log "FAIL: $*"
  exit 1
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# enter <user:group> <command...>: the command in the root, with the run's mounts.
enter() {
  as_root unshare --mount --propagation private -- "$0" --inside "$@"
}

# In the run's own mount namespace, as root: mounts, the command, unmounts.
inside() {
  local user=$1 folder=$PWD
  shift
  trap 'umount -l "$rootfs$root" "$rootfs/dev/shm" "$rootfs/proc" 2>/dev/null || true' EXIT
  mount -t proc proc "$rootfs/proc"
  mount -t tmpfs -o mode=1777,nosuid,nodev shm "$rootfs/dev/shm"
  mkdir -p "$rootfs$root"
  mount --bind "$root" "$rootfs$root"
  chroot --userspec="$user" "$rootfs" /usr/bin/env PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 \
    /bin/bash -c 'cd "$1" && shift && "$@"' enter "$folder" "$@"
}

make_root() {
  local mirror start=$SECONDS
  mirror=$(trixie_mirror)
  [ -n "$mirror" ] || die "no Debian mirror for the machine's own release in its apt sources"
  if [ -e "$rootfs" ]; then
    # A bind mount of the checkout left in it would be deleted with it.
    ! grep -q " $rootfs/" /proc/self/mountinfo || die "something is mounted in $rootfs; unmount it first"
    log "removing the half-made or outdated root $rootfs"
    as_root rm -rf --one-file-system "$rootfs"
  fi
  log "debootstrap $TRIXIE_SUITE from $mirror into $rootfs (log $work/debootstrap.log)"
  as_root unshare --mount --propagation private -- debootstrap --variant=minbase --keyring="$TRIXIE_KEYRING" \
    "$TRIXIE_SUITE" "$rootfs" "$mirror" >"$work/debootstrap.log" 2>&1 || die "debootstrap failed"
  log "installing ${packages[*]} in the root (log $work/apt.log)"
  (cd "$root" && enter 0:0 sh -c 'dpkg --add-architecture i386 && apt-get update -q &&
     DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
     --no-install-recommends "$@" && apt-get clean' apt "${packages[@]}") >"$work/apt.log" 2>&1 ||
    die "installing the packages in the root failed"
  as_root sh -c 'echo "$1"; dpkg-query --root="$2" -W -f="\${Version}\n" wine64' mark "${packages[*]}" "$rootfs" |
    as_root tee "$ready" >/dev/null
  log "root made in $((SECONDS - start)) s"
}

case "${1:-}" in
  --inside) shift; inside "$@"; exit ;;
esac
mkdir -p "$work"
exec 9>"$work/lock"
flock 9  # one making at a time: a second caller waits, an interrupted making's debootstrap holds it to its end
if [ -f "$ready" ] && [ "$(head -1 "$ready")" = "${packages[*]}" ]; then
  log "reusing the root $rootfs (wine64 $(tail -1 "$ready"))"
else
  make_root
fi
exec 9>&-
if [ "${1:-}" = run ]; then
  shift
  enter "$(id -u):$(id -g)" "$@"
fi
