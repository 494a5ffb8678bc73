#!/bin/bash
# The network stage: a router with a cellular link and a wired backup, in network namespaces of
# the test's own, with cellwatch, cellwatch-eventd and the site's scripts installed over the fixed
# paths, a real DHCP server and client, and probes every 100 ms that say which link answers.
# One case per run; each prints "result KIND lost=N backup_s=S failback_s=S" for the benchmark.
#   detach          the network detaches the modem and its data path dies: the traffic takes the
#                   backup within 13.5 s, the failover script runs once, finding the interface
#                   down, without its address and its DHCP client; the modem attaches again: the
#                   traffic is back on the cellular link within 40 s (30 s and the 10 s gap)
#   silent          the modem stops answering: the backup within 80.5 s, back within 40 s
#   unplug          the USB modem is unplugged (its port and its interface go) and plugged back:
#                   the traffic takes the backup, and is back within 25 s of the replug
#   eventd-restart  the event daemon was killed: cellwatch tears the link down and waits on the
#                   pipe; the daemon started again gets the request once, and the run ends with 0
#   outage          the modem silent for 10 minutes: supervision is tried again throughout, and
#                   the traffic is back on the cellular link within 60 s of the modem's return
#                   (11 minutes of real time: not one of the suite's tests)
# usage: tests/net/run.sh BUILD_DIR CASE [DELAY_MS]     (as root; exit 77 where it cannot run)
#   DELAY_MS  how long after the first echo through the cellular link the modem dies (1000): where
#             in cellwatch's cycle the death falls, which the benchmark varies
set -euo pipefail
build=$(cd "$1" && pwd)
kind=$2
delay_ms=${3:-1000}
src=$(cd "$(dirname "$0")/../.." && pwd)
skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "network and mount namespaces need root"
for tool in busybox ip nsenter unshare /sbin/ifconfig; do
    command -v "$tool" > /dev/null || skip "$tool is not installed"
done
ns=cwnet$$
work=$(mktemp -d)
# shellcheck source=tests/net/lib.sh
. "$src/tests/net/lib.sh"
ip netns add "${ns}probe" 2> /dev/null || skip "network namespaces cannot be made here"
ip netns del "${ns}probe"
failed=0
on_exit() {
    teardown_world
    if [ "$failed" != 0 ]; then
        for f in router.log modemsim.log udhcpd.log; do
            echo "---- $f"
            tail -n 60 "$work/$f" 2> /dev/null
        done
    fi
    rm -rf "$work"
}
trap on_exit EXIT
trap 'fail "line $LINENO: a step failed"' ERR
fail() {
    echo "FAIL: $*"
    failed=1
    exit 1
}
# within WHAT FROM_MS TO_MS LIMIT_MS: fails unless TO came, after FROM, at most LIMIT later.
within() {
    [ -n "$3" ] || fail "$1: none within $4 ms"
    if [ "$3" -lt "$2" ] || [ $(($3 - $2)) -gt "$4" ]; then
        fail "$1 took $(($3 - $2)) ms, more than $4"
    fi
}
last_echo_before() { # TIME: the interface of the last echo before it
    awk -v t="$1" '$1 < t { i = $3 } END { print i }' "$work/probe.log"
}
seconds() { awk -v ms="$1" 'BEGIN { printf "%.1f", ms / 1000 }'; }
runs_of_failover() { grep -c 'running /opt/vordane/bin/failover.sh wwan0' "$work/router.log" || true; }

make_networks
start_carrier
start_modem
start_router
start_eventd
probes=2000
[ "$kind" != outage ] || probes=8000
start_probe "$probes"
nsenter -t "$anchor" -m -n "$build/cellwatch" "$work/modem" generic wwan0 \
    0<> /dev/null >> "$work/router.log" 2>&1 &
cellwatch=$!
await_echo wwan0 0 30 > /dev/null || fail "no echo through the cellular link within 30 s of the start"

