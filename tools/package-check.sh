#!/bin/bash
# Builds the Debian packages with CPack, installs cellwatch's into a temporary root and runs the
# installed program with too few arguments: it must print its usage and exit with status 1.
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
test -f "$root/usr/share/man/man8/cellwatch.8" || { echo "manual page missing from $deb"; exit 1; }
set +e
out=$("$root/usr/sbin/cellwatch" 2>&1)
status=$?
set -e
expected="usage: $root/usr/sbin/cellwatch PORT TYPE IFACE [IP_FAMILY]"
if [ $status -ne 1 ] || [ "$(printf '%s\n' "$out" | head -1)" != "$expected" ]; then
    echo "installed cellwatch did not show its usage (status $status): $out"
    exit 1
fi
echo "package: $(basename "$deb") installs and shows its usage"
