// Whole turns: opening the report, formations and the deck locks that carry them
// over, initiative by speed with random order among equals, and the end of a battle.

#include "common/Errors.h"
#include "support/Arena.h"

using namespace morvane;
using namespace morvane::test;

class TurnLoop : public Arena {
protected:
    // Starts a battle as the battle button does: no stage, report closed.
    void start(std::map<int, int> cardBySlot = {}) {
        stage(std::move(cardBySlot));
        state().ReportOpen = false;
        state().TurnNo = 0;
    }
};

namespace {
const Card Idle{.id = 1, .count = "00", .name = "兵"};
const std::string Heading1 = "<hr><center><font size=+2><b>1ターン</b></font></center><br>";
} // namespace

TEST_F(TurnLoop, TheFirstTickOpensTheReportWithItsHeadThenPlaysTurnOne) {
    load({Card{.id = 2, .hp = " 7", .power = "05", .sp = "12", .name = "剣士"}},
         {Vehicle{.id = 1, .hp = "40", .power = " 2", .sp = " 3", .name = "戦車"}, Vehicle{.id = 2, .name = "乙車"}});
    start({{1, 2}});
    EXPECT_EQ(battle->playTurn(), BattleStatus::Running);
    const Lines all = lines();
    ASSERT_GE(all.size(), 21u);
    EXPECT_EQ(all[0], "<html>");
    EXPECT_EQ(all[1], "<center><font size=+1><b>Morvane</b></font></center><div align=right>Morvane card battle "
                      "simulator</div><a href=\"https://morvane.example.org/\" target=\"_blank\">HP</a>　<a "
                      "href=\"#end\">結果</a>　make time[12:34:56]<hr>");
    const std::string firstCell =
        "<td><center>" + std::string("<font color=\"Blue\"><b>剣士</b>") + "<br> H:7 A:5 S:12</font></center></td>";
    const std::string vehicleCell =
        "<td><center><font color=\"Blue\"><b>戦車</b><br> H:40 A:2 S:3</font></center></td>";
    EXPECT_EQ(all[2].rfind("<center><table border=1><tr>" + firstCell, 0), 0u);
    EXPECT_NE(all[2].find("</tr><tr><td><center><font color=\"Blue\"><b>兵</b><br> H:10 A:3 S:5</font></center></td>" +
                          vehicleCell),
              std::string::npos);
    EXPECT_NE(all[2].find("<td><b>VS</b></td><td><center><font color=\"Red\">"), std::string::npos);
    EXPECT_EQ(all[2].substr(all[2].size() - 22), "</tr></table></center>");
    EXPECT_EQ(all[3], Heading1);
    EXPECT_EQ(all[4], "<center><table border=0 align=center>");
    EXPECT_EQ(all[5], "<tr><td></td>");
    EXPECT_EQ(all[10], vehicleCell);
    EXPECT_EQ(all[12], "<td><b>VS</b></td>");
    EXPECT_EQ(all[19], "<td></td></tr>");
    EXPECT_EQ(all[20], "</table></center><br>");
    EXPECT_EQ(state().TurnNo, 1);
    EXPECT_TRUE(state().ReportOpen);
}

