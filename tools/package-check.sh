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
router_deb=$(echo "$build"/cellwatch-router_*.deb)
if [ ! -f "$deb" ] || [ ! -f "$sim_deb" ] || [ ! -f "$router_deb" ]; then
    echo "cpack made no packages: $deb $sim_deb $router_deb"
    exit 1
fi

lintian --allow-root --fail-on error,warning --tag-display-limit 0 "$deb" "$sim_deb" "$router_deb" ||
    { echo "lintian: findings above"; exit 1; }
echo "lintian: no error or warning"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
dpkg -x "$sim_deb" "$root"
dpkg -x "$router_deb" "$root"
for page in man8/cellwatch.8.gz man8/cellwatch-check.8.gz man8/cellwatch-eventd.8.gz \
            man1/modemsim.1.gz; do
    test -f "$root/usr/share/man/$page" || { echo "manual page $page missing"; exit 1; }
done
units="/usr/lib/systemd/system/cellwatch@.service /usr/lib/systemd/system/cellwatch-eventd.service"
# The units' programs and their Documentation= pages must be found where the packages put them.
unshare -m sh -c "mount -t overlay overlay -o lowerdir=$root/usr:/usr /usr &&
                  systemd-analyze verify $units" || { echo "systemd-analyze verify failed"; exit 1; }
echo "systemd-analyze verify: the units are clean with the packages in place"

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
# The daemon takes no argument but --version: any other gets its usage.
set +e
out=$("$root/usr/sbin/cellwatch-eventd" --help 2>&1)
status=$?
set -e
first=$(printf '%s\n' "$out" | head -1)
if [ $status -ne 1 ] || [ "$first" != "usage: $root/usr/sbin/cellwatch-eventd [--version]" ]; then
    echo "installed cellwatch-eventd did not show its usage (status $status): $out"
    exit 1
fi
for script in 4dhcp.sh 6dhcp.sh failover.sh udhcpc.script odhcp6c.script; do
    test -x "$root/opt/vordane/bin/$script" || { echo "$script is not installed"; exit 1; }
done
echo "packages: $(basename "$deb"), $(basename "$router_deb") and $(basename "$sim_deb") install" \
     "their programs, which show their usage, and the site's scripts"
