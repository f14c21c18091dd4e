#!/usr/bin/env bash
# Reports the size of the i686 deliverables, their code and data (the file without its resource
# section: headers, code, data, imports and relocations), and what they import (DLL and function count).
# Run after scripts/build.sh; figures for the README and the closing notes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/i686/bin

for file in Corvalent.exe CVConfig.dll; do
  path=$bin/$file
  [ -f "$path" ] || { echo "missing $path: run scripts/build.sh first" >&2; exit 1; }
  size=$(stat -c %s "$path")
  resources=$(i686-w64-mingw32-objdump -h "$path" | awk '$2 == ".rsrc" { print $3 }')
  resources=$(( (0x${resources:-0} + 511) / 512 * 512 ))
  echo "$file: $size bytes ($((size / 1024)) KiB); code and data $((size - resources)) bytes"
  i686-w64-mingw32-objdump -p "$path" | awk '
    /DLL Name:/ { if (dll) printf "  %-14s %d functions\n", dll, count; dll = $3; count = 0; next }
    dll && /^\t[0-9a-f]+\t/ { count++; next }
    dll && /^$/ && count { printf "  %-14s %d functions\n", dll, count; dll = "" }'
done
