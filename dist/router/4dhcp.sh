#!/bin/sh
# cellwatch runs this when the modem reports a new IPv4 address: 4dhcp.sh IFACE.
# It replaces the interface's DHCP client with a new one (busybox udhcpc, whose pid file
# /var/run/dhcp.IFACE.pid the teardown reads), brings the interface up (a teardown or a replug
# left it down), and returns at once: the lease is applied by udhcpc.script as it comes.
# shellcheck source=dist/router/cellwatch-common.sh
. /opt/vordane/bin/cellwatch-common.sh
cw_load "$1"

pid_file=/var/run/dhcp.$IFACE.pid
cw_stop_client "$pid_file"
ip link set dev "$IFACE" up || cw_log "cannot bring the interface up"
# Foreground mode, in the background: the script returns now, the client keeps retrying.
# shellcheck disable=SC2046
cw_detach $(cw_applet udhcpc) -f -i "$IFACE" -p "$pid_file" -s "$CW_BIN/udhcpc.script" \
    -t 3 -T 1 -A 3
cw_wait_pid_file "$pid_file"
cw_log "DHCP client started"