TEST_F(TurnLoop, FormationsComeFromTwoDrawsTopFirstOrFromALock) {
    load({Idle});
    using Front = std::array<int32_t, 7>;
    // Seeds whose two draws give each formation once on each side; the first draw is
    // the top side's (drawn the other way round, seed 1 would put 18, 17, 16 on top).
    const std::pair<uint32_t, Front> cases[] = {
        {1, {0, 3, 2, 1, 18, 17, 16}},
        {9, {0, 1, 4, 6, 16, 14, 11}},
        {17, {0, 8, 5, 3, 11, 12, 13}},
        {26, {0, 6, 7, 8, 13, 15, 18}},
    };
    for (const auto& [seed, front] : cases) {
        start();
        random.setSeed(seed);
        battle->playTurn();
        EXPECT_EQ(state().Front, front) << "seed " << seed;
    }

    // A locked top side keeps formation 2 and only the bottom side draws.
    sink.open();
    state().DeckLock = {2, 9};
    random.setSeed(1);
    battle->playTurn();
    EXPECT_EQ(state().Front, (Front{0, 8, 5, 3, 11, 12, 13})) << "the bottom side takes the first draw";
    EXPECT_EQ(lines().at(18), "上はデッキの回転を止められている<br>");
    EXPECT_EQ(state().DeckLock[0], 9);

    battle->ApplyFormation(1, 3);
    EXPECT_EQ(state().Front, (Front{0, 1, 4, 6, 18, 17, 16}));
    battle->ApplyFormation(4, -1);
    EXPECT_EQ(state().Front, (Front{0, 1, 4, 6, 18, 17, 16})) << "no such formation: the front stays";
}

TEST_F(TurnLoop, ALockPlacedInATurnKeepsThatSidesFormationForExactlyTheNextTurn) {
    // Every top character locks the bottom side; nobody attacks, so the battle runs on.
    load({Idle, Card{.id = 2, .lock = "敵", .count = "00", .name = "封"}});
    start({{1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}, {6, 2}, {7, 2}, {8, 2}});
    battle->playTurn();
    const auto bottomFront = std::vector<int32_t>(state().Front.begin() + 4, state().Front.end());
    for (int turn = 2; turn <= 4; ++turn) {
        sink.open();
        Random expected(random.seed());
        battle->playTurn();
        EXPECT_EQ(std::vector<int32_t>(state().Front.begin() + 4, state().Front.end()), bottomFront);
        EXPECT_EQ(lines().at(18), "下はデッキの回転を止められている<br>");
        // One formation draw (top) and one initiative draw for each of the six fronts.
        for (int draw = 0; draw < 7; ++draw)
            expected(40);
        EXPECT_EQ(random.seed(), expected.seed());
    }

    // A lock mark of 0 is also formation 0, and is kept as such.
    load({Card{.id = 1, .lock = "自", .count = "00", .name = "縛"}});
    start();
    state().DeckLock = {9, 0};
    battle->playTurn();
    battle->playTurn();
    EXPECT_EQ(state().Front[4], 11);
    EXPECT_EQ(state().DeckLock[1], 0) << "the bottom side locked itself again in formation 0";
}

TEST_F(TurnLoop, FasterFrontCharactersActFirstAndEqualSpeedsInDrawnOrder) {
    load({Card{.id = 2, .sp = " 7", .lock = "自", .count = "00", .name = "一"},
          Card{.id = 3, .sp = " 9", .lock = "自", .count = "00", .name = "二"},
          Card{.id = 4, .sp = " 7", .lock = "自", .count = "00", .name = "三"},
          Card{.id = 5, .sp = " 9", .lock = "自", .count = "00", .name = "四"},
          Card{.id = 6, .sp = " 3", .lock = "自", .count = "00", .name = "五"},
          Card{.id = 7, .sp = "25", .lock = "自", .count = "00", .name = "六"}});
    // Locked in formation 0 on both sides, so no formation is drawn: positions 1-6 are
    // slots 3, 2, 1, 11, 12, 13.
    auto order = [&](uint32_t seed) {
        start({{3, 2}, {2, 3}, {1, 4}, {11, 5}, {12, 6}, {13, 7}});
        state().DeckLock = {0, 0};
        random.setSeed(seed);
        battle->playTurn();
        const Lines all = lines();
        EXPECT_EQ(all.at(21), "上はデッキの回転を止められている<br>");
        EXPECT_EQ(all.at(22), "下はデッキの回転を止められている<br>");
        std::string actors;
        for (auto line = all.begin() + 23; line != all.end(); ++line)
            actors += line->substr(line->find('>') + 1, 3); // the name after the colour tag
        return actors;
    };
    // Speed 9 before 7 before 3; speed 25 never acts; equal speeds in drawn order,
    // one draw for each pick, even the last of a speed.
    const std::pair<uint32_t, std::string> cases[] = {
        {0, "二四三一五"}, {997, "二四一三五"}, {1994, "四二三一五"}, {2991, "四二一三五"}};
    for (const auto& [seed, actors] : cases) {
        EXPECT_EQ(order(seed), actors) << "seed " << seed;
        Random fiveDraws(seed);
        for (int draw = 0; draw < 5; ++draw)
            fiveDraws(2);
        EXPECT_EQ(random.seed(), fiveDraws.seed()) << "seed " << seed;
    }
}

