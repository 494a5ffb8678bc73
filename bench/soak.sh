#!/bin/bash
# A month of supervision: the soak's cycles at the real cadence (235,000 cycles of about 11 s is
# 30 days), the real cycle against modemsim, checked against the model of the scoring rules. Prints
# the machine, then the soak's figures: cycles, simulated days, wall time, cycles per second, the
# count of each kind of answer and fault, the descriptors and the resident memory at the start and
# the end, the program's allocations, and the decisions that disagreed with the model. A seed given
# back replays a run. Needs root (a private mount namespace over /run and /opt/vordane/bin).
# usage: bench/soak.sh [CYCLES [SEED]]
set -euo pipefail
cd "$(dirname "$0")/.."
cycles=${1:-235000}
seed=${2:-$(date +%s)}
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
     "kernel $(uname -r)"
[ -x build-soak/tests/soak ] || {
    cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
    cmake --build build-soak -j"$(nproc)" --target soak modemsim >/dev/null
}
build-soak/tests/soak "$cycles" "$seed"
