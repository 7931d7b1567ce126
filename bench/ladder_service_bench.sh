#!/usr/bin/env bash
# The ladder's figures, measured through morvane-server on loopback.
#
#   bench/ladder_service_bench.sh [BUILD-FOLDER] capacity
#       ENTRIES (default 16000) random legal decks of the bundled catalogue are entered in
#       one root's ladder with nothing played (morvane_ladder_bench --prepare), so the
#       service has their placement to hand out: about 1,000 battles each, as a placement
#       match counts for both entries. On a fresh copy of that root each, one after the
#       other: the service with --runners 1, with --runners 2, and with
#       --runners 1 beside `morvane-cli batch --watch ROOT --threads 1` (SETUPS, default
#       "1;2;1 watch", picks and orders them). Each plays
#       WARM (5) seconds, then the battles the ladder counts in the next WINDOW (20)
#       seconds (its journal: one line a counted unit, with the time it was counted) are
#       divided by the window. Beside them, `morvane-cli stats` with 1 and 2 threads
#       over forty pairs of the same decks, and `morvane-cli league --battles 1` over
#       400 of them (every pair once each way round, as the ladder plays them).
#
#   bench/ladder_service_bench.sh [BUILD-FOLDER] scale [RECORDS]
#       A ladder of 10,000 placed entries (morvane_ladder_bench --entries 10000 --keep
#       yes: four to five minutes of both cores; or RECORDS, a root it kept): the service's
#       start on it, a new entry placed through the API until its interval's half width
#       is below 3 points, the first page of the leaderboard, the resident memory.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
mode="${2:-capacity}"
bin="$build/bin"
bench="$build/bench/morvane_ladder_bench"
for tool in "$bin/morvane-server" "$bin/morvane-cli" "$bench"; do
    [ -x "$tool" ] || { echo "ladder_service_bench: $tool not found; build it first" >&2; exit 1; }
done
command -v jq >/dev/null || { echo "ladder_service_bench: jq not found (apt-get install jq)" >&2; exit 1; }

work="$(mktemp -d)"
server=""
watcher=""
stop() {
    for pid in $watcher $server; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    watcher=""
    server=""
}
trap 'stop; rm -rf "$work"' EXIT

now_ms() { date +%s%3N; }
# Processor seconds the given processes have used so far.
cpu_of() {
    local pid total=0
    for pid in "$@"; do
        total=$(awk -v hz="$(getconf CLK_TCK)" -v t="$total" '{ print t + ($14 + $15) / hz }' "/proc/$pid/stat")
    done
    echo "$total"
}
rss() { awk '/^VmRSS/ { printf "%.0f MiB", $2 / 1024 }' "/proc/$server/status"; }

# start_server ROOT ARGS...: sets $server, $port and $started (milliseconds to listen).
start_server() {
    local root=$1 begin
    shift
    begin=$(now_ms)
    "$bin/morvane-server" --root "$root" --listen 127.0.0.1:0 --seed 1 "$@" 2>"$work/server.log" &
    server=$!
    for _ in $(seq 1200); do grep -q ' runners)' "$work/server.log" && break; sleep 0.05; done
    started=$(($(now_ms) - begin))
    port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/server.log" | head -1)
    [ -n "$port" ] || { cat "$work/server.log" >&2; exit 1; }
}

# Battles of the journal's units counted from $1 to $2 (milliseconds since the epoch).
counted() {
    awk -v from="$1" -v to="$2" '$2 >= from && $2 < to {
        for (i = 4; i <= NF && $i !~ /^#/; ++i) { split($i, m, ","); battles += m[3] }
    } END { print battles + 0 }' "$3/ladder/journal.dat"
}

echo "machine: $(nproc) CPUs, $(lscpu | sed -n 's/^Model name:[[:space:]]*//p' | head -1); load $(cut -d' ' -f1-3 /proc/loadavg)"