TEST_F(TurnLoop, NobodyWhoCanActMeansEndlessTurnsOfHeadingsAndFronts) {
    load({Card{.id = 1, .sp = "25", .name = "遅"}});
    start();
    const uint32_t before = random.seed();
    EXPECT_EQ(battle->playTurn(), BattleStatus::Running);
    EXPECT_EQ(battle->playTurn(), BattleStatus::Running);
    EXPECT_EQ(lines().size(), 3u + 18u + 18u);
    Random expected(before);
    for (int draw = 0; draw < 4; ++draw)
        expected(40);
    EXPECT_EQ(random.seed(), expected.seed()) << "formation draws only";
}

TEST_F(TurnLoop, AfterTheVehicleFallsNobodyActsButTheDrawsGoOn) {
    // Every top character hits the bottom vehicle through its front; bottom is idle.
    load(
        {Card{.id = 1, .sp = " 5", .count = "00", .name = "兵"}, Card{.id = 2, .sp = " 5", .reach = 'a', .name = "槍"}},
        {Vehicle{.id = 1, .name = "甲車"}, Vehicle{.id = 2, .hp = " 3", .name = "乙車"}});
    start({{1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}, {6, 2}, {7, 2}, {8, 2}});
    int shown = 0;
    battle->report().setShowReport([&] { ++shown; });
    Random expected(random.seed());
    EXPECT_EQ(battle->playTurn(), BattleStatus::Ended);
    for (int draw = 0; draw < 8; ++draw)
        expected(40);
    EXPECT_EQ(random.seed(), expected.seed()) << "two formations and all six initiative draws";
    const Lines all = lines();
    EXPECT_EQ(all.back(), "</a>");
    EXPECT_EQ(all[all.size() - 4], red("乙車") + "は、倒れた<br><hr>");
    EXPECT_EQ(
        std::count_if(all.begin(), all.end(), [](const std::string& l) { return l.find("通り抜けた") != l.npos; }), 1);
    EXPECT_FALSE(state().BattleRunning);
    EXPECT_FALSE(state().ReportOpen);
    EXPECT_EQ(battle->outcome().winner, 0);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(state().DeckLock, (std::array<int32_t, 2>{9, 9}));

    // The next start begins a new report from empty with turn 1.
    battle->start(Teams{{SideSelection{1, {2, 2, 2, 2, 2, 2, 2, 2}}, SideSelection{2, {1, 1, 1, 1, 1, 1, 1, 1}}}});
    battle->playTurn();
    EXPECT_EQ(lines().at(0), "<html>");
    EXPECT_EQ(lines().at(3), Heading1);
}

