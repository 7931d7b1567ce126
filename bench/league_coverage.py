#!/usr/bin/env python3
"""How often a league's 95% intervals cover the truth, on a generated field.

Writes a field of random deck lines (a fixed generator seed, so the same field every
time), plays it once with many battles a pair (the truth) and several times with few,
each with a run seed of its own, and prints, for the intervals the league states and
for the binomial (Wilson) interval of each deck's battles taken as independent, the
spread of (estimate - truth) / standard error and how many decks' intervals cover the
truth. A spread near 1 and coverage near 95% mean the stated intervals hold.

    bench/league_coverage.py build/bin/morvane-cli [--decks 200] [--battles 25]
                             [--truth-battles 500] [--runs 3]
"""

import argparse
import json
import math
import random
import subprocess
import tempfile
from pathlib import Path

Z = 1.959963984540054


def wilson(wins, n):
    p = wins / n
    d = 1 + Z * Z / n
    centre = (p + Z * Z / (2 * n)) / d
    half = Z / d * math.sqrt(p * (1 - p) / n + Z * Z / (4 * n * n))
    return centre - half, centre + half


def league(cli, decks, battles, seed):
    out = subprocess.run([cli, "league", "--decks", decks, "--battles", str(battles), "--seed", str(seed), "--json"],
                         check=True, capture_output=True, text=True).stdout
    return {d["deck"]: d for d in json.loads(out)["decks"]}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("--decks", type=int, default=200)
    parser.add_argument("--battles", type=int, default=25)
    parser.add_argument("--truth-battles", type=int, default=500)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    generator = random.Random(2026)
    with tempfile.TemporaryDirectory() as folder:
        decks = str(Path(folder) / "field.dat")
        with open(decks, "w", newline="") as f:
            for i in range(args.decks):
                line = "V%03d" % generator.randint(1, 8) + "".join("C%03d" % generator.randint(1, 44) for _ in range(8))
                f.write(line + ":%03d\r\n" % (i % 1000))
        # The truth's seed is none of the runs', so their errors are their own.
        truth = league(args.cli, decks, args.truth_battles, 1)
        results = {"stated": ([], 0), "binomial": ([], 0)}
        for run in range(args.runs):
            played = league(args.cli, decks, args.battles, 1000 + run)
            for name, interval in (("stated", lambda d: d["win_rate_ci"]),
                                   ("binomial", lambda d: wilson(d["wins"], d["battles"]))):
                errors, covered = results[name]
                for deck, d in played.items():
                    low, high = interval(d)
                    true_rate = truth[deck]["win_rate"]
                    errors.append((d["win_rate"] - true_rate) / ((high - low) / (2 * Z)))
                    covered += low <= true_rate <= high
                results[name] = (errors, covered)
    for name, (errors, covered) in results.items():
        mean = sum(errors) / len(errors)
        spread = math.sqrt(sum((e - mean) ** 2 for e in errors) / (len(errors) - 1))
        print("%-8s intervals: spread of error / standard error %.2f, cover the truth for %d of %d decks (%.1f%%)"
              % (name, spread, covered, len(errors), 100.0 * covered / len(errors)))


if __name__ == "__main__":
    main()
