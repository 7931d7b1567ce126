// One front character's action: its abilities in their fixed order, then its attacks
// by its targeting marks, each written as report lines.

#include "common/Errors.h"
#include "support/Arena.h"

#include <sstream>

using namespace morvane;
using namespace morvane::test;

namespace {
const std::string Soldier = "兵";
}

class Action : public Arena {};

TEST_F(Action, DeckLocksHitTheEnemyOrTheOwnSide) {
    load({Card{.id = 2, .lock = "敵", .count = "00", .name = "封"},
          Card{.id = 3, .lock = "自", .count = "00", .name = "縛"}});
    stage({{3, 2}, {11, 3}});
    battle->PerformAction(1);
    battle->PerformAction(4);
    EXPECT_EQ(lines(),
              (Lines{blue("封") + "は、敵のデッキを固定した<br>", red("縛") + "は、味方のデッキを固定した<br>"}));
    EXPECT_EQ(state().DeckLock[0], 9);
    EXPECT_EQ(state().DeckLock[1], 0);
}

TEST_F(Action, HealsAreCappedAtTheCardsHpAndAlwaysReported) {
    load({Card{.id = 2, .hp = "20", .heal = " 5", .count = "00", .name = "癒"},
          Card{.id = 3, .vehicleHeal = " 9", .count = "00", .name = "整"}});
    stage({{3, 2}, {11, 3}});
    battle->PerformAction(1);
    hp(3) = 12;
    battle->PerformAction(1);
    hp(3) = 18;
    battle->PerformAction(1);
    hp(19) = 25;
    battle->PerformAction(4);
    EXPECT_EQ(lines(),
              (Lines{blue("癒") + "のＨＰが0ポイント回復した<br>", blue("癒") + "のＨＰが5ポイント回復した<br>",
                     blue("癒") + "のＨＰが2ポイント回復した<br>", red("乙車") + "のＨＰが5ポイント回復した<br>"}));
    EXPECT_EQ(hp(3), 20);
    EXPECT_EQ(hp(19), 30);
    EXPECT_EQ(hp(9), 30);
}

TEST_F(Action, ASecondSealerOfTheSameTurnFindsItsOwnSideSealed) {
    load({Card{.id = 2, .seal = "サ", .count = "00", .name = "封"}});
    stage({{3, 2}, {11, 2}});
    battle->PerformAction(1);
    battle->PerformAction(4);
    EXPECT_EQ(lines(),
              (Lines{blue("封") + "は、敵の魔法を封じ込めた<br>", red("封") + "魔法は封じ込められている<br>"}));
    EXPECT_FALSE(state().MagicSealed[0]);
    EXPECT_TRUE(state().MagicSealed[1]);

    stage({{3, 2}, {11, 2}});
    state().MagicSealed = {false, false};
    battle->PerformAction(4);
    battle->PerformAction(1);
    EXPECT_EQ(lines(),
              (Lines{red("封") + "は、敵の魔法を封じ込めた<br>", blue("封") + "の魔法は封じ込められている<br>"}));
}

TEST_F(Action, ASealedMagicianStillUsesEveryAbilityThenCannotAttack) {
    load({Card{.id = 2, .kind = "魔", .seal = "サ", .heal = " 1", .lock = "敵", .kill = "00", .name = "魔導"}});
    stage({{3, 2}});
    state().MagicSealed[0] = true;
    Random expected(random.seed());
    battle->PerformAction(1);
    EXPECT_EQ(lines(),
              (Lines{blue("魔導") + "は、敵のデッキを固定した<br>", blue("魔導") + "のＨＰが0ポイント回復した<br>",
                     blue("魔導") + "の魔法は封じ込められている<br>", blue("魔導") + "の特殊能力は発揮されなかった<br>",
                     blue("魔導") + "は、魔法を封じられているので攻撃できない<br>"}));
    expected(100);
    EXPECT_EQ(random.seed(), expected.seed()) << "exactly the instant-kill draw";
    EXPECT_EQ(hp(11), 10);
}

TEST_F(Action, InstantKillDrawsOnceAgainstALiveTargetAndNeverAgainstAFallenOne) {
    load({Card{.id = 2, .kill = "99", .count = "00", .name = "刺"},
          Card{.id = 3, .kill = "00", .count = "00", .name = "鈍"}});
    stage({{3, 2}, {2, 3}});
    // A chance of 99 kills on draws 0 to 98 of 100: seed 1 draws 3, seed 191 draws 99.
    random.setSeed(1);
    battle->PerformAction(1);
    EXPECT_EQ(hp(11), 0);
    EXPECT_EQ(lines(), (Lines{blue("刺") + "は、" + red(Soldier) + "を一瞬で戦闘不能にした<br>",
                              red(Soldier) + "は倒れた<br>"}));
    Random oneDraw(1);
    oneDraw(100);
    EXPECT_EQ(random.seed(), oneDraw.seed());

    hp(11) = 10;
    sink.open();
    random.setSeed(191);
    battle->PerformAction(1);
    EXPECT_EQ(hp(11), 10);
    EXPECT_EQ(lines(), (Lines{blue("刺") + "の特殊能力は発揮されなかった<br>"}));
    sink.open();
    hp(11) = 0;
    const uint32_t before = random.seed();
    battle->PerformAction(1);
    EXPECT_EQ(random.seed(), before);
    battle->PerformAction(2); // a chance of 0 draws and never kills
    EXPECT_NE(random.seed(), before);
    EXPECT_EQ(lines(),
              (Lines{blue("刺") + "の特殊能力は発揮されない<br>", blue("鈍") + "の特殊能力は発揮されなかった<br>"}));
    EXPECT_EQ(hp(12), 10);
}

