#!/usr/bin/env bash
# The README's first command: installs what is missing, builds, and runs Corvalent (the 64-bit build;
# this kernel runs no 32-bit code) under Wine in a system tray until it ends. See "Usage" below.
#
# Usage: scripts/run.sh [--wine-wininet] [words...]   starts a run; the words go to the program
#        scripts/run.sh words...                       with a run going on: passes the words to the
#                                                       running copy ("exit" ends it and the run)
#        scripts/run.sh --screenshot [file.png]        with a run going on: saves the tray again
#
# Without a display it starts Xvfb with a system tray (trayer) and an x11vnc server bound to
# localhost; with one it docks into the desktop's tray. It waits until the icon has docked, saves a
# screenshot of the tray and prints its path. Unless --wine-wininet is given, the program runs
# against the project's WinInet stand-in (tests/doubles, built into build/run-doubles and chosen for
# Corvalent.exe in the run's own Wine prefix only), since Wine's WinInet forgets the offline state.
# When the program ends, everything the run started ends with it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
run=$root/build/run
state=$run/run.env
prefix=$root/build/run-prefix
doubles=$root/build/run-doubles
# shellcheck source=scripts/test-env.sh
source "$root/scripts/test-env.sh"

DOCK_TIMEOUT=30
# At this height Wine's icon window has its final size before it first draws; in a taller panel
# (32 pixels) the first picture showed a stale second copy of the icon above the redrawn one.
TRAYER_HEIGHT=20
HEADLESS_SCALE=4

RUN_PID='' RUN_PROGRAM='' RUN_ICON='' RUN_TRAY='' RUN_SCALE=1
TRAYER_PID='' VNC_PID='' VNC_PORT='' BOOT_PID=''

say() {
  echo "run: $*"
}

fail() {
  say "$*" >&2
  exit 1
}

# Loads the state file of a run that is still going on; false (and the file gone) when there is none.
load_active_run() {
  local pid
  [ -f "$state" ] || return 1
  pid=$(sed -n 's/^RUN_PID=//p' "$state")
  if [ -z "$pid" ] || ! grep -qs run.sh "/proc/$pid/cmdline"; then
    rm -f "$state"
    return 1
  fi
  # shellcheck disable=SC1090
  source "$state"
  export DISPLAY WINEPREFIX
}

# True when one of the command words matches, in any case: has_word <regex> words...
has_word() {
  local pattern=$1 word
  shift
  for word in "$@"; do
    [[ ${word,,} =~ ^($pattern)$ ]] && return 0
  done
  return 1
}

# True when the icon window shows a finished picture: more than one colour, and the same picture as
# at the last look (so not halfway through a redraw).
icon_drawn() {
  local dump=$run/icon.xwd
  xwd -silent -id "$1" > "$dump.next" 2>/dev/null || return 1
  if cmp -s "$dump" "$dump.next" && [ "$(python3 "$root/scripts/xwd2png.py" --colours "$dump")" -gt 1 ]; then
    return 0
  fi
  mv "$dump.next" "$dump"
  return 1
}

# Waits until the icon has drawn itself afresh: wait_for_icon <window> <program>. The caller has the
# window cleared first, or it has just docked.
wait_for_icon() {
  local deadline=$((SECONDS + DOCK_TIMEOUT))
  rm -f "$run/icon.xwd"
  while [ $SECONDS -lt $deadline ] && kill -0 "$2" 2>/dev/null; do
    icon_drawn "$1" && return 0
    sleep 0.1
  done
  return 1
}

