#!/bin/sh
# The package test that the OpenWrt SDK runs on the target: test.sh PKG_NAME PKG_VERSION.
# Passes when the installed programs run and are of that version. cellwatch's command line is
# the link's and has no version option: it must start, print its usage and exit 1 without
# arguments; cellwatch-check and cellwatch-eventd print their version. PKG_VERSION may carry
# the package's release (0.1.0-1 or 0.1.0-r1): the programs know only the version before it.

fail() {
	echo "test.sh: $*" >&2
	exit 1
}

# $1 program, $2 the version line it must print.
version_is() {
	out=$("$1" --version 2>&1) || fail "$1 --version failed: $out"
	[ "$out" = "$2" ] || fail "$1 --version printed '$out', not '$2'"
}

[ $# -eq 2 ] || fail "usage: test.sh PKG_NAME PKG_VERSION"
version=$2
case "$version" in
*-[0-9]* | *-r[0-9]*) version=${version%-*} ;;
esac
case "$1" in
cellwatch)
	out=$(cellwatch 2>&1)
	status=$?
	[ "$status" -eq 1 ] || fail "cellwatch without arguments ended with $status, not 1"
	case "$out" in
	"usage: "*) ;;
	*) fail "cellwatch without arguments printed '$out', not its usage" ;;
	esac
	version_is cellwatch-check "cellwatch-check $version"
	;;
cellwatch-router)
	version_is cellwatch-eventd "cellwatch-eventd $version"
	;;
*)
	fail "no test for package '$1'"
	;;
esac