TEST_F(TurnLoop, PressingTheButtonDuringABattleRestoresHpAndGoesOnInTheSameReport) {
    load({Card{.id = 1, .sp = " 5", .name = "兵"}});
    start();
    battle->playTurn();
    hp(5) = 1;
    hp(19) = 2;
    state().MagicSealed = {true, true};
    battle->start(Teams{{SideSelection{1, {1, 1, 1, 1, 1, 1, 1, 1}}, SideSelection{2, {1, 1, 1, 1, 1, 1, 1, 1}}}});
    EXPECT_EQ(hp(5), 10);
    EXPECT_EQ(hp(19), 30);
    EXPECT_EQ(state().TurnNo, 1);
    EXPECT_TRUE(state().ReportOpen);
    EXPECT_TRUE(state().MagicSealed[0]) << "cleared by the next turn, not by the button";
    const size_t before = lines().size();
    battle->playTurn();
    const Lines all = lines();
    EXPECT_EQ(all.at(before), "<hr><center><font size=+2><b>2ターン</b></font></center><br>");
    EXPECT_EQ(std::count(all.begin(), all.end(), "<html>"), 1);
    EXPECT_FALSE(state().MagicSealed[0]);
}

TEST_F(TurnLoop, DownFrontCharactersShowDashesAndHpOneStillShows) {
    load({Card{.id = 1, .sp = "25", .name = "兵"}});
    start();
    state().DeckLock = {0, 0};
    hp(3) = 0;
    hp(2) = 1;
    hp(11) = -4;
    battle->playTurn();
    const Lines all = lines();
    EXPECT_EQ(all[6], "<td><center>-----</font></center></td>");
    EXPECT_EQ(all[8], "<td><center>-----</font></center></td>");
    EXPECT_EQ(all[11], "<td><center><font color=\"Blue\"><b>兵</b><br> H:1 A:3 S:25</font></center></td>");
}

TEST_F(TurnLoop, AStartWithAnEmptySelectionIsRefusedAndChangesNothing) {
    load({Idle});
    Teams teams{{SideSelection{1, {1, 1, 0, 1, 1, 1, 1, 1}}, SideSelection{2, {1, 1, 1, 1, 1, 1, 1, 1}}}};
    try {
        battle->start(teams);
        FAIL();
    } catch (const InputError& e) {
        EXPECT_EQ(cp932ToUtf8(e.message()), "C03のカードが選ばれていません");
    }
    teams.side[0].characters[2] = 1;
    teams.side[1].vehicle = 0;
    EXPECT_THROW(battle->start(teams), InputError);
    EXPECT_FALSE(state().BattleRunning);
    EXPECT_EQ(state().slots[1].cardId, 0);
    EXPECT_EQ(state().DeckLock[0], 0);
}

namespace {
struct FailingSink : ReportSink {
    bool failOpen = true;
    bool failWrite = false;
    bool lost = false;
    int opened = 0;
    void open() override {
        if (failOpen)
            throw IoError("cannot create");
        ++opened;
        lost = false;
    }
    void writeLine(std::string_view) override {
        if (failWrite) {
            lost = true;
            throw IoError("cannot write");
        }
    }
    void close() override {}
    bool halt() noexcept override { return !lost; }
};
} // namespace

TEST_F(TurnLoop, FailuresHaltTheTickAndTheNextTickTriesAgain) {
    load({Card{.id = 1, .heal = "xx", .name = "壊"}});
    FailingSink failing;
    battle->report().setSink(&failing);
    start();
    EXPECT_THROW(battle->playTurn(), IoError);
    EXPECT_FALSE(state().ReportOpen);
    EXPECT_EQ(state().TurnNo, 0);
    failing.failOpen = false;
    EXPECT_THROW(battle->playTurn(), ConversionError) << "the first actor's heal column";
    EXPECT_TRUE(state().ReportOpen);
    EXPECT_TRUE(state().BattleRunning);
    EXPECT_THROW(battle->playTurn(), ConversionError);
    EXPECT_EQ(failing.opened, 1) << "a halted report goes on";

    // A write that fails loses the report: the next tick starts a new one.
    failing.failWrite = true;
    EXPECT_THROW(battle->playTurn(), IoError);
    EXPECT_FALSE(state().ReportOpen);
    failing.failWrite = false;
    EXPECT_THROW(battle->playTurn(), ConversionError);
    EXPECT_EQ(failing.opened, 2);
    EXPECT_TRUE(state().ReportOpen);
}
