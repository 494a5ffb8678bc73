#!/bin/sh
# The systemd guest's cases, started by a unit of their own once Debian's systemd has booted:
# the shared helpers, the systemd cases, then power off.
# shellcheck source=tests/vm/cases.sh
. /cases.sh
run_guest systemd > /dev/console 2>&1
echo "GUEST systemd DONE" > /dev/console
poweroff -f
