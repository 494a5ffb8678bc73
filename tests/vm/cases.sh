# Sourced by the guest's init, in busybox's ash (a dash-like shell, with local).
# shellcheck shell=dash
# The cases, by guest. Each case ends with one console line: "CASE <name> PASS", or
# "CASE <name> FAIL" and what it saw instead. Every wait is bounded, every program runs under a
# hard time limit, and every time measured has a floor and a ceiling.

LOCK=/run/lock/failover
problems=""
measured=""

now_ms() { awk '{ printf "%d\n", $1 * 1000 }' /proc/uptime; }

# The file's lines joined with '|', CRs shown as \r, for a one-line report.
flat() { sed 's/\r/\\r/g' "$1" | tr '\n' '|' | sed 's/|$//'; }

fail() { problems="$problems; $*"; }
expect_eq() { [ "$1" = "$2" ] || fail "$3: got '$1', expected '$2'"; }
expect_between() {
    if [ "$1" -lt "$2" ] || [ "$1" -gt "$3" ]; then fail "$4: $1, not within $2..$3"; fi
    measured="$measured; $4: $1"
}
# The case's line; after a failure, the logs it made follow, indented, for the console's reader.
report() {
    if [ -z "$problems" ]; then
        echo "CASE $1 PASS${measured:+ (${measured#; })}"
    else
        echo "CASE $1 FAIL${problems}"
        [ "$1" = "${1#systemd-}" ] || journalctl -q -o short-monotonic --no-pager -n 40 > /tmp/journal.log
        for log in /tmp/cw.err /tmp/cw.out /tmp/check.out /tmp/modem.log /tmp/calls.log \
                   /tmp/journal.log; do
            [ -s "$log" ] && { echo "  $log:"; sed 's/^/    /' "$log"; }
        done
    fi
    problems=""
    measured=""
    rm -f /tmp/cw.err /tmp/cw.out /tmp/check.out /tmp/journal.log
}

# Evaluates $1 every 50 ms until it holds or $2 ms have passed.
wait_for() {
    local until=$(( $(now_ms) + $2 ))
    until eval "$1"; do
        [ "$(now_ms)" -ge "$until" ] && return 1
        usleep 50000
    done
}

# The state letter of process $1 (Z once it has ended and waits to be reaped).
state_of() { sed 's/.*) \(.\).*/\1/' "/proc/$1/stat" 2>/dev/null; }
ended() { [ "$(state_of "$1")" = Z ] || [ ! -e "/proc/$1" ]; }

fresh_world() {
    rm -f "$LOCK" /run/dhcp.wwan0.pid /run/dhcp6.wwan0.pid
    : > /tmp/calls.log
    : > /tmp/events.log
}

# The gadget's serial function on the dummy host controller: cdc-acm takes it as /dev/ttyACM0
# (use_acm=1), or the generic usb-serial driver as /dev/ttyUSB0, bound to the gadget's own ids.
load_usb() {
    for m in configfs usb-common usbcore udc-core libcomposite u_serial usb_f_acm usb_f_serial \
             dummy_hcd cdc-acm; do
        insmod "/mods/$m.ko"
    done
    [ "$1" = 0 ] && insmod /mods/usbserial.ko vendor=0x0525 product=0xa4a6
    insmod /mods/g_serial.ko use_acm="$1"
}

# modemsim on the gadget's side of the cable, with scenario $1.
start_modem() {
    rm -f /tmp/modem.out /tmp/modem.log
    modemsim --device /dev/ttyGS0 "/scenarios/$1.scn" > /tmp/modem.out 2> /tmp/modem.log &
    modem=$!
    wait_for '[ -s /tmp/modem.out ]' 3000 || fail "modemsim did not start: $(flat /tmp/modem.log)"
}
stop_modem() { kill "$modem"; wait "$modem"; }
dialogues() { grep -c -- '-- dialogue' /tmp/modem.log; }

