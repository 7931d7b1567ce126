#!/usr/bin/env python3
"""Writes the bundled card catalogue and deck lists: data/card.dat, data/deck0.dat and
data/deck1.dat, in code page 932 with CR LF line ends.

The tables below are the source of truth; edit them and run this script again rather
than editing the .dat files by hand. Decks name their cards, so reordering the tables
renumbers the deck lines along with them.

Usage: scripts/make-cards.py [DATA_FOLDER]   (default: the data folder of this tree)
"""

import sys
from pathlib import Path

NONE = "＿"    # the none mark of every optional two-byte field
KINDS = "物魔ブ"  # physical, magic, breath: the order of the block and absorb columns
GROUND = "地"  # any air mark but 空 stands for the ground; 地 reads well in the file

# Ability keywords of a character:
#   block / absorb  the kinds it blocks / absorbs, e.g. "物魔"
#   seal            True: seals the enemy side's magic for the rest of the turn
#   heal / vheal    self heal / own vehicle heal per action
#   lock            "敵" or "自": the enemy's or its own side keeps its formation next turn
#   kill            instant-kill chance against the opposite character, in percent
#   random          True: random target among the enemy front and its vehicle
#   spread          "Ｃ" all three enemy front characters, "Ａ" those and the vehicle
#   pierce          True: the damage past a falling target goes on to the vehicle
#   count           attacks per action (none: one attack)
#   reach / vreach  "e" cannot hit airborne characters / vehicles, "a" cannot hit
#                   grounded ones, "-" no restriction

CHARACTERS = []
VEHICLES = []


def C(name, kind, air, size, hp, ap, sp, **abilities):
    CHARACTERS.append(dict(name=name, kind=kind, air=air, size=size, hp=hp, ap=ap, sp=sp, **abilities))


def V(name, air, size, hp, ap, sp):
    VEHICLES.append(dict(name=name, air=air, size=size, hp=hp, ap=ap, sp=sp))


AIR = "空"
G = GROUND

# --- characters -----------------------------------------------------------------
#  name              kind air size HP AP SP  abilities
C("錆鉄の番兵",     "物", G,    6, 24,  4,  5, block="物", reach="e", vreach="e")
C("木彫りの槍兵",   "物", G,    5, 17,  5,  8)
C("灰狼の傭兵",     "物", G,    6, 18,  6, 11)
C("石臼の力士",     "物", G,    7, 26,  7,  3, pierce=True, reach="e", vreach="e")
C("双剣の渡り鳥",   "物", AIR,  8, 14,  4, 15, count=2)
C("鉤爪の夜盗",     "物", G,    6, 13,  4, 16, kill=15)
C("霧笛の弓手",     "物", G,    7, 15,  4, 10, random=True, count=2)
C("鉄槌の鍛冶師",   "物", G,    8, 20,  6,  6, vheal=3)
C("岩砕きの巨人",   "物", G,   10, 30,  9,  2, pierce=True, reach="e")
C("影縫いの忍び",   "物", G,    8, 15,  5, 17, lock="敵")
C("鷹匠の娘",       "物", G,    7, 14,  3, 13, count=3, vreach="a")
C("大盾の門衛",     "物", G,    5, 22,  3,  4, block="物", reach="e")
C("投石の牧童",     "物", G,    4, 12,  3,  9, random=True)
C("鋼翼の急降下兵", "物", AIR,  7, 16,  4, 14, reach="a")
C("砂塵の騎兵",     "物", G,    8, 20,  3, 12, spread="Ｃ")
C("氷柱の魔女",     "魔", G,    7, 12,  3, 10, spread="Ｃ")
C("焔の占い師",     "魔", G,    5, 14,  5,  9)
C("雷鳴の導師",     "魔", G,    7, 16,  2,  7, spread="Ａ")
C("月影の呪術師",   "魔", G,    8, 17,  3, 12, kill=25)
C("琥珀の僧侶",     "魔", G,    6, 14,  3,  8, heal=4, vheal=2)
C("封印の巫女",     "魔", G,    7, 16,  3, 18, seal=True)
C("星読みの賢者",   "魔", G,    4, 12,  4, 10, absorb="魔")
C("霧の幻術師",     "魔", AIR,  7, 16,  4, 14, random=True, count=2)
C("黒百合の魔導士", "魔", G,    6, 16,  6, 10, pierce=True)
C("骨笛の死霊使い", "魔", G,    7, 16,  4,  6, lock="敵", kill=10)
C("水鏡の精霊",     "魔", AIR,  5, 13,  4, 13, absorb="魔")
C("風読みの術師",   "魔", AIR,  6, 14,  3, 15, count=2, vreach="a")
C("雪原の祈祷師",   "魔", G,    4, 12,  3,  5, vheal=1)
C("紅蓮の炎術士",   "魔", G,    9, 16,  3,  9, absorb="ブ", spread="Ａ")
C("若き火竜",       "ブ", AIR,  8, 24,  6, 10)
C("毒霧の大蜥蜴",   "ブ", G,    7, 22,  3,  5, absorb="ブ", spread="Ｃ", reach="e")
C("雷雲の翼竜",     "ブ", AIR, 10, 22,  3, 12, spread="Ａ")
C("氷息の白熊",     "ブ", G,    7, 20,  5,  6, block="ブ")
C("砂漠の大蠍",     "ブ", G,    9, 18,  5,  7, absorb="物", kill=10)
C("溶岩の蛞蝓",     "ブ", G,    7, 22,  4,  3, absorb="ブ", heal=3, reach="e")
C("嵐呼びの怪鳥",   "ブ", AIR,  8, 16,  4, 16, random=True, count=2)
C("沼の大蛙",       "ブ", G,    5, 26,  3,  4, absorb="魔", reach="e", vreach="e")
C("鬼火の群れ",     "ブ", AIR,  7, 12,  2, 19, count=3)
C("古竜の幼生",     "ブ", AIR,  9, 28,  7,  8, pierce=True)
C("苔むす石兵",     "物", G,    5, 30,  3,  2, block="魔")
C("銀狐の斥候",     "物", G,    4, 14,  4, 20, lock="自")
C("蔦絡みの森番",   "物", G,    7, 20,  4,  7, heal=3)
C("虹羽の伝令鳥",   "ブ", AIR,  6, 12,  2, 18, seal=True)
C("夜明けの楽士",   "魔", G,    5, 15,  3,  9, heal=2, vheal=2)