# Saves a picture of the tray window that holds the icon: screenshot <file.png>. The tray's area is
# exposed first (xrefresh), so the icon draws itself afresh: a first drawing made before the icon
# window had its final size can leave a stale row of pixels that Wine never clears by itself.
screenshot() {
  local dump=$run/tray.xwd geometry
  [ -n "$RUN_TRAY" ] || fail "the icon has not docked into a tray; there is nothing to take a picture of"
  geometry=$(xwininfo -id "$RUN_TRAY" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
    /Width:/ { w = $2 } /Height:/ { h = $2 } END { printf "%dx%d+%d+%d", w, h, x, y }')
  xrefresh -geometry "$geometry"
  wait_for_icon "$RUN_ICON" "$RUN_PROGRAM" || return 1
  xwd -silent -id "$RUN_TRAY" > "$dump" || return 1
  python3 "$root/scripts/xwd2png.py" "$dump" "$1" "$RUN_SCALE"
}

# Passes words to the running copy; for "exit" and "uninstall" also waits until the run has ended.
forward() {
  local code=0
  "$TEST_ENV_WINE" "$run/Corvalent.exe" "$@" || code=$?
  if has_word 'exit|uninstall' "$@"; then
    timeout 60 tail --pid="$RUN_PID" -f /dev/null || fail "the run (process $RUN_PID) did not end"
    say "Corvalent and everything its run started have ended."
  fi
  return $code
}

# Ends what this run started; the wineserver's end takes the program and Wine's own processes with it.
stop_run() {
  local pid
  trap - EXIT INT TERM
  set +e
  rm -f "$state"
  for pid in $VNC_PID $TRAYER_PID $BOOT_PID; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  test_env_stop
}

# The WinInet the program gets, for Corvalent.exe in the run's prefix only: the stand-in or Wine's.
choose_wininet() {
  local key='HKCU\Software\Wine\AppDefaults\Corvalent.exe\DllOverrides'
  if [ "$1" = stand-in ]; then
    "$TEST_ENV_WINE" reg add "$key" /v wininet /d native /f >/dev/null 2>&1 ||
      fail "could not choose the WinInet stand-in in $WINEPREFIX"
  else
    "$TEST_ENV_WINE" reg delete "$key" /v wininet /f >/dev/null 2>&1 || true
  fi
}

build_stand_in() {
  if [ ! -f "$doubles/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$doubles" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" \
      -DCORVALENT_TESTS=ON >/dev/null
  fi
  cmake --build "$doubles" --target double_wininet >/dev/null
}

stage_program() {
  mkdir -p "$run"
  cp "$root/build/x86_64/bin/Corvalent.exe" "$root/build/x86_64/bin/CVConfig.dll" "$run/"
  rm -f "$run/wininet.dll"
  if [ "$1" = stand-in ]; then cp "$doubles/doubles/wininet.dll" "$run/"; fi
}

start_trayer() {
  trayer --edge top --align right --widthtype request --height "$TRAYER_HEIGHT" \
    --SetDockType false --SetPartialStrut false >/dev/null 2>&1 &
  TRAYER_PID=$!
  timeout 20 xdotool search --sync --name '^panel$' >/dev/null 2>&1 || fail "trayer did not start"
}

# Starts x11vnc on the first free port from 5900 on, bound to localhost (sets VNC_PID, VNC_PORT).
start_vnc() {
  local port log=$run/x11vnc.log
  for port in $(seq 5900 5999); do
    x11vnc -display "$DISPLAY" -localhost -rfbport "$port" -nopw -forever -shared -quiet \
      >"$log" 2>&1 &
    VNC_PID=$!
    # x11vnc prints PORT=<port> once it listens, or ends when the port is taken.
    while kill -0 "$VNC_PID" 2>/dev/null; do
      if grep -q "^PORT=$port" "$log"; then
        VNC_PORT=$port
        return 0
      fi
      sleep 0.1
    done
  done
  VNC_PID=
  return 1
}

parent_of() {
  xwininfo -children -id "$1" 2>/dev/null | sed -n 's/^ *Parent window id: \(0x[0-9a-f]*\).*/\1/p'
}

root_window() {
  xwininfo -root | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p'
}

# Wine's tray icons are X windows of explorer.exe; the docked one has been reparented into the tray.
docked_icon() {
  local top=$1 window
  for window in $(xdotool search --onlyvisible --class '^explorer\.exe$' 2>/dev/null); do
    window=$(printf '0x%x' "$window")
    if [ "$(parent_of "$window")" != "$top" ]; then
      echo "$window"
      return 0
    fi
  done
  return 1
}

# The top-level window that holds a window: the tray's panel.
top_level_of() {
  local window=$1 top=$2 parent
  while parent=$(parent_of "$window") && [ -n "$parent" ] && [ "$parent" != "$top" ]; do
    window=$parent
  done
  echo "$window"
}

# Waits until the icon has docked (sets RUN_ICON and RUN_TRAY), or the program has ended.
wait_for_docked_icon() {
  local top icon deadline=$((SECONDS + DOCK_TIMEOUT))
  top=$(root_window)
  while [ $SECONDS -lt $deadline ] && kill -0 "$RUN_PROGRAM" 2>/dev/null; do
    if icon=$(docked_icon "$top"); then
      RUN_ICON=$icon
      RUN_TRAY=$(top_level_of "$icon" "$top")
      return 0
    fi
    sleep 0.1
  done
  return 1
}

save_state() {
  printf '%s\n' "RUN_PID=$$" "RUN_PROGRAM=$RUN_PROGRAM" "DISPLAY=$DISPLAY" "WINEPREFIX=$WINEPREFIX" \
    "RUN_ICON=$RUN_ICON" "RUN_TRAY=$RUN_TRAY" "RUN_SCALE=$RUN_SCALE" \
    "RUN_VNC_PORT=$VNC_PORT" "RUN_PIDS='$TEST_ENV_XVFB_PID $TRAYER_PID $VNC_PID'" > "$state"
}

print_vnc_help() {
  local port=$VNC_PORT
  say "See and click the icon with a VNC viewer (x11vnc on $DISPLAY, port $port, localhost only);"
  say "on your own machine run  ssh -L $port:localhost:$port $(id -un)@$(hostname -f 2>/dev/null || hostname)"
  say "and point the viewer at localhost:$port"
}

start_run() {
  local wininet=stand-in code=0 headless=
  if [ "${1:-}" = --wine-wininet ]; then
    wininet=wine
    shift
  fi
  "$root/scripts/install-deps.sh"
  trap stop_run EXIT
  trap 'exit 130' INT TERM
  unset WINEDLLOVERRIDES
  export WINEPREFIX=$prefix
  # From here on the end of the run ends the prefix's wineserver (and every Wine process with it).
  TEST_ENV_SERVER_STARTED=1
  if [ -z "${DISPLAY:-}" ]; then
    headless=1
    RUN_SCALE=$HEADLESS_SCALE
    test_env_start_display || fail "could not start Xvfb"
    say "No display: started Xvfb on $DISPLAY"
  fi
  mkdir -p "$run"
  # The prefix boots (the first time) while the program builds.
  (CORVALENT_REUSE_PREFIX=1 test_env_boot_prefix "$prefix") >"$run/boot.log" 2>&1 &
  BOOT_PID=$!
  "$root/scripts/build.sh"
  say "Built: build/i686/bin (the deliverables) and build/x86_64/bin"
  if [ $wininet = stand-in ]; then build_stand_in; fi
  stage_program $wininet
  wait "$BOOT_PID" || fail "the Wine prefix $prefix did not boot (see $run/boot.log)"
  BOOT_PID=
  "$TEST_ENV_WINESERVER" -p >/dev/null 2>&1 || fail "wineserver did not start"
  choose_wininet $wininet
  if [ -n "$headless" ]; then start_trayer; fi

  "$TEST_ENV_WINE" "$run/Corvalent.exe" "$@" >"$run/wine.log" 2>&1 &
  RUN_PROGRAM=$!
  save_state
  if wait_for_docked_icon; then
    save_state
    screenshot "$run/tray.png" || fail "could not save the screenshot"
    say "Screenshot of the tray: $run/tray.png"
  else
    say "The icon did not dock within $DOCK_TIMEOUT s (no system tray on $DISPLAY?); no screenshot."
  fi
  if [ -n "$headless" ]; then
    if start_vnc; then
      save_state
      print_vnc_help
    else
      say "x11vnc did not start (see $run/x11vnc.log)"
    fi
  fi
  if [ $wininet = stand-in ]; then
    say "WinInet: the project's stand-in (a click, the menu and the hot key switch the icon)."
  else
    say "WinInet: Wine's own (it forgets the offline state, so the icon stays online)."
  fi
  say "End the program (and the run) with: scripts/run.sh exit   or its menu's \"Exit Corvalent\""
  wait "$RUN_PROGRAM" || code=$?
  say "Corvalent ended (exit code $code); stopping what the run started."
  return $code
}

export WINEDEBUG=${WINEDEBUG:--all} WINESERVER=$TEST_ENV_WINESERVER
if [ "${1:-}" = --screenshot ]; then
  load_active_run || fail "no run is going on"
  screenshot "${2:-$run/tray.png}" && say "Screenshot of the tray: ${2:-$run/tray.png}"
  exit
fi
if load_active_run; then
  if [ $# -eq 0 ] || [ "$1" = --wine-wininet ]; then
    fail "Corvalent is already running (run process $RUN_PID); end it with: scripts/run.sh exit"
  fi
  forward "$@"
  exit
fi
if has_word exit "$@"; then
  say "No run is going on; nothing to end."
  exit 0
fi
start_run "$@"