# An open of the port by an unprivileged user: "opened", or the shell's complaint.
open_as_nobody() { timeout -s KILL 3 su -s /bin/sh nobody -c "exec 3<>$1 && echo opened" 2>&1; }

# A whole life on cdc-acm: an address, its change, the link lost, the teardown and the failover
# request; the port's settings as they were.
case_acm_life() {
    fresh_world
    start_modem life
    before=$(stty -F /dev/ttyACM0 -g)
    sleep 300 &
    client=$!
    echo "$client" > /run/dhcp.wwan0.pid
    t0=$(now_ms)
    timeout -s KILL 60 cellwatch /dev/ttyACM0 generic wwan0 < /dev/null > /tmp/cw.out 2> /tmp/cw.err
    expect_eq "$?" 0 "exit status"
    # Three dialogues 11 s apart, the third reporting the link lost.
    expect_between $(( $(now_ms) - t0 )) 22000 32000 "ms for the whole life"
    expect_eq "$(cut -d= -f1 /tmp/cw.out | tr '\n' '|')" \
        " IPv4 - 10.64.2.17 | IPv4 - 10.64.9.200 |" "addresses printed"
    wait_for '[ -s /tmp/events.log ]' 2000
    expect_eq "$(flat /tmp/events.log)" "exec /opt/vordane/bin/failover.sh wwan0" "the request"
    expect_eq "$(flat /tmp/calls.log)" \
        "4dhcp.sh wwan0|4dhcp.sh wwan0|ifconfig wwan0 0.0.0.0 down" "commands run"
    wait_for "ended $client" 2000 || fail "the DHCP client was not stopped"
    kill "$client" 2>/dev/null
    wait "$client"
    expect_eq "$(stty -F /dev/ttyACM0 -g)" "$before" "the port's settings after the run"
    stop_modem
    report acm-life
}

# The exclusive mode on the real driver: refused to another user during the dialogue, not after.
case_acm_exclusive() {
    fresh_world
    start_modem slow
    chmod 666 /dev/ttyACM0
    timeout -s KILL 20 cellwatch-check /dev/ttyACM0 generic > /tmp/check.out 2>&1 &
    check=$!
    wait_for 'grep -q " <- AT" /tmp/modem.log' 5000 || fail "the check never reached the modem"
    t0=$(now_ms)
    during=$(open_as_nobody /dev/ttyACM0)
    expect_between $(( $(now_ms) - t0 )) 0 2500 "ms for the refused open"
    case "$during" in
    *"esource busy"*) ;;
    *) fail "another user's open during the dialogue: $during" ;;
    esac
    wait "$check"
    expect_eq "$?" 0 "the check's status"
    expect_eq "$(head -1 /tmp/check.out)" "healthy: attached, IPv4 10.64.2.17" "the verdict"
    expect_eq "$(open_as_nobody /dev/ttyACM0)" opened "another user's open after the dialogue"
    stop_modem
    report acm-exclusive
}

