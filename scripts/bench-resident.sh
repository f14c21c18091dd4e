#!/usr/bin/env bash
# Benchmark of what Corvalent costs to start, to end and to keep, against a minimal tray program
# (tests/bench/minimal_tray.cpp: one window and one icon) and against the floor (the same program
# started with "wininet": plus one WinInet state query at start and a second, the least any such
# switch must do), all three in one run. Wine's own start cost is in every figure, so the ratios
# are the figures to read. With "autoswitch", the settings have AutoSwitch on (Corvalent then asks
# for the connection every third second). Run after a test build (target resident_bench):
#   scripts/bench-resident.sh [x86_64|i686] [runs] [idle-seconds] [autoswitch]
# Under qemu (i686) all programs carry the emulator's own time and memory (private bytes about
# five times the x86_64 figure): read the ratio there.
#
# start: from CreateProcess to the NIM_ADD reaching the recording notification area (median of runs;
#        the three take turns run by run, so that a shared machine's load weighs on all alike).
# exit:  from starting a second copy with "exit" to the end of the first copy (median of runs).
# memory: working set (as Wine reports it) and private resident kilobytes (the Unix process's
#         Private_Clean + Private_Dirty) of the three after idling side by side.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-x86_64}
build=$root/build/$arch
runs=${2:-15}
seconds=${3:-60}
bench=$build/tests/resident_bench.exe
[ -f "$bench" ] || { echo "missing $bench: build the tests and the target resident_bench first" >&2; exit 1; }

source "$root/scripts/test-env.sh"
work=$(mktemp -d)
trap 'test_env_stop; rm -rf "$work"' EXIT
[ "$arch" != i686 ] || "$root/scripts/qemu-i386.sh"
test_env_start "$build"

(cd "$build/tests" && "$(test_env_loader "$arch")" "$bench" "$runs" "$seconds" ${4:+"$4"} >"$work/out" 2>"$work/err") ||
  { echo "resident_bench failed:" >&2; cat "$work/err" >&2; exit 1; }

awk '
  $1 == "runs" || $1 == "idle_seconds" { setting[$1] = $2; next }
  { value[$1, $2] = $3; if (!($1 in seen)) { seen[$1] = 1; order[++count] = $1 } }
  END {
    printf "median of %d runs each; memory after %d s idle side by side; ratios: to minimal, to floor\n", setting["runs"], setting["idle_seconds"]
    for (i = 1; i <= count; i++) {
      name = order[i]
      printf "  %-16s Corvalent %9.1f   minimal %9.1f   floor %9.1f   ratios %.2f %.2f\n", name,
             value[name, "corvalent"], value[name, "minimal"], value[name, "floor"],
             value[name, "corvalent"] / value[name, "minimal"], value[name, "corvalent"] / value[name, "floor"]
    }
  }' "$work/out"
