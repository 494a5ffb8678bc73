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
# Stand-ins for the site's scripts: each says what it was asked to do.
for script in 4dhcp.sh 6dhcp.sh failover.sh; do
    printf '#!/bin/sh\necho "%s $*" >> %s/events\n' "$script" "$work" > "$work/bin/$script"
done
printf '#!/bin/sh\necho "/sbin/ifconfig $*" >> %s/events\n' "$work" > "$work/ifconfig"
chmod +x "$work/bin/"* "$work/ifconfig"

# A DHCP client for the interface, so that the teardown has something to stop.
sleep 300 & client=$!
pids+=("$client")
echo "$client" > "$work/run/dhcp.wwan0.pid"

# Every source of output goes through one labelled stream, in the order it happens.
exec 3>&1
label() { sed -u -e 's/\r//g' -e '/^$/d' -e "s/^/$1 | /" >&3; }
touch "$work/events"
tail --pid=$$ -n +1 -f "$work/events" > >(label "scripts  ") &
pids+=($!)

# The stand-in event daemon reads its pipe and prints each request whole.
mkfifo "$work/run/.neventpipe"
( exec > >(label "daemon   ")
  while true; do
      if IFS= read -r line < "$work/run/.neventpipe"; then
          echo "event daemon received: \"$line\""
      fi
  done ) &
pids+=($!)

build/tools/modemsim/modemsim --link "$work/modem" tools/scenarios/demo.scn \
    2> >(grep --line-buffered -E ' (<-|--) ' | label "modem    ") > /dev/null &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/modem" ] && break; sleep 0.1; done

cat <<TXT
cellwatch demo: a Marvell-family modem on wwan0. modemsim plays the modem (tools/scenarios/demo.scn):
it gives 10.64.2.17, changes to 10.64.9.200 after two dialogues, reports the link lost after four.
One dialogue about every 11 seconds; the whole run takes about 50 seconds.

TXT
set +e
"$repo/tools/sandbox.sh" "$work" "$repo/build/cellwatch" "$work/modem" marvell wwan0 \
    0> "$work/fd0" \
    1> >(label "stdout   ") 2> >(label "stderr   ")
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