# Unplugged in the middle of a dialogue: no hang, the lock let go, the missing port reported
# without points, and a dialogue on the re-enumerated port after the replug.
case_acm_unplug() {
    fresh_world
    start_modem unplug
    timeout -s KILL 90 cellwatch /dev/ttyACM0 generic wwan0 < /dev/null > /tmp/cw.out 2> /tmp/cw.err &
    cw=$!
    wait_for '[ ! -e /dev/ttyACM0 ]' 20000 || fail "the device never went away"
    t_gone=$(now_ms)
    wait_for "[ ! -e $LOCK ]" 5000
    expect_between $(( $(now_ms) - t_gone )) 0 3000 "ms from the unplug to the lock's release"
    timeout -s KILL 40 cellwatch-check /dev/ttyACM0 generic > /tmp/check.out 2>&1
    expect_eq "$?" 5 "the check's status while unplugged"
    expect_eq "$(head -1 /tmp/check.out)" "no-port: /dev/ttyACM0: No such file or directory" \
        "the check's verdict while unplugged"
    wait_for '[ -e /dev/ttyACM0 ]' 40000 || fail "the device never came back"
    t_back=$(now_ms)
    # Two cycles or more found no port; had they cost points, the run would have failed over.
    # (The failed dialogue's last "READ " has no line end, so a message may follow it on its line.)
    expect_between "$(grep -o '2(No such file or directory)' /tmp/cw.err | wc -l)" 2 3 \
        "cycles that found no port"
    seen=$(dialogues)
    wait_for "[ \$(dialogues) -gt $seen ]" 25000
    expect_between $(( $(now_ms) - t_back )) 0 22000 "ms from the replug to the next dialogue"
    wait_for "grep -q 'answered AT+CGPADDR' /tmp/modem.log && [ ! -e $LOCK ]" 10000
    timeout -s KILL 40 cellwatch-check /dev/ttyACM0 generic > /tmp/check.out 2>&1
    expect_eq "$?" 0 "the check's status after the replug"
    expect_eq "$(head -1 /tmp/check.out)" "healthy: attached, IPv4 10.64.2.17" \
        "the check's verdict after the replug"
    ended "$cw" && fail "cellwatch ended: $(flat /tmp/cw.err)"
    expect_eq "$(flat /tmp/events.log)" "" "failover requests"
    kill -TERM "$cw"
    wait "$cw"
    expect_eq "$?" 0 "exit status after SIGTERM"
    stop_modem
    report acm-unplug
}

# One cycle on port $1 in its 10-second pause after the DHCP script, then SIGTERM: the calls and
# addresses it made, and the status it ended with, are checked by the caller.
one_cycle_then_stop() {
    fresh_world
    t0=$(now_ms)
    timeout -s KILL 40 cellwatch "$1" generic wwan0 < /dev/null > /tmp/cw.out 2> /tmp/cw.err &
    cw=$!
    wait_for '[ -s /tmp/calls.log ]' 15000
    cycle_ms=$(( $(now_ms) - t0 ))
    wait_for "[ ! -e $LOCK ]" 1000
    t1=$(now_ms)
    kill -TERM "$cw"
    wait "$cw"
    status=$?
    stop_ms=$(( $(now_ms) - t1 ))
}

expect_one_healthy_cycle() {
    expect_eq "$status" 0 "exit status"
    expect_eq "$(flat /tmp/calls.log)" "4dhcp.sh wwan0" "commands run"
    expect_eq "$(cut -d= -f1 /tmp/cw.out)" " IPv4 - 10.64.2.17 " "address printed"
    # The 1-second pause, then three commands answered at once.
    expect_between "$cycle_ms" 900 4000 "ms to the DHCP script"
    expect_between "$stop_ms" 0 2000 "ms from SIGTERM in the pause to the end"
}

case_usbserial_dialogue() {
    start_modem healthy
    one_cycle_then_stop /dev/ttyUSB0
    expect_one_healthy_cycle
    stop_modem
    report usbserial-dialogue
}

# The guest's second 16550; the host's modemsim answers behind it. The serial core leaves CLOCAL
# on, so this is the dialogue that worked before the open stopped waiting for carrier.
case_uart_dialogue() {
    stty -F /dev/ttyS1 clocal
    one_cycle_then_stop /dev/ttyS1
    expect_one_healthy_cycle
    grep -q "^READ AT+CGPADDR" /tmp/cw.err || fail "no address answer read: $(flat /tmp/cw.err)"
    report uart-dialogue
}

# Carrier low and CLOCAL off, as after a program that put the line back to honour carrier: the
# open must not wait for it, and the settings found are put back.
case_uart_dcd_low() {
    grep '^1:' /proc/tty/driver/serial | grep -q 'CD' && fail "carrier is up: the case shows nothing"
    stty -F /dev/ttyS1 -clocal
    before=$(stty -F /dev/ttyS1 -g)
    one_cycle_then_stop /dev/ttyS1
    expect_one_healthy_cycle
    expect_eq "$(stty -F /dev/ttyS1 -g)" "$before" "the port's settings after the run"
    report uart-dcd-low
}

