#!/bin/bash
# The OpenWrt feed package, built by its Makefile with GNU make against stand-ins for OpenWrt's
# rules.mk, package.mk and cmake.mk (topdir/: the feed's conventions, the host's compiler), then
# checked: each package's files, modes and control data, the version the Makefile gives, and the
# package's test.sh as the SDK runs it, under busybox sh, passing for the version and failing
# for another.
# usage: tests/openwrt/run.sh WORK
set -euo pipefail
cd "$(dirname "$0")/../.."
work=$1
feed=dist/openwrt/cellwatch
rm -rf "$work"
mkdir -p "$work"

fail() {
    echo "FAIL: $*"
    exit 1
}

project_version=$(sed -n 's/^project(cellwatch VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
pkg_version=$(sed -n 's/^PKG_VERSION:=//p' "$feed/Makefile")
if [ -z "$project_version" ] || [ "$pkg_version" != "$project_version" ]; then
    fail "the feed's PKG_VERSION '$pkg_version' is not the project's '$project_version'"
fi

if ! make -C "$feed" TOPDIR="$PWD/tests/openwrt/topdir" BUILD_DIR="$work" compile \
        > "$work/make.log" 2>&1; then
    tail -n 30 "$work/make.log"
    fail "the feed's Makefile did not build the packages"
fi
roots=$work/cellwatch-$pkg_version/ipkg-$(uname -m)

# $1 package; prints its files as "MODE PATH", the package's control files left out.
files_of() {
    (cd "$roots/$1" && find . -path ./CONTROL -prune -o ! -type d -printf '%m %P\n' | sort -k2)
}
expected_cellwatch='600 etc/config/cellwatch
755 etc/init.d/cellwatch
755 usr/sbin/cellwatch
755 usr/sbin/cellwatch-check'
expected_router='755 etc/init.d/cellwatch-eventd
755 opt/vordane/bin/4dhcp.sh
755 opt/vordane/bin/6dhcp.sh
644 opt/vordane/bin/cellwatch-common.sh
755 opt/vordane/bin/failover.sh
755 opt/vordane/bin/odhcp6c.script
755 opt/vordane/bin/udhcpc.script
755 usr/sbin/cellwatch-eventd'
[ "$(files_of cellwatch)" = "$expected_cellwatch" ] ||
    fail "package cellwatch holds:"$'\n'"$(files_of cellwatch)"
[ "$(files_of cellwatch-router)" = "$expected_router" ] ||
    fail "package cellwatch-router holds:"$'\n'"$(files_of cellwatch-router)"
[ "$(cat "$roots/cellwatch/CONTROL/conffiles")" = /etc/config/cellwatch ] ||
    fail "package cellwatch's conffiles are not /etc/config/cellwatch"
grep -qx 'Depends: +cellwatch' "$roots/cellwatch-router/CONTROL/control" ||
    fail "package cellwatch-router does not depend on cellwatch"
cmp -s "$roots/cellwatch/etc/init.d/cellwatch" dist/cellwatch.init ||
    fail "the package's init script is not dist/cellwatch.init"

# $1 package, $2 version, $3 the expected status: 0, or 1 for a failure.
package_test() {
    local status=0
    PATH="$roots/$1/usr/sbin:$PATH" busybox sh "$feed/test.sh" "$1" "$2" \
        > "$work/test.out" 2>&1 || status=$?
    [ "$status" -eq "$3" ] ||
        fail "test.sh $1 $2 ended with $status, not $3: $(cat "$work/test.out")"
}
for package in cellwatch cellwatch-router; do
    package_test "$package" "$pkg_version" 0
    package_test "$package" "$pkg_version-r1" 0
    package_test "$package" "$pkg_version.1" 1
    package_test "$package" 9.9.9-1 1
done
echo "the feed's packages build and install as expected; test.sh passes for $pkg_version only"
