#!/bin/bash
# cppcheck and clang-tidy over the programs' own sources, shellcheck over every shell script,
# mandoc's lint over the manual pages; any finding fails (of mandoc's, all but long input lines,
# which keep the sources readable and do not show in the rendered page).
# clang-tidy's set: the bug-prone patterns, the static analyzer, performance, and two
# readability checks that catch real mistakes. Swappable-parameter warnings are left out: the
# interfaces take (descriptor, record) and (text, length) pairs by design.
# usage: tools/static-checks.sh BUILD_DIR   (a configured build with compile_commands.json)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sources=(supervisor/*.cpp modem/*.cpp check/*.cpp eventd/*.cpp)
cppcheck --enable=warning,style,performance,portability --std=c++17 --error-exitcode=1 \
    --inline-suppr --quiet -I . "${sources[@]}"
echo "cppcheck: clean"
checks='-*,bugprone-*,-bugprone-easily-swappable-parameters,clang-analyzer-*,performance-*'
checks+=',misc-redundant-expression,readability-misleading-indentation'
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! clang-tidy -p "$build" --quiet --checks="$checks" --warnings-as-errors='*' \
        "${sources[@]}" > "$log" 2>&1; then
    grep -v -E '^[0-9]+ warnings? generated\.$' "$log"
    echo "clang-tidy: findings above"
    exit 1
fi
echo "clang-tidy: clean"

shell_scripts=(tools/*.sh tests/*.sh tests/vm/*.sh tests/vm/init tests/net/*.sh tests/openwrt/*.sh
               fuzz/run.sh bench/*.sh .ci/run dist/cellwatch.init dist/cellwatch-eventd.init
               dist/router/* dist/openwrt/cellwatch/test.sh)
shellcheck -x -P "$PWD" "${shell_scripts[@]}"
echo "shellcheck: clean"
# The init scripts and the package test stay as shfmt -sr -s writes them (OpenWrt's own check).
if ! shfmt -d -sr -s dist/cellwatch.init dist/cellwatch-eventd.init dist/openwrt/cellwatch/test.sh
then
    echo "shfmt: the scripts above are not as shfmt -sr -s writes them"
    exit 1
fi
echo "shfmt -sr -s: the init scripts and the package test are clean"

if mandoc -Tlint dist/*.8 dist/*.1 2>&1 | grep -v 'input text line longer than 80 bytes'; then
    echo "mandoc: findings above"
    exit 1
fi
echo "mandoc -Tlint: clean apart from long input lines"
