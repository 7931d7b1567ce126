// The tool dialogs as the Tools menu opens them: the settings they start from are the
// command line tool's, and a number or a run they cannot take is refused where it was
// typed, without leaving a stale word or bar from before.

#include "UiTestSupport.h"

#include "balance/Balance.h"
#include "stats/Statistics.h"
#include "ui/BalanceDialog.h"
#include "ui/CardEditorDialog.h"
#include "ui/OptimizeDialog.h"
#include "ui/StatsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

using namespace morvane;
using namespace morvane::uitest;

TEST(ToolDialogs, StartFromTheSettingsOfTheCommandLineTool) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    auto* stats = openTool<StatsDialog>(p, "DeckStrength1", "StatsDialog");
    auto* optimizer = openTool<OptimizeDialog>(p, "TeamOptimizer1", "OptimizeDialog");
    auto* balance = openTool<BalanceDialog>(p, "CardBalance1", "BalanceDialog");
    ASSERT_TRUE(stats && optimizer && balance);
    EXPECT_EQ(static_cast<uint64_t>(stats->BattleCount->value()), StatsRequest{}.battles);
    const OptimizeRequest search;
    EXPECT_EQ(static_cast<uint64_t>(optimizer->Budget->value()), search.budget);
    EXPECT_EQ(optimizer->SizeRuleBox->isChecked(), search.rules.sizeRule);
    EXPECT_EQ(optimizer->UniqueBox->isChecked(), search.rules.unique);
    EXPECT_EQ(static_cast<uint64_t>(balance->Budget->value()), BalanceRequest{}.budget);
    // One ceiling for a search's battles, whichever tool runs it.
    EXPECT_EQ(static_cast<uint64_t>(optimizer->Budget->maximum()), MaxSearchBudget);
    EXPECT_EQ(static_cast<uint64_t>(balance->Budget->maximum()), MaxSearchBudget);
}

TEST(CardBalanceDialog, RefusesANumberItCannotTakeAsTheOtherToolsDo) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    auto* dialog = openTool<BalanceDialog>(p, "CardBalance1", "BalanceDialog");
    ASSERT_NE(dialog, nullptr);
    auto* budget = dialog->Budget->findChild<QLineEdit*>();
    auto* searches = dialog->Searches->findChild<QLineEdit*>();

    for (const QString& text : {QStringLiteral("0"), QString()}) {
        budget->setText(text);
        EXPECT_FALSE(dialog->StartBtn->isEnabled()) << text.toStdString();
        EXPECT_TRUE(dialog->Status->text().startsWith(utf8("1回の探索の対戦数は")))
            << dialog->Status->text().toStdString();
        dialog->start();
        EXPECT_FALSE(dialog->running()) << "a run started on the last number the box held";
    }
    budget->setText(QStringLiteral("20000"));
    searches->setText(QStringLiteral("0"));
    EXPECT_FALSE(dialog->StartBtn->isEnabled());
    EXPECT_TRUE(dialog->Status->text().startsWith(utf8("探索の回数は"))) << dialog->Status->text().toStdString();

    // Numbers it takes again: the reason goes.
    searches->setText(QStringLiteral("1"));
    EXPECT_TRUE(dialog->StartBtn->isEnabled());
    EXPECT_EQ(dialog->Status->text(), QString());
}

TEST(TeamOptimizerDialog, ARunThatCannotStartOrABudgetTakenAgainLeavesNothingStale) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    auto* dialog = openTool<OptimizeDialog>(p, "TeamOptimizer1", "OptimizeDialog");
    ASSERT_NE(dialog, nullptr);
    dialog->Budget->setValue(2000);
    dialog->StartBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 60000));
    ASSERT_EQ(dialog->Progress->value(), dialog->Progress->maximum());

    // Refused, the new run shows an empty bar beside its reason, not the last run's.
    dialog->FieldChoice->setCurrentIndex(1);
    dialog->StartBtn->click();
    EXPECT_FALSE(dialog->running());
    EXPECT_EQ(dialog->StatusLabel->text(), utf8("相手のデッキファイルを選んでください"));
    EXPECT_EQ(dialog->Progress->value(), 0);

    // A budget taken again takes its reason away with it.
    dialog->FieldChoice->setCurrentIndex(0);
    dialog->Budget->findChild<QLineEdit*>()->setText(QStringLiteral("0"));
    EXPECT_TRUE(dialog->StatusLabel->text().startsWith(utf8("対戦数の上限は")));
    dialog->Budget->findChild<QLineEdit*>()->setText(QStringLiteral("500"));
    EXPECT_TRUE(dialog->StartBtn->isEnabled());
    EXPECT_EQ(dialog->StatusLabel->text(), QString());
}

TEST(CardBalanceDialog, TheMenusAndTheEditorsSayWhichCatalogueAndKeepTheirOwnPages) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    auto* saved = openTool<BalanceDialog>(p, "CardBalance1", "BalanceDialog");
    auto* editor = openEditor(p);
    ASSERT_TRUE(saved && editor && editor->BalanceBtn);
    editor->BalanceBtn->click();
    auto* edited = editor->findChild<BalanceDialog*>("BalanceDialog");
    ASSERT_NE(edited, nullptr);

    const QString catalogue = QString::fromStdString((folder / "card.dat").string());
    EXPECT_EQ(saved->page(), folder / "balance.html");
    EXPECT_EQ(edited->page(), folder / "balance-edited.html");
    EXPECT_TRUE(saved->Source->text().contains(catalogue));
    EXPECT_FALSE(saved->Source->text().contains(utf8("編集中")));
    EXPECT_TRUE(saved->Source->text().contains(QString::fromStdString(saved->page().string())));
    EXPECT_TRUE(edited->Source->text().contains(catalogue + utf8(" (編集中)")));
    EXPECT_TRUE(edited->Source->text().contains(QString::fromStdString(edited->page().string())));
    EXPECT_NE(saved->windowTitle(), edited->windowTitle());
}