# --- vehicles -------------------------------------------------------------------
#  name              air size HP AP SP
V("鋼鉄の陸亀",     G,   48, 51, 3,  2)
V("雲間の飛行船",   AIR, 47, 59, 2,  8)
V("砂漠の帆走車",   G,   47, 58, 2, 10)
V("白銀の雲上砦",   AIR, 51, 37, 4,  3)
V("樫の木の荷馬車", G,   43, 64, 1,  6)
V("夜霧の幽霊船",   AIR, 48, 56, 3,  7)
V("溶岩の掘削機",   G,   50, 48, 4,  4)
V("星図の気球",     AIR, 42, 66, 1,  9)

# --- decks ----------------------------------------------------------------------
# Slots 1-8 around the vehicle: 1 4 6 / 2 V 7 / 3 5 8. The corners 1, 3, 6 and 8 stand in
# front in two of the four formations, the edges in one, so a deck's best cards go there.
# The bundled decks are optimizer teams of this set, searched against earlier decks and the
# best teams of balance runs with at most two copies of a card, then ranked by a league among
# them (at most two a vehicle, the three attack kinds about evenly represented, since a field
# that leans on one kind is beaten by its blockers), so that a new player meets good teams.
# They leave out the cards with vreach "e": left last on the field against an airborne
# vehicle they can never end the battle. docs/balance.md tells how the numbers above were
# tuned; run morvane-cli balance after changing them.
DECK0 = [
    ("白銀の雲上砦", ["双剣の渡り鳥", "琥珀の僧侶", "双剣の渡り鳥", "雪原の祈祷師", "夜明けの楽士", "古竜の幼生", "雪原の祈祷師", "鷹匠の娘"]),
    ("夜霧の幽霊船", ["風読みの術師", "雪原の祈祷師", "古竜の幼生", "投石の牧童", "雪原の祈祷師", "岩砕きの巨人", "投石の牧童", "木彫りの槍兵"]),
    ("雲間の飛行船", ["骨笛の死霊使い", "木彫りの槍兵", "鉤爪の夜盗", "雪原の祈祷師", "虹羽の伝令鳥", "灰狼の傭兵", "虹羽の伝令鳥", "骨笛の死霊使い"]),
    ("鋼鉄の陸亀", ["水鏡の精霊", "氷柱の魔女", "水鏡の精霊", "夜明けの楽士", "夜明けの楽士", "双剣の渡り鳥", "雪原の祈祷師", "古竜の幼生"]),
]
DECK1 = [
    ("溶岩の掘削機", ["鷹匠の娘", "水鏡の精霊", "双剣の渡り鳥", "夜明けの楽士", "雪原の祈祷師", "砂漠の大蠍", "銀狐の斥候", "月影の呪術師"]),
    ("雲間の飛行船", ["砂漠の大蠍", "銀狐の斥候", "大盾の門衛", "銀狐の斥候", "灰狼の傭兵", "虹羽の伝令鳥", "雪原の祈祷師", "双剣の渡り鳥"]),
    ("白銀の雲上砦", ["琥珀の僧侶", "雷鳴の導師", "氷息の白熊", "銀狐の斥候", "蔦絡みの森番", "砂漠の大蠍", "銀狐の斥候", "溶岩の蛞蝓"]),
    ("樫の木の荷馬車", ["溶岩の蛞蝓", "銀狐の斥候", "毒霧の大蜥蜴", "銀狐の斥候", "雪原の祈祷師", "毒霧の大蜥蜴", "水鏡の精霊", "夜明けの楽士"]),
]

# --- file layout ------------------------------------------------------------------

