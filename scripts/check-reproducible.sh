#!/usr/bin/env bash
# Builds the committed tree twice with scripts/release.sh, in two folders of different names, at
# different times and under different umasks, and compares every artifact and both deliverables of
# each architecture byte for byte. Not part of the test command: it takes a few minutes.
#
#   scripts/check-reproducible.sh      # exit code 0 when everything is identical
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
export SOURCE_DATE_EPOCH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# build <folder> <umask>: the committed files (not the working tree) released in <folder>.
build() {
  mkdir -p "$1"
  git -C "$root" archive HEAD | tar -x -C "$1"
  (umask "$2" && "$1/scripts/release.sh") >"$1.log" 2>&1 ||
    { echo "release failed in $1:" >&2; tail -20 "$1.log" >&2; exit 1; }
}

echo "commit $(git -C "$root" rev-parse --short HEAD), SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
first=$work/a
second=$work/second-checkout-in-a-longer-folder
build "$first" 022
sleep 2
build "$second" 077

status=0
files=$(cd "$first" && ls dist/* build/release-*/bin/Corvalent.exe build/release-*/bin/CVConfig.dll)
for file in $files; do
  if cmp -s "$first/$file" "$second/$file"; then
    echo "identical  $file  $(sha256sum "$first/$file" | cut -c1-16)"
  else
    echo "DIFFERENT  $file: $(cmp -l "$first/$file" "$second/$file" 2>&1 | wc -l) bytes differ" \
         "(first at offset $(cmp "$first/$file" "$second/$file" 2>&1 | awk '{ print $5 }' | tr -d ,))"
    status=1
  fi
done
echo "two releases and the comparison took $SECONDS s"
exit $status
