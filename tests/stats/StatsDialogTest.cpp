// The deck strength dialog in the window: a run on worker threads that counts what the
// core counts, reads the teams once, can be cancelled, and leaves the window usable.

#include "../ui/UiTestSupport.h"

#include "ui/StatsDialog.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

using namespace morvane;
using namespace morvane::uitest;

namespace {

StatsDialog* openDialog(Program& p) {
    return openTool<StatsDialog>(p, "DeckStrength1", "StatsDialog");
}

bool sameCounts(const StatsResult& a, const StatsResult& b) {
    return a.battles() == b.battles() && a.topWins() == b.topWins() && a.bottomWins() == b.bottomWins() &&
           a.undecided() == b.undecided() && a.turnsTotal() == b.turnsTotal() && a.lengths().max() == b.lengths().max();
}

} // namespace

TEST(DeckStrengthDialog, CountsWhatTheCoreCountsForTheTeamsShownAtItsStart) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    StatsDialog* dialog = openDialog(p);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());

    const Teams before = p.main->currentTeams();
    dialog->BattleCount->setValue(3000);
    dialog->StartBtn->click();
    EXPECT_TRUE(dialog->running());
    EXPECT_FALSE(dialog->StartBtn->isEnabled());
    pick(p.main->findChild<QComboBox*>(QStringLiteral("C01")), 9); // an edit during the run
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 60000));

    ASSERT_TRUE(dialog->result().has_value()) << dialog->ResultLabel->text().toStdString();
    EXPECT_EQ(dialog->teams().side[0], before.side[0]);
    StatsRequest request;
    request.teams = before;
    request.battles = 3000;
    request.seed = dialog->seed();
    const StatsResult expected = playStatistics(p.main->catalogue(), request);
    EXPECT_TRUE(sameCounts(*dialog->result(), expected));
    EXPECT_FALSE(dialog->result()->cancelled);
    EXPECT_EQ(dialog->Progress->value(), dialog->Progress->maximum());
    EXPECT_TRUE(dialog->ResultLabel->text().contains(QString::number(expected.topWins())));
    EXPECT_TRUE(dialog->ResultLabel->text().contains(QStringLiteral("--seed %1").arg(dialog->seed())));

    // The picture's bar gives each side its share of the width: the top side's colour
    // from the left, the bottom side's from the right, each as wide as its wins.
    const QImage picture = dialog->Chart->grab().toImage();
    ASSERT_GT(expected.topWins() * 10, expected.battles()) << "the top side's share is wide enough to see";
    const int row = 12;
    const int left = 8;
    const int right = picture.width() - 9;
    auto runOf = [&](int from, int step) {
        int length = 0;
        for (int x = from; x >= left && x <= right && picture.pixelColor(x, row) == picture.pixelColor(from, row);
             x += step)
            ++length;
        return length;
    };
    const int width = right - left + 1;
    EXPECT_NE(picture.pixelColor(left, row), picture.pixelColor(right, row));
    EXPECT_NEAR(runOf(left, 1), width * expected.topWinRate(), 6); // the shares' texts lie below this row
    EXPECT_NEAR(runOf(right, -1), width * expected.bottomWinRate(), 2);

    // The next run reads the edited teams.
    dialog->BattleCount->setValue(10);
    dialog->StartBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 60000));
    EXPECT_EQ(dialog->teams().side[0].characters[0], p.main->currentTeams().side[0].characters[0]);
    EXPECT_NE(dialog->teams().side[0], before.side[0]);
}

TEST(DeckStrengthDialog, CancelStopsTheRunAndLeavesTheWindowUsable) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    StatsDialog* dialog = openDialog(p);
    ASSERT_NE(dialog, nullptr);

    // Enough battles that only the cancel ends the run; progress shows after a thousand.
    dialog->BattleCount->setValue(1000000);
    dialog->StartBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->Progress->value() > 0; }, 30000));
    dialog->CancelBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 10000));
    ASSERT_TRUE(dialog->result().has_value());
    EXPECT_TRUE(dialog->result()->cancelled);
    EXPECT_GT(dialog->result()->battles(), 0u);
    EXPECT_TRUE(dialog->StartBtn->isEnabled());
    EXPECT_FALSE(dialog->CancelBtn->isEnabled());
    // The replay line plays the battles that were counted, not the ones asked for.
    EXPECT_TRUE(dialog->ResultLabel->text().contains(QStringLiteral("--battles %1").arg(dialog->result()->battles())))
        << dialog->ResultLabel->text().toStdString();

    // A count typed as 0 or cleared is refused where it is typed, not replaced by the
    // last count.
    dialog->BattleCount->findChild<QLineEdit*>()->setText(QStringLiteral("0"));
    EXPECT_FALSE(dialog->StartBtn->isEnabled());
    EXPECT_TRUE(dialog->CountNote->isVisibleTo(dialog));
    dialog->BattleCount->findChild<QLineEdit*>()->clear();
    EXPECT_FALSE(dialog->StartBtn->isEnabled());
    dialog->StartBtn->click();
    EXPECT_FALSE(dialog->running());
    dialog->BattleCount->findChild<QLineEdit*>()->setText(QStringLiteral("200"));
    EXPECT_TRUE(dialog->StartBtn->isEnabled());
    EXPECT_FALSE(dialog->CountNote->isVisibleTo(dialog));

    // The window plays its own battle as before.
    quickBattles(p);
    p.main->findChild<QPushButton*>(QStringLiteral("BattleBtn"))->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.opener.opened.size() == 1; }, 60000));
    EXPECT_TRUE(p.messages.errors.empty());

    // A team with an empty slot is refused with the program's message, not a crash.
    p.main->findChild<QComboBox*>(QStringLiteral("C12"))->setCurrentIndex(-1);
    dialog->StartBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 10000));
    EXPECT_FALSE(dialog->result().has_value());
    EXPECT_TRUE(dialog->ResultLabel->text().startsWith(QStringLiteral("C12")))
        << dialog->ResultLabel->text().toStdString();

    // Closing the window in the middle of a run stops it and waits for its threads.
    p.main->findChild<QComboBox*>(QStringLiteral("C12"))->setCurrentIndex(0);
    dialog->StartBtn->click();
    EXPECT_TRUE(dialog->running());
    const QPointer<StatsDialog> watched(dialog);
    p.main.reset();
    EXPECT_TRUE(watched.isNull());
}
