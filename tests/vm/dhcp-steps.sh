#!/bin/sh
# The systemd guest's DHCP script: the steps a site's script takes, run inside the unit's sandbox,
# each recorded in /run/cw-steps.log as "STEP ok" or "STEP refused: why", then "end". With
# /run/cw-long-script present it only marks its start and runs on for minutes, as a DHCP client
# waiting in the foreground for a lease that never comes.
log=/run/cw-steps.log
if [ -e /run/cw-long-script ]; then
    echo started > /run/cw-long-script.started
    sleep 150
    exit 0
fi
: > "$log"
step() {
    name=$1
    shift
    if out=$("$@" 2>&1); then
        echo "$name ok" >> "$log"
    else
        echo "$name refused: $out" | tr '\n' ' ' >> "$log"
        echo >> "$log"
    fi
}
step write-etc sh -c 'echo "nameserver 10.64.0.1" > /etc/resolv.conf.cellwatch'
step write-var-run sh -c 'echo 1 > /var/run/cellwatch-script'
step write-proc-sys-net sh -c "echo 1 > /proc/sys/net/ipv6/conf/$1/disable_ipv6"
step ip ip link set "$1" up
step ifconfig ifconfig "$1" 10.64.2.17 netmask 255.255.255.0 up
# A DHCP client's packet socket: one discover, no server to answer it.
step packet-socket sh -c "busybox udhcpc -i $1 -n -q -t 1 -T 1 -s /bin/true 2>&1 | grep -q 'broadcasting discover'"
step write-tmp sh -c 'echo seen > /tmp/cellwatch-script'
step hostname hostname cellwatch-guest
echo end >> "$log"
