# Test environment for the Wine test run: an Xvfb display, a fresh Wine prefix and one wineserver.
# Sourced by the test scripts: test_env_start <build-dir> ... test_env_stop (the caller sets the trap),
# or test_env_ctest for a whole ctest run. scripts/wine10-root.sh runs them inside the Wine 10 root.
#
#   source scripts/test-env.sh
#   trap test_env_stop EXIT
#   test_env_start build/x86_64
#   ctest --test-dir build/x86_64 --output-on-failure
#
# CORVALENT_REUSE_PREFIX=1 keeps an existing prefix of the build dir instead of booting a fresh one.
# The prefix is a win64 one for both builds; i686 programs in it run under the 32-bit loader
# (test_env_loader i686), which needs scripts/qemu-i386.sh to have run.

TEST_ENV_WINE=/usr/lib/wine/wine64
TEST_ENV_WINESERVER=/usr/lib/wine/wineserver64
TEST_ENV_XVFB_PID=
TEST_ENV_SERVER_STARTED=

# test_env_loader <arch>: the Wine loader of that build's programs, as its toolchain file gives it to ctest.
test_env_loader() {
  sed -n 's/^set(MINGW_WINE_LOADER \(.*\))$/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../cmake/toolchain-$1.cmake"
}

test_env_log() {
  echo "test-env: $*" >&2
}

test_env_now() {
  date +%s.%N
}

test_env_since() {
  awk -v start="$1" -v end="$(test_env_now)" 'BEGIN { printf "%.1f", end - start }'
}

# Waits until the display answers: its socket exists and xdotool can ask it for its size.
test_env_wait_display() {
  local number=$1 tries=0
  while [ $tries -lt 100 ]; do
    if ! kill -0 "$TEST_ENV_XVFB_PID" 2>/dev/null; then
      return 1
    fi
    if [ -S "/tmp/.X11-unix/X$number" ] &&
       DISPLAY=":$number" xdotool getdisplaygeometry >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.1
    tries=$((tries + 1))
  done
  return 1
}

# Starts Xvfb on the first free display number from 90 on and exports DISPLAY.
test_env_start_display() {
  local number
  for number in $(seq 90 189); do
    if [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; then
      continue
    fi
    Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    TEST_ENV_XVFB_PID=$!
    if test_env_wait_display "$number"; then
      export DISPLAY=":$number"
      return 0
    fi
    # Lost the race for this number (or Xvfb failed): stop it and try the next one.
    kill "$TEST_ENV_XVFB_PID" 2>/dev/null
    wait "$TEST_ENV_XVFB_PID" 2>/dev/null
    TEST_ENV_XVFB_PID=
  done
  test_env_log "no free X display between :90 and :189, or Xvfb does not start"
  return 1
}

# Boots a fresh win64 prefix without the Mono/Gecko prompts and without desktop menu entries,
# waits for it to settle, then switches off the crash dialog.
test_env_boot_prefix() {
  local prefix=$1
  if [ "${CORVALENT_REUSE_PREFIX:-0}" = 1 ] && [ -f "$prefix/system.reg" ]; then
    export WINEPREFIX="$prefix"
    test_env_log "reusing Wine prefix $prefix"
    return 0
  fi
  rm -rf "$prefix"
  mkdir -p "$prefix"
  export WINEPREFIX="$prefix"
  if ! WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
       "$TEST_ENV_WINE" wineboot -i >/dev/null 2>&1; then
    test_env_log "wineboot failed for $prefix"
    return 1
  fi
  timeout 120 "$TEST_ENV_WINESERVER" -w
}

# One registry import (one Wine process): no crash dialog that could wait for a click, X windows
# that no window manager manages (Xvfb runs without one, and Wine waits up to 2 s for a window
# manager to withdraw each managed window that is hidden, every closed message box), and no
# winemenubuilder, which Wine starts after every saved shell link and which puts the default
# StartUp folder back into "Shell folders" while a test has its own there.
test_env_configure_prefix() {
  local file="$WINEPREFIX/test-env.reg"
  printf '%s\r\n' 'REGEDIT4' '' \
    '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' '"ShowCrashDialog"=dword:00000000' '' \
    '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Managed"="N"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\DllOverrides]' '"winemenubuilder.exe"=""' '' > "$file"
  "$TEST_ENV_WINE" reg import "$(test_env_winepath "$file")" >/dev/null 2>&1 ||
    { test_env_log "could not import $file into the prefix"; return 1; }
}

# The Windows path of a file in the prefix folder (Wine maps the Unix root to Z:).
test_env_winepath() {
  echo "Z:${1//\//\\}"
}

# test_env_start <build-dir> [prefix]: display, prefix (<build-dir>/wineprefix when none is given),
# one wineserver for the run.
test_env_start() {
  local build=${1:?usage: test_env_start <build-dir> [prefix]} prefix=${2:-} start
  build=$(cd "$build" && pwd) || return 1
  export WINEDEBUG="${WINEDEBUG--all}"
  export WINESERVER="$TEST_ENV_WINESERVER"
  # Nothing below may fall back to ~/.wine; DLL overrides are set per test, never for the run.
  unset WINEPREFIX WINEDLLOVERRIDES

  start=$(test_env_now)
  test_env_start_display || return 1
  test_env_log "Xvfb $DISPLAY ready in $(test_env_since "$start") s"

  start=$(test_env_now)
  test_env_boot_prefix "${prefix:-$build/wineprefix}" || return 1
  test_env_log "Wine prefix $WINEPREFIX ready in $(test_env_since "$start") s"

  "$TEST_ENV_WINESERVER" -p || { test_env_log "wineserver -p failed"; return 1; }
  TEST_ENV_SERVER_STARTED=1
  start=$(test_env_now)
  test_env_configure_prefix || return 1
  test_env_log "prefix settings imported in $(test_env_since "$start") s (one Wine process start)"
}

# test_env_stop: ends the wineserver (and every Wine process of the prefix) and Xvfb.
# Safe to call more than once and after a failed or partial start.
test_env_stop() {
  if [ -n "$TEST_ENV_SERVER_STARTED" ] && [ -n "$WINEPREFIX" ]; then
    "$TEST_ENV_WINESERVER" -k >/dev/null 2>&1
    timeout 30 "$TEST_ENV_WINESERVER" -w >/dev/null 2>&1
  fi
  TEST_ENV_SERVER_STARTED=
  if [ -n "$TEST_ENV_XVFB_PID" ]; then
    kill "$TEST_ENV_XVFB_PID" 2>/dev/null
    wait "$TEST_ENV_XVFB_PID" 2>/dev/null
  fi
  TEST_ENV_XVFB_PID=
}

# test_env_ctest <build-dir> <prefix> [ctest arguments...]: the build's tests in an environment of
# their own, stopped at the end (in a subshell, so the caller's environment stays as it was).
test_env_ctest() (
  trap test_env_stop EXIT
  test_env_start "$1" "$2" && ctest --test-dir "$1" --output-on-failure "${@:3}"
)
