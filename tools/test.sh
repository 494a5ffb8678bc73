#!/bin/bash
# Builds cellwatch twice (Release, and AddressSanitizer+UndefinedBehaviorSanitizer), runs the
# whole suite in both through CTest, then the static checks, the packaging check and short
# fuzzing runs. Installs the Debian packages it needs when they are missing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make libgtest-dev net-tools util-linux clang libclang-rt-14-dev
          valgrind cppcheck clang-tidy dpkg-dev file)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "missing packages; as root, run:" >&2
        echo "  apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
fi

jobs=$(nproc)
start=$(date +%s)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build build -j"$jobs"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCELLWATCH_SANITIZE=ON \
      -DBUILD_TESTING=ON >/dev/null
cmake --build build-sanitize -j"$jobs"

echo "== Release"
(cd build && ctest -j"$jobs" --output-on-failure --timeout 180)
echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest -j"$jobs" --output-on-failure --timeout 180)

for extra in tools/static-checks.sh tools/package-check.sh fuzz/run.sh; do
    if [ -x "$extra" ]; then
        echo "== $extra"
        "$extra" build
    fi
done
echo "all checks passed in $(( $(date +%s) - start )) s"
