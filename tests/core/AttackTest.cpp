// Attacks on characters and on vehicles, and the end of the battle when a vehicle
// falls. The attacker stands at front position 1 (slot 3) and faces slot 11.

#include "support/Arena.h"

using namespace morvane;
using namespace morvane::test;

namespace {
const std::string A = blue("攻");
const std::string T = red("的");
const std::string BottomVehicle = red("乙車");
} // namespace

class Attack : public Arena {
protected:
    void duel(Card attacker, Card target = Card{}, std::vector<Vehicle> vehicles = {}) {
        attacker.id = 2;
        attacker.name = "攻";
        target.id = 3;
        target.name = "的";
        load({attacker, target}, vehicles);
        stage({{3, 2}, {11, 3}});
    }
};

TEST_F(Attack, ASingleTargetAttackerWhoseTargetIsDownHitsTheVehicleOthersHitNobody) {
    duel(Card{.power = " 4"});
    hp(11) = 0;
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{A + "は、" + BottomVehicle + "に4ポイントのダメージを与えた。残り26<br>"}));

    for (const Card& c : {Card{.random = "ラ"}, Card{.spread = "Ｃ"}, Card{.random = "Ｚ"}}) {
        duel(c);
        hp(11) = 0;
        // ResolveAttack works on the context that PerformAction sets up.
        ActionContext& context = state().context;
        context.actorSlot = 3;
        context.actorCardId = 2;
        context.actorVehicleCardId = 1;
        context.targetSlot = 11;
        context.targetCardId = 3;
        context.targetVehicleSlot = 19;
        context.targetVehicleCardId = 2;
        battle->ResolveAttack(3, 11);
        EXPECT_EQ(lines(), (Lines{A + "は、敵のいないところを攻撃した<br>"}));
        EXPECT_EQ(hp(19), 30);
    }
}

TEST_F(Attack, ReachLettersAgainstAirborneAndGroundTargets) {
    duel(Card{.reach = 'e'}, Card{.air = "空"});
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{A + "の攻撃は、" + T + "に当らなかった 残り10<br>"}));

    duel(Card{.pierce = "貫", .reach = 'e'}, Card{.air = "空"});
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{A + "の攻撃は、" + T + "を通り抜けた<br>",
                              A + "は、" + BottomVehicle + "に3ポイントのダメージを与えた。残り27<br>"}));
    EXPECT_EQ(hp(11), 10);

    duel(Card{.reach = 'a'});
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{A + "の攻撃は、" + T + "を通り抜けた<br>",
                              A + "は、" + BottomVehicle + "に3ポイントのダメージを与えた。残り27<br>"}));

    duel(Card{.reach = 'a'}, Card{.air = "空"});
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{A + "は、" + T + "に3ポイントのダメージを与えた 残り7<br>"}));

    // Without an attack kind nothing hurts a live target, but reach still applies.
    duel(Card{.kind = "無"});
    battle->PerformAction(1);
    EXPECT_TRUE(lines().empty());
    duel(Card{.kind = "無", .reach = 'a'});
    battle->PerformAction(1);
    EXPECT_EQ(lines().size(), 2u);
}

TEST_F(Attack, BlockComesBeforeAbsorbAndAbsorbNeverPassesTheCardsHp) {
    duel(Card{}, Card{.block = {"物", "＿", "＿"}, .absorb = {"物", "＿", "＿"}});
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{T + "は、" + A + "の攻撃を受け止めた 残り10<br>"}));

    duel(Card{.kind = "ブ"}, Card{.block = {"物", "魔", "＿"}, .absorb = {"＿", "＿", "ブ"}});
    battle->PerformAction(1);
    hp(11) = 8;
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{T + "は、" + A + "の攻撃を0吸収した 残り10<br>",
                              T + "は、" + A + "の攻撃を2吸収した 残り10<br>"}));

    // A mark only counts in the field of its own kind.
    duel(Card{.kind = "魔"}, Card{.block = {"魔", "＿", "魔"}, .absorb = {"魔", "＿", "魔"}});
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{A + "は、" + T + "に3ポイントのダメージを与えた 残り7<br>"}));
}

