#!/usr/bin/env bash
# Runs docs/scale-out/shards.sbatch as Slurm would run the tasks of an array (the
# test machines have no Slurm): a whole array, then a merge that names the shards a
# failed task left missing, then an array of just those shards, which completes the
# run to the very result of one unsharded run.
# Arguments: the program folder, the source folder.
set -euo pipefail
bin=$1 source=$2
script=$source/docs/scale-out/shards.sbatch

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$tmp"

task() { # ID MIN MAX [VAR=VALUE...]: one task of an array
  local id=$1 min=$2 max=$3
  shift 3
  env SLURM_ARRAY_TASK_ID="$id" SLURM_ARRAY_TASK_MIN="$min" SLURM_ARRAY_TASK_MAX="$max" SLURM_CPUS_PER_TASK=1 \
    MORVANE_CLI="$bin/morvane-cli" MORVANE_ARGS="stats --battles 300 --seed 42 --max-turns 40" \
    MORVANE_OUT="$tmp/run" "$@" bash "$script"
}

for id in 0 1 2 3; do task "$id" 0 3; done
rm run/shard-1.json run/shard-3.json # two tasks that failed
if "$bin/morvane-cli" merge run/shard-*.json 2>"$tmp/err"; then fail "a merge with missing shards succeeded"; fi
grep -q "shards 1/4, 3/4 of the run are missing" "$tmp/err" || fail "merge did not name the missing shards: $(cat "$tmp/err")"

# An array of the missing shards alone needs the run's number of shards...
if task 1 1 3 2>"$tmp/err"; then fail "a partial array without MORVANE_SHARDS ran"; fi
grep -q "needs MORVANE_SHARDS" "$tmp/err" || fail "unexpected refusal: $(cat "$tmp/err")"
if task 5 1 5 MORVANE_SHARDS=4 2>/dev/null; then fail "task 5 of a run of 4 ran"; fi
# ...and with it completes the run.
task 1 1 3 MORVANE_SHARDS=4
task 3 1 3 MORVANE_SHARDS=4
"$bin/morvane-cli" merge run/shard-*.json --json >merged.json
"$bin/morvane-cli" stats --battles 300 --seed 42 --max-turns 40 --threads 1 --json >whole.json
strip() { sed -E 's/"(threads|seconds|battles_per_second|turns_per_second)": ?[0-9.e+-]+//g' "$1"; }
[ "$(strip merged.json)" = "$(strip whole.json)" ] || fail "the completed run differs from one unsharded run"
echo "shards.sbatch: missing shards named and played again"
