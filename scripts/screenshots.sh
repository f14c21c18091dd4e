#!/usr/bin/env bash
# Pictures for review: the Options dialog, the About box and every icon of both programs, as PNG files.
# Usage: scripts/screenshots.sh [output-folder (build/screenshots)] [x86_64-build-dir (build/x86_64)]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/screenshots}
build=${2:-$root/build/x86_64}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" -DCORVALENT_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target screenshots
mkdir -p "$out"
out=$(cd "$out" && pwd)

source "$root/scripts/test-env.sh"
work=$(mktemp -d)
trap 'test_env_stop; rm -rf "$work"' EXIT
test_env_start "$build"

# The program prints the name of each .bmp it wrote; a failure still leaves the others to convert.
status=0
"$TEST_ENV_WINE" "$build/tests/screenshots.exe" "$(test_env_winepath "$work")" >"$work/written" || status=$?
while IFS=$'\r' read -r name _; do
  [ -n "$name" ] || continue
  python3 "$root/scripts/bmp2png.py" "$work/$name" "$out/${name%.bmp}.png"
  echo "$out/${name%.bmp}.png"
done <"$work/written"
[ "$status" -eq 0 ] || echo "screenshots.exe failed (exit code $status); see above" >&2
exit "$status"
