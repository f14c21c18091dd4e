#!/usr/bin/env bash
# Mutation run: puts each fault of tests/mutants.txt into the x86_64 test build, one at a time, and
# tells whether the named test programs catch it. Opt-in; not part of scripts/test.sh.
#
#   scripts/mutate.sh [filter...]
#
# A filter is a line number or range of tests/mutants.txt (12, 12-20) or a text that the mutant's
# file must contain (window.cpp, config/); without filters every mutant runs. A mutant line holds,
# separated by tabs: file, the exact text, its replacement, the test programs (ctest names, comma-
# separated; "name@i686" runs them in build/i686, for a fault of that architecture alone) and the
# behaviour it breaks; "equivalent:" there marks one that changes nothing observable, which is
# listed but not run. Every source file is restored whatever happens; the test programs are
# rebuilt from the restored sources at the end.
# Environment: CORVALENT_MUTANTS (list file), CORVALENT_MUTATE_BUILD (default build/x86_64).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
list=${CORVALENT_MUTANTS:-$root/tests/mutants.txt}
build=${CORVALENT_MUTATE_BUILD:-$root/build/x86_64}
jobs=$(nproc)

if ! grep -q '^CORVALENT_TESTS:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  echo "mutate: $build is not a test build; run scripts/build.sh tests first" >&2
  exit 2
fi

work=$(mktemp -d)
backup=""     # the mutated file while it differs from its saved copy
touched=()    # the test programs built with a mutant, rebuilt at the end

restore() {
  if [ -n "$backup" ]; then
    cp -p "$work/original" "$backup"
    touch "$backup"  # newer than the mutant's objects, so the next build takes it again
    backup=""
  fi
}

source "$root/scripts/test-env.sh"
finish() {
  restore
  test_env_stop
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM

# True when line number n of the list passes the filters.
selected() {
  local n=$1 file=$2 filter low high
  [ ${#filters[@]} -eq 0 ] && return 0
  for filter in "${filters[@]}"; do
    if [[ $filter =~ ^([0-9]+)(-([0-9]+))?$ ]]; then
      low=${BASH_REMATCH[1]}
      high=${BASH_REMATCH[3]:-$low}
      [ "$n" -ge "$low" ] && [ "$n" -le "$high" ] && return 0
    elif [[ $file == *"$filter"* ]]; then
      return 0
    fi
  done
  return 1
}

# Replaces the one occurrence of the text in the file; fails when it occurs other than once.
apply() {
  python3 - "$@" <<'EOF'
import sys
path, original, replacement = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
count = text.count(original)
if count != 1:
    sys.exit(f"the text occurs {count} times in {path}")
open(path, "w", encoding="utf-8").write(text.replace(original, replacement))
EOF
}

filters=("$@")
test_env_start "$build" || exit 2
start=$(date +%s)
killed=0 survived=0 equivalent=0 broken=0 total=0
survivors=()
n=0
while IFS= read -r line || [ -n "$line" ]; do
  n=$((n + 1))
  [[ -z ${line//[[:space:]]/} || $line == \#* ]] && continue
  # Split at the tabs through a character that is not white space, so that empty fields stay.
  IFS=$'\x1f' read -r file original replacement programs behaviour <<<"${line//$'\t'/$'\x1f'}"
  selected "$n" "$file" || continue
  if [[ $behaviour == equivalent:* ]]; then
    equivalent=$((equivalent + 1))
    printf 'EQUIVALENT  %3d %s: %s\n' "$n" "$file" "${behaviour#equivalent: }"
    continue
  fi
  total=$((total + 1))
  mutant_build=$build
  if [[ $programs == *@* ]]; then
    mutant_build=$root/build/${programs##*@}
    programs=${programs%@*}
  fi
  cp -p "$root/$file" "$work/original"
  backup="$root/$file"
  if ! apply "$root/$file" "$original" "$replacement" 2>"$work/why"; then
    restore
    broken=$((broken + 1))
    printf 'REFUSED     %3d %s: %s\n' "$n" "$file" "$(cat "$work/why")"
    continue
  fi
  IFS=',' read -ra names <<<"$programs"
  touched+=("${names[@]/#/$mutant_build|}")
  mutant_start=$(date +%s)
  if ! nice cmake --build "$mutant_build" -j"$jobs" --target "${names[@]}" >"$work/build.log" 2>&1; then
    restore
    broken=$((broken + 1))
    printf 'NO BUILD    %3d %s: %s\n' "$n" "$file" "$behaviour"
    tail -n 5 "$work/build.log" | sed 's/^/            /'
    continue
  fi
  pattern="^($(IFS='|'; echo "${names[*]}"))\$"
  # GTEST_FAIL_FAST: a program stops at its first failing test; one is enough to kill the mutant.
  if GTEST_FAIL_FAST=1 ctest --test-dir "$mutant_build" -R "$pattern" --output-on-failure >"$work/test.log" 2>&1; then
    verdict=SURVIVED
    survived=$((survived + 1))
    survivors+=("$n")
  else
    verdict=KILLED
    killed=$((killed + 1))
  fi
  restore
  printf '%-11s %3d %s (%s, %d s): %s\n' "$verdict" "$n" "$file" "$programs" $(($(date +%s) - mutant_start)) \
    "$behaviour"
  if [ $verdict = KILLED ]; then
    by=$(grep -m1 -oE '\[  FAILED  \] [A-Za-z0-9_/.]+|\*\*\*(Timeout|Exception)[^ ]*' "$work/test.log")
    echo "            by ${by:-a failing test program}"
  fi
done <"$list"

# touched holds "<build>|<program>" pairs.
for built in $(printf '%s\n' "${touched[@]%%|*}" | sort -u); do
  echo "rebuilding the test programs of $built from the restored sources"
  nice cmake --build "$built" -j"$jobs" --target $(printf '%s\n' "${touched[@]}" | sed -n "s#^$built|##p" | sort -u) \
    >"$work/build.log" 2>&1 ||
    { echo "mutate: the rebuild of the restored sources failed" >&2; tail -n 20 "$work/build.log" >&2; }
done
seconds=$(($(date +%s) - start))
echo "killed $killed of $total (survived $survived, not run $broken; $equivalent equivalent listed)" \
     "in $((seconds / 60)) min $((seconds % 60)) s"
[ ${#survivors[@]} -gt 0 ] && echo "survived: lines ${survivors[*]} of $list"
[ "$survived" -eq 0 ] && [ "$broken" -eq 0 ]
