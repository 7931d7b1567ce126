#!/usr/bin/env bash
# Instructions per turn of the battle engine, counted by callgrind rather than timed,
# so the figure does not move with the load of the machine: runs
#   morvane-cli stats --threads 1 --seed SEED --battles N --json
# under callgrind for N = 2000 and 4000 on the bundled decks of the program folder and
# divides the difference of the two instruction totals by the difference of the two
# turn totals, so that start-up (loading the catalogue, valgrind's own start) cancels.
#
#   bench/instructions.sh [BUILD-FOLDER] [SEED]     (default: build 1)
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
seed="${2:-1}"
cli="$build/bin/morvane-cli"
if [ ! -x "$cli" ]; then
    echo "instructions: $cli not found; build it first (scripts/setup $build)" >&2
    exit 1
fi
if ! command -v valgrind >/dev/null; then
    echo "instructions: valgrind not found (apt-get install valgrind)" >&2
    exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Prints "INSTRUCTIONS TURNS" of one run.
measure() {
    local battles="$1"
    valgrind --tool=callgrind --callgrind-out-file="$work/cg.$battles" \
        "$cli" stats --threads 1 --seed "$seed" --battles "$battles" --json >"$work/out.$battles" 2>"$work/err.$battles"
    local instructions turns
    instructions=$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$work/cg.$battles")
    turns=$(sed -n 's/.*"turns_total": \([0-9]*\).*/\1/p' "$work/out.$battles")
    if [ -z "$instructions" ] || [ -z "$turns" ]; then
        echo "instructions: no figures from the run of $battles battles" >&2
        cat "$work/err.$battles" >&2
        exit 1
    fi
    echo "$instructions $turns"
}

read -r i1 t1 < <(measure 2000)
read -r i2 t2 < <(measure 4000)
awk -v i1="$i1" -v t1="$t1" -v i2="$i2" -v t2="$t2" -v seed="$seed" 'BEGIN {
    printf "2000 battles: %d instructions, %d turns\n", i1, t1
    printf "4000 battles: %d instructions, %d turns\n", i2, t2
    printf "%.0f instructions per turn (seed %s, the difference of the two runs)\n", (i2 - i1) / (t2 - t1), seed
}'
