// The team optimizer in the window: a search on worker threads from a side's team
// against the other side's list, whose result the core gives too, that "apply" puts
// into the side's selectors with fresh labels, and that a cancel or a closed window
// ends cleanly, the measurement after the search included.

#include "../ui/UiTestSupport.h"

#include "stats/ResultText.h"
#include "ui/OptimizeDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

using namespace morvane;
using namespace morvane::uitest;

namespace {

OptimizeDialog* openDialog(Program& p) {
    return openTool<OptimizeDialog>(p, "TeamOptimizer1", "OptimizeDialog");
}

} // namespace

TEST(TeamOptimizerDialog, FindsWhatTheCoreFindsAndApplyPutsItIntoTheSidesSelectors) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    // One Tools menu holds the tools (deck strength, optimizer, card editor), in Japanese.
    auto* tools = p.main->findChild<QMenu*>(QStringLiteral("Tools1"));
    ASSERT_NE(tools, nullptr);
    EXPECT_EQ(tools->title(), utf8("ツール"));
    EXPECT_EQ(tools->actions().size(), 4);
    OptimizeDialog* dialog = openDialog(p);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    EXPECT_FALSE(dialog->ApplyBtn->isEnabled());

    const SideSelection before = p.main->currentTeams().side[0];
    dialog->Budget->setValue(3000);
    dialog->StartBtn->click();
    EXPECT_TRUE(dialog->running());
    EXPECT_FALSE(dialog->StartBtn->isEnabled());
    // The window stays in use: an edit during the run changes the editor, not the run.
    pick(p.find<QComboBox>("C02"), 9);
    EXPECT_EQ(p.find<QLabel>("C02data")->text(), utf8("HP:20 AP: 3 SP: 5"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 60000));

    ASSERT_TRUE(dialog->outcome().has_value()) << dialog->ResultText->toPlainText().toStdString();
    const Optimization& run = dialog->outcome()->run;
    EXPECT_EQ(dialog->request().start, before);
    ASSERT_EQ(dialog->request().field.decks.size(), 1u); // the bottom side's one deck line
    EXPECT_LE(run.search.battles, 3000u);
    EXPECT_FALSE(run.search.cancelled);
    const OptimizeResult expected = optimizeTeam(p.main->catalogue(), dialog->request());
    EXPECT_EQ(run.search.best, expected.best);
    EXPECT_EQ(run.search.battles, expected.battles);
    EXPECT_EQ(run.best.total().battles, OptimizeDialog::FinalBattles * 2);
    EXPECT_EQ(dialog->Progress->value(), dialog->Progress->maximum());
    const QString text = dialog->ResultText->toPlainText();
    EXPECT_TRUE(text.contains(utf8("最良のチーム  ") + QString::fromStdString(percentText(run.best.total().winRate()))))
        << text.toStdString();
    EXPECT_TRUE(text.contains(utf8("シード: %1").arg(dialog->seed())));
    EXPECT_TRUE(dialog->BestLabel->text().contains(fromCp932(formatDeckLine(run.search.best, 0))));

    // Apply: the top side's selectors show the found team, and the labels follow.
    ASSERT_TRUE(dialog->ApplyBtn->isEnabled());
    dialog->ApplyBtn->click();
    EXPECT_EQ(p.main->currentTeams().side[0], run.search.best);
    int total = 0;
    for (const int32_t id : run.search.best.characters)
        total += id;
    const int deckSize[] = {0, 50, 30, 9};
    EXPECT_EQ(p.find<QLabel>("AllData0")->text(),
              QStringLiteral("Size %1(%2)").arg(total).arg(deckSize[run.search.best.vehicle]));
    EXPECT_EQ(p.find<QLabel>("C02data")->text(),
              QStringLiteral("HP:%1 AP: 3 SP: 5").arg(10 + run.search.best.characters[1]));
    EXPECT_EQ(p.find<QComboBox>("D0")->count(), 2); // the list is left alone
    EXPECT_TRUE(p.messages.errors.empty());
}