TEST_F(Attack, PiercingKillsSendTheSurplusToTheVehicle) {
    duel(Card{.power = "12", .pierce = "貫"});
    hp(11) = 5;
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{A + "は、" + T + "に5ポイントのダメージを与えた　残り0<br>", T + "は、倒れた<br>",
                              A + "は、" + BottomVehicle + "に7ポイントのダメージを与えた。残り23<br>"}));
    EXPECT_EQ(hp(11), 0);

    // Exactly the target's hp is an ordinary hit: nothing goes on.
    duel(Card{.power = "10", .pierce = "貫"});
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{A + "は、" + T + "に10ポイントのダメージを与えた 残り0<br>", T + "は、倒れた<br>"}));
    EXPECT_EQ(hp(19), 30);

    duel(Card{.power = "12"});
    hp(11) = 5;
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{A + "は、" + T + "に12ポイントのダメージを与えた 残り-7<br>", T + "は、倒れた<br>"}));
    EXPECT_EQ(hp(11), -7);
}

TEST_F(Attack, LiteralsKeepTheirFullWidthSpaceStopAndHalfWidthSpaces) {
    duel(Card{.power = "12", .pierce = "貫"});
    hp(11) = 5;
    battle->PerformAction(1);
    const std::string& bytes = sink.text();
    EXPECT_NE(bytes.find("\x81@\x8e"
                         "c\x82\xe8"
                         "0<br>\r\n"),
              std::string::npos)
        << "　残り0";
    EXPECT_NE(bytes.find("\x82\xbd\x81"
                         "B\x8e"
                         "c\x82\xe8"
                         "23<br>\r\n"),
              std::string::npos)
        << "た。残り";
    duel(Card{});
    battle->PerformAction(1);
    EXPECT_NE(sink.text().find("\x82\xbd \x8e"
                               "c\x82\xe8"
                               "7<br>\r\n"),
              std::string::npos)
        << "た 残り";
}

TEST_F(Attack, VehicleReachUsesColumn66Only) {
    duel(Card{.reach = 'e', .vehicleReach = 'e'}, Card{},
         {Vehicle{.id = 1}, Vehicle{.id = 2, .air = "空", .name = "乙車"}});
    battle->AttackVehicle(3, 19, 5);
    duel(Card{.vehicleReach = 'a'});
    battle->AttackVehicle(3, 19, 5);
    duel(Card{.reach = 'a', .vehicleReach = 'e'});
    battle->AttackVehicle(3, 19, 0);
    EXPECT_EQ(lines(), (Lines{A + "は、" + BottomVehicle + "に0ポイントのダメージを与えた。残り30<br>"}));
    duel(Card{.vehicleReach = 'a'});
    battle->AttackVehicle(3, 19, 5);
    EXPECT_EQ(lines(), (Lines{A + "の攻撃は、" + BottomVehicle + "に当らなかった 残り30<br>"}));
}

TEST_F(Attack, AVehicleAtZeroEndsTheBattleOnceAtOneItGoesOn) {
    int shown = 0;
    duel(Card{.power = " 5", .spread = "Ａ", .count = " 3"});
    battle->report().setShowReport([&] { ++shown; });
    hp(19) = 6;
    battle->AttackVehicle(3, 19, 5);
    EXPECT_TRUE(state().BattleRunning);
    EXPECT_EQ(shown, 0);
    battle->PerformAction(1);
    EXPECT_EQ(lines(), (Lines{
                           A + "は、" + BottomVehicle + "に5ポイントのダメージを与えた。残り1<br>",
                           A + "は、" + T + "に5ポイントのダメージを与えた 残り5<br>",
                           A + "は、" + red("兵") + "に5ポイントのダメージを与えた 残り5<br>",
                           A + "は、" + red("兵") + "に5ポイントのダメージを与えた 残り5<br>",
                           A + "は、" + BottomVehicle + "に5ポイントのダメージを与えた。残り-4<br>",
                           BottomVehicle + "は、倒れた<br><hr>",
                           "<a name=\"end\">",
                           "<font color=\"Blue\">上の勝ち</font><br>",
                           "</a>",
                       }));
    EXPECT_FALSE(state().BattleRunning);
    EXPECT_FALSE(state().ReportOpen);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(battle->outcome().winner, 0);
    // The rest of the action played out without a line and without a second showing.
    EXPECT_EQ(hp(19), -14);
    EXPECT_EQ(hp(12), 0);
    EXPECT_EQ(hp(13), 0);
}

TEST_F(Attack, TheTopVehicleFallingIsABottomWin) {
    duel(Card{});
    hp(9) = 3;
    battle->AttackVehicle(11, 9, 3);
    EXPECT_EQ(lines(), (Lines{T + "は、" + blue("甲車") + "に3ポイントのダメージを与えた。残り0<br>",
                              blue("甲車") + "は、倒れた<br><hr>", "<a name=\"end\">",
                              "<font color=\"Red\">下の勝ち</font><br>", "</a>"}));
    EXPECT_EQ(battle->outcome().winner, 1);
}
