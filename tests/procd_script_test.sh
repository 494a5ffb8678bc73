#!/bin/sh
# The OpenWrt procd script, tested without OpenWrt: procd and UCI are not available here, so the
# script is sourced with stand-ins for the shell functions that rc.common, procd.sh and
# functions.sh would give it. The stand-ins read sections from CFG_<section>_<option> variables,
# validate as uci_validate_section does for the types the script uses, and record every procd
# call; the test compares the record with what each configuration must ask for.
# usage: tests/procd_script_test.sh [SCRIPT]
# The stand-ins are called by the sourced script, and the CFG_ variables read through eval:
# shellcheck disable=SC2317,SC2034
script=${1:-$(dirname "$0")/../dist/cellwatch.init}
failures=0
record=$(mktemp)
trap 'rm -f "$record"' EXIT

config_load() { echo "config_load $*" >> "$record"; }
config_foreach() {
    callback=$1
    for s in $SECTIONS; do "$callback" "$s"; done
}
# Sets each option's variable in the caller (as the real one does, through eval), from the
# section's CFG_ variable or the option's default; 1 when a value does not fit its type.
# Its own variables start with _v_, so that none is an option's name.
uci_validate_section() {
    _v_section=$3
    shift 3
    _v_bad=0
    for _v_spec in "$@"; do
        _v_name=${_v_spec%%:*}
        _v_rest=${_v_spec#*:}
        _v_type=${_v_rest%%:*}
        _v_default=
        _v_value=
        case $_v_rest in *:*) _v_default=${_v_rest#*:} ;; esac
        eval "_v_value=\${CFG_${_v_section}_${_v_name}-\$_v_default}"
        case $_v_type in
        bool) case $_v_value in 0|1) ;; *) _v_bad=1 ;; esac ;;
        or*) case $_v_value in ip4|ip6) ;; *) _v_bad=1 ;; esac ;;
        esac
        eval "$_v_name=\$_v_value"
    done
    return "$_v_bad"
}
procd_open_instance() { echo "instance $*" >> "$record"; }
procd_set_param() { echo "  $*" >> "$record"; }
procd_close_instance() { echo "end" >> "$record"; }
procd_add_reload_trigger() { echo "reload trigger $*" >> "$record"; }
procd_add_validation() { echo "validation $*" >> "$record"; }

# shellcheck source=dist/cellwatch.init
. "$script"

# Runs start_service on the sections in $SECTIONS; compares the record and stderr.
expect() {
    what=$1 want_record=$2 want_err=$3
    : > "$record"
    err=$(start_service 2>&1 >/dev/null)
    got=$(cat "$record")
    if [ "$got" != "$want_record" ] || [ "$err" != "$want_err" ]; then
        printf 'FAIL %s\n--- asked for:\n%s\n--- expected:\n%s\n--- stderr: %s\n--- expected: %s\n' \
            "$what" "$got" "$want_record" "$err" "$want_err"
        failures=$((failures + 1))
    else
        echo "ok   $what"
    fi
}

instance() {
    printf 'instance %s\n  command /usr/sbin/cellwatch %s\n  respawn 3600 10 4\n  term_timeout 60\n  stdout 1\n  stderr 1\nend' "$1" "$2"
}

SECTIONS=wwan0 CFG_wwan0_port=/dev/ttyUSB1 CFG_wwan0_type=marvell
expect "the interface is the section's name; generic and ip4 by default" \
    "config_load cellwatch
$(instance wwan0 "/dev/ttyUSB1 marvell wwan0 ip4")" ""

SECTIONS="lte wwan1" CFG_lte_port=/dev/ttyACM0 CFG_lte_iface=wwan5 CFG_lte_ip_family=ip6
CFG_wwan1_port=/dev/ttyUSB2 CFG_wwan1_enabled=0
expect "iface and ip_family as given; a disabled section starts nothing" \
    "config_load cellwatch
$(instance lte "/dev/ttyACM0 generic wwan5 ip6")" ""

SECTIONS="noport badfamily" CFG_badfamily_port=/dev/ttyUSB1 CFG_badfamily_ip_family=ipv6
expect "a section without a port, or with a bad option, is refused with a clear message" \
    "config_load cellwatch" \
    "cellwatch: section 'noport' has no 'port': set the modem's AT port, such as /dev/ttyUSB1; not started
cellwatch: section 'badfamily' has invalid options; not started"

: > "$record"
service_triggers
if [ "$(cat "$record")" = "reload trigger cellwatch
validation validate_cellwatch_section" ]; then
    echo "ok   a change to the cellwatch configuration reloads, with the options validated"
else
    echo "FAIL triggers: $(cat "$record")"
    failures=$((failures + 1))
fi
exit $failures