if [ "$mode" = capacity ]; then
    entries="${ENTRIES:-16000}"
    warm="${WARM:-5}"
    window="${WINDOW:-20}"
    prepared="$work/prepared"
    "$bench" --entries "$entries" --decks "$work/decks.txt" --prepare "$prepared"
    echo "== $entries entries waiting for placement; ${warm} s to warm up, then ${window} s counted"

    # Battles per second by its own clock, and per processor second of the whole
    # process: the second does not move with what else the machine runs.
    TIMEFORMAT='%U %S'
    for threads in 1 2; do
        battles=0 seconds=0 cpu=0 turns=0
        for k in $(seq 0 39); do
            top=$(sed -n "$((2 * k + 1))p" "$work/decks.txt")
            bottom=$(sed -n "$((2 * k + 2))p" "$work/decks.txt")
            times=$({ time "$bin/morvane-cli" stats --top "$top" --bottom "$bottom" --battles 25000 --seed 1 \
                --threads "$threads" --json >"$work/stats.json"; } 2>&1)
            read -r b s t < <(jq -r '"\(.battles) \(.seconds) \(.turns_total)"' "$work/stats.json")
            battles=$((battles + b))
            turns=$((turns + t))
            read -r seconds cpu < <(awk -v a="$seconds" -v b="$s" -v c="$cpu" -v t="$times" \
                'BEGIN { split(t, u, " "); print a + b, c + u[1] + u[2] }')
        done
        awk -v n="$battles" -v s="$seconds" -v c="$cpu" -v t="$threads" -v turns="$turns" 'BEGIN {
            printf "morvane-cli stats --threads %d, forty pairs of the same decks: %.0f battles/s, %.0f per processor second (%.1f turns a battle)\n",
                t, n / s, n / c, turns / n }'
    done

    # The ladder's own pattern of work: every pair of a field of different decks, once
    # each way round, as league --battles 1 plays it (stats plays one pair over and over).
    head -400 "$work/decks.txt" >"$work/field.txt"
    # By its own clock only: the whole process also writes a matrix of 160,000 rates.
    for threads in 1 2; do
        "$bin/morvane-cli" league --decks "$work/field.txt" --battles 1 --seed 1 --threads "$threads" --json |
            jq -r '"\(.battles) \(.seconds) \(.turns_total)"' | awk -v t="$threads" '{
            printf "morvane-cli league --battles 1 --threads %d, 400 of the decks: %.0f battles/s (%.1f turns a battle)\n",
                t, $1 / $2, $3 / $1 }'
    done

    # SETUPS, ';' between them: runners, and "watch" for the second runner process.
    IFS=';' read -r -a setups <<<"${SETUPS:-1;2;1 watch}"
    for setup in "${setups[@]}"; do
        read -r runners extra <<<"$setup"
        # Each setup on a copy of the unplaced field: 8,000 entries are placed in about
        # 8.5 million battles, which two setups on one root used to finish, leaving the
        # third next to nothing to hand out.
        root="$work/root-$runners${extra:+-$extra}"
        rm -rf "$root"
        cp -r "$prepared" "$root"
        start_server "$root" --runners "$runners"
        if [ -n "$extra" ]; then
            "$bin/morvane-cli" batch "$root" --watch --threads 1 >/dev/null 2>"$work/watch.log" &
            watcher=$!
        fi
        sleep "$warm"
        from=$(now_ms)
        cpu_from=$(cpu_of $server $watcher)
        # The fewest units waiting or in play at any look: above 0, the runners never
        # waited for the ladder.
        fewest=""
        while [ $(($(now_ms) - from)) -lt $((window * 1000)) ]; do
            units=$(ls -1 "$root/ladder/work" | wc -l)
            [ -z "$fewest" ] || [ "$units" -lt "$fewest" ] && fewest=$units
            sleep 0.2
        done
        to=$(now_ms)
        cpu=$(awk -v a="$cpu_from" -v b="$(cpu_of $server $watcher)" 'BEGIN { print b - a }')
        # How much placement is left: the entries still wider than the ladder's ±2.5
        # points. Once few are, the ladder has little work to hand out, whatever the
        # runners could play.
        wide=0
        for ((offset = 0; ; offset += 500)); do
            page=$(curl -s "http://127.0.0.1:$port/api/ladder?offset=$offset&count=500")
            rows=$(jq '.entries | length' <<<"$page")
            wide=$((wide + $(jq '[.entries[] | select(.interval == null or (.interval[1] - .interval[0]) / 2 > 0.025)] | length' <<<"$page")))
            [ "$rows" -eq 500 ] || break
        done
        stop
        n=$(counted "$from" "$to" "$root")
        label="--runners $runners${extra:+ and morvane-cli batch --watch --threads 1}"
        all=$(counted 0 "$to" "$root")
        awk -v n="$n" -v ms="$((to - from))" -v l="$label" -v f="$fewest" -v c="$cpu" -v all="$all" -v w="$wide" 'BEGIN {
            printf "%s: %.0f battles/s counted, %.0f per processor second (%d in %.1f s, %.1f processor s; units at least %d; %d counted since the start, %d entries still wider than 2.5 points)\n",
                l, n * 1000 / ms, n / c, n, ms / 1000, c, f, all, w }'
        # A field placed whole before the window closed left the runners waiting: the rate
        # is then what was left to play, not what they can play.
        [ "$wide" -gt 0 ] || echo "  (every entry was placed before the window closed: a floor, not a capacity; raise ENTRIES)"
    done
    exit 0
