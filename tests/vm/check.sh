#!/bin/sh
# One case's verdict, read from the guests' console logs that run.sh kept: its "CASE" line, and
# after a failure the logs the guest printed below it.
# usage: tests/vm/check.sh WORK CASE
work=$1
name=$2
# The guest's tty ends each console line with CR LF.
line=$(grep -ah "^CASE $name " "$work"/*.console 2>/dev/null | tr -d '\r' | head -1)
if [ -z "$line" ]; then
    echo "no report of $name; the consoles are in $work"
    exit 1
fi
case $line in "CASE $name PASS" | "CASE $name PASS ("*) echo "$line"; exit 0 ;; esac
for console in "$work"/*.console; do
    tr -d '\r' < "$console" | awk -v head="CASE $name " '
        index($0, head) == 1 { on = 1; print; next }
        on && /^  / { print; next }
        { on = 0 }'
done
exit 1