TEST_F(Action, AFallenActorDoesNothingAndDrawsNothing) {
    load({Card{.id = 2, .seal = "サ", .heal = " 5", .lock = "敵", .kill = "50", .random = "ラ", .name = "倒"}});
    stage({{3, 2}});
    hp(3) = 0;
    const uint32_t before = random.seed();
    battle->PerformAction(1);
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(random.seed(), before);
    EXPECT_EQ(state().DeckLock[1], 9);
    EXPECT_EQ(state().context.actorSlot, 3) << "the context is still set up";
    EXPECT_EQ(state().context.targetSlot, 11);
    EXPECT_EQ(state().context.targetVehicleSlot, 19);
}

TEST_F(Action, AttackCountsAndUnknownSpreadMarks) {
    load({Card{.id = 2, .count = "00", .name = "零"}, Card{.id = 3, .count = " 2", .name = "双"},
          Card{.id = 4, .count = "＿", .name = "一"}, Card{.id = 5, .spread = "Ｘ", .count = " 3", .name = "謎"}});
    stage({{3, 2}, {2, 3}, {1, 4}, {11, 5}});
    battle->PerformAction(1);
    battle->PerformAction(2);
    battle->PerformAction(3);
    battle->PerformAction(4);
    const std::string hit = "は、" + red(Soldier) + "に3ポイントのダメージを与えた 残り";
    EXPECT_EQ(lines(), (Lines{blue("双") + hit + "7<br>", blue("双") + hit + "4<br>", blue("一") + hit + "7<br>"}));
    EXPECT_EQ(hp(3), 10) << "the unknown spread mark attacked nobody";
}

TEST_F(Action, SpreadAttacksHitAllThreeEnemyFrontPositionsInOrder) {
    load({Card{.id = 2, .spread = "Ｃ", .name = "薙"}, Card{.id = 3, .spread = "Ａ", .name = "嵐"}});
    stage({{3, 2}, {13, 3}});
    hp(12) = 0;
    battle->PerformAction(1);
    battle->PerformAction(6);
    EXPECT_EQ(lines(), (Lines{
                           blue("薙") + "は、" + red(Soldier) + "に3ポイントのダメージを与えた 残り7<br>",
                           blue("薙") + "は、敵のいないところを攻撃した<br>",
                           blue("薙") + "は、" + red("嵐") + "に3ポイントのダメージを与えた 残り7<br>",
                           red("嵐") + "は、" + blue("薙") + "に3ポイントのダメージを与えた 残り7<br>",
                           red("嵐") + "は、" + blue(Soldier) + "に3ポイントのダメージを与えた 残り7<br>",
                           red("嵐") + "は、" + blue(Soldier) + "に3ポイントのダメージを与えた 残り7<br>",
                           red("嵐") + "は、" + blue("甲車") + "に3ポイントのダメージを与えた。残り27<br>",
                       }));
}

TEST_F(Action, RandomTargetsDrawTheVehicleOrOneOfTheThreeFrontPositions) {
    load({Card{.id = 2, .power = " 1", .random = "ラ", .count = "12", .name = "乱"}});
    // Each attack draws the vehicle one time in four, else one of the three front
    // positions (slots 11, 12, 13); the targets of twelve attacks from two seeds.
    const std::pair<uint32_t, std::string> cases[] = {
        {1, "V 11 13 11 12 V 11 11 13 13 13 13"},
        {2024, "11 V 11 13 V 13 V 11 13 V 12 13"},
    };
    for (const auto& [seed, targets] : cases) {
        stage({{3, 2}});
        random.setSeed(seed);
        Lines want;
        int vehicle = 30;
        std::map<std::string, int> hpBySlot{{"11", 10}, {"12", 10}, {"13", 10}};
        std::istringstream in(targets);
        for (std::string target; in >> target;) {
            if (target == "V")
                want.push_back(blue("乱") + "は、" + red("乙車") + "に1ポイントのダメージを与えた。残り" +
                               std::to_string(--vehicle) + "<br>");
            else
                want.push_back(blue("乱") + "は、" + red(Soldier) + "に1ポイントのダメージを与えた 残り" +
                               std::to_string(--hpBySlot[target]) + "<br>");
        }
        battle->PerformAction(1);
        EXPECT_EQ(lines(), want) << "seed " << seed;
        EXPECT_EQ(hp(11) + hp(12) + hp(13) + hp(19), 30 + 30 - 12) << "one point for each of twelve attacks";
    }
}

TEST_F(Action, ABadAbilityColumnFailsWhenTheActionNeedsIt) {
    load({Card{.id = 2, .heal = "x1", .lock = "敵", .name = "壊"}});
    stage({{3, 2}});
    EXPECT_THROW(battle->PerformAction(1), ConversionError);
    EXPECT_EQ(lines(), (Lines{blue("壊") + "は、敵のデッキを固定した<br>"}));
}
