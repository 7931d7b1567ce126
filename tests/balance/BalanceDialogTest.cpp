// The balance analysis in the window: "ツール" > "カードのバランス..." runs the core's
// analysis of the window's catalogue against both deck lists on worker threads, writes
// the page into the program folder and hands it to the viewer; closing the window or
// cancelling ends the run without a page.

#include "../ui/UiTestSupport.h"

#include "BalanceCards.h"
#include "common/Files.h"
#include "ui/BalanceDialog.h"
#include "ui/CardEditorDialog.h"
#include "ui/CardTableModel.h"
#include "ui/SuggestDialog.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>
#include <QUndoStack>

using namespace morvane;
using namespace morvane::uitest;

namespace {

BalanceDialog* openDialog(Program& p) {
    auto* dialog = openTool<BalanceDialog>(p, "CardBalance1", "BalanceDialog");
    if (dialog) {
        EXPECT_EQ(p.find<QAction>("CardBalance1")->text(), utf8("カードのバランス..."));
    }
    return dialog;
}

void writeLopsided(const ProgramFolder& folder) {
    folder.write("card.dat", test::lopsidedCatalogue());
    folder.write("deck0.dat", std::string(test::LopsidedDeck0) + "\r\n");
    folder.write("deck1.dat", std::string(test::LopsidedDeck1) + "\r\n");
}

} // namespace

TEST(BalanceDialog, AnalysesTheWindowsCatalogueAndOpensThePage) {
    ProgramFolder folder;
    writeLopsided(folder);
    Program p(folder.path());
    BalanceDialog* dialog = openDialog(p);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->OpenBtn->isEnabled());
    dialog->Searches->setValue(2);
    dialog->MaxSearches->setValue(8);
    dialog->Budget->setValue(100000);
    dialog->StartBtn->click();
    EXPECT_TRUE(dialog->running());
    EXPECT_FALSE(dialog->StartBtn->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 120000));

    ASSERT_TRUE(dialog->report().has_value()) << dialog->Status->text().toStdString();
    const BalanceReport& r = *dialog->report();
    EXPECT_EQ(r.searches.size(), 8u);  // two asked for, six more while a card is open
    EXPECT_EQ(r.request.seed, 12345u); // the clock's
    EXPECT_EQ(r.request.field.decks.size(), 2u);
    const std::filesystem::path page = folder / "balance.html";
    ASSERT_EQ(p.opener.opened, std::vector<std::filesystem::path>{page});
    const std::string bytes = readFileBytes(page);
    EXPECT_NE(bytes.find("強すぎる剣士"), std::string::npos);
    EXPECT_NE(bytes.find("deck1.dat:1"), std::string::npos);
    const QString status = dialog->Status->text();
    EXPECT_TRUE(status.contains(utf8("決めすぎるカード: C001 強すぎる剣士"))) << status.toStdString();
    EXPECT_TRUE(status.contains(utf8("まだ決まらないカード: "))) << status.toStdString();
    EXPECT_EQ(dialog->Progress->value(), dialog->Progress->maximum());
    EXPECT_TRUE(dialog->OpenBtn->isEnabled());
    dialog->OpenBtn->click();
    EXPECT_EQ(p.opener.opened.size(), 2u);
}

TEST(BalanceDialog, CancelWritesNoPageAndAFieldThatCannotPlayIsSaid) {
    ProgramFolder folder;
    writeLopsided(folder);
    Program p(folder.path());
    BalanceDialog* dialog = openDialog(p);
    ASSERT_NE(dialog, nullptr);
    dialog->Budget->setValue(2000000);
    dialog->StartBtn->click();
    ASSERT_TRUE(dialog->running());
    dialog->CancelBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 60000));
    EXPECT_FALSE(dialog->report().has_value());
    EXPECT_EQ(dialog->Status->text(), utf8("中止しました。"));
    EXPECT_FALSE(std::filesystem::exists(folder / "balance.html"));
    EXPECT_TRUE(p.opener.opened.empty());

    // Closing the window mid-run stops the run before the window goes.
    dialog->StartBtn->click();
    ASSERT_TRUE(dialog->running());
    p.main.reset();
    EXPECT_FALSE(std::filesystem::exists(folder / "balance.html"));

    // A stored deck with a card the catalogue lacks cannot play: nothing starts, and
    // the line is named.
    folder.write("deck1.dat", "V002C006C005C004C003C006C005C004C009:000\r\n");
    Program q(folder.path());
    BalanceDialog* again = openDialog(q);
    ASSERT_NE(again, nullptr);
    again->StartBtn->click();
    EXPECT_FALSE(again->running());
    EXPECT_TRUE(again->Status->text().startsWith(QStringLiteral("deck1.dat:1: ")))
        << again->Status->text().toStdString();
}

