#!/usr/bin/env bash
# Figures of the battle service, measured on loopback with bounded loads, each against
# a fresh root under a temporary folder (removed at the end):
#   1. submission to report at idle: one battle at a time (morvane_server_load latency)
#   2. battles per second with the built-in runners, and the cost per battle beside
#      morvane-cli batch playing the same folders (deck pairs copied to a fresh root)
#   3. report and battle page reads per second (wrk, 10 s each)
#   4. with "memory N": only the service's resident memory every N/10 battles up to N
#
#   bench/server_bench.sh [BUILD-FOLDER]            (default: build; COUNT=10000 battles for 2)
#   bench/server_bench.sh BUILD-FOLDER memory N
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
bin="$build/bin"
load="$build/bench/morvane_server_load"
# morvane-cli batch takes --last up to 9999, so the comparison plays at most 10000.
count="${COUNT:-10000}"
for tool in "$bin/morvane-server" "$bin/morvane-cli" "$load"; do
    [ -x "$tool" ] || { echo "server_bench: $tool not found; build it first" >&2; exit 1; }
done
command -v wrk >/dev/null || { echo "server_bench: wrk not found (apt-get install wrk)" >&2; exit 1; }

work="$(mktemp -d)"
server=""
stop_server() {
    if [ -n "$server" ]; then
        kill -TERM "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
        server=""
    fi
}
trap 'stop_server; rm -rf "$work"' EXIT

# start_server ROOT ARGS...: sets $server and $port.
start_server() {
    local root=$1
    shift
    "$bin/morvane-server" --root "$root" --listen 127.0.0.1:0 --seed 1 "$@" 2>"$work/server.log" &
    server=$!
    for _ in $(seq 200); do grep -q ' runners)' "$work/server.log" && break; sleep 0.05; done
    port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/server.log" | head -1)
    [ -n "$port" ] || { cat "$work/server.log" >&2; exit 1; }
}
# Processor seconds the server has used so far.
cpu_seconds() {
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$server/stat"
}
rss() { awk '/^VmRSS/ { print $2 " " $3 }' "/proc/$server/status"; }

echo "machine: $(nproc) CPUs, $(lscpu | sed -n 's/^Model name:[[:space:]]*//p' | head -1)"

if [ "${2:-}" = memory ]; then
    total="${3:-100000}"
    echo "== 4. memory over $total battles, 2 runners, 8 connections"
    start_server "$work/memory" --runners 2 --rate 1000000 --max-queue 1000000
    echo "0 battles: $(rss)"
    step=$((total / 10))
    for ((i = 1; i <= 10; i++)); do
        "$load" throughput "$port" "$step" 8 "$bin/deck0.dat" "$bin/deck1.dat" >/dev/null
        echo "$((i * step)) battles: $(rss)"
    done
    stop_server
    exit 0
fi

echo "== 1. idle: one battle at a time, 1 runner"
start_server "$work/idle" --runners 1 --rate 1000000
"$load" latency "$port" 1000 "$bin/deck0.dat" "$bin/deck1.dat"
stop_server

echo "== 2. $count battles, 2 runners, 8 connections"
start_server "$work/busy" --runners 2 --rate 1000000 --max-queue 1000000
before=$(cpu_seconds)
"$load" throughput "$port" "$count" 8 "$bin/deck0.dat" "$bin/deck1.dat"
after=$(cpu_seconds)
awk -v a="$before" -v b="$after" -v n="$count" \
    'BEGIN { printf "service processor time %.2f s: %.0f us per battle (submission, index, battle, report)\n", b - a, (b - a) * 1e6 / n }'

echo "== 3. reads of a stored report and of a battle page (wrk, 2 threads, 32 connections, 10 s)"
wrk -t2 -c32 -d10s "http://127.0.0.1:$port/battles/0000/report" | sed -n 's/^Requests\/sec:/report reads\/s:/p;s/^Transfer\/sec:/  transfer\/s:/p'
wrk -t2 -c32 -d10s "http://127.0.0.1:$port/battles/0000" | sed -n 's/^Requests\/sec:/battle page reads\/s:/p'
echo "service memory after $count battles: $(rss)"
stop_server

# The same folders for morvane-cli batch: the deck pairs only, in a fresh root.
mkdir "$work/cli"
(cd "$work/busy" && find . -mindepth 2 -name deck.dat) | while read -r f; do
    mkdir -p "$work/cli/$(dirname "$f")"
    cp "$work/busy/$f" "$work/cli/$f"
done
last=$(ls "$work/cli" | sort -n | tail -1)
TIMEFORMAT='%R %U %S'
status=0
times=$({ time "$bin/morvane-cli" batch "$work/cli" --last "$((10#$last))" --seed 1 >"$work/cli.out" \
    2>"$work/cli.err"; } 2>&1) || status=$?
[ "$status" -eq 0 ] || { echo "morvane-cli batch failed ($status): $(cat "$work/cli.err")" >&2; exit 1; }
read -r wall user sys <<<"$times"
played=$(wc -l <"$work/cli.out")
awk -v n="$played" -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN {
    printf "morvane-cli batch on the same %d folders: %.2f s, %.0f battles/s, processor time %.0f us per battle\n", n, w, n / w, (u + s) * 1e6 / n }'

