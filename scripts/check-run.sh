#!/usr/bin/env bash
# Checks the README's run command without a display: the tray screenshot's path within a minute of the
# build, the docked online icon in it, a left click on the docked icon switching the picture to offline,
# and "scripts/run.sh exit" ending everything the run started.
#
# Usage: scripts/check-run.sh           in this tree (after a build it takes about 15 s)
#        scripts/check-run.sh --fresh   in a fresh clone of HEAD in a temporary folder (builds it all)
# The screenshots are kept in build/check-run/ of this tree. Exits non-zero on the first failed check.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
keep=$root/build/check-run
BUILD_TO_SCREENSHOT_LIMIT=60
LINE_TIMEOUT=900
CLICK_TIMEOUT=10

RUN_PIDS='' work='' run_pid=''

say() {
  echo "check-run: $*"
}

fail() {
  say "FAIL: $*" >&2
  exit 1
}

cleanup() {
  set +e
  if [ -n "$run_pid" ] && kill -0 "$run_pid" 2>/dev/null; then
    "$tree/scripts/run.sh" exit >/dev/null 2>&1
    kill "$run_pid" 2>/dev/null
    wait "$run_pid" 2>/dev/null
  fi
  [ -n "$work" ] && rm -rf "$work"
}

now() {
  date +%s.%N
}

# Pixel figures of one of run.sh's screenshots (8-bit RGB PNG, no filters), or of two:
# "<pure green> <pure red>" for one file; the number of pixels that differ for two.
pixels() {
  python3 - "$@" <<'PYTHON'
import struct, sys, zlib

def read(path):
    data = open(path, "rb").read()
    at, idat, width = 8, b"", 0
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width = struct.unpack_from(">I", body)[0]
        if kind == b"IDAT":
            idat += body
        at += 12 + length
    raw, line = zlib.decompress(idat), 1 + width * 3
    rows = [raw[i + 1:i + line] for i in range(0, len(raw), line)]
    return [row[x:x + 3] for row in rows for x in range(0, len(row), 3)]

if len(sys.argv) == 2:
    picture = read(sys.argv[1])
    print(picture.count(b"\x00\xff\x00"), picture.count(b"\xff\x00\x00"))
else:
    first, second = read(sys.argv[1]), read(sys.argv[2])
    print(sum(a != b for a, b in zip(first, second)) + abs(len(first) - len(second)))
PYTHON
}

# Processes of the run: every one of them carries the run's Wine prefix in its environment.
run_processes() {
  local entry
  for entry in /proc/[0-9]*; do
    if tr '\0' '\n' 2>/dev/null < "$entry/environ" | grep -qx "WINEPREFIX=$1"; then
      echo "${entry#/proc/} $(tr '\0' ' ' 2>/dev/null < "$entry/cmdline")"
    fi
  done
}

tree=$root
trap cleanup EXIT
work=$(mktemp -d /tmp/corvalent-check-run.XXXXXX)
if [ "${1:-}" = --fresh ]; then
  git clone -q "$root" "$work/clone"
  tree=$work/clone
  say "fresh clone of $(git -C "$root" rev-parse --short HEAD) in $tree"
fi
prefix=$tree/build/run-prefix
mkdir -p "$keep"
rm -f "$keep"/*.png

# The run, without a display, its output read line by line as it comes.
mkfifo "$work/output"
env -u DISPLAY "$tree/scripts/run.sh" >"$work/output" 2>&1 &
run_pid=$!
exec 3<"$work/output"
built='' shot='' screenshot=''
while IFS= read -r -t "$LINE_TIMEOUT" -u 3 line; do
  echo "  | $line"
  case $line in
    "run: Built:"*) built=$(now) ;;
    "run: Screenshot of the tray: "*) shot=$(now); screenshot=${line#run: Screenshot of the tray: } ;;
    "run: End the program"*) break ;;
  esac
done
cat <&3 >"$work/rest.log" &
[ -n "$built" ] || fail "run.sh did not finish its build"
[ -n "$screenshot" ] || fail "run.sh printed no screenshot path"
elapsed=$(awk -v a="$built" -v b="$shot" 'BEGIN { printf "%.1f", b - a }')
say "build to screenshot path: $elapsed s"
awk -v e="$elapsed" -v l="$BUILD_TO_SCREENSHOT_LIMIT" 'BEGIN { exit !(e <= l) }' ||
  fail "the screenshot's path came $elapsed s after the build (limit $BUILD_TO_SCREENSHOT_LIMIT s)"

# shellcheck disable=SC1091
source "$tree/build/run/run.env"
export DISPLAY
cp "$screenshot" "$keep/before-click.png"
read -r green red <<<"$(pixels "$keep/before-click.png")"
say "before the click: $green green lamp pixels, $red red pixels"
if [ "$green" -eq 0 ] || [ "$red" -ne 0 ]; then fail "the first screenshot does not show the online icon"; fi

listeners=$(ss -Hltn "sport = :$RUN_VNC_PORT" | awk '{ print $4 }' | sort -u | tr '\n' ' ')
say "x11vnc listens on: $listeners"
[ -n "$listeners" ] || fail "nothing listens on the VNC port $RUN_VNC_PORT"
for address in $listeners; do
  case $address in
    "127.0.0.1:$RUN_VNC_PORT" | "[::1]:$RUN_VNC_PORT") ;;
    *) fail "x11vnc listens on $address, not on localhost only" ;;
  esac
done

read -r width height <<<"$(xwininfo -id "$RUN_ICON" |
  awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w, h }')"
xdotool mousemove --window "$RUN_ICON" $((width / 2)) $((height / 2)) click 1
# The picture after the click: one that differs from the first and that the next picture repeats
# (a picture taken while the icon redraws may be half old, half new).
deadline=$((SECONDS + CLICK_TIMEOUT))
changed=0
"$tree/scripts/run.sh" --screenshot "$keep/after-click.png" >/dev/null
while [ $SECONDS -lt $deadline ]; do
  sleep 0.2
  "$tree/scripts/run.sh" --screenshot "$work/next.png" >/dev/null
  changed=$(pixels "$keep/before-click.png" "$work/next.png")
  if [ "$changed" -gt 0 ] && [ "$(pixels "$keep/after-click.png" "$work/next.png")" -eq 0 ]; then break; fi
  cp "$work/next.png" "$keep/after-click.png"
  changed=0
done
read -r green red <<<"$(pixels "$keep/after-click.png")"
say "after the click: $changed pixels changed, $green green lamp pixels, $red red pixels"
[ "$changed" -gt 0 ] || fail "the picture did not change within $CLICK_TIMEOUT s of the click"
if [ "$green" -ne 0 ] || [ "$red" -eq 0 ]; then fail "the second screenshot does not show the offline icon"; fi

before=$(run_processes "$prefix")
say "processes of the run before \"exit\": $(echo "$before" | wc -l)"
"$tree/scripts/run.sh" exit | sed 's/^/  | /'
wait "$run_pid" || fail "run.sh ended with $? after exit"
run_pid=''
left=$(run_processes "$prefix")
for pid in $RUN_PIDS; do
  if kill -0 "$pid" 2>/dev/null; then left+=$'\n'"$pid (started by the run)"; fi
done
[ -z "${left//$'\n'/}" ] || fail "left running after exit:$left"
[ ! -e "/tmp/.X11-unix/X${DISPLAY#:}" ] || fail "the display $DISPLAY is still there"
say "PASS: screenshots in $keep (before-click.png: online, after-click.png: offline); nothing left running"