HEADER = [
    "; Morvane card catalogue. Code page 932, fixed byte columns; lines that start with",
    "; anything but C or V are comments. Regenerate with scripts/make-cards.py.",
    "; 1 kind C/V, 2-4 id, 5-6 攻撃種別, 7-8 空=飛行, 9-10 サイズ, 11-12 HP, 13-14 AP, 15-16 SP,",
    "; 29-34 防御(物魔ブ), 35-40 吸収(物魔ブ), 41-42 封印, 43-44 回復, 45-46 車両回復, 53-54 固定,",
    "; 55-56 即死%, 57-58 ラ, 59-60 範囲Ｃ/Ａ, 61-62 貫, 63-64 回数, 65 射程e/a, 66 対車両e/a, 67- 名前",
    ";ID 種空大HPAPSP－－－－－－防防防吸吸吸封癒修－－－固即乱範貫回rv名前",
]


def num(value):
    text = "%2d" % value
    assert len(text) == 2, value
    return text


def opt(value):
    return NONE if value is None else num(value)


def marks(kinds, allowed):
    assert all(k in KINDS for k in allowed), allowed
    return "".join(k if k in allowed else NONE for k in KINDS)


def flag(on, mark):
    return mark if on else NONE


def letter(value):
    assert value in ("e", "a", "-"), value
    return value


def character_line(card_id, c):
    known = {"name", "kind", "air", "size", "hp", "ap", "sp", "block", "absorb", "seal", "heal", "vheal",
             "lock", "kill", "random", "spread", "pierce", "count", "reach", "vreach"}
    assert set(c) <= known, set(c) - known
    assert c["kind"] in KINDS and 1 <= c["sp"] <= 20
    assert c.get("lock") in (None, "敵", "自") and c.get("spread") in (None, "Ｃ", "Ａ")
    # A battle has no turn limit: if a vehicle healer could mend more than it deals, two
    # of them left alone on opposite sides would undo each other's damage for ever.
    assert c.get("vheal") is None or c["vheal"] < c["ap"], c["name"]
    text = ("C%03d" % card_id + c["kind"] + c["air"] + num(c["size"]) + num(c["hp"]) + num(c["ap"]) + num(c["sp"])
            + NONE * 6
            + marks(KINDS, c.get("block", "")) + marks(KINDS, c.get("absorb", ""))
            + flag(c.get("seal"), "サ") + opt(c.get("heal")) + opt(c.get("vheal"))
            + NONE * 3
            + (c.get("lock") or NONE) + opt(c.get("kill")) + flag(c.get("random"), "ラ")
            + (c.get("spread") or NONE) + flag(c.get("pierce"), "貫") + opt(c.get("count"))
            + letter(c.get("reach", "-")) + letter(c.get("vreach", "-")) + c["name"])
    return text.encode("cp932")


def vehicle_line(card_id, v):
    text = ("V%03d" % card_id + "車" + v["air"] + num(v["size"]) + num(v["hp"]) + num(v["ap"]) + num(v["sp"])
            + NONE * 25 + v["name"])
    return text.encode("cp932")


def deck_lines(decks):
    char_ids = {c["name"]: i for i, c in enumerate(CHARACTERS, 1)}
    vehicle_ids = {v["name"]: i for i, v in enumerate(VEHICLES, 1)}
    lines = []
    for number, (vehicle, members) in enumerate(decks):
        assert len(members) == 8, vehicle
        ids = [vehicle_ids[vehicle]] + [char_ids[m] for m in members]
        lines.append(("V%.3d" + "C%.3d" * 8 + ":%.3d") % (*ids, number))
        total = sum(CHARACTERS[i - 1]["size"] for i in ids[1:])
        print("  %s: sizes %d of %d" % (lines[-1], total, VEHICLES[ids[0] - 1]["size"]), file=sys.stderr)
        # A size change in the tables above can push a deck over its vehicle's deck size, which
        # the optimizer refuses as a start team; the showcase decks also never stack one card,
        # nor hold one that could never end a battle against an airborne vehicle.
        assert total <= VEHICLES[ids[0] - 1]["size"], lines[-1]
        assert all(members.count(m) <= 2 for m in members), lines[-1]
        assert all(CHARACTERS[i - 1].get("vreach") != "e" for i in ids[1:]), lines[-1]
    return [line.encode("cp932") for line in lines]


def write(path, lines):
    path.write_bytes(b"".join(line + b"\r\n" for line in lines))
    print("wrote %s (%d lines)" % (path, len(lines)), file=sys.stderr)


def main():
    folder = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "data"
    names = [c["name"] for c in CHARACTERS] + [v["name"] for v in VEHICLES]
    assert len(names) == len(set(names)), "duplicate card name"
    cards = [h.encode("cp932") for h in HEADER]
    cards += [character_line(i, c) for i, c in enumerate(CHARACTERS, 1)]
    cards += [vehicle_line(i, v) for i, v in enumerate(VEHICLES, 1)]
    for line in cards:
        assert line[:1] not in (b"C", b"V") or len(line) > 66, line
    write(folder / "card.dat", cards)
    write(folder / "deck0.dat", deck_lines(DECK0))
    write(folder / "deck1.dat", deck_lines(DECK1))


if __name__ == "__main__":
    main()