# Bytes the 8250 driver has handed to UART $1 so far, from its counters.
uart_tx() { sed -n "s/^$1: .* tx:\([0-9]*\).*/\1/p" /proc/tty/driver/serial; }

# Output queued at the close goes out; it is not thrown away. The third 16550's modem takes
# nothing (the host suspended its side's output) and answers nothing, so the silent dialogue's
# last commands are still in the driver when cellwatch closes the port. cellwatch is stopped in
# its wait for them (asleep with the lock held), the host lets the output through on the console
# line below, and every byte of the trail on descriptor 0 must leave the UART.
case_uart_drain() {
    fresh_world
    stty -F /dev/ttyS2 clocal
    base=$(uart_tx 2)
    timeout -s KILL 90 cellwatch /dev/ttyS2 generic wwan0 0> /tmp/cw.trail > /tmp/cw.out \
        2> /tmp/cw.err &
    cw=$!
    in_drain=no
    wait_for "[ -e $LOCK ]" 15000 || fail "the lock was never taken"
    # Lean, with builtins only, so that the wait is seen within its first poll or two: it lasts
    # 2.5 s, and the stop must come before it ends. At most 3000 looks, 30 s or more.
    looks=0
    while [ -e $LOCK ] && [ "$looks" -lt 3000 ]; do
        wchan=""
        read -r wchan < "/proc/$cw/wchan" 2>/dev/null
        case $wchan in
        *nanosleep*) [ -e $LOCK ] && { kill -STOP "$cw"; in_drain=yes; break; } ;;
        esac
        looks=$(( looks + 1 ))
        usleep 10000
    done
    [ "$in_drain" = yes ] || fail "the port was given up with no wait for its queued output"
    sent=$(wc -c < /tmp/cw.trail)
    queued=$(( sent - ($(uart_tx 2) - base) ))
    [ "$queued" -gt 0 ] || fail "nothing was queued at the close: the case shows nothing"
    echo "UART-DRAIN RESUME"
    wait_for "[ \$(( \$(uart_tx 2) - $base )) -ge $sent ]" 30000
    expect_eq "$(( $(uart_tx 2) - base ))" "$sent" "bytes sent of the commands written"
    measured="; queued at the close: $queued of $sent bytes"
    kill -CONT "$cw"
    wait_for "[ ! -e $LOCK ]" 10000 || fail "the lock was kept after the output went out"
    kill -TERM "$cw"
    wait "$cw"
    expect_eq "$?" 0 "exit status"
    report uart-drain
}

# The drivers that field modems' AT ports use, bound to the gadget's own ids through new_id:
# option (with usb_wwan, as most modems' ports are) and sierra.
load_wwan_drivers() {
    for m in configfs usb-common usbcore udc-core libcomposite u_serial usb_f_serial dummy_hcd \
             usbserial usb_wwan option sierra; do
        insmod "/mods/$m.ko"
    done
    insmod /mods/g_serial.ko use_acm=0
    wait_for '[ -e /dev/ttyGS0 ] && [ -e /sys/bus/usb/devices/1-1:1.0 ]' 10000 ||
        fail "the gadget did not enumerate"
}

# Binds the gadget's interface to driver $1 (leaving the driver that has it), and waits for the
# port it makes. A usb-serial driver takes new ids on its usb-serial side (option1, sierra).
bind_to() {
    for old in /sys/bus/usb/drivers/*/1-1:1.0; do
        [ -e "$old" ] && echo 1-1:1.0 > "$(dirname "$old")/unbind"
    done
    wait_for '[ ! -e /dev/ttyUSB0 ]' 5000
    for ids in /sys/bus/usb-serial/drivers/"$1"*/new_id; do echo "0525 a4a6" > "$ids"; done
    wait_for '[ -e /dev/ttyUSB0 ]' 10000 || fail "$1 made no /dev/ttyUSB0"
    driver=$(basename "$(readlink /sys/class/tty/ttyUSB0/device/driver)")
    case $driver in "$1"*) ;; *) fail "ttyUSB0 is driven by '$driver', not $1" ;; esac
}

