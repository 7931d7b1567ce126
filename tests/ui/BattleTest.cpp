// Battles from the battle button: the 20 ms timer playing turns through the engine,
// the finished report handed to the viewer, restarts, refusals and failing ticks.

#include "UiTestSupport.h"

#include "battle/Battle.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace morvane;
using namespace morvane::uitest;

namespace {
// The report has one head, however often the battle was started.
bool oneHead(const std::string& report) {
    return report.rfind("<html>", 0) == 0 && report.find("<html>", 1) == std::string::npos;
}

bool waitForReport(const Program& p, size_t opened) {
    return QTest::qWaitFor([&] { return p.opener.opened.size() >= opened; }, 60000);
}
} // namespace

TEST(BattleButton, PlaysToTheEndAndOpensTheReportOnce) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    quickBattles(p);
    auto* timer = p.find<QTimer>("Timer1");

    p.find<QPushButton>("BattleBtn")->click();
    EXPECT_TRUE(timer->isActive());
    ASSERT_TRUE(waitForReport(p, 1));
    QTest::qWait(60);

    EXPECT_TRUE(p.messages.errors.empty());
    ASSERT_EQ(p.opener.opened.size(), 1u);
    EXPECT_EQ(p.opener.opened[0], std::filesystem::absolute(folder / "battle.html"));
    EXPECT_FALSE(timer->isActive());
    const BattleState& state = p.main->battle()->state();
    EXPECT_FALSE(state.ReportOpen);
    EXPECT_TRUE(oneHead(readFile(folder / "battle.html")));
    EXPECT_GT(state.TurnNo, 1);
}

TEST(BattleButton, PressedDuringABattleRestoresHpAndGoesOnInTheSameReport) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    auto* button = p.find<QPushButton>("BattleBtn");
    button->click();
    p.main->Timer1Timer();
    p.main->Timer1Timer();
    const BattleState& state = p.main->battle()->state();
    ASSERT_TRUE(state.BattleRunning);
    EXPECT_EQ(state.TurnNo, 2);

    // The user changes a card meanwhile: the running battle keeps its teams.
    const int32_t fighter = state.slots[1].cardId;
    pick(p.find<QComboBox>("C01"), 9);
    EXPECT_EQ(state.slots[1].cardId, fighter);

    button->click();
    EXPECT_EQ(state.slots[1].cardId, 10);
    for (int slot : {1, 8, 11, 18})
        EXPECT_EQ(state.slots[slot].hp, p.main->catalogue().character(state.slots[slot].cardId).hp) << slot;
    EXPECT_EQ(state.slots[19].hp, 99);
    p.main->Timer1Timer();
    EXPECT_EQ(state.TurnNo, 3);
    // The report takes the file's place when the battle ends: one head, with the
    // turns from before the restart.
    while (state.BattleRunning)
        p.main->Timer1Timer();
    const std::string report = readFile(folder / "battle.html");
    EXPECT_TRUE(oneHead(report));
    EXPECT_NE(report.find(utf8ToCp932("<b>1ターン</b>")), std::string::npos);
}

TEST(BattleButton, RefusesEmptySelectionsAndHaltsOnAFailingTick) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    quickBattles(p);
    auto* button = p.find<QPushButton>("BattleBtn");
    auto* timer = p.find<QTimer>("Timer1");

    p.find<QComboBox>("C13")->setCurrentIndex(-1);
    button->click();
    ASSERT_EQ(p.messages.errors.size(), 1u);
    EXPECT_EQ(p.messages.errors[0], utf8("C13のカードが選ばれていません"));
    EXPECT_FALSE(timer->isActive());
    pick(p.find<QComboBox>("C13"), 0);

    // The report cannot be created: the tick fails and the timer stays off.
    std::filesystem::create_directory(folder / "battle.html");
    button->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.messages.errors.size() == 2; }, 5000));
    QTest::qWait(60);
    EXPECT_EQ(p.messages.errors.size(), 2u);
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(p.main->battle()->state().BattleRunning);

    // The battle button resumes it.
    std::filesystem::remove(folder / "battle.html");
    button->click();
    ASSERT_TRUE(waitForReport(p, 1));
    EXPECT_EQ(p.messages.errors.size(), 2u);
}

TEST(BattleButton, NamesACardTheCatalogueLacksByItsIdNotItsSlot) {
    ProgramFolder folder;
    folder.writeStandard();
    folder.write("deck0.dat",
                 crlf({"V001C001C002C045C004C005C006C007C008:000", "V001C001C002C003C004C005C006C007C008:001"}));
    folder.write("deck1.dat", crlf({"V009C002C002C002C002C002C002C002C002:000"}));
    Program p(folder.path());
    quickBattles(p);
    auto* button = p.find<QPushButton>("BattleBtn");

    button->click();
    ASSERT_EQ(p.messages.errors.size(), 1u);
    EXPECT_EQ(p.messages.errors[0], utf8("C03 のカード C045 は card.dat にありません"));
    pick(p.find<QComboBox>("D0"), 1);
    button->click();
    ASSERT_EQ(p.messages.errors.size(), 2u);
    EXPECT_EQ(p.messages.errors[1], utf8("V10 のカード V009 は card.dat にありません"));
    EXPECT_FALSE(p.main->Timer1->isActive());

    // A team put in whole (the optimizer's) names nothing missing; a slot emptied by
    // hand is named by the slot, nothing having been chosen there.
    p.main->TeamSet(1, SideSelection{3, {2, 2, 2, 2, 2, 2, 2, 2}});
    p.find<QComboBox>("C13")->setCurrentIndex(-1);
    button->click();
    ASSERT_EQ(p.messages.errors.size(), 3u);
    EXPECT_EQ(p.messages.errors[2], utf8("C13のカードが選ばれていません"));
}
