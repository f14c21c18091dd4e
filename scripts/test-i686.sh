#!/usr/bin/env bash
# Opt-in run of the 32-bit build under test: builds build/i686-tests with the tests and runs the
# tray unit tests, the store tests and one start-and-exit of Corvalent.exe under 32-bit Wine in qemu.
#
# The kernel runs no 32-bit Linux code here, so the 32-bit Wine loader runs under qemu user
# emulation, registered as the binfmt_misc handler of i386 ELF files. The prefix is a win64 one
# (booted by wine64, as for the x86_64 run); the i686 programs in it run under /usr/lib/wine/wine,
# the loader that cmake/toolchain-i686.cmake hands to tests/harness/wine-run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/i686-tests
binfmt=/proc/sys/fs/binfmt_misc
loader=/usr/lib/wine/wine
# Seconds one test program may take under emulation (every Wine process start is slow there).
program_timeout=${I686_PROGRAM_TIMEOUT:-1200}
results=()
failed=0

log() {
  echo "test-i686: $*" >&2
}

die() {
  log "FAIL: $*"
  exit 1
}

# i386 packages: the architecture, qemu user emulation and the 32-bit Wine loader.
install_missing() {
  local packages=(qemu-user-static binfmt-support wine32:i386) missing=() package
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt-get -o DPkg::Lock::Timeout=900 update -qq
  fi
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed' ||
      missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q \
      --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# Mounts binfmt_misc and registers qemu-i386-static for i386 ELF files. Debian's qemu packages
# register no i386 handler on an amd64 host, so the line is written here (fixed binary: "F").
register_i386_handler() {
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" ||
      die "cannot mount binfmt_misc on $binfmt; 32-bit Wine cannot run in this machine"
  fi
  if [ ! -e "$binfmt/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > "$binfmt/register" || die "cannot register the i386 handler in $binfmt/register"
  fi
  grep -qx enabled "$binfmt/qemu-i386" || echo 1 > "$binfmt/qemu-i386"
  "$loader" --version >/dev/null ||
    die "$loader does not run although $binfmt/qemu-i386 is registered"
}

build_tree() {
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake" \
    -DCORVALENT_TESTS=ON >/dev/null
  cmake --build "$build" -j"$(nproc)" >/dev/null
}

# Whether a log that ends in a segmentation fault (exit 139) got there after GoogleTest reported
# every test passed: qemu 7.2 crashes now and then while a 32-bit Wine process ends.
passed_before_exit_crash() {
  grep -q '^\[  PASSED  \] ' "$1" && ! grep -q '^\[  FAILED  \] ' "$1" &&
    grep -q '^qemu: uncaught target signal 11' "$1"
}

# run_program <label> <program> [gtest args...]: one test program through the ctest emulator.
run_program() {
  local label=$1 program=$2 start status=0
  shift 2
  start=$(date +%s)
  (cd "$build/tests" && timeout "$program_timeout" "$root/tests/harness/wine-run" "$loader" \
     "$program" --gtest_color=no "$@") >"$build/$label.log" 2>&1 || status=$?
  if [ $status -eq 0 ]; then
    results+=("PASS $label ($(( $(date +%s) - start )) s)")
  elif [ $status -eq 139 ] && passed_before_exit_crash "$build/$label.log"; then
    results+=("PASS $label ($(( $(date +%s) - start )) s; every test passed, then qemu crashed at process exit)")
  else
    results+=("FAIL $label (exit $status after $(( $(date +%s) - start )) s; log $build/$label.log)")
    failed=1
  fi
}

report() {
  local line
  echo "==== i686 test run ===="
  for line in "${results[@]}"; do
    echo "$line"
  done
  if [ $failed -eq 0 ]; then
    echo "PASS: the 32-bit build passed"
  else
    echo "FAIL: the 32-bit build failed"
  fi
}

[ "$(id -u)" -eq 0 ] || die "run as root (apt-get, mount and binfmt_misc registration)"
"$root/scripts/install-deps.sh"
install_missing
register_i386_handler
build_tree

source "$root/scripts/test-env.sh"
trap test_env_stop EXIT
test_env_start "$build" </dev/null >"$build/test-env.log" 2>&1 ||
  die "the test environment did not start (log $build/test-env.log)"

run_program tray_units tray_units.exe
run_program config_store config_store.exe
# One tray instance started with no words, then a second copy with "exit": both end with 0.
run_program start_and_exit e2e_startup.exe \
  --gtest_filter=Startup.NoWordsWithoutCopyRunTrayInstanceThatExitWordEndsWithZero
report
exit $failed
