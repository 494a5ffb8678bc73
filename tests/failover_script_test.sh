#!/bin/bash
# The failover script's schedule, without waiting: it is run again and again in a private mount
# namespace whose /proc/uptime says how long the outage has lasted, over a /run and an
# /etc/cellwatch of the test's own, with stand-ins for sleep, cellwatch, systemctl, systemd-run,
# uci and /etc/init.d/cellwatch that record what they are asked. Checked: the gap (a twentieth of
# the outage, 10 s to 10 minutes, 10 s again after a run that kept its address 10 minutes), the
# reset hook at every third failover, and what each manager is asked to start again.
# usage: tests/failover_script_test.sh DIST_ROUTER_DIR     (as root; exit 77 where it cannot run)
set -euo pipefail
if [ "${1:-}" != --inside ]; then
    [ "$(id -u)" = 0 ] || { echo "skipped: needs root for a private mount namespace"; exit 77; }
    exec unshare -m --propagation private "$0" --inside "$(cd "$1" && pwd)"
fi
scripts=$2
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
mkdir -p "$t/run" "$t/stubs" "$t/etc-up" "$t/etc-work"
mount --bind "$t/run" /run
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$t/etc-up,workdir=$t/etc-work" /etc
mkdir -p /etc/cellwatch /etc/init.d
echo 0 > "$t/uptime"
mount --bind "$t/uptime" /proc/uptime
mount -t tmpfs -o mode=0755 cellwatch-opt /opt
mkdir -p /opt/vordane/bin
mount --bind "$scripts" /opt/vordane/bin
for stub in sleep cellwatch systemctl systemd-run uci; do
    printf '#!/bin/sh\necho "%s $*" >> %s/calls.log\n' "$stub" "$t" > "$t/stubs/$stub"
done
printf '#!/bin/sh\n[ "$*" != "-q get cellwatch.wwan0" ] || echo cellwatch\n' > "$t/stubs/uci"
printf '#!/bin/sh\necho "init.d $*" >> %s/calls.log\n' "$t" > /etc/init.d/cellwatch
printf '#!/bin/sh\necho "reset-modem $*" >> %s/calls.log\n' "$t" > /etc/cellwatch/reset-modem
chmod +x "$t"/stubs/* /etc/init.d/cellwatch /etc/cellwatch/reset-modem
export PATH="$t/stubs:$PATH"
printf 'PORT=/dev/ttyUSB1\nTYPE=marvell\nIFACE=wwan0\nIP_FAMILY=ip6\n' > /etc/cellwatch/wwan0.conf

failures=0
expect() { # WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "FAIL $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}
# failover_at UPTIME: runs the script as if the outage had lasted so long; prints its gap.
failover_at() {
    echo "$1.42 0.00" > "$t/uptime"
    : > "$t/calls.log"
    /opt/vordane/bin/failover.sh wwan0 2> "$t/err"
    sed -n 's/.*watched again in \([0-9]*\) s.*/\1/p' "$t/err"
}
# Waits (at most 10 s) until the detached start has been asked for.
started() {
    for _ in $(seq 100); do
        grep -q "$1" "$t/calls.log" 2> /dev/null && return 0
        /bin/sleep 0.1
    done
    return 1
}

# Under no manager: the gaps of an outage, and the start with the link's own settings.
gaps=""
for at in 1000 1100 1300 1600 1900 13000 20000; do
    gaps="$gaps $(failover_at $at)"
    started "cellwatch " || true
done
expect "gaps over 19000 s of outage" " 10 10 15 30 45 600 600" "$gaps"
expect "the start asked for" "sleep 600 cellwatch /dev/ttyUSB1 marvell wwan0 ip6" \
    "$(grep -v '^uci' "$t/calls.log" | tr '\n' ' ' | sed 's/ $//')"
expect "the count kept" "7 1000" "$(cat /run/cellwatch/wwan0.failovers)"

# A run that kept its address for 10 minutes ends the outage; one of 5 minutes does not.
echo 20100 > /run/cellwatch/wwan0.up
expect "after 500 s with an address" 600 "$(failover_at 20600)"
started "cellwatch " || true
echo 20700 > /run/cellwatch/wwan0.up
expect "after 600 s with an address" 10 "$(failover_at 21300)"
started "cellwatch " || true
expect "a new outage's count" "1 21300" "$(cat /run/cellwatch/wwan0.failovers)"
rm -f /run/cellwatch/wwan0.failovers

# The reset hook at every third failover in a row.
resets=""
for n in 1 2 3 4 5 6; do
    failover_at $((30000 + n)) > /dev/null
    # The detached start has been asked for before the next run empties the record.
    started "cellwatch " || true
    grep -q '^reset-modem wwan0$' "$t/calls.log" && resets="$resets $n"
done
expect "failovers that ran the reset hook" " 3 6" "$resets"

# systemd: a timer of its own that starts the unit; procd: the instance stopped, the service
# started after the gap.
rm -f /run/cellwatch/wwan0.failovers
echo MANAGER=systemd >> /etc/cellwatch/wwan0.conf
failover_at 40000 > /dev/null
expect "systemd asked" "systemd-run --quiet --collect --unit=cellwatch-retry-wwan0 --on-active=10 --timer-property=AccuracySec=1s systemctl start cellwatch@wwan0.service" \
    "$(grep '^systemd-run' "$t/calls.log")"
sed -i 's/^MANAGER=.*/MANAGER=procd/' /etc/cellwatch/wwan0.conf
failover_at 40100 > /dev/null
started "init.d start" || true
expect "procd asked" "init.d stop wwan0|sleep 10|init.d start" "$(tr '\n' '|' < "$t/calls.log" | sed 's/|$//')"

# A name that cellwatch would refuse is refused here too, and nothing is run.
: > "$t/calls.log"
status=0
/opt/vordane/bin/failover.sh 'wwan0;reboot' 2> "$t/err" || status=$?
expect "a bad name's status and calls" "2:" "$status:$(cat "$t/calls.log")"

[ $failures = 0 ] || exit 1
echo "the failover script's schedule holds"
