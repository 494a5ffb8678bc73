#!/bin/bash
# The demo: builds cellwatch and modemsim, then shows one whole life of a link in about a
# minute: the first address and the DHCP script, an address change, the network detaching, the
# teardown, and the failover request reaching a stand-in event daemon. Everything runs in a
# private mount namespace over a temporary directory, which is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target cellwatch modemsim >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/cellwatch-demo.XXXXXX")
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    sleep 0.2
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/run/lock" "$work/bin"
# Every source writes into this one file, opened for appending: the order of its lines is the
# order in which they were written. Separate pipes would race each other to the terminal, and a
# dialogue's answers could show before the modem heard the command.
stream="$work/stream"
: > "$stream"

# Stand-ins for the site's scripts: each says what it was asked to do.
for script in 4dhcp.sh 6dhcp.sh failover.sh; do
    printf '#!/bin/sh\necho "scripts   | %s $*" >> %s\n' "$script" "$stream" > "$work/bin/$script"
done
printf '#!/bin/sh\necho "scripts   | /sbin/ifconfig $*" >> %s\n' "$stream" > "$work/ifconfig"
chmod +x "$work/bin/"* "$work/ifconfig"

# A DHCP client for the interface, so that the teardown has something to stop.
sleep 300 & client=$!
pids+=("$client")
echo "$client" > "$work/run/dhcp.wwan0.pid"

# Each line gets its source's label: the modem's log lines start with their time of day, the
# address lines are cellwatch's standard output, and the rest not labelled yet its standard error.
# The DHCP command cellwatch echoes has no line end; it is cut from what follows it.
label() {
    local line modem_line='^[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9]+ '
    while IFS= read -r line; do
        line=${line//$'\r'/}
        if [[ $line =~ $modem_line ]]; then
            case ${line:16:3} in "<- " | "-- ") echo "modem     | ${line:16}" ;; esac
            continue
        fi
        if [[ $line == *"dhcp.sh wwan0"?* ]]; then
            echo "stderr    | ${line%%dhcp.sh wwan0*}dhcp.sh wwan0"
            line=${line#*dhcp.sh wwan0}
        fi
        case $line in
        "") ;;
        "scripts   | "* | "daemon    | "*) echo "$line" ;;
        " IPv4 - "* | " IPv6 - "*) echo "stdout    | $line" ;;
        *) echo "stderr    | $line" ;;
        esac
    done
}
tail --pid=$$ -n +1 -f "$stream" | label &
pids+=($!)

# The stand-in event daemon reads its pipe and prints each request whole.
mkfifo "$work/run/.neventpipe"
( while true; do
      if IFS= read -r line < "$work/run/.neventpipe"; then
          echo "daemon    | event daemon received: \"$line\"" >> "$stream"
      fi
  done ) &
pids+=($!)

build/tools/modemsim/modemsim --link "$work/modem" tools/scenarios/demo.scn 2>> "$stream" > /dev/null &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/modem" ] && break; sleep 0.1; done

cat <<TXT
cellwatch demo: a Marvell-family modem on wwan0. modemsim plays the modem (tools/scenarios/demo.scn):
it gives 10.64.2.17, changes to 10.64.9.200 after two dialogues, reports the link lost after four.
One dialogue about every 11 seconds; the whole run takes about 50 seconds.

TXT
set +e
"$repo/tools/sandbox.sh" "$work" "$repo/build/cellwatch" "$work/modem" marvell wwan0 \
    0> "$work/fd0" >> "$stream" 2>&1
status=$?
set -e
sleep 1
echo
echo "cellwatch exited with status $status"
echo "descriptor 0 received the command trail: $(tr '\r' ' ' < "$work/fd0" | head -c 120)..."
if kill -0 "$client" 2>/dev/null; then
    echo "the DHCP client is still running"
else
    echo "the DHCP client (pid $client) was stopped by the teardown"
fi