# The carrier's data path: 0 drops everything the modem's link carries, 1 forwards it again.
cut_carrier() {
    ip netns exec "${ns}c" sysctl -q -w net.ipv4.ip_forward="$1"
}
die() {
    case $kind in
    detach | eventd-restart)
        cut_carrier 0
        modem 'attach-command ignored' 'attach 0'
        ;;
    silent | outage)
        cut_carrier 0
        modem 'silent on'
        ;;
    unplug)
        modem unplug
        ip -n "${ns}r" link set wwan0 netns "${ns}x"
        ;;
    esac
}
come_back() {
    case $kind in
    detach)
        modem 'attach 1' 'attach-command attaches'
        cut_carrier 1
        ;;
    silent | outage)
        modem 'silent off'
        cut_carrier 1
        ;;
    unplug)
        ip -n "${ns}x" link set wwan0 netns "${ns}r"
        modem replug
        ;;
    esac
}

if [ "$kind" = eventd-restart ]; then
    kill -9 "$eventd"
    wait "$eventd" 2> /dev/null || true
fi
sleep "$(awk -v ms="$delay_ms" 'BEGIN { print ms / 1000 }')"
t0=$(now_ms)
[ "$(last_echo_before "$t0")" = wwan0 ] || fail "the traffic did not take the cellular link before"
die
case $kind in
detach | eventd-restart) limit=13500 ;;
silent | outage) limit=80500 ;;
unplug) limit=5000 ;;
*) fail "no case $kind" ;;
esac
t1=$(await_echo eth1 "$t0" $((limit / 1000 + 2))) || true
within "the first echo through the backup" "$t0" "$t1" "$limit"
lost=$(lost_between "$t0" "$t1")

if [ "$kind" = eventd-restart ]; then
    wait_for 20 grep -q fifo_open\\\|wait_for_partner "/proc/$cellwatch/wchan" ||
        fail "cellwatch is not waiting on the event pipe"
    start_eventd
    wait_for 10 sh -c "! kill -0 $cellwatch" || fail "cellwatch did not end once the daemon was back"
    status=0
    wait "$cellwatch" || status=$?
    [ "$status" = 0 ] || fail "cellwatch ended with status $status"
    wait_for 10 grep -q 'watched again' "$work/router.log" || fail "the failover script did not run"
    [ "$(runs_of_failover)" = 1 ] || fail "the failover script ran $(runs_of_failover) times"
    echo "result $kind lost=$lost backup_s=$(seconds $((t1 - t0))) failback_s=-"
    exit 0
fi

if [ "$kind" = unplug ]; then
    # Plugged back only once cellwatch has looked for the port and found none.
    wait_for 15 grep -q 'No such file or directory' "$work/router.log" ||
        fail "cellwatch did not find the port gone"
else
    wait_for 10 grep -q 'watched again' "$work/router.log" || fail "the failover script did not run"
    grep -q 'failover 1 in a row; interface down, address none, DHCP client gone' \
        "$work/router.log" || fail "the failover script found the link not yet taken down"
fi
if [ "$kind" = outage ]; then
    sleep $((600 - (t1 - t0) / 1000))
    [ "$(runs_of_failover)" -ge 5 ] ||
        fail "supervision was tried again only $(runs_of_failover) times in 10 minutes"
fi
t2=$(now_ms)
[ "$(last_echo_before "$t2")" = eth1 ] || fail "the traffic left the backup before the modem came back"
come_back
case $kind in
unplug) limit=25000 ;;
outage) limit=60000 ;;
*) limit=40000 ;;
esac
t3=$(await_echo wwan0 "$t2" $((limit / 1000 + 2))) || true
within "the first echo through the cellular link after the modem came back" "$t2" "$t3" "$limit"
case $kind in
unplug) expected_runs=0 ;;
outage) expected_runs=$(runs_of_failover) ;;
*) expected_runs=1 ;;
esac
[ "$(runs_of_failover)" = "$expected_runs" ] ||
    fail "the failover script ran $(runs_of_failover) times, not $expected_runs"
[ "$kind" != outage ] || grep 'watched again' "$work/router.log" | sed 's/^/  /'
[ "$(grep -c 'watched again' "$work/router.log")" = "$(runs_of_failover)" ] ||
    fail "a failover script run did not have the link watched again"
echo "result $kind lost=$lost backup_s=$(seconds $((t1 - t0))) failback_s=$(seconds $((t3 - t2)))"
