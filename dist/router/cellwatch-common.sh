# Shared by the site's scripts for cellwatch: sourced, never run. Settings of a link come from
# /etc/cellwatch/IFACE.conf (KEY=VALUE lines, the file the systemd unit reads too).
# shellcheck shell=sh
# The settings and paths are used by the scripts that source this file.
# shellcheck disable=SC2034

CW_CONF_DIR=/etc/cellwatch
CW_STATE_DIR=/var/run/cellwatch
CW_BIN=/opt/vordane/bin

# Prints a line on stderr, where the event daemon's or cellwatch's log goes.
cw_log() {
    echo "${0##*/} ${IFACE:-?}: $*" >&2
}

# Seconds since boot: the retry clock must not jump when the router sets its clock.
cw_now() {
    read -r up _ < /proc/uptime
    echo "${up%%.*}"
}

# Checks IFACE as cellwatch does (1 to 15 of letters, digits, '.', '-', '_', no leading '-'),
# then sets the link's settings: the conf file's, then the defaults.
cw_load() {
    IFACE=$1
    case $IFACE in
    "" | -* | *[!A-Za-z0-9._-]*)
        IFACE='?'
        cw_log "not an interface name: '$1'"
        exit 2
        ;;
    esac
    if [ ${#IFACE} -gt 15 ]; then
        cw_log "longer than 15 characters"
        exit 2
    fi
    PORT='' TYPE='' IP_FAMILY='' METRIC='' RESET_AFTER='' RESOLV_CONF='' MANAGER=''
    if [ -r "$CW_CONF_DIR/$IFACE.conf" ]; then
        # shellcheck disable=SC1090
        . "$CW_CONF_DIR/$IFACE.conf"
    fi
    IFACE=$1
    METRIC=${METRIC:-10}
    RESET_AFTER=${RESET_AFTER:-3}
    mkdir -p "$CW_STATE_DIR"
}

# The busybox applet, where it has no name of its own on the PATH (Debian's busybox package).
cw_applet() {
    if command -v "$1" > /dev/null 2>&1; then
        echo "$1"
    else
        echo "busybox $1"
    fi
}

# True while the process in pid file $1 runs (a zombie counts as ended).
cw_running() {
    [ -r "$1" ] || return 1
    read -r pid < "$1" 2> /dev/null || return 1
    case $pid in "" | *[!0-9]*) return 1 ;; esac
    [ "$pid" -gt 1 ] && kill -0 "$pid" 2> /dev/null &&
        ! grep -q '^State:[[:space:]]*Z' "/proc/$pid/status" 2> /dev/null
}

# Stops the DHCP client of pid file $1 and waits up to 5 s for its end, so that a client that
# removes its pid file as it ends never removes its successor's; then removes the file.
cw_stop_client() {
    if cw_running "$1"; then
        read -r pid < "$1"
        kill "$pid" 2> /dev/null
        n=0
        while cw_running "$1" && [ $n -lt 50 ]; do
            sleep 0.1
            n=$((n + 1))
        done
        cw_running "$1" && cw_log "DHCP client $pid did not end in 5 s"
    fi
    rm -f "$1"
}

# Waits up to 2 s for the pid file $1 that a client just started writes.
cw_wait_pid_file() {
    n=0
    while [ ! -s "$1" ] && [ $n -lt 20 ]; do
        sleep 0.1
        n=$((n + 1))
    done
}

# Runs "$@" in the background, detached from the caller's session where setsid exists.
cw_detach() {
    if command -v setsid > /dev/null 2>&1; then
        setsid "$@" 0<> /dev/null &
    else
        "$@" 0<> /dev/null &
    fi
}

# What the interface looks like now, in words: up or down, its IPv4 address, its DHCP client.
cw_link_state() {
    if ! ip link show dev "$IFACE" > /dev/null 2>&1; then
        echo "interface missing"
        return
    fi
    state=down
    ip -o link show dev "$IFACE" 2> /dev/null | grep -q '[<,]UP[,>]' && state=up
    address=$(ip -o -4 addr show dev "$IFACE" 2> /dev/null |
        sed -n 's/.* inet \([^ ]*\).*/\1/p' | head -n 1)
    client=gone
    cw_running "/var/run/dhcp.$IFACE.pid" && client=running
    echo "interface $state, address ${address:-none}, DHCP client $client"
}

# Who starts cellwatch for this link: MANAGER in the link's conf file, or what the system has.
cw_manager() {
    if [ -n "$MANAGER" ]; then
        echo "$MANAGER"
    elif [ -d /run/systemd/system ] && systemctl cat "cellwatch@$IFACE.service" > /dev/null 2>&1; then
        echo systemd
    elif [ -x /sbin/procd ] && [ -x /etc/init.d/cellwatch ]; then
        echo procd
    else
        echo none
    fi
}

# The section of /etc/config/cellwatch that supervises IFACE (OpenWrt).
cw_uci_section() {
    if [ "$(uci -q get "cellwatch.$IFACE")" = cellwatch ]; then
        echo "$IFACE"
    else
        uci -q show cellwatch | sed -n "s/^cellwatch\.\([^.]*\)\.iface='$IFACE'\$/\1/p" | head -n 1
    fi
}