case_driver_dialogue() {
    bind_to "$1"
    start_modem healthy
    one_cycle_then_stop /dev/ttyUSB0
    expect_one_healthy_cycle
    stop_modem
    report "$1-dialogue"
}

# The modem sends no line state, so no carrier, and CLOCAL is off. On this kernel usb_wwan does
# not make an open wait for carrier (the 16550 case shows that wait); whichever it does, the
# dialogue happens and the settings found are put back. The line reports which it was.
case_option_no_carrier() {
    stty -F /dev/ttyUSB0 -clocal
    if timeout -s KILL 3 sh -c 'exec 3<>/dev/ttyUSB0'; then
        measured="; a blocking open: did not wait"
    else
        measured="; a blocking open: waited"
    fi
    before=$(stty -F /dev/ttyUSB0 -g)
    start_modem healthy
    one_cycle_then_stop /dev/ttyUSB0
    expect_one_healthy_cycle
    expect_eq "$(stty -F /dev/ttyUSB0 -g)" "$before" "the port's settings after the run"
    stop_modem
    report option-no-carrier
}

# ---- Under Debian's own systemd, with the project's package installed ----------------------

UNIT=cellwatch@wwan0
prop() { systemctl show -p "$1" --value "$UNIT"; }
journal() { journalctl -q -u "$UNIT" -o cat --no-pager; }

