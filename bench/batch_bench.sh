#!/usr/bin/env bash
# Pace of the batch runner, whole process: prepares 1001 folders of deck pairs from the
# bundled decks under a temporary root, times
#   morvane-cli batch ROOT --last 1000 --seed 1 --time x
# and prints battles per second. Every battle ends with its report renamed into place
# after an fsync, so the figure includes the disk.
#
#   bench/batch_bench.sh [BUILD-FOLDER]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
cli="$build/bin/morvane-cli"
if [ ! -x "$cli" ]; then
    echo "batch_bench: $cli not found; build it first (scripts/setup $build)" >&2
    exit 1
fi

# The program folder's copies: the decks that belong to the catalogue the run reads.
read_decks() {
    local line
    while IFS= read -r line || [ -n "$line" ]; do
        line="${line%$'\r'}"
        [ -n "$line" ] && printf '%s\n' "$line"
    done <"$1"
}
mapfile -t tops < <(read_decks "$build/bin/deck0.dat")
mapfile -t bottoms < <(read_decks "$build/bin/deck1.dat")
if [ ${#tops[@]} -eq 0 ] || [ ${#bottoms[@]} -eq 0 ]; then
    echo "batch_bench: the bundled deck files hold no deck line" >&2
    exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
root="$work/runs"
mkdir -p "$root"
folders=()
for ((n = 0; n <= 1000; n++)); do
    printf -v name '%04d' "$n"
    folders+=("$root/$name")
done
mkdir -- "${folders[@]}"
# Every pairing of the bundled decks in turn, so the battles differ.
for ((n = 0; n <= 1000; n++)); do
    folder="${folders[n]}"
    printf '%s\r\n%s\r\n' "${tops[n % ${#tops[@]}]}" "${bottoms[(n / ${#tops[@]}) % ${#bottoms[@]}]}" \
        >"$folder/deck.dat"
done

# Wall-clock and processor seconds of the whole process; the wall-clock figure also
# waits for the disk, so it moves with whatever else the machine is doing.
TIMEFORMAT='%R %U %S'
times=$({ time "$cli" batch "$root" --last 1000 --seed 1 --time x >"$work/out"; } 2>&1)

played=$(wc -l <"$work/out")
read -r wall user sys <<<"$times"
awk -v n="$played" -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN {
    printf "%d battles in %.2f s: %.0f battles per second (morvane-cli batch, whole process)\n", n, w, n / w
    printf "processor time %.2f s user + %.2f s system: %.0f battles per processor second\n", u, s, n / (u + s)
}'
echo "machine: $(nproc) CPUs, $(lscpu | sed -n 's/^Model name:[[:space:]]*//p' | head -1)"
