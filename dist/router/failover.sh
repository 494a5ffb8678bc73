#!/bin/sh
# The event daemon runs this for each failover request of cellwatch: failover.sh IFACE.
# cellwatch has already stopped the link's DHCP clients and brought IFACE down, which took its
# address and routes with it: traffic now takes the backup's default route, of a higher metric.
# This script says so, counts failovers in a row, runs the site's modem reset hook
# (/etc/cellwatch/reset-modem IFACE) at every RESET_AFTER-th of them (3 by default, 0 for
# never), and has the link watched again after a gap: a twentieth of the outage so far, at least
# 10 s and at most 10 minutes (10 s for the first 200 s, 30 s after 10 minutes, 10 minutes after
# 3 h 20 min), so that a modem that comes back is found again within about a twentieth of the
# outage's length. A run that kept its address for 10 minutes ends the outage: the next failover
# starts again at 10 s.
# It asks systemd, procd or, under neither, starts cellwatch itself, as it finds at run time.
# shellcheck source=dist/router/cellwatch-common.sh
. /opt/vordane/bin/cellwatch-common.sh
cw_load "$1"

GAP_MIN=10
GAP_MAX=600
GAP_SHARE=20
HEALTHY=600
now=$(cw_now)
count=0
first=$now
state=$CW_STATE_DIR/$IFACE.failovers
if [ -r "$state" ]; then
    read -r count first < "$state"
    case $count$first in "" | *[!0-9]*) count=0 ;; esac
fi
if [ -r "$CW_STATE_DIR/$IFACE.up" ]; then
    read -r up_since < "$CW_STATE_DIR/$IFACE.up"
    case $up_since in "" | *[!0-9]*) up_since=$now ;; esac
    [ $((now - up_since)) -lt $HEALTHY ] || count=0
    rm -f "$CW_STATE_DIR/$IFACE.up"
fi
[ "$count" -gt 0 ] || first=$now
count=$((count + 1))
echo "$count $first" > "$state"
gap=$(((now - first) / GAP_SHARE))
[ $gap -ge $GAP_MIN ] || gap=$GAP_MIN
[ $gap -le $GAP_MAX ] || gap=$GAP_MAX
cw_log "failover $count in a row; $(cw_link_state)"

if [ "$RESET_AFTER" -gt 0 ] 2> /dev/null && [ $((count % RESET_AFTER)) -eq 0 ] &&
    [ -x "$CW_CONF_DIR/reset-modem" ]; then
    cw_log "running $CW_CONF_DIR/reset-modem"
    limit="timeout 60"
    command -v timeout > /dev/null 2>&1 || limit=""
    $limit "$CW_CONF_DIR/reset-modem" "$IFACE" || cw_log "reset-modem ended with status $?"
fi

manager=$(cw_manager)
case $manager in
systemd)
    # A timer of systemd's own: it outlives this script and a restart of the event daemon.
    systemctl stop "cellwatch-retry-$IFACE.timer" > /dev/null 2>&1
    systemctl reset-failed "cellwatch-retry-$IFACE.service" > /dev/null 2>&1
    systemd-run --quiet --collect --unit="cellwatch-retry-$IFACE" --on-active="$gap" \
        --timer-property=AccuracySec=1s systemctl start "cellwatch@$IFACE.service" ||
        cw_log "systemd-run failed: the link is not watched again"
    ;;
procd)
    # procd would start it again after 10 s, and give up after the fifth end in an hour: the
    # instance is stopped instead, and the service started again after the gap.
    section=$(cw_uci_section)
    [ -z "$section" ] || /etc/init.d/cellwatch stop "$section"
    # shellcheck disable=SC2016
    cw_detach sh -c 'sleep "$1"; exec /etc/init.d/cellwatch start' sh "$gap"
    ;;
*)
    if [ -z "$PORT" ]; then
        cw_log "no PORT in $CW_CONF_DIR/$IFACE.conf: the link is not watched again"
        exit 1
    fi
    pending=$CW_STATE_DIR/$IFACE.retry
    cw_running "$pending" && kill "$(cat "$pending")" 2> /dev/null
    # shellcheck disable=SC2016
    cw_detach sh -c 'echo $$ > "$1"; sleep "$2"; rm -f "$1"; shift 2; exec "$@"' sh \
        "$pending" "$gap" cellwatch "$PORT" "${TYPE:-generic}" "$IFACE" ${IP_FAMILY:+"$IP_FAMILY"}
    ;;
esac
cw_log "the link is watched again in $gap s ($manager)"
