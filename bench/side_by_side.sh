#!/usr/bin/env bash
# Two builds' engine benchmarks at the same moment, one on each core, swapping cores
# every round, so that both see the same load from the rest of the machine. On this
# project's two-core machine one core ran up to a fifth slower than the other while
# both were busy, and which one changed from run to run: compare a build with the
# other only on the same core.
#
#   bench/side_by_side.sh OLD-BUILD NEW-BUILD [FILTER] [ROUNDS]
#
# FILTER is a --benchmark_filter of morvane_bench (default: new pair every battle and
# 1,000 battles a pair); ROUNDS (default 4) counts the runs of each build. Prints, by
# core and benchmark, the median nanoseconds a battle of each build and new / old.
set -euo pipefail

if [ $# -lt 2 ]; then
    sed -n '8,12p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
old="$1/bench/morvane_bench"
new="$2/bench/morvane_bench"
filter="${3:-BM_FieldPairs/(1|1000)\$}"
rounds="${4:-4}"
for bench in "$old" "$new"; do
    if [ ! -x "$bench" ]; then
        echo "side_by_side: $bench not found; build it first (scripts/setup FOLDER)" >&2
        exit 1
    fi
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
run() { # build name, program, core, round
    taskset -c "$3" "$2" --benchmark_filter="$filter" --benchmark_min_time=1 2>/dev/null |
        awk -v b="$1" -v c="$3" '/^BM_/ { print c, $1, b, $2 }' >"$out/$1.$4"
}
for round in $(seq "$rounds"); do
    core=$((round % 2))
    run old "$old" "$core" "$round" &
    run new "$new" $((1 - core)) "$round" &
    wait
    cat "$out/old.$round" "$out/new.$round"
done | awk '
    { t[$1 " " $2 " " $3] = t[$1 " " $2 " " $3] " " $4 }
    function median(list,   n, v, i, j, x) {
        n = split(list, v, " ")
        for (i = 2; i <= n; ++i)
            for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; --j) { x = v[j]; v[j] = v[j - 1]; v[j - 1] = x }
        return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    END {
        for (k in t) {
            split(k, f, " ")
            if (f[3] != "old" || !((f[1] " " f[2] " new") in t))
                continue
            o = median(t[k]); n = median(t[f[1] " " f[2] " new"])
            printf "core %s  %-22s old %8.0f ns  new %8.0f ns  new/old %.3f\n", f[1], f[2], o, n, n / o
        }
    }' | sort
