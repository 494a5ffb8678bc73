#!/bin/sh
# Runs a command in a private mount namespace in which ROOT's directories stand over the fixed
# system paths cellwatch uses:
#   ROOT/run      over /run (and so /var/run and /var/lock); it must hold lock/
#   ROOT/bin      over /opt/vordane/bin (the DHCP and failover scripts)
#   ROOT/ifconfig over /sbin/ifconfig
# Nothing outside the namespace is touched. As root this is `unshare -m`; otherwise an
# unprivileged user namespace maps the caller to root inside.
# usage: sandbox.sh ROOT COMMAND [ARG...]
set -eu
if [ "${1:-}" != "--inside" ]; then
    [ $# -ge 2 ] || { echo "usage: $0 ROOT COMMAND [ARG...]" >&2; exit 2; }
    if [ "$(id -u)" = 0 ]; then
        exec unshare --mount --propagation private "$0" --inside "$@"
    fi
    exec unshare --user --map-root-user --mount --propagation private "$0" --inside "$@"
fi
shift
root=$(cd "$1" && pwd)
shift
mount --bind "$root/run" /run
mount -t tmpfs -o mode=0755 cellwatch-opt /opt
mkdir -p /opt/vordane/bin
mount --bind "$root/bin" /opt/vordane/bin
mount --bind "$root/ifconfig" /sbin/ifconfig
exec "$@"
