#!/usr/bin/env bash
# Benchmark of what Corvalent costs while nothing happens, measured over its own one-second timer.
# Run after a test build (target idle_bench): scripts/bench-idle.sh [x86_64|i686] [seconds-off] [seconds-on]
#
# (a) AutoSwitch off, per idle second: WinInet state queries, shell calls, heap allocations (goal 1, 0, 0).
# (b) AutoSwitch and Aggressive Offline on, online and connected, one minute, without a network list (as
#     before Vista): state queries, WinInet connection checks, dial-up enumerations, network list
#     creations and calls, shell calls, heap allocations (goal 60, 20, 0, 0, 0, 0, 0).
# (c) the same with Windows' network list (goal 60, 0, 0, 0, 20, 0, 0).
# Queries, checks, enumerations and list calls are the counters of the doubles; shell calls are
# the Shell_NotifyIcon calls the recording tray received; heap allocations are Wine's trace lines of
# RtlAllocateHeap and RtlReAllocateHeap (HeapAlloc, malloc and LocalAlloc all end there) of the program's
# process between the window marks that tests/bench/idle_bench.cpp writes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-x86_64}
build=$root/build/$arch
seconds_off=${2:-10}
seconds_on=${3:-60}
bench=$build/tests/idle_bench.exe
[ -f "$bench" ] || { echo "missing $bench: build the tests and the target idle_bench first" >&2; exit 1; }

source "$root/scripts/test-env.sh"
work=$(mktemp -d)
trap 'test_env_stop; rm -rf "$work"' EXIT
[ "$arch" != i686 ] || "$root/scripts/qemu-i386.sh"
test_env_start "$build"

# run <off|on> <seconds>: the bench's figures in $work/<mode>.out, Wine's heap trace in $work/<mode>.err.
run() {
  (cd "$build/tests" && WINEDEBUG=+pid,trace+heap "$(test_env_loader "$arch")" "$bench" "$1" "$2" \
    >"$work/$1.out" 2>"$work/$1.err") || { echo "idle_bench $1 failed:" >&2; grep idle_bench "$work/$1.err" >&2; exit 1; }
}

figure() {
  awk -v name="$2" '$1 == name { print $2 }' "$work/$1.out"
}

heap_allocations() {
  awk '
    { sub(/\r$/, "") }
    /^idle_bench: window start / { pid = $4; inside = 1; next }
    /^idle_bench: window end / { inside = 0; next }
    inside && index($0, pid ":") == 1 && /:trace:heap:Rtl(Re)?AllocateHeap / { count++ }
    END { print count + 0 }' "$work/$1.err"
}

per_second() {
  awk -v count="$1" -v seconds="$2" 'BEGIN { printf "%.2f", count / seconds }'
}

run off "$seconds_off"
run on "$seconds_on"
run list "$seconds_on"

echo "(a) AutoSwitch off, idle, ${seconds_off} s window (per second; goal 1, 0, 0)"
for name in state_queries shell_calls; do
  count=$(figure off $name)
  printf "  %-22s %6s in %s s = %s/s\n" "$name" "$count" "$seconds_off" "$(per_second "$count" "$seconds_off")"
done
count=$(heap_allocations off)
printf "  %-22s %6s in %s s = %s/s\n" heap_allocations "$count" "$seconds_off" "$(per_second "$count" "$seconds_off")"

# window <mode> <heading>: the figures of an AutoSwitch run.
window() {
  echo "$2"
  for name in state_queries connection_checks dialup_enumerations list_creations list_queries shell_calls; do
    printf "  %-22s %6s\n" "$name" "$(figure "$1" $name)"
  done
  printf "  %-22s %6s\n" heap_allocations "$(heap_allocations "$1")"
}
window on "(b) AutoSwitch and Aggressive Offline on, connected, no network list, ${seconds_on} s window (goal 60, 20, 0, 0, 0, 0, 0 per minute)"
window list "(c) the same with Windows' network list (goal 60, 0, 0, 0, 20, 0, 0 per minute)"
echo "argument violations seen by the doubles: off $(figure off violations), on $(figure on violations), list $(figure list violations)"