TEST(BalanceDialog, TheCardEditorsButtonAnalysesTheCatalogueAsEdited) {
    ProgramFolder folder;
    writeLopsided(folder);
    Program p(folder.path());
    // The editor reads card.dat when it opens: a catalogue changed since the window
    // started is the one it edits, and the one its button analyses.
    folder.write("card.dat", test::lopsidedCatalogue("改名した剣士"));
    auto* edit = p.main->findChild<QAction*>(QStringLiteral("CardEditor1"));
    ASSERT_NE(edit, nullptr);
    edit->trigger();
    auto* editor = p.main->findChild<QDialog*>(QStringLiteral("CardEditorDialog"));
    ASSERT_NE(editor, nullptr);
    auto* button = editor->findChild<QPushButton*>(QStringLiteral("BalanceBtn"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), utf8("バランスを調べる..."));
    button->click();
    auto* dialog = editor->findChild<BalanceDialog*>(QStringLiteral("BalanceDialog"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    dialog->Searches->setValue(1);
    dialog->MaxSearches->setValue(1);
    dialog->Budget->setValue(20000);
    dialog->StartBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 120000));
    ASSERT_TRUE(dialog->report().has_value()) << dialog->Status->text().toStdString();
    // Its own page: the Tools menu's analysis of the saved catalogue keeps its page.
    EXPECT_FALSE(std::filesystem::exists(folder / "balance.html"));
    const std::string page = readFileBytes(folder / "balance-edited.html");
    EXPECT_NE(page.find("改名した剣士"), std::string::npos);
    EXPECT_EQ(page.find("強すぎる剣士"), std::string::npos);
    // The same button shows the same dialog again.
    button->click();
    EXPECT_EQ(editor->findChildren<BalanceDialog*>().size(), 1);
}

TEST(SuggestDialog, TheEditorsProposalsGoInAsOneStepThatUndoTakesBack) {
    ProgramFolder folder;
    writeLopsided(folder);
    Program p(folder.path());
    p.main->findChild<QAction*>(QStringLiteral("CardEditor1"))->trigger();
    auto* editor = p.main->findChild<CardEditorDialog*>(QStringLiteral("CardEditorDialog"));
    ASSERT_NE(editor, nullptr);
    auto* button = editor->findChild<QPushButton*>(QStringLiteral("SuggestBtn"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), utf8("提案を見る..."));
    button->click();
    auto* dialog = editor->findChild<SuggestDialog*>(QStringLiteral("SuggestDialog"));
    ASSERT_NE(dialog, nullptr);
    dialog->Searches->setValue(2);
    dialog->Budget->setValue(20000);
    dialog->Candidates->setValue(3);
    dialog->StartBtn->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->running(); }, 120000));
    ASSERT_FALSE(dialog->proposals().empty()) << dialog->Status->text().toStdString();
    ASSERT_EQ(dialog->List->topLevelItemCount(), static_cast<int>(dialog->proposals().size()) + 1);

    // The best proposal goes into the edited catalogue, and one undo takes it out.
    const std::string before = editor->sheet().document().bytes();
    const FieldChange change = dialog->proposals().front().change;
    dialog->List->setCurrentItem(dialog->List->topLevelItem(1));
    ASSERT_TRUE(dialog->applySelected()) << dialog->Status->text().toStdString();
    std::string expected = before;
    expected.replace(expected.find(change.before), change.before.size(), change.after);
    EXPECT_EQ(editor->sheet().document().bytes(), expected);
    EXPECT_TRUE(editor->modified());
    editor->sheet().undoStack()->undo();
    EXPECT_EQ(editor->sheet().document().bytes(), before);
    // A card changed since the proposal is not changed again over it.
    editor->sheet().undoStack()->redo();
    EXPECT_FALSE(dialog->applySelected());
    EXPECT_TRUE(dialog->Status->text().contains(utf8("提案の後に変わっています")))
        << dialog->Status->text().toStdString();
}