TEST(TeamOptimizerDialog, RefusesABadStartTeamAndCancelLeavesTheWindowUsable) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    OptimizeDialog* dialog = openDialog(p);
    ASSERT_NE(dialog, nullptr);

    // The bottom team, eight size-2 cards on a deck size of 9, breaks the size rule.
    dialog->TeamSide->setCurrentIndex(1);
    dialog->StartBtn->click();
    EXPECT_FALSE(dialog->running());
    EXPECT_FALSE(dialog->outcome().has_value());
    EXPECT_TRUE(dialog->StatusLabel->text().startsWith(utf8("開始チーム: サイズ合計がデッキサイズを超えています")))
        << dialog->StatusLabel->text().toStdString();

    // Without the rule it runs; a cancel ends it with the best team so far, which is
    // offered, and no measurement of it is made up.
    dialog->SizeRuleBox->setChecked(false);
    dialog->Budget->setValue(dialog->Budget->maximum());
    dialog->StartBtn->click();
    ASSERT_TRUE(dialog->running());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->BestLabel->text().isEmpty(); }, 30000));
    dialog->CancelBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 30000));
    ASSERT_TRUE(dialog->outcome().has_value()) << dialog->StatusLabel->text().toStdString();
    EXPECT_TRUE(dialog->outcome()->run.search.cancelled);
    EXPECT_FALSE(dialog->outcome()->run.measured());
    EXPECT_TRUE(dialog->ResultText->toPlainText().startsWith(utf8("中止しました。")));
    EXPECT_TRUE(dialog->ResultText->toPlainText().contains(utf8("測定はしていません")));
    EXPECT_TRUE(dialog->StartBtn->isEnabled());
    EXPECT_FALSE(dialog->CancelBtn->isEnabled());

    // The window plays its own battle as before.
    quickBattles(p);
    p.find<QPushButton>("BattleBtn")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.opener.opened.size() == 1; }, 60000));
    EXPECT_TRUE(p.messages.errors.empty());
    dialog->ApplyBtn->click();
    EXPECT_EQ(p.main->currentTeams().side[1], dialog->outcome()->run.search.best);

    // Closing the window in the middle of a run stops it and waits for its threads.
    dialog->StartBtn->click();
    EXPECT_TRUE(dialog->running());
    p.main.reset();
}

TEST(TeamOptimizerDialog, StopEndsTheMeasurementTooAndSaysWhichPhaseRuns) {
    ProgramFolder folder;
    folder.writeStandard();
    // A long field makes a long measurement after a one-battle search.
    std::string field;
    for (int i = 0; i < 300; ++i)
        field += "V001C001C002C003C004C005C006C007C008:000\r\n";
    folder.write("field.dat", field);
    Program p(folder.path());
    OptimizeDialog* dialog = openDialog(p);
    ASSERT_NE(dialog, nullptr);
    dialog->FieldChoice->setCurrentIndex(1);
    dialog->FieldFile->setText(QString::fromStdString((folder / "field.dat").string()));
    dialog->Budget->setValue(1);
    dialog->StartBtn->click();
    ASSERT_TRUE(dialog->running());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->StatusLabel->text().startsWith(utf8("測定中")); }, 60000))
        << dialog->StatusLabel->text().toStdString();
    dialog->CancelBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 60000));
    ASSERT_TRUE(dialog->outcome().has_value());
    EXPECT_FALSE(dialog->outcome()->run.measured()) << "the measurement ran to its end after 中止";
    EXPECT_TRUE(dialog->ApplyBtn->isEnabled());

    // Closing the dialog during the measurement stops it as well.
    dialog->StartBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->StatusLabel->text().startsWith(utf8("測定中")); }, 60000));
    dialog->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 60000));
    EXPECT_FALSE(dialog->outcome()->run.measured());
}

TEST(TeamOptimizerDialog, RefusesWhatItCannotTakeWhereItIsTypedAndKeepsTheLastResult) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    OptimizeDialog* dialog = openDialog(p);
    ASSERT_NE(dialog, nullptr);
    dialog->Budget->setValue(2000);
    dialog->StartBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 60000));
    ASSERT_TRUE(dialog->outcome().has_value());
    const QString result = dialog->ResultText->toPlainText();

    // A budget typed as 0, or cleared, is not silently the last one.
    dialog->Budget->findChild<QLineEdit*>()->setText(QStringLiteral("0"));
    EXPECT_FALSE(dialog->StartBtn->isEnabled());
    EXPECT_TRUE(dialog->StatusLabel->text().contains(utf8("対戦数の上限")))
        << dialog->StatusLabel->text().toStdString();
    dialog->Budget->findChild<QLineEdit*>()->clear();
    EXPECT_FALSE(dialog->StartBtn->isEnabled());
    dialog->Budget->findChild<QLineEdit*>()->setText(QStringLiteral("500"));
    EXPECT_TRUE(dialog->StartBtn->isEnabled());

    // An empty deck file path says what is missing; the last result stays.
    dialog->FieldChoice->setCurrentIndex(1);
    dialog->FieldFile->clear();
    dialog->StartBtn->click();
    EXPECT_FALSE(dialog->running());
    EXPECT_EQ(dialog->StatusLabel->text(), utf8("相手のデッキファイルを選んでください"));
    EXPECT_EQ(dialog->ResultText->toPlainText(), result);
    EXPECT_TRUE(dialog->ApplyBtn->isEnabled());
}
