#!/usr/bin/env bash
# The README's first command: installs what is missing, builds both architectures and
# starts Corvalent under Wine (the 64-bit build; this kernel runs no 32-bit code).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
echo "Built: build/i686/bin (the deliverables) and build/x86_64/bin"

if [ -z "${DISPLAY:-}" ]; then
  display=:77
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  trap 'kill $!' EXIT
  export DISPLAY=$display
  echo "No display: started Xvfb on $DISPLAY"
fi
export WINEDEBUG=${WINEDEBUG:--all}
echo "Starting Corvalent; end it from its tray menu or with: $root/scripts/run.sh exit"
/usr/lib/wine/wine64 "$root/build/x86_64/bin/Corvalent.exe" "$@"
