#!/bin/sh
# cellwatch runs this when the modem reports a new IPv6 address: 6dhcp.sh IFACE.
# It replaces the interface's DHCPv6 client with a new one whose pid file, /var/run/dhcp6.IFACE.pid,
# the teardown reads: odhcp6c where the system has it (OpenWrt), otherwise ISC dhclient -6
# (Debian's isc-dhcp-client). The default route comes from the network's router advertisements,
# at METRIC (10 by default) where the kernel can set it, below the backup's.
# shellcheck source=dist/router/cellwatch-common.sh
. /opt/vordane/bin/cellwatch-common.sh
cw_load "$1"

pid_file=/var/run/dhcp6.$IFACE.pid
cw_stop_client "$pid_file"
ip link set dev "$IFACE" up || cw_log "cannot bring the interface up"
sysctl -q -w "net.ipv6.conf.$IFACE.accept_ra=2" > /dev/null 2>&1
sysctl -q -w "net.ipv6.conf.$IFACE.ra_defrtr_metric=$METRIC" > /dev/null 2>&1
if command -v odhcp6c > /dev/null 2>&1; then
    odhcp6c -d -p "$pid_file" -s "$CW_BIN/odhcp6c.script" "$IFACE" ||
        cw_log "odhcp6c could not be started"
elif command -v dhclient > /dev/null 2>&1; then
    dhclient -6 -nw -pf "$pid_file" -lf "$CW_STATE_DIR/$IFACE.leases6" "$IFACE" ||
        cw_log "dhclient -6 could not be started"
else
    cw_log "no DHCPv6 client: install odhcp6c or isc-dhcp-client"
    exit 1
fi
cw_wait_pid_file "$pid_file"
cw_log "DHCPv6 client started"
