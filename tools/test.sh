#!/bin/bash
# Builds cellwatch twice (Release, and AddressSanitizer+UndefinedBehaviorSanitizer), runs the
# whole suite in both through CTest, the Release run with the virtual-machine stage (the static
# musl programs on Debian's kernel under QEMU, against its real serial drivers) and the network
# stage (a router in network namespaces, with a real DHCP server and client); builds it for
# the routers (big-endian MIPS, 32- and 64-bit ARM, static musl) and runs the whole suite on MIPS
# and the unit tests on ARM under qemu-user, and the end-to-end tests against the musl program;
# then the static checks, the packaging check and short fuzzing runs. Installs the Debian
# packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make libgtest-dev net-tools util-linux clang libclang-rt-14-dev
          valgrind cppcheck clang-tidy dpkg-dev file googletest qemu-user-static musl-tools
          g++-mips-linux-gnu g++-arm-linux-gnueabihf g++-aarch64-linux-gnu cpio
          lintian mandoc man-db shellcheck shfmt systemd busybox iproute2)
# The virtual machine's own packages; what QEMU only recommends (display, firmware for other
# machines) is not needed to boot a kernel on a serial console.
vm_packages=(qemu-system-x86 mmdebstrap)
missing_of() {
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t vm_missing < <(missing_of "${vm_packages[@]}")
if [ $(( ${#missing[@]} + ${#vm_missing[@]} )) -gt 0 ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "missing packages; as root, run:" >&2
        echo "  apt-get install -y ${missing[*]} ${vm_missing[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    [ ${#missing[@]} -eq 0 ] || apt-get install -y -qq "${missing[@]}" >/dev/null
    [ ${#vm_missing[@]} -eq 0 ] ||
        apt-get install -y -qq --no-install-recommends "${vm_missing[@]}" >/dev/null
fi

jobs=$(nproc)
# The end-to-end tests and the guests mostly wait on the program's own pauses, so many more of
# them run at once than there are cores.
test_jobs=8
start=$(date +%s)
# The musl build first: the virtual-machine stage of the Release run boots its programs.
cmake -S . -B build-x86_64-linux-musl -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-linux-musl.cmake \
      -DBUILD_TESTING=ON >/dev/null
cmake --build build-x86_64-linux-musl -j"$jobs" >/dev/null
# The routers' build of cellwatch is kept within 40 KiB stripped.
stripped=$(mktemp)
strip -o "$stripped" build-x86_64-linux-musl/cellwatch
size=$(stat -c %s "$stripped")
rm -f "$stripped"
if [ "$size" -gt 40960 ]; then
    echo "the static musl cellwatch is $size bytes stripped, over 40960"
    exit 1
fi
echo "static musl cellwatch: $size bytes stripped (at most 40960)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
      -DCELLWATCH_VM_PROGRAMS="$PWD/build-x86_64-linux-musl" >/dev/null
cmake --build build -j"$jobs"

# The sanitizer build, then the routers' (the whole suite for MIPS, the unit tests and the
# programs for ARM), compile in the background at the lowest priority while the Release and the
# sanitizer runs' tests, which mostly wait, have the processors whenever they want them.
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DCELLWATCH_SANITIZE=ON \
      -DBUILD_TESTING=ON >/dev/null
targets=(mips-linux-gnu arm-linux-gnueabihf aarch64-linux-gnu)
for t in "${targets[@]}"; do
    cmake -S . -B "build-$t" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$t.cmake" \
          -DBUILD_TESTING=ON >/dev/null
done
sanitize_built=build-sanitize/.built
rm -f "$sanitize_built"
background_builds() {
    nice -n 19 cmake --build build-sanitize -j"$jobs" || return 1
    touch "$sanitize_built"
    for t in "${targets[@]}"; do
        if [ "$t" = mips-linux-gnu ]; then
            nice -n 19 cmake --build "build-$t" -j"$jobs" || return 1
        else
            nice -n 19 cmake --build "build-$t" -j"$jobs" \
                --target unit_tests cellwatch cellwatch-check || return 1
        fi
    done
}
builds_log=$(mktemp)
trap 'rm -f "$builds_log"; [ -z "${builds:-}" ] || kill "$builds" 2>/dev/null || true' EXIT
background_builds > "$builds_log" 2>&1 &
builds=$!
# Waits for the background builds to reach file $1, or to end; fails with their log if they did.
wait_for_builds() {
    while [ ! -e "$1" ] && kill -0 "$builds" 2>/dev/null; do sleep 1; done
    if [ ! -e "$1" ] && ! wait "$builds"; then
        cat "$builds_log"
        echo "the background builds failed"
        exit 1
    fi
}

echo "== Release, with the virtual-machine and the network stages"
(cd build && ctest -j"$test_jobs" --output-on-failure --timeout 180)
wait_for_builds "$sanitize_built"
echo "== AddressSanitizer + UndefinedBehaviorSanitizer (the network stage runs in the Release run)"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest -j"$test_jobs" -LE network --output-on-failure --timeout 180)
if ! wait "$builds"; then
    cat "$builds_log"
    echo "the background builds failed"
    exit 1
fi

# The program carries no libstdc++ run-time code in any build (the musl one is linked by musl's
# C driver, which would fail on it).
for dir in build build-mips-linux-gnu build-arm-linux-gnueabihf build-aarch64-linux-gnu; do
    for program in cellwatch cellwatch-check; do
        if readelf -d "$dir/$program" | grep -q 'libstdc++'; then
            echo "$dir/$program needs libstdc++"
            exit 1
        fi
    done
done
echo "== big-endian MIPS under qemu-user: the whole suite"
(cd build-mips-linux-gnu && ctest -j"$test_jobs" --output-on-failure --timeout 180)
for t in arm-linux-gnueabihf aarch64-linux-gnu; do
    echo "== $t under qemu-user: the unit tests"
    (cd "build-$t" && ctest -j4 -L unit --output-on-failure --timeout 180)
done
echo "== static musl: the end-to-end tests and the no-heap runs against its programs"
(cd build && CELLWATCH_UNDER_TEST="$PWD/../build-x86_64-linux-musl/cellwatch" \
    CELLWATCH_CHECK_UNDER_TEST="$PWD/../build-x86_64-linux-musl/cellwatch-check" \
    CELLWATCH_EVENTD_UNDER_TEST="$PWD/../build-x86_64-linux-musl/cellwatch-eventd" \
    ctest -j"$test_jobs" -L end_to_end --output-on-failure --timeout 180)

for extra in tools/static-checks.sh tools/package-check.sh fuzz/run.sh; do
    if [ -x "$extra" ]; then
        echo "== $extra"
        "$extra" build
    fi
done
echo "all checks passed in $(( $(date +%s) - start )) s"