# The unit's world: the modem on cdc-acm, a dummy wwan0, the instance's configuration, the DHCP
# script that takes a site's steps, a failover script and the event daemon's pipe with a reader.
systemd_world() {
    load_usb 1
    insmod /mods/dummy.ko
    wait_for '[ -e /dev/ttyACM0 ] && [ -e /dev/ttyGS0 ]' 10000 || fail "no /dev/ttyACM0"
    ip link add wwan0 type dummy
    mkdir -p /etc/cellwatch /opt/vordane/bin
    printf 'PORT=/dev/ttyACM0\nTYPE=generic\nIFACE=wwan0\nIP_FAMILY=ip4\n' > /etc/cellwatch/wwan0.conf
    cp /dhcp-steps.sh /opt/vordane/bin/4dhcp.sh
    # The package's failover script and event daemon wait for the failback case; until then a
    # stand-in records the request, and a plain reader the line.
    mv /opt/vordane/bin/failover.sh /opt/vordane/failover.sh.package
    printf '#!/bin/sh\necho "failover.sh $*" >> /tmp/calls.log\n' > /opt/vordane/bin/failover.sh
    chmod 755 /opt/vordane/bin/*
    systemctl mask --runtime --quiet cellwatch-eventd.service
    mkfifo /run/.neventpipe
    (while true; do cat /run/.neventpipe >> /tmp/events.log; done) &
    plain_reader=$!
}

# Stops the unit; $stop_ms is how long `systemctl stop` took.
stop_unit() {
    local t0
    t0=$(now_ms)
    timeout -s KILL 120 systemctl stop "$UNIT"
    stop_ms=$(( $(now_ms) - t0 ))
}
expect_stopped_in_order() {
    expect_eq "$(prop ActiveState)" inactive "the unit's state"
    expect_eq "$(prop Result)" success "the unit's result"
}

# Each of a DHCP script's usual steps, inside the sandbox; the host name only with the drop-in
# that the unit's comment gives.
case_systemd_dhcp_steps() {
    start_modem healthy
    rm -f /tmp/cellwatch-script
    systemctl start "$UNIT"
    wait_for 'grep -q "^end" /run/cw-steps.log 2>/dev/null' 20000 || fail "the DHCP script never ended"
    expect_eq "$(grep -v '^hostname' /run/cw-steps.log | flat /dev/stdin)" \
        "write-etc ok|write-var-run ok|write-proc-sys-net ok|ip ok|ifconfig ok|packet-socket ok|write-tmp ok|end" \
        "the script's steps"
    case $(grep '^hostname' /run/cw-steps.log) in
    "hostname refused: "*) ;;
    *) fail "the host name was not refused: $(grep '^hostname' /run/cw-steps.log)" ;;
    esac
    expect_eq "$(cat /tmp/cellwatch-script 2>/dev/null)" seen "the script's /tmp seen from outside"
    stop_unit
    mkdir -p /etc/systemd/system/cellwatch@.service.d
    printf '[Service]\nCapabilityBoundingSet=CAP_SYS_ADMIN\nSystemCallFilter=sethostname\n' \
        > /etc/systemd/system/cellwatch@.service.d/hostname.conf
    systemctl daemon-reload
    : > /run/cw-steps.log
    systemctl start "$UNIT"
    wait_for 'grep -q "^end" /run/cw-steps.log' 20000 || fail "the DHCP script never ended"
    expect_eq "$(grep '^hostname' /run/cw-steps.log)" "hostname ok" "the host name with the drop-in"
    expect_eq "$(hostname)" cellwatch-guest "the host name"
    stop_unit
    rm -r /etc/systemd/system/cellwatch@.service.d
    systemctl daemon-reload
    journal | grep -q "^READ AT+CGPADDR" || fail "no answer in the journal: $(journal | tail -3)"
    journal | grep -q "/opt/vordane/bin/4dhcp.sh wwan0" || fail "no DHCP command in the journal"
    stop_modem
    report systemd-dhcp-steps
}

# A stop while the modem is silent ends the wait for its answer, and the run, in order.
case_systemd_stop_silent() {
    start_modem silent
    sleep 300 &
    client=$!
    echo "$client" > /run/dhcp.wwan0.pid
    ip link set wwan0 up
    systemctl start "$UNIT"
    wait_for 'grep -q " <- AT" /tmp/modem.log' 10000 || fail "no dialogue began"
    stop_unit
    expect_between "$stop_ms" 0 30000 "ms to stop during a silent dialogue"
    expect_stopped_in_order
    wait_for "ended $client" 2000 || fail "the DHCP client was not stopped"
    ip link show wwan0 | grep -q ',UP' && fail "wwan0 is still up"
    kill "$client" 2>/dev/null
    stop_modem
    report systemd-stop-silent
}

# A stop while the DHCP script runs for minutes: the script is ended, the run ends in order.
case_systemd_stop_script() {
    start_modem healthy
    rm -f /run/cw-long-script.started
    touch /run/cw-long-script
    systemctl start "$UNIT"
    wait_for '[ -e /run/cw-long-script.started ]' 20000 || fail "the script never started"
    stop_unit
    rm -f /run/cw-long-script
    expect_between "$stop_ms" 4000 45000 "ms to stop during a long DHCP script"
    expect_stopped_in_order
    pgrep -f "sleep 150" > /dev/null && fail "the script's sleep lives on"
    stop_modem
    report systemd-stop-script
}

# SIGKILL during a dialogue: systemd restarts the unit, which recovers the dead holder's lock.
case_systemd_kill_restart() {
    start_modem slow
    systemctl start "$UNIT"
    wait_for "[ -e $LOCK ] && grep -q ' <- AT' /tmp/modem.log" 15000 || fail "no dialogue began"
    holder=$(prop MainPID)
    # The next dialogue's probe: the simulator cannot see the killed one's port close, so it does
    # not count a new dialogue at a probe that follows a probe.
    seen=$(grep -c ' <- AT$' /tmp/modem.log)
    t0=$(now_ms)
    systemctl kill -s SIGKILL --kill-who=main "$UNIT"
    wait_for "[ \$(grep -c ' <- AT\$' /tmp/modem.log) -gt $seen ]" 20000 ||
        fail "no dialogue after the restart"
    expect_between $(( $(now_ms) - t0 )) 0 5000 "ms from the kill to the next dialogue"
    journal | grep -q "^/var/lock/failover was left by process $holder, which no longer exists; removed" ||
        fail "no recovery in the journal: $(journal | grep lock | tail -2)"
    expect_eq "$(prop NRestarts)" 1 "restarts"
    stop_unit
    expect_stopped_in_order
    stop_modem
    report systemd-kill-restart
}

# The link lost: the teardown, the failover request, status 0, and no restart.
case_systemd_failover() {
    start_modem lost
    : > /tmp/events.log
    systemctl reset-failed "$UNIT" 2>/dev/null
    systemctl start "$UNIT"
    # shellcheck disable=SC2016 # evaluated by wait_for
    wait_for '[ "$(prop ActiveState)" = inactive ]' 20000 || fail "the run did not end"
    wait_for '[ -s /tmp/events.log ]' 2000
    expect_eq "$(flat /tmp/events.log)" "exec /opt/vordane/bin/failover.sh wwan0" "the request"
    expect_eq "$(prop Result)" success "the unit's result"
    sleep 2
    expect_eq "$(prop ActiveState)/$(prop NRestarts)" inactive/0 "the unit two seconds later"
    stop_modem
    report systemd-failover
}

# The package's event daemon and failover script under systemd: a lost link's request runs the
# script, which has a timer of systemd's start the unit again 10 s later; the modem is back, and
# the new run takes its address.
case_systemd_failback() {
    kill "$plain_reader"
    pkill -x cat
    mv /opt/vordane/failover.sh.package /opt/vordane/bin/failover.sh
    systemctl unmask --runtime --quiet cellwatch-eventd.service
    fresh_world
    rm -f /run/cw-steps.log
    start_modem failback
    systemctl reset-failed "$UNIT" 2>/dev/null
    systemctl start "$UNIT"
    # shellcheck disable=SC2016 # evaluated by wait_for
    wait_for '[ "$(prop ActiveState)" = inactive ]' 20000 || fail "the run did not end"
    local t0
    t0=$(now_ms)
    # shellcheck disable=SC2016 # evaluated by wait_for
    wait_for '[ "$(prop ActiveState)" = active ]' 30000 || fail "the unit was not started again"
    expect_between $(( $(now_ms) - t0 )) 9000 20000 "ms from the failover to the next run"
    wait_for 'grep -q "^end" /run/cw-steps.log 2>/dev/null' 20000 ||
        fail "the next run did not run the DHCP script"
    journalctl -q -u cellwatch-eventd -o cat --no-pager > /tmp/calls.log
    grep -q 'failover.sh wwan0: the link is watched again in 10 s (systemd)' /tmp/calls.log ||
        fail "the failover script did not ask systemd"
    expect_eq "$(grep -c 'running /opt/vordane/bin/failover.sh wwan0' /tmp/calls.log)" 1 \
        "the failover script's runs"
    stop_unit
    systemctl stop cellwatch-eventd.service
    stop_modem
    report systemd-failback
}

run_guest() {
    case "$1" in
    acm-life | acm-plug)
        load_usb 1
        wait_for '[ -e /dev/ttyACM0 ] && [ -e /dev/ttyGS0 ]' 10000 || fail "no /dev/ttyACM0"
        if [ "$1" = acm-life ]; then
            case_acm_life
        else
            case_acm_exclusive
            case_acm_unplug
        fi
        ;;
    serial)
        load_usb 0
        wait_for '[ -e /dev/ttyUSB0 ] && [ -e /dev/ttyGS0 ]' 10000 || fail "no /dev/ttyUSB0"
        case_usbserial_dialogue
        case_uart_dialogue
        case_uart_dcd_low
        case_uart_drain
        ;;
    systemd)
        systemd_world
        case_systemd_dhcp_steps
        case_systemd_stop_silent
        case_systemd_stop_script
        case_systemd_kill_restart
        case_systemd_failover
        case_systemd_failback
        ;;
    wwan)
        load_wwan_drivers
        case_driver_dialogue option
        case_option_no_carrier
        case_driver_dialogue sierra
        ;;
    *)
        echo "CASE guest-$1 FAIL no such guest"
        ;;
    esac
}
