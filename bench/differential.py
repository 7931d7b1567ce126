#!/usr/bin/env python3
"""Plays the same battles with two builds of morvane-cli and compares every byte.

    bench/differential.py OLD-CLI NEW-CLI [--cases N] [--seed S]

Meant for changes that must not change a battle: build the commit you started from
into a second folder and pass both programs. Compared, case by case:

  - `battle` on the bundled catalogue with the bundled decks and random deck lines,
    many seeds: exit status, stdout, stderr and the report's bytes;
  - the same on hand-made catalogues whose cards carry every ability, odd marks,
    hexadecimal and signed numbers, speeds outside 1 to 20, and now and then a column
    that is not a number (the error must come at the same moment, with the same text)
    and a low --max-turns (capped battles);
  - `stats --json` of those pairs (timing fields left out) and `league --json`.

Prints one line per kind of case and, for the first difference, both sides; exits 1
when anything differed.
"""

import argparse
import json
import os
import random
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")


def cp932(text):
    return text.encode("cp932")


MARK_NONE = "＿"


def two(value):
    """A two-byte numeric column: mostly decimal, sometimes hexadecimal or signed."""
    return value if isinstance(value, str) else "%2d" % value


class Maker:
    def __init__(self, rng):
        self.rng = rng

    def pick(self, *choices):
        return self.rng.choice(choices)

    def number(self, low, high, bad=0.0):
        r = self.rng.random()
        if r < bad:
            return self.pick("x1", " +", "1 ", "  ", "$G", "--")
        if r < bad + 0.05:
            return "$%X" % self.rng.randint(0, 15) if self.rng.random() < 0.5 else "+%d" % self.rng.randint(0, 9)
        return two(self.rng.randint(low, high))

    def optional(self, low, high, bad, none=0.6):
        return MARK_NONE if self.rng.random() < none else self.number(low, high, bad)

    def character(self, card_id, bad):
        r = self.rng
        kind = self.pick("物", "物", "魔", "ブ", "無")
        fields = [
            "C%03d" % card_id,
            kind,
            self.pick("空", "地", "地"),
            two(r.randint(1, 9)),  # size
            two(r.randint(0, 40)) if r.random() < 0.97 else self.number(1, 40, bad),  # hp (read at load)
            self.number(0, 12, bad),  # AP
            two(r.randint(1, 20)) if r.random() < 0.9 else two(self.pick(0, 21, 25, -1)),  # SP
            MARK_NONE * 6,
            "".join(self.pick(m, MARK_NONE, MARK_NONE, "Ｚ") for m in ("物", "魔", "ブ")),  # block
            "".join(self.pick(m, MARK_NONE, MARK_NONE, MARK_NONE) for m in ("物", "魔", "ブ")),  # absorb
            self.pick("サ", MARK_NONE, MARK_NONE, MARK_NONE, "ラ"),
            self.optional(0, 9, bad),  # heal
            self.optional(0, 9, bad),  # vehicle heal
            MARK_NONE * 3,
            self.pick("敵", "自", MARK_NONE, MARK_NONE, MARK_NONE, "Ｚ"),
            self.optional(0, 99, bad, 0.7),  # kill chance
            self.pick("ラ", MARK_NONE, MARK_NONE, MARK_NONE, "Ｚ"),
            self.pick("Ｃ", "Ａ", MARK_NONE, MARK_NONE, MARK_NONE, MARK_NONE, "Ｘ"),
            self.pick("貫", MARK_NONE, MARK_NONE, MARK_NONE),
            self.pick(MARK_NONE, " 1", " 1", " 2", " 3", "00", "$2") if r.random() > bad else "x ",
            self.pick("e", "a", "-", " ", "-"),
            self.pick("e", "a", "-", " ", "-"),
            "キャラ%d<b>&" % card_id if r.random() < 0.1 else "キャラ%d" % card_id,
        ]
        return cp932("".join(fields))

    def vehicle(self, card_id, bad):
        r = self.rng
        fields = [
            "V%03d" % card_id,
            "車",
            self.pick("空", "地"),
            "40",
            two(r.randint(5, 60)),
            self.number(0, 9, bad),
            self.number(0, 20, bad),
            MARK_NONE * 25,
            "車両%d" % card_id,
        ]
        return cp932("".join(fields))

    def catalogue(self, characters, vehicles, bad):
        lines = [cp932("; hand-made catalogue for the differential check")]
        lines += [self.character(i, bad) for i in range(1, characters + 1)]
        lines += [self.vehicle(i, bad) for i in range(1, vehicles + 1)]
        return b"\r\n".join(lines) + b"\r\n"

    def deck(self, characters, vehicles):
        ids = [self.rng.randint(1, characters) for _ in range(8)]
        return "V%03d" % self.rng.randint(1, vehicles) + "".join("C%03d" % i for i in ids) + ":000"


