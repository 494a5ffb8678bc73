#!/bin/bash
# Builds the Debian packages with CPack, installs cellwatch's into a temporary root and runs the
# installed programs with too few arguments: each must print its usage and exit with status 1.
# usage: tools/package-check.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
(cd "$build" && rm -f ./*.deb && cpack -G DEB > cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
deb=$(ls "$build"/cellwatch_*.deb)
ls "$build"/cellwatch-modemsim_*.deb >/dev/null
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
for page in cellwatch.8 cellwatch-check.8; do
    test -f "$root/usr/share/man/man8/$page" || { echo "manual page $page missing from $deb"; exit 1; }
done
# Each installed program, given no arguments, shows its usage and exits with status 1.
shows_usage() {
    local program=$1 synopsis=$2 out status
    set +e
    out=$("$root/usr/sbin/$program" 2>&1)
    status=$?
    set -e
    local expected="usage: $root/usr/sbin/$program $synopsis"
    if [ $status -ne 1 ] || [ "$(printf '%s\n' "$out" | head -1)" != "$expected" ]; then
        echo "installed $program did not show its usage (status $status): $out"
        exit 1
    fi
}
shows_usage cellwatch "PORT TYPE IFACE [IP_FAMILY]"
shows_usage cellwatch-check "[--attach] [--scenario FILE] PORT TYPE [IP_FAMILY]"
echo "package: $(basename "$deb") installs both programs and they show their usage"
