# The network stage's world, sourced by run.sh: four network namespaces of the test's own, the
# router's private mount namespace over the fixed paths, and the programs in them.
#   router  wwan0 (the cellular link, DHCP from the carrier) and eth1 (the wired backup,
#           203.0.113.2, default route of metric 100); cellwatch, cellwatch-eventd and the
#           site's scripts, as installed, over /run, /opt/vordane/bin and /etc/cellwatch
#   carrier cell0 198.51.100.1, busybox udhcpd giving wwan0 198.51.100.10; routes to the server
#   backup  bk0 203.0.113.1; routes to the server
#   server  192.0.2.1, a UDP echo, reached through the carrier (192.0.2.16/30) or the backup
#           (192.0.2.20/30)
# modemsim plays the modem on a pty; its control FIFO lets a case kill it and bring it back.
# shellcheck shell=bash
# Set by run.sh, which sources this file: ns, work, build, src; and set here for run.sh: anchor,
# eventd, cellwatch, probe.
# shellcheck disable=SC2154,SC2034

CELL_ADDRESS=198.51.100.10
SERVER=192.0.2.1
PROBE_PORT=7
PROBE_MS=100

# Runs "$@" in the router's network and mount namespaces.
in_router() {
    nsenter -t "$anchor" -m -n -- "$@"
}

make_networks() {
    for n in r c b s x; do ip netns add "$ns$n"; done
    for n in r c b s; do ip -n "$ns$n" link set lo up; done
    ip link add wwan0 netns "${ns}r" address 02:00:00:00:00:0a type veth peer name cell0 netns "${ns}c"
    ip link add eth1 netns "${ns}r" type veth peer name bk0 netns "${ns}b"
    ip link add c-s netns "${ns}c" type veth peer name s-c netns "${ns}s"
    ip link add b-s netns "${ns}b" type veth peer name s-b netns "${ns}s"
    ip -n "${ns}c" addr add 198.51.100.1/24 dev cell0
    ip -n "${ns}c" addr add 192.0.2.17/30 dev c-s
    ip -n "${ns}b" addr add 203.0.113.1/24 dev bk0
    ip -n "${ns}b" addr add 192.0.2.21/30 dev b-s
    ip -n "${ns}s" addr add 192.0.2.18/30 dev s-c
    ip -n "${ns}s" addr add 192.0.2.22/30 dev s-b
    ip -n "${ns}s" addr add "$SERVER/32" dev lo
    ip -n "${ns}r" addr add 203.0.113.2/24 dev eth1
    for l in c:cell0 c:c-s b:bk0 b:b-s s:s-c s:s-b r:eth1; do
        ip -n "$ns${l%%:*}" link set "${l#*:}" up
    done
    for n in c b; do ip netns exec "$ns$n" sysctl -q -w net.ipv4.ip_forward=1; done
    ip -n "${ns}c" route add "$SERVER/32" via 192.0.2.18
    ip -n "${ns}b" route add "$SERVER/32" via 192.0.2.22
    ip -n "${ns}s" route add 198.51.100.0/24 via 192.0.2.17
    ip -n "${ns}s" route add 203.0.113.0/24 via 192.0.2.21
    ip -n "${ns}r" route add default via 203.0.113.1 metric 100
}

start_carrier() {
    cat > "$work/udhcpd.conf" <<CONF
start 198.51.100.10
end 198.51.100.20
interface cell0
lease_file $work/udhcpd.leases
pidfile $work/udhcpd.pid
option subnet 255.255.255.0
option router 198.51.100.1
option lease 600
static_lease 02:00:00:00:00:0a $CELL_ADDRESS
CONF
    touch "$work/udhcpd.leases"
    ip netns exec "${ns}c" busybox udhcpd -f "$work/udhcpd.conf" > "$work/udhcpd.log" 2>&1 &
    ip netns exec "${ns}s" "$build/tools/netprobe/netprobe" echo "$PROBE_PORT" &
}

