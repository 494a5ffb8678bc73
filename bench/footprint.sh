#!/bin/bash
# Prints cellwatch's footprint per build: the stripped size of cellwatch and cellwatch-check for
# the default build and each router build, and cellwatch's peak resident memory (VmHWM) over a whole life (an address, a
# change of it, a lost link, the teardown and the failover request) for the builds that run
# here natively. Builds what is missing; asserts nothing.
# usage: bench/footprint.sh
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"; kill $(jobs -p) 2>/dev/null || true' EXIT
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
     "kernel $(uname -r)"

build() { # DIR [CMAKE ARGS...]
    local dir=$1; shift
    [ -x "$dir/cellwatch-check" ] || { cmake -S . -B "$dir" -DBUILD_TESTING=OFF "$@" >/dev/null &&
        cmake --build "$dir" -j"$(nproc)" --target cellwatch cellwatch-check >/dev/null; }
}
build build-footprint-default -DCMAKE_BUILD_TYPE=Release
build build-footprint-static -DCMAKE_BUILD_TYPE=Release -DCELLWATCH_STATIC=ON
for t in x86_64-linux-musl mips-linux-gnu arm-linux-gnueabihf aarch64-linux-gnu; do
    build "build-footprint-$t" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$t.cmake"
done
[ -x build-footprint-default/tools/modemsim/modemsim ] ||
    cmake --build build-footprint-default -j"$(nproc)" --target modemsim >/dev/null

mkdir -p "$work/root/run/lock" "$work/root/bin"
for s in 4dhcp.sh 6dhcp.sh failover.sh; do printf '#!/bin/sh\n' > "$work/root/bin/$s"; done
printf '#!/bin/sh\n' > "$work/root/ifconfig"
chmod +x "$work/root/bin/"* "$work/root/ifconfig"
printf 'ipv4 10.64.2.17\nafter 1 dialogues\nipv4 10.64.9.200\nafter 2 dialogues\nattach 2\n' \
    > "$work/life.scn"

# The peak resident memory of one whole life: the last VmHWM seen before the program ends (the
# sandbox's execs keep its pid, and each exec starts a new count).
whole_life_hwm() { # PROGRAM
    build-footprint-default/tools/modemsim/modemsim --link "$work/modem" "$work/life.scn" \
        >/dev/null 2>&1 &
    local sim=$! hwm=0 seen
    for _ in $(seq 50); do [ -e "$work/modem" ] && break; sleep 0.1; done
    tools/sandbox.sh "$work/root" "$1" "$work/modem" generic wwan0 0>/dev/null >/dev/null 2>&1 &
    local cw=$!
    while seen=$(awk '/VmHWM/ {print $2}' "/proc/$cw/status" 2>/dev/null) && [ -n "$seen" ]; do
        hwm=$seen
        sleep 0.2
    done
    wait $cw || true
    kill $sim; wait $sim 2>/dev/null || true
    rm -f "$work/modem"
    echo "$hwm"
}

printf '%-22s %18s %24s %20s\n' build "cellwatch bytes" "cellwatch-check bytes" "peak resident KiB"
for b in default static x86_64-linux-musl mips-linux-gnu arm-linux-gnueabihf aarch64-linux-gnu; do
    dir=build-footprint-$b
    case $b in
        mips-*) strip_tool=mips-linux-gnu-strip ;;
        arm-*) strip_tool=arm-linux-gnueabihf-strip ;;
        aarch64-*) strip_tool=aarch64-linux-gnu-strip ;;
        *) strip_tool="strip" ;;
    esac
    "$strip_tool" -o "$work/stripped" "$dir/cellwatch"
    "$strip_tool" -o "$work/stripped-check" "$dir/cellwatch-check"
    hwm="(emulated)"
    case $b in default|static|x86_64-linux-musl) hwm=$(whole_life_hwm "$dir/cellwatch") ;; esac
    printf '%-22s %18s %24s %20s\n' "$b" "$(stat -c %s "$work/stripped")" \
        "$(stat -c %s "$work/stripped-check")" "$hwm"
done