fi

[ "$mode" = scale ] || { echo "ladder_service_bench: unknown mode $mode (capacity or scale)" >&2; exit 2; }
root="${3:-}"
if [ -z "$root" ]; then
    "$bench" --entries 10000 --keep yes | tee "$work/model.log"
    root=$(sed -n 's/^records kept in //p' "$work/model.log")
fi
"$bench" --entries 10000 --decks "$work/decks.txt"
echo "== $(find "$root/ladder/entries" -name '*.dat' | wc -l) entries in $root ($(du -sh "$root/ladder" | cut -f1))"
start_server "$root" --runners 2 --trusted-proxy 127.0.0.1
echo "start-up, the ladder rebuilt from its records: $((started / 1000)).$(printf %03d $((started % 1000))) s; resident $(rss)"

time_of() { curl -s -o /dev/null -w '%{time_total}' "http://127.0.0.1:$port$1"; }
for page in /ladder /api/ladder; do
    first=$(time_of "$page")
    for _ in $(seq 20); do time_of "$page"; echo; done | sort -n >"$work/times"
    awk -v p="$page" -v f="$first" '{ t[NR] = $1 } END {
        printf "GET %s: first %.1f ms, then median %.1f ms, max %.1f ms of 20\n", p, f * 1000, t[int((NR + 1) / 2)] * 1000, t[NR] * 1000 }' "$work/times"
done

# A team the ladder has not seen: the bench's ten past the entries, and one of them
# the model's own look entered.
deck=$(sed -n 10005p "$work/decks.txt")
begin=$(now_ms)
answer=$(curl -s -H 'X-Forwarded-For: 10.9.9.9' -H 'Content-Type: application/json' \
    -d "$(jq -n --arg deck "$deck" '{name: "bench", deck: $deck}')" "http://127.0.0.1:$port/api/ladder")
entry=$(jq -r '.entry // empty' <<<"$answer")
[ -n "$entry" ] || { echo "entering refused: $answer" >&2; exit 1; }
half=1
while [ $(($(now_ms) - begin)) -lt 60000 ]; do
    half=$(curl -s "http://127.0.0.1:$port/api/ladder/$entry" | jq '(.interval[1] - .interval[0]) / 2')
    awk -v h="$half" 'BEGIN { exit !(h < 0.03) }' && break
    sleep 0.02
done
placed=$(($(now_ms) - begin))
echo "new entry #$entry: half width $half after $((placed / 1000)).$(printf %03d $((placed % 1000))) s" \
    "(entering and polling included);" \
    "$(curl -s "http://127.0.0.1:$port/api/ladder/$entry" | jq -r '"\(.opponents) opponents, \(.battles) battles"')"
time_of /ladder >/dev/null
echo "GET /ladder right after: $(awk -v t="$(time_of /ladder)" 'BEGIN { printf "%.1f ms", t * 1000 }'); resident $(rss)"
stop
