#!/usr/bin/env bash
# The README's second command: installs what is missing, builds both architectures with the tests
# and runs every test under Wine, each run with its own Xvfb, fresh prefix and wineserver: the x86_64
# build and the i686 build (the 32-bit Wine loader under qemu, see scripts/qemu-i386.sh) under the
# machine's Wine 8, then both again under Wine 10 in a Debian 13 root (scripts/wine10-root.sh, made
# meanwhile); then the README's run command itself (scripts/check-run.sh) and the release
# (scripts/check-release.sh). First of all it checks the project's pages (scripts/check-docs.py).
#   scripts/test.sh [x86_64|wine10|i686|i686-wine10] [ctest arguments...]   one run alone; the rest goes to ctest
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=(x86_64 i686 wine10 i686-wine10)
case "${1:-}" in
  x86_64 | wine10 | i686 | i686-wine10) runs=("$1"); shift ;;
esac
has_run() {
  [[ " ${runs[*]} " == *" $1 "* ]]
}
architectures=()
if has_run x86_64 || has_run wine10; then architectures+=(x86_64); fi
if has_run i686 || has_run i686-wine10; then architectures+=(i686); fi
# The machine's own 32-bit Wine loader is needed by the i686 run under Wine 8 only.
with_i686=
if has_run i686; then with_i686=i686; fi

"$root/scripts/install-deps.sh" $with_i686
summaries=()
failed=0

# The project's pages, before anything is built: links and pictures of README.md and
# docs/development.md, and the README's two set-up commands.
echo "==== docs ===="
verdict=PASS
"$root/scripts/check-docs.py" || { verdict=FAIL; failed=1; }
summaries+=("$verdict docs: scripts/check-docs.py")

if [[ " ${architectures[*]} " == *" i686 "* ]]; then "$root/scripts/qemu-i386.sh"; fi
# The Wine 10 root takes the network and dpkg more than the processors: it is made while the builds
# and the Wine 8 runs go on, and the first Wine 10 run waits for it.
root_maker=
root_status=0
if has_run wine10 || has_run i686-wine10; then
  mkdir -p "$root/build"
  "$root/scripts/wine10-root.sh" >"$root/build/wine10-root.log" 2>&1 &
  root_maker=$!
fi
"$root/scripts/build.sh" tests "${architectures[@]}"

source "$root/scripts/test-env.sh"

# run_tests <run> [ctest arguments...]: the build's whole test run in an environment of its own;
# wine10 (the x86_64 build) and i686-wine10 run inside the Wine 10 root, each with a prefix of its own.
run_tests() {
  local run=$1 build=$1 prefix=$root/build/$1/wineprefix
  shift
  mkdir -p "$root/build/$run"
  case $run in
    wine10) build=x86_64 prefix=$root/build/wine10/wineprefix ;;
    i686-wine10) build=i686 prefix=$root/build/wine10/wineprefix-i686 ;;
  esac
  if [[ $run == *wine10 ]]; then
    (cd "$root" && scripts/wine10-root.sh run bash -c 'source scripts/test-env.sh && test_env_ctest "$@"' \
       test-env "$root/build/$build" "$prefix" "$@")
  else
    test_env_ctest "$root/build/$build" "$prefix" "$@"
  fi 2>&1 | tee "$root/build/$run/test.log"
}

for run in "${runs[@]}"; do
  echo "==== $run ===="
  start=$(date +%s)
  status=0
  if [[ $run == *wine10 ]]; then
    if [ -n "$root_maker" ]; then
      wait "$root_maker" || root_status=$?
      root_maker=
      cat "$root/build/wine10-root.log"
    fi
    status=$root_status
  fi
  [ $status -ne 0 ] || run_tests "$run" "$@" || status=$?
  verdict=PASS
  [ $status -eq 0 ] || { verdict=FAIL; failed=1; }
  result=$(grep -E '^[0-9]+% tests passed' "$root/build/$run/test.log" | tail -1 || true)
  summaries+=("$verdict $run: ${result:-no test result, see build/$run/test.log}; $(( $(date +%s) - start )) s")
done

# The README's run command (x86_64): the icon docked in a real tray, a click on it, the end of the
# run. Part of the whole run only, not of a run narrowed with ctest arguments.
if [ $# -eq 0 ] && has_run x86_64; then
  echo "==== run command ===="
  start=$(date +%s)
  verdict=PASS
  "$root/scripts/check-run.sh" 2>&1 | tee "$root/build/check-run.log" || { verdict=FAIL; failed=1; }
  summaries+=("$verdict run command: scripts/check-run.sh; $(( $(date +%s) - start )) s")
fi

# What a user downloads: signed and unsigned releases, their manifests and signatures (both setups,
# so the whole run only, which has the 32-bit loader).
if [ $# -eq 0 ] && [ ${#runs[@]} -gt 1 ]; then
  echo "==== release ===="
  start=$(date +%s)
  verdict=PASS
  "$root/scripts/check-release.sh" 2>&1 | tee "$root/build/check-release.log" || { verdict=FAIL; failed=1; }
  summaries+=("$verdict release: scripts/check-release.sh; $(( $(date +%s) - start )) s")
fi

echo "==== summary ===="
printf '%s\n' "${summaries[@]}"
exit $failed
