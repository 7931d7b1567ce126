#!/usr/bin/env bash
# One shard of a morvane-cli stats or league run per task of a Slurm job array:
# task K of the array 0-(N-1) plays shard K/N and leaves its partial result in
# $MORVANE_OUT/shard-K.json (written beside and renamed, so a cut task leaves
# nothing that merge would take for a finished shard).
#
#   sbatch --array=0-7 --export=ALL,MORVANE_ARGS="stats --battles 1000000 --seed 42",MORVANE_OUT=$PWD/run-42 \
#       docs/scale-out/shards.sbatch
#   sbatch --dependency=afterany:<job id> --wrap "morvane-cli merge $PWD/run-42/shard-*.json --json \
#       > $PWD/run-42.json.part && mv $PWD/run-42.json.part $PWD/run-42.json"
#
# MORVANE_ARGS    the command and its options as for one machine, with a fixed --seed
# MORVANE_OUT     a folder every node can write (shared file system)
# MORVANE_CLI     the program (default: morvane-cli on the PATH)
# MORVANE_SHARDS  the number of shards of the whole run; needed when the array does not
#                 start at 0, as when shards that failed are played again:
#                   sbatch --array=3,5 --export=ALL,MORVANE_SHARDS=8,... shards.sbatch
#SBATCH --job-name=morvane-shards
#SBATCH --cpus-per-task=2
#SBATCH --output=morvane-shard-%A-%a.log
set -euo pipefail

: "${MORVANE_ARGS:?set MORVANE_ARGS to the stats or league command, with --seed}"
: "${MORVANE_OUT:?set MORVANE_OUT to a folder for the partial results}"
cli="${MORVANE_CLI:-morvane-cli}"
shard="$SLURM_ARRAY_TASK_ID"
if [ -n "${MORVANE_SHARDS:-}" ]; then
    shards="$MORVANE_SHARDS"
elif [ "${SLURM_ARRAY_TASK_MIN:-0}" = 0 ]; then
    shards=$((SLURM_ARRAY_TASK_MAX + 1))
else
    # Without the whole run's count, task K of a partial array would play the wrong share.
    echo "shards.sbatch: an array that does not start at 0 needs MORVANE_SHARDS (the run's number of shards)" >&2
    exit 2
fi
if ! [ "$shards" -gt "$shard" ] 2>/dev/null; then
    echo "shards.sbatch: task $shard is not a shard of a run of $shards" >&2
    exit 2
fi

mkdir -p "$MORVANE_OUT"
out="$MORVANE_OUT/shard-$shard.json"
# MORVANE_ARGS is split into words on purpose: it is a command line.
# shellcheck disable=SC2086
"$cli" $MORVANE_ARGS --threads "${SLURM_CPUS_PER_TASK:-1}" --shard "$shard/$shards" >"$out.part"
mv "$out.part" "$out"
