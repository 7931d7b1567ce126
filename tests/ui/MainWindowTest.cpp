// The team editor of the main window: start-up from the program folder, the stat
// labels, the deck lists and their files.

#include "UiTestSupport.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace morvane;
using namespace morvane::uitest;

namespace {
QString label(const Program& p, const char* name) {
    return p.find<QLabel>(name)->text();
}
QComboBox* list(const Program& p, const char* name) {
    return p.find<QComboBox>(name);
}
} // namespace

TEST(MainWindowStartup, FillsSelectorsAppliesFirstDecksAndComputesLabels) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    EXPECT_TRUE(p.messages.errors.empty());

    // Entries in id order whatever the file order, each carrying its card id.
    QComboBox* c18 = list(p, "C18");
    ASSERT_EQ(c18->count(), 10);
    EXPECT_EQ(c18->itemText(0), utf8("兵士1(1)"));
    EXPECT_EQ(c18->itemData(9).toInt(), 10);
    EXPECT_EQ(list(p, "V10")->itemText(1), utf8("飛行船(30)"));
    EXPECT_EQ(p.find<QPlainTextEdit>("Memo1")->toPlainText().split('\n').size(), 14);

    // The first deck of each side is applied; a deck's entry keeps the text after its number.
    EXPECT_EQ(list(p, "D0")->currentIndex(), 0);
    EXPECT_EQ(list(p, "D0")->itemText(1), utf8("001 控え"));
    EXPECT_EQ(list(p, "C08")->currentData().toInt(), 8);
    EXPECT_EQ(list(p, "V10")->currentData().toInt(), 3);
    EXPECT_EQ(label(p, "AllData0"), "Size 36(50)");
    EXPECT_EQ(label(p, "AllData1"), "Size 16(9)");
    EXPECT_EQ(label(p, "C01data"), "HP:11 AP: 3 SP: 5");
    EXPECT_EQ(label(p, "V00data"), "HP:40 AP: 0 SP: 0");
    EXPECT_EQ(list(p, "SvrDirMax")->currentText(), "1");
    // A fixed frame that can be minimised, not maximised.
    EXPECT_EQ(p.main->minimumSize(), p.main->maximumSize());
    EXPECT_FALSE(p.main->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST(MainWindowStartup, MissingFilesShowTheErrorAndSkipTheRest) {
    {
        ProgramFolder folder;
        Program p(folder.path());
        ASSERT_EQ(p.messages.errors.size(), 1u);
        EXPECT_EQ(p.messages.errors[0], utf8("ﾌｧｲﾙが見つかりません"));
        EXPECT_EQ(list(p, "C01")->count(), 0);
        EXPECT_EQ(label(p, "C02data"), "C02data");
    }
    // deck0.dat missing: deck1.dat stays unread and nothing is selected.
    ProgramFolder folder;
    folder.write("card.dat", smallCatalogue());
    folder.write("deck1.dat", Deck1);
    Program p(folder.path());
    ASSERT_EQ(p.messages.errors.size(), 1u);
    EXPECT_EQ(list(p, "C01")->currentIndex(), -1);
    EXPECT_EQ(list(p, "D1")->count(), 0);
    EXPECT_EQ(label(p, "C01data"), "HP:00 AP:00 SP:00 Size:00");
}

TEST(TeamEditor, LabelsFollowUserPicksAndKeepColumnTexts) {
    ProgramFolder folder;
    folder.write("card.dat", crlf({characterLine(1, " 1", "05", "12", " 3", "a"),
                                   characterLine(2, "40", "10", " 3", " 5", "b"), vehicleLine(1, "50", "40", "v")}));
    folder.write("deck0.dat", "V001C001C001C001C001C001C001C001C001:000\r\n");
    folder.write("deck1.dat", "V001C001C001C001C001C001C001C001C001:000\r\n");
    Program p(folder.path());
    EXPECT_EQ(label(p, "C05data"), "HP:05 AP:12 SP: 3");

    // A selection from code raises no change; the user's pick does, for both sides.
    list(p, "C03")->setCurrentIndex(1);
    EXPECT_EQ(label(p, "C03data"), "HP:05 AP:12 SP: 3");
    pick(list(p, "C14"), 1);
    EXPECT_EQ(label(p, "C03data"), "HP:10 AP: 3 SP: 5");
    EXPECT_EQ(label(p, "AllData0"), "Size 47(50)");
    EXPECT_EQ(label(p, "AllData1"), "Size 47(50)");

    // A slot without a selection counts nothing and shows nothing.
    list(p, "C17")->setCurrentIndex(-1);
    pick(list(p, "V10"), 0);
    EXPECT_EQ(label(p, "C17data"), "");
    EXPECT_EQ(label(p, "AllData1"), "Size 46(50)");
}

TEST(DeckLists, AddPickSaveAndReload) {
    ProgramFolder folder;
    folder.writeStandard();
    {
        Program p(folder.path());
        QComboBox* d0 = list(p, "D0");
        // The team as it stands, numbered by its place; the selection does not move.
        list(p, "C08")->setCurrentIndex(-1);
        p.find<QPushButton>("AddBtn0")->click();
        EXPECT_EQ(d0->itemText(2), "002");
        EXPECT_EQ(d0->currentIndex(), 0);
        EXPECT_EQ(p.find<QPlainTextEdit>("Memo2")->toPlainText().split('\n').back(),
                  "V001C001C002C003C004C005C006C007C000:002");

        pick(d0, 1);
        EXPECT_EQ(list(p, "C01")->currentData().toInt(), 10);
        EXPECT_EQ(label(p, "AllData0"), "Size 52(30)");
        // The stored 000 leaves the selector empty.
        pick(d0, 2);
        EXPECT_EQ(list(p, "C08")->currentIndex(), -1);

        p.find<QPushButton>("SaveBtn0")->click();
        p.find<QPushButton>("AddBtn1")->click();
        EXPECT_TRUE(p.messages.errors.empty());
        EXPECT_EQ(readFile(folder / "deck0.dat"), Deck0 + "V001C001C002C003C004C005C006C007C000:002\r\n\r\n");
    }
    Program again(folder.path());
    EXPECT_EQ(list(again, "D0")->count(), 3);
    EXPECT_EQ(list(again, "D0")->itemText(1), utf8("001 控え"));
    // Side 1 was not saved: its added line is gone.
    EXPECT_EQ(list(again, "D1")->count(), 1);
}

TEST(DeckLists, ASaveAfterAFailedStartNeverEmptiesAFileItDidNotRead) {
    // deck0.dat missing: start-up stops before deck1.dat is read.
    ProgramFolder folder;
    folder.write("card.dat", smallCatalogue());
    folder.write("deck1.dat", Deck1);
    Program p(folder.path());
    ASSERT_EQ(p.messages.errors.size(), 1u);

    p.find<QPushButton>("SaveBtn1")->click();
    ASSERT_EQ(p.messages.errors.size(), 2u);
    EXPECT_EQ(p.messages.errors[1], utf8("読み込んでいないﾌｧｲﾙには記録できません"));
    EXPECT_EQ(readFile(folder / "deck1.dat"), Deck1);

    // Where no file exists, the save makes one from the list as it stands.
    p.find<QPushButton>("AddBtn0")->click();
    p.find<QPushButton>("SaveBtn0")->click();
    EXPECT_EQ(p.messages.errors.size(), 2u);
    EXPECT_EQ(readFile(folder / "deck0.dat"), "V000C000C000C000C000C000C000C000C000:000\r\n\r\n");
}

TEST(DeckLists, BadLinesEmptyFilesAndFailedSaves) {
    ProgramFolder folder;
    folder.write("card.dat", smallCatalogue());
    folder.write("deck0.dat", Deck0 + "V002C009C0x9C009C009C009C009C009C009:002\r\n");
    folder.write("deck1.dat", "\r\n\r\n");
    Program p(folder.path());
    // The empty deck1.dat has no first line to apply.
    ASSERT_EQ(p.messages.errors.size(), 1u);
    EXPECT_EQ(p.messages.errors[0], utf8("'' は整数ではありません"));

    // The columns before the bad one are applied; the labels are not recomputed.
    list(p, "C03")->setCurrentIndex(0);
    const QString before = label(p, "AllData0");
    pick(list(p, "D0"), 2);
    ASSERT_EQ(p.messages.errors.size(), 2u);
    EXPECT_EQ(p.messages.errors[1], utf8("'0x9' は整数ではありません"));
    EXPECT_EQ(list(p, "C01")->currentData().toInt(), 9);
    EXPECT_EQ(list(p, "C03")->currentData().toInt(), 1);
    EXPECT_EQ(label(p, "AllData0"), before);

    // The first add to an empty list selects nothing.
    p.find<QPushButton>("AddBtn1")->click();
    EXPECT_EQ(list(p, "D1")->itemText(0), "000");
    EXPECT_EQ(list(p, "D1")->currentIndex(), -1);

    // A list that cannot be written: the error is shown and nothing else changes.
    std::filesystem::remove(folder / "deck0.dat");
    std::filesystem::create_directories(folder / "deck0.dat" / "keep");
    p.find<QPushButton>("SaveBtn0")->click();
    EXPECT_EQ(p.messages.errors.size(), 3u);
    EXPECT_TRUE(std::filesystem::exists(folder / "deck0.dat" / "keep"));
}