# The modem: modemsim on a pty linked at $work/modem, steps sent through $work/ctl.
start_modem() {
    mkfifo "$work/ctl"
    printf 'ipv4 %s\n' "$CELL_ADDRESS" > "$work/modem.scn"
    "$build/tools/modemsim/modemsim" --link "$work/modem" --control 3 "$work/modem.scn" \
        3<> "$work/ctl" > /dev/null 2> "$work/modemsim.log" &
    wait_for 10 test -e "$work/modem"
}

modem() {
    printf '%s\n' "$@" > "$work/ctl"
}

# The router's file system: the fixed paths over directories of the test's, the scripts as the
# package installs them, the link's settings; an anchor process holds the namespaces.
start_router() {
    mkdir -p "$work/run/lock" "$work/run/netns" "$work/etc-up" "$work/etc-work"
    cat > "$work/router-mounts.sh" <<MOUNTS
set -e
mount --make-rprivate /
mount --bind /run/netns "$work/run/netns"
mount --rbind "$work/run" /run
mount -t overlay overlay -o lowerdir=/etc,upperdir=$work/etc-up,workdir=$work/etc-work /etc
mkdir -p /etc/cellwatch
printf 'PORT=%s\nTYPE=generic\nIFACE=wwan0\n' "$work/modem" > /etc/cellwatch/wwan0.conf
mount -t tmpfs -o mode=0755 cellwatch-opt /opt
mkdir -p /opt/vordane/bin
mount --bind "$src/dist/router" /opt/vordane/bin
exec sleep 900
MOUNTS
    ip netns exec "${ns}r" unshare -m --propagation private sh "$work/router-mounts.sh" &
    anchor=$!
    wait_for 10 nsenter -t "$anchor" -m test -x /opt/vordane/bin/failover.sh
}

# The daemon finds cellwatch on its PATH, as the failover script starts it under no manager.
start_eventd() {
    local served
    served=$(grep -c 'serving' "$work/router.log" 2> /dev/null || true)
    PATH="$build:$PATH" nsenter -t "$anchor" -m -n "$build/cellwatch-eventd" 0<> /dev/null \
        >> "$work/router.log" 2>&1 &
    eventd=$!
    wait_for 10 served_more_than "${served:-0}"
}

served_more_than() {
    [ "$(grep -c serving "$work/router.log")" -gt "$1" ]
}

start_probe() { # COUNT
    ip netns exec "${ns}r" "$build/tools/netprobe/netprobe" send "$SERVER" "$PROBE_PORT" \
        "$PROBE_MS" "$1" > "$work/probe.log" &
}

now_ms() { date +%s%3N; }

# wait_for SECONDS COMMAND...: true as soon as the command succeeds, false after SECONDS.
wait_for() {
    local end=$(($(date +%s) + $1))
    shift
    until "$@" > /dev/null 2>&1; do
        [ "$(date +%s)" -lt "$end" ] || return 1
        sleep 0.1
    done
}

# The time (ms) of the first echo through interface $1 that came back after time $2, or nothing.
first_echo() {
    awk -v i="$1" -v t="$2" '$3 == i && $1 > t { print $1; exit }' "$work/probe.log"
}

# Waits at most $3 seconds for an echo through $1 after time $2; prints its time.
await_echo() {
    wait_for "$3" sh -c "awk -v i='$1' -v t='$2' '\$3 == i && \$1 > t { f = 1 } END { exit !f }' '$work/probe.log'" &&
        first_echo "$1" "$2"
}

# Probes lost from time $1 to the echo at time $2: the sequence numbers between the last echo
# before $1 and the one at $2 that never came back.
lost_between() {
    awk -v a="$1" -v b="$2" '
        $1 <= a && $2 > last { last = $2 }
        $1 == b { at = $2 }
        { got[$2] = 1 }
        END { n = 0; for (s = last + 1; s < at; s++) if (!(s in got)) n++; print n }
    ' "$work/probe.log"
}

teardown_world() {
    set +e
    for n in r c b s x; do
        for p in $(ip netns pids "$ns$n" 2> /dev/null); do kill -9 "$p" 2> /dev/null; done
    done
    # shellcheck disable=SC2046
    kill $(jobs -p) 2> /dev/null
    wait 2> /dev/null
    for n in r c b s x; do ip netns del "$ns$n" 2> /dev/null; done
}
