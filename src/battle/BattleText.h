#pragma once
// Every line the battle writes into the report, code page 932 bytes, with the text
// as it reads beside each one. Names are inserted between these pieces.

#include <string_view>

namespace morvane::text {

// 上はデッキの回転を止められている<br>
inline constexpr std::string_view LockedTop =
    "\x8f\xe3\x82\xcd\x83"
    "f\x83"
    "b\x83L\x82\xcc\x89\xf1\x93]\x82\xf0\x8e~\x82\xdf\x82\xe7\x82\xea\x82\xc4\x82\xa2\x82\xe9<br>";
// 下はデッキの回転を止められている<br>
inline constexpr std::string_view LockedBottom =
    "\x89\xba\x82\xcd\x83"
    "f\x83"
    "b\x83L\x82\xcc\x89\xf1\x93]\x82\xf0\x8e~\x82\xdf\x82\xe7\x82\xea\x82\xc4\x82\xa2\x82\xe9<br>";
// は、敵のデッキを固定した<br>
inline constexpr std::string_view LockedEnemy = "\x82\xcd\x81"
                                                "A\x93G\x82\xcc\x83"
                                                "f\x83"
                                                "b\x83L\x82\xf0\x8c\xc5\x92\xe8\x82\xb5\x82\xbd<br>";
// は、味方のデッキを固定した<br>
inline constexpr std::string_view LockedOwn = "\x82\xcd\x81"
                                              "A\x96\xa1\x95\xfb\x82\xcc\x83"
                                              "f\x83"
                                              "b\x83L\x82\xf0\x8c\xc5\x92\xe8\x82\xb5\x82\xbd<br>";
// のＨＰが
inline constexpr std::string_view HpOf = "\x82\xcc\x82g\x82o\x82\xaa";
// ポイント回復した<br>
inline constexpr std::string_view PointsHealed = "\x83|\x83"
                                                 "C\x83\x93\x83g\x89\xf1\x95\x9c\x82\xb5\x82\xbd<br>";
// の魔法は封じ込められている<br>
inline constexpr std::string_view MagicAlreadySealedTop =
    "\x82\xcc\x96\x82\x96@\x82\xcd\x95\x95\x82\xb6\x8d\x9e\x82\xdf\x82\xe7\x82\xea\x82\xc4\x82\xa2\x82\xe9<br>";
// 魔法は封じ込められている<br>
inline constexpr std::string_view MagicAlreadySealedBottom =
    "\x96\x82\x96@\x82\xcd\x95\x95\x82\xb6\x8d\x9e\x82\xdf\x82\xe7\x82\xea\x82\xc4\x82\xa2\x82\xe9<br>";
// は、敵の魔法を封じ込めた<br>
inline constexpr std::string_view SealedEnemyMagic =
    "\x82\xcd\x81"
    "A\x93G\x82\xcc\x96\x82\x96@\x82\xf0\x95\x95\x82\xb6\x8d\x9e\x82\xdf\x82\xbd<br>";
// の特殊能力は発揮されない<br>
inline constexpr std::string_view AbilityNotShown =
    "\x82\xcc\x93\xc1\x8e\xea\x94\x5c\x97\xcd\x82\xcd\x94\xad\x8a\xf6\x82\xb3\x82\xea\x82\xc8\x82\xa2<br>";
// は、
inline constexpr std::string_view Wa = "\x82\xcd\x81"
                                       "A";
// を一瞬で戦闘不能にした<br>
inline constexpr std::string_view KilledInstantly =
    "\x82\xf0\x88\xea\x8fu\x82\xc5\x90\xed\x93\xac\x95s\x94\x5c\x82\xc9\x82\xb5\x82\xbd<br>";
// は倒れた<br>
inline constexpr std::string_view FellPlain = "\x82\xcd\x93|\x82\xea\x82\xbd<br>";
// の特殊能力は発揮されなかった<br>
inline constexpr std::string_view AbilityFailed = "\x82\xcc\x93\xc1\x8e\xea\x94\x5c\x97\xcd\x82\xcd\x94\xad\x8a\xf6\x82"
                                                  "\xb3\x82\xea\x82\xc8\x82\xa9\x82\xc1\x82\xbd<br>";
// は、魔法を封じられているので攻撃できない<br>
inline constexpr std::string_view CannotAttackSealed =
    "\x82\xcd\x81"
    "A\x96\x82\x96@"
    "\x82\xf0\x95\x95\x82\xb6\x82\xe7\x82\xea\x82\xc4\x82\xa2\x82\xe9\x82\xcc\x82\xc5\x8dU\x8c\x82\x82\xc5\x82\xab\x82"
    "\xc8\x82\xa2<br>";
// は、敵のいないところを攻撃した<br>
inline constexpr std::string_view AttackedNobody =
    "\x82\xcd\x81"
    "A\x93G\x82\xcc\x82\xa2\x82\xc8\x82\xa2\x82\xc6\x82\xb1\x82\xeb\x82\xf0\x8dU\x8c\x82\x82\xb5\x82\xbd<br>";
// の攻撃は、
inline constexpr std::string_view AttackOf = "\x82\xcc\x8dU\x8c\x82\x82\xcd\x81"
                                             "A";
// を通り抜けた<br>
inline constexpr std::string_view PassedThrough = "\x82\xf0\x92\xca\x82\xe8\x94\xb2\x82\xaf\x82\xbd<br>";
// に当らなかった 残り
inline constexpr std::string_view MissedLeft = "\x82\xc9\x93\x96\x82\xe7\x82\xc8\x82\xa9\x82\xc1\x82\xbd \x8e"
                                               "c\x82\xe8";
// の攻撃を
inline constexpr std::string_view AttackBy = "\x82\xcc\x8dU\x8c\x82\x82\xf0";
// の攻撃を受け止めた 残り
inline constexpr std::string_view BlockedLeft =
    "\x82\xcc\x8dU\x8c\x82\x82\xf0\x8e\xf3\x82\xaf\x8e~\x82\xdf\x82\xbd \x8e"
    "c\x82\xe8";
// 吸収した 残り
inline constexpr std::string_view AbsorbedLeft = "\x8bz\x8e\xfb\x82\xb5\x82\xbd \x8e"
                                                 "c\x82\xe8";
// に
inline constexpr std::string_view Ni = "\x82\xc9";
// ポイントのダメージを与えた　残り0<br>
inline constexpr std::string_view PiercingKillLeft0 =
    "\x83|\x83"
    "C\x83\x93\x83g\x82\xcc\x83_\x83\x81\x81[\x83W\x82\xf0\x97^\x82\xa6\x82\xbd\x81@\x8e"
    "c\x82\xe8"
    "0<br>";
// は、倒れた<br>
inline constexpr std::string_view Fell = "\x82\xcd\x81"
                                         "A\x93|\x82\xea\x82\xbd<br>";
// ポイントのダメージを与えた 残り
inline constexpr std::string_view DamageLeft =
    "\x83|\x83"
    "C\x83\x93\x83g\x82\xcc\x83_\x83\x81\x81[\x83W\x82\xf0\x97^\x82\xa6\x82\xbd \x8e"
    "c\x82\xe8";
// ポイントのダメージを与えた。残り
inline constexpr std::string_view VehicleDamageLeft =
    "\x83|\x83"
    "C\x83\x93\x83g\x82\xcc\x83_\x83\x81\x81[\x83W\x82\xf0\x97^\x82\xa6\x82\xbd\x81"
    "B\x8e"
    "c\x82\xe8";
// は、倒れた<br><hr>
inline constexpr std::string_view VehicleFell = "\x82\xcd\x81"
                                                "A\x93|\x82\xea\x82\xbd<br><hr>";
// <a name="end">
inline constexpr std::string_view EndAnchor = "<a name=\"end\">";
// <font color="Red">下の勝ち</font><br>
inline constexpr std::string_view BottomWins = "<font color=\"Red\">\x89\xba\x82\xcc\x8f\x9f\x82\xbf</font><br>";
// <font color="Blue">上の勝ち</font><br>
inline constexpr std::string_view TopWins = "<font color=\"Blue\">\x8f\xe3\x82\xcc\x8f\x9f\x82\xbf</font><br>";
// </a>
inline constexpr std::string_view EndAnchorClose = "</a>";
// <br>
inline constexpr std::string_view Br = "<br>";

} // namespace morvane::text
