#!/bin/bash
# Prints cellwatch's figures for the default and the static build: the dialogue turnaround and
# check_link against modemsim, CPU time per cycle and peak resident memory of the real program
# over a few cycles (in a private mount namespace, as the tests run it), and the stripped size.
# usage: bench/run.sh [DIALOGUES [CYCLES]]
set -euo pipefail
cd "$(dirname "$0")/.."
dialogues=${1:-2000}
cycles=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"; kill $(jobs -p) 2>/dev/null || true' EXIT

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
     "kernel $(uname -r)"
printf 'echo off\nipv4 10.64.2.17\n' > "$work/quick.scn"
printf 'family generic\nattach 1\nipv4 10.64.2.17\n' > "$work/cycle.scn"
mkdir -p "$work/root/run/lock" "$work/root/bin"
for s in 4dhcp.sh 6dhcp.sh failover.sh; do printf '#!/bin/sh\n' > "$work/root/bin/$s"; done
printf '#!/bin/sh\n' > "$work/root/ifconfig"
chmod +x "$work/root/bin/"* "$work/root/ifconfig"

for variant in default static; do
    dir=build-bench-$variant
    opt=OFF; [ $variant = static ] && opt=ON
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCELLWATCH_STATIC=$opt \
        >/dev/null
    cmake --build "$dir" -j"$(nproc)" >/dev/null
    echo "== $variant build"
    "$dir/bench/dialogue_bench" "$dir/tools/modemsim/modemsim" "$work/quick.scn" "$dialogues"

    sim=$dir/tools/modemsim/modemsim
    "$sim" --link "$work/modem" "$work/cycle.scn" > /dev/null 2> "$work/sim.log" &
    simpid=$!
    for _ in $(seq 50); do [ -e "$work/modem" ] && break; sleep 0.1; done
    tools/sandbox.sh "$work/root" "$dir/cellwatch" "$work/modem" generic wwan0 \
        0>/dev/null >/dev/null 2>&1 &
    cw=$!
    # The program's own pid survives the sandbox's execs, so its CPU time includes the
    # sandbox's start-up: take the difference between the ends of the first and last cycles.
    dialogues_seen() { grep -c ' -- dialogue ' "$work/sim.log" || true; }
    while [ "$(dialogues_seen)" -lt 2 ]; do sleep 0.05; done
    cpu_start=$(cut -d' ' -f1 "/proc/$cw/schedstat")
    while [ "$(dialogues_seen)" -lt $((cycles + 2)) ]; do sleep 0.05; done
    cpu_ns=$(( $(cut -d' ' -f1 "/proc/$cw/schedstat") - cpu_start ))
    hwm=$(awk '/VmHWM/ {print $2}' "/proc/$cw/status")
    kill -TERM $cw; wait $cw || true
    kill $simpid; wait $simpid 2>/dev/null || true
    rm -f "$work/modem"
    echo "CPU per cycle: $(( cpu_ns / cycles / 1000 )) us over $cycles cycles; peak resident: $hwm KiB"
    strip -o "$work/cellwatch.stripped" "$dir/cellwatch"
    echo "stripped binary: $(stat -c %s "$work/cellwatch.stripped") bytes"
done
