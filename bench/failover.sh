#!/bin/bash
# The outage table: for each kind of death, the network stage's case run RUNS times (the kinds at
# once, the runs of one kind one after the other), the death 1 to 12 s after the link carried
# its first echo, so that it falls anywhere in cellwatch's cycle; and the probes lost, the seconds to the first
# echo through the backup, and the seconds from the modem's return to the first echo through the
# cellular link again, each as min / median / max. Probes go every 100 ms. Asserts nothing.
# usage: bench/failover.sh [RUNS [BUILD_DIR]]     (as root; RUNS defaults to 5)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
build=${2:-build}
if [ ! -x "$build/cellwatch-eventd" ] || [ ! -x "$build/tools/netprobe/netprobe" ]; then
    cmake -S . -B "$build" >/dev/null && cmake --build "$build" -j"$(nproc)" >/dev/null
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
kinds=(detach silent unplug)
for kind in "${kinds[@]}"; do
    (for _ in $(seq "$runs"); do
        # The death falls anywhere in cellwatch's 11-second cycle.
        tests/net/run.sh "$build" "$kind" $((1000 + RANDOM % 11000)) 2>&1 | grep '^result ' ||
            echo "result $kind failed"
    done > "$out/$kind") &
done
wait
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
     "kernel $(uname -r); $runs runs of each kind"
# min / median / max of the numbers on standard input.
stats() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) { print "-"; exit }
    printf "%s / %s / %s", v[1], v[int((NR + 1) / 2)], v[NR] }'; }
printf '| %-7s | %-18s | %-18s | %-24s |\n' "death" "probes lost" "s to the backup" \
    "s from return to cellular"
printf '|---------|--------------------|--------------------|--------------------------|\n'
for kind in "${kinds[@]}"; do
    field() { sed -n "s/.* $1=\([0-9.]*\).*/\1/p" "$out/$kind" | stats; }
    printf '| %-7s | %-18s | %-18s | %-24s |\n' "$kind" "$(field lost)" "$(field backup_s)" \
        "$(field failback_s)"
    failed=$(grep -c failed "$out/$kind" || true)
    [ "$failed" = 0 ] || echo "  ($kind: $failed runs failed their checks)"
done
