#!/usr/bin/env bash
# The README's second command: installs what is missing, builds both architectures with the tests
# and runs every test under Wine, each run with its own Xvfb, fresh prefix and wineserver: the x86_64
# and the i686 build (the 32-bit Wine loader under qemu, see scripts/qemu-i386.sh) under the
# machine's Wine 8, followed by the README's run command itself (scripts/check-run.sh) and the
# release (scripts/check-release.sh); beside them both builds again under Wine 10 in a Debian 13 root
# (scripts/wine10-root.sh). First of all it checks the project's pages (scripts/check-docs.py).
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
# go on. Then the Wine 8 steps and the Wine 10 runs go side by side, each in environments of their
# own; every step prints its log once it has ended.
root_maker=
if has_run wine10 || has_run i686-wine10; then
  mkdir -p "$root/build"
  "$root/scripts/wine10-root.sh" >"$root/build/wine10-root.log" 2>&1 &
  root_maker=$!
fi
"$root/scripts/build.sh" tests "${architectures[@]}"

source "$root/scripts/test-env.sh"
ctest_arguments=("$@")

# run_tests <run>: the build's whole test run in an environment of its own; wine10 (the x86_64
# build) and i686-wine10 run inside the Wine 10 root, each with a prefix of its own.
run_tests() {
  local run=$1 build=$1 prefix=$root/build/$1/wineprefix
  case $run in
    wine10) build=x86_64 prefix=$root/build/wine10/wineprefix ;;
    i686-wine10) build=i686 prefix=$root/build/wine10/wineprefix-i686 ;;
  esac
  if [[ $run == *wine10 ]]; then
    (cd "$root" && scripts/wine10-root.sh run bash -c 'source scripts/test-env.sh && test_env_ctest "$@"' \
       test-env "$root/build/$build" "$prefix" "${ctest_arguments[@]}")
  else
    test_env_ctest "$root/build/$build" "$prefix" "${ctest_arguments[@]}"
  fi
}

# step <name> <log> <what> <command...>: the command with its output in the log, printed once it
# has ended (one print at a time); its summary line, ctest's or <what>, goes to <log>.summary.
step() {
  local name=$1 log=$2 what=$3 start=$SECONDS verdict=PASS result
  shift 3
  mkdir -p "$(dirname "$log")"
  "$@" >"$log" 2>&1 || verdict=FAIL
  result=$(grep -E '^[0-9]+% tests passed' "$log" | tail -1 || true)
  echo "$verdict $name: ${result:-$what}; $((SECONDS - start)) s" >"$log.summary"
  { flock 8; echo "==== $name ===="; cat "$log"; } 8>"$root/build/print.lock"
}

logs=()
for run in "${runs[@]}"; do logs+=("$root/build/$run/test.log"); done
# The README's run command (x86_64): the icon docked in a real tray, a click on it, the end of the
# run; not part of a run narrowed with ctest arguments. What a user downloads: signed and unsigned
# releases, their manifests and signatures (both setups, so the whole run only, which has the
# 32-bit loader).
with_run_command=
with_release=
if [ ${#ctest_arguments[@]} -eq 0 ] && has_run x86_64; then
  with_run_command=1
  logs+=("$root/build/check-run.log")
fi
if [ ${#ctest_arguments[@]} -eq 0 ] && [ ${#runs[@]} -gt 1 ]; then
  with_release=1
  logs+=("$root/build/check-release.log")
fi
for log in "${logs[@]}"; do rm -f "$log.summary"; done

wine8_steps() {
  for run in "${runs[@]}"; do
    [[ $run == *wine10 ]] || step "$run" "$root/build/$run/test.log" "no test result" run_tests "$run"
  done
  [ -z "$with_run_command" ] ||
    step "run command" "$root/build/check-run.log" scripts/check-run.sh "$root/scripts/check-run.sh"
  [ -z "$with_release" ] ||
    step release "$root/build/check-release.log" scripts/check-release.sh "$root/scripts/check-release.sh"
}

wine8_steps &
wine8_pipeline=$!
if [ -n "$root_maker" ]; then
  wait "$root_maker" || true  # a root that is not there fails the Wine 10 runs, which make it again
  { flock 8; echo "==== Wine 10 root ===="; cat "$root/build/wine10-root.log"; } 8>"$root/build/print.lock"
fi
for run in "${runs[@]}"; do
  [[ $run != *wine10 ]] || step "$run" "$root/build/$run/test.log" "no test result" run_tests "$run"
done
wait "$wine8_pipeline" || true

echo "==== summary ===="
printf '%s\n' "${summaries[@]}"
for log in "${logs[@]}"; do
  cat "$log.summary" 2>/dev/null || { echo "FAIL $log: no summary"; failed=1; }
  ! grep -q '^FAIL' "$log.summary" 2>/dev/null || failed=1
done
exit $failed
