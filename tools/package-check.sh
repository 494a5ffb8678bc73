#!/bin/bash
# Builds the Debian packages with CPack and checks them as a packager would: lintian finds no error
# and no warning; the systemd unit passes `systemd-analyze verify` with the package's files in
# place (over /usr, in a private mount namespace, so nothing is installed on this machine); and the
# installed programs, given too few arguments, print their usage and exit with status 1.
# usage: tools/package-check.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
(cd "$build" && rm -f ./*.deb && cpack -G DEB > cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
deb=$(echo "$build"/cellwatch_*.deb)
sim_deb=$(echo "$build"/cellwatch-modemsim_*.deb)
if [ ! -f "$deb" ] || [ ! -f "$sim_deb" ]; then
    echo "cpack made no packages: $deb $sim_deb"
    exit 1
fi

lintian --allow-root --fail-on error,warning --tag-display-limit 0 "$deb" "$sim_deb" ||
    { echo "lintian: findings above"; exit 1; }
echo "lintian: no error or warning"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
dpkg -x "$sim_deb" "$root"
for page in man8/cellwatch.8.gz man8/cellwatch-check.8.gz man1/modemsim.1.gz; do
    test -f "$root/usr/share/man/$page" || { echo "manual page $page missing"; exit 1; }
done
unit=/usr/lib/systemd/system/cellwatch@.service
# The unit's program and its Documentation= pages must be found where the package puts them.
unshare -m sh -c "mount -t overlay overlay -o lowerdir=$root/usr:/usr /usr &&
                  systemd-analyze verify $unit" || { echo "systemd-analyze verify failed"; exit 1; }
echo "systemd-analyze verify: the unit is clean with the package in place"

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
echo "package: $(basename "$deb") and $(basename "$sim_deb") install their programs, which show their usage"