def run(cli, args):
    p = subprocess.run([cli] + args, capture_output=True)
    return p.returncode, p.stdout, p.stderr


TIMING = re.compile(rb'"(seconds|battles_per_second|turns_per_second)": [^,}]*')


class Comparison:
    def __init__(self, old, new, work):
        self.old, self.new, self.work = old, new, work
        self.counts = {}
        self.failed = 0

    def differ(self, kind, args, a, b):
        self.failed += 1
        if self.failed <= 3:
            print("DIFFERENT (%s): morvane-cli %s" % (kind, " ".join(args)))
            for side, r in (("old", a), ("new", b)):
                print("  %s: %r" % (side, r if len(repr(r)) < 600 else repr(r)[:600] + "..."))

    def battle(self, kind, args):
        report = os.path.join(self.work, "battle.html")
        results = []
        for cli in (self.old, self.new):
            if os.path.exists(report):
                os.remove(report)
            status, out, err = run(cli, ["battle"] + args + ["-o", report, "--time", "12:00:00"])
            data = open(report, "rb").read() if os.path.exists(report) else None
            results.append((status, out, err, data))
        self.count(kind, results[0][0])
        if results[0] != results[1]:
            self.differ(kind, args, results[0][:3], results[1][:3])

    def json_command(self, kind, args):
        results = []
        for cli in (self.old, self.new):
            status, out, err = run(cli, args + ["--json"])
            results.append((status, TIMING.sub(b"", out), err))
        self.count(kind, results[0][0])
        if results[0] != results[1]:
            self.differ(kind, args, results[0], results[1])

    def count(self, kind, status):
        ok, bad = self.counts.get(kind, (0, 0))
        self.counts[kind] = (ok + (status == 0), bad + (status != 0))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--cases", type=int, default=200, help="cases of each kind (default 200)")
    parser.add_argument("--seed", type=int, default=1)
    options = parser.parse_args()
    rng = random.Random(options.seed)
    maker = Maker(rng)

    with tempfile.TemporaryDirectory() as work:
        c = Comparison(options.old, options.new, work)
        bundled = os.path.join(DATA, "card.dat")
        tops = [l for l in open(os.path.join(DATA, "deck0.dat"), encoding="cp932").read().split() if l]
        bottoms = [l for l in open(os.path.join(DATA, "deck1.dat"), encoding="cp932").read().split() if l]
        bundled_ids = [int(l[1:4]) for l in open(bundled, encoding="cp932") if l.startswith("C")]
        bundled_vehicles = [int(l[1:4]) for l in open(bundled, encoding="cp932") if l.startswith("V")]

        for i in range(options.cases):
            seed = str(rng.randint(0, 2**32 - 1))
            if i % 2:
                top, bottom = rng.choice(tops), rng.choice(bottoms)
            else:
                top, bottom = [
                    "V%03d" % rng.choice(bundled_vehicles)
                    + "".join("C%03d" % rng.choice(bundled_ids) for _ in range(8))
                    + ":000"
                    for _ in range(2)
                ]
            args = ["--cards", bundled, "--top", top, "--bottom", bottom, "--seed", seed]
            c.battle("bundled battle", args)
            if i % 10 == 0:
                c.json_command("bundled stats", ["stats"] + args + ["--battles", "400", "--threads", "2"])

        for i in range(options.cases):
            bad = 0.0 if i % 3 else 0.04
            characters, vehicles = rng.randint(3, 30), rng.randint(1, 5)
            cards = os.path.join(work, "card-%d.dat" % i)
            with open(cards, "wb") as f:
                f.write(maker.catalogue(characters, vehicles, bad))
            top, bottom = maker.deck(characters, vehicles), maker.deck(characters, vehicles)
            cap = rng.choice(["10000", "10000", "200", "40", "3"])
            args = ["--cards", cards, "--top", top, "--bottom", bottom, "--max-turns", cap]
            for _ in range(3):
                c.battle("hand-made battle", args + ["--seed", str(rng.randint(0, 2**32 - 1))])
            c.json_command(
                "hand-made stats",
                ["stats"] + args + ["--battles", "150", "--threads", "2", "--seed", str(rng.randint(0, 99999))],
            )
            if i % 10 == 0:
                decks = os.path.join(work, "decks-%d.dat" % i)
                with open(decks, "w", encoding="cp932", newline="") as f:
                    f.write("".join(maker.deck(characters, vehicles) + "\r\n" for _ in range(3)))
                c.json_command(
                    "hand-made league",
                    ["league", "--cards", cards, "--decks", decks, "--battles", "60", "--threads", "2", "--seed", "5"],
                )

    for kind, (ok, bad) in c.counts.items():
        print("%-18s %5d cases, %4d of them refused or failed alike" % (kind, ok + bad, bad))
    print("differences: %d" % c.failed)
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main())
