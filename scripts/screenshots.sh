#!/usr/bin/env bash
# The pictures of the README and docs/: the Options dialog, the About box, the menu open beside the
# icon in the taskbar, the six tray pictures enlarged on a light and a dark taskbar, and every icon of
# both programs, at 100, 150 and 200 % (the prefix's LogPixels 96, 144, 192), as PNG files
# <name>-<scale>.png. Everything runs in a Wine virtual desktop with its taskbar, so that windows
# carry Windows-style frames, in a display, prefix and wineserver of its own that end with the run.
# Usage: scripts/screenshots.sh [output-folder (docs/pictures)] [x86_64-build-dir (build/x86_64)]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/pictures}
build=${2:-$root/build/x86_64}
scales=(100 150 200)
desktop=1024x768

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" -DCORVALENT_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target screenshots
mkdir -p "$out"
out=$(cd "$out" && pwd)

source "$root/scripts/test-env.sh"
work=$(mktemp -d)
trap 'test_env_stop; rm -rf "$work"' EXIT
test_env_start "$work"
# Wine's own fonts (Marlett draws the caption buttons, Tahoma and MS Sans Serif the dialogs): this
# Wine does not look for them in its data folder, but loads every font in the prefix's Fonts folder.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

# Every program of the prefix starts afresh at the scale, in the virtual desktop "shell" (the name
# that gives it Wine's taskbar).
set_scale() {
  local file=$work/scale.reg
  printf '%s\r\n' 'REGEDIT4' '' \
    '[HKEY_CURRENT_USER\Control Panel\Desktop]' "\"LogPixels\"=dword:$(printf %08x $(($1 * 96 / 100)))" '' \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="shell"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' "\"shell\"=\"$desktop\"" '' >"$file"
  "$TEST_ENV_WINE" reg import "$(test_env_winepath "$file")" >/dev/null 2>&1 || return 1
  "$TEST_ENV_WINESERVER" -k >/dev/null 2>&1 || true
  timeout 30 "$TEST_ENV_WINESERVER" -w
  "$TEST_ENV_WINESERVER" -p
}

# The program prints the name of each .bmp it wrote; a failure still leaves the others to convert.
status=0
for scale in "${scales[@]}"; do
  set_scale "$scale" || { echo "could not set the scale $scale %" >&2; exit 1; }
  "$TEST_ENV_WINE" "$build/tests/screenshots.exe" "$(test_env_winepath "$work")" "$scale" >>"$work/written" || status=$?
done
while IFS=$'\r' read -r name _; do
  [ -n "$name" ] || continue
  python3 "$root/scripts/bmp2png.py" "$work/$name" "$out/${name%.bmp}.png"
  echo "$out/${name%.bmp}.png"
done <"$work/written"
[ "$status" -eq 0 ] || echo "screenshots.exe failed (exit code $status); see above" >&2
exit "$status"
