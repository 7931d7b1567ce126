// The team editor of the main window: start-up from the program folder, the stat
// labels, the deck lists and their files, and the window's layout.

#include "UiTestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

using namespace morvane;
using namespace morvane::uitest;

namespace {
QString labelText(const Program& p, const char* name) {
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
    QComboBox* c01 = list(p, "C01");
    ASSERT_EQ(c01->count(), 10);
    EXPECT_EQ(c01->itemText(0), utf8("兵士1(1)"));
    EXPECT_EQ(c01->itemText(9), utf8("兵士10(10)"));
    EXPECT_EQ(c01->itemData(9).toInt(), 10);
    EXPECT_EQ(list(p, "C18")->count(), 10);
    EXPECT_EQ(list(p, "V10")->itemText(1), utf8("飛行船(30)"));
    // Every non-empty line of card.dat, comment included, in file order.
    EXPECT_EQ(p.find<QPlainTextEdit>("Memo1")->toPlainText().split('\n').size(), 14);

    // First deck of each side applied; the second deck keeps its text after the number.
    EXPECT_EQ(list(p, "D0")->count(), 2);
    EXPECT_EQ(list(p, "D0")->currentIndex(), 0);
    EXPECT_EQ(list(p, "D0")->itemText(1), utf8("001 控え"));
    EXPECT_EQ(list(p, "V00")->currentData().toInt(), 1);
    EXPECT_EQ(list(p, "C08")->currentData().toInt(), 8);
    EXPECT_EQ(list(p, "V10")->currentData().toInt(), 3);
    EXPECT_EQ(p.find<QPlainTextEdit>("Memo3")->toPlainText(), "V003C002C002C002C002C002C002C002C002:000");

    // Sizes 1..8 against the tank's 50; eight times size 2 against the fort's 9.
    EXPECT_EQ(labelText(p, "AllData0"), "Size 36(50)");
    EXPECT_EQ(labelText(p, "AllData1"), "Size 16(9)");
    EXPECT_EQ(labelText(p, "C01data"), "HP:11 AP: 3 SP: 5");
    EXPECT_EQ(labelText(p, "V00data"), "HP:40 AP: 0 SP: 0");

    EXPECT_EQ(list(p, "SvrDirMax")->currentText(), "1");
    EXPECT_EQ(list(p, "SvrDirMax")->count(), 14);
    EXPECT_FALSE(p.find<QTimer>("Timer1")->isActive());
    EXPECT_EQ(p.find<QTimer>("Timer1")->interval(), 20);
    EXPECT_FALSE(p.find<QTimer>("SaverTimer")->isActive());
    EXPECT_EQ(p.find<QTimer>("SaverTimer")->interval(), 1000);
    // The tray icon was added while the window was created.
    ASSERT_FALSE(p.tray.calls.empty());
    EXPECT_EQ(p.tray.calls.front().command, TrayCommand::Add);
}

TEST(MainWindowStartup, MissingFilesShowTheErrorAndSkipTheRest) {
    {
        ProgramFolder folder;
        Program p(folder.path());
        ASSERT_EQ(p.messages.errors.size(), 1u);
        EXPECT_EQ(p.messages.errors[0], utf8("ﾌｧｲﾙが見つかりません"));
        EXPECT_EQ(list(p, "C01")->count(), 0);
        EXPECT_EQ(labelText(p, "C02data"), "C02data");
        EXPECT_EQ(labelText(p, "AllData0"), "size00(00)");
        EXPECT_TRUE(p.main->isEnabled());
    }
    {
        // deck0.dat missing: deck1.dat stays unread and nothing is selected.
        ProgramFolder folder;
        folder.write("card.dat", smallCatalogue());
        folder.write("deck1.dat", Deck1);
        Program p(folder.path());
        ASSERT_EQ(p.messages.errors.size(), 1u);
        EXPECT_EQ(list(p, "C01")->count(), 10);
        EXPECT_EQ(list(p, "C01")->currentIndex(), -1);
        EXPECT_EQ(list(p, "D1")->count(), 0);
        EXPECT_EQ(labelText(p, "C01data"), "HP:00 AP:00 SP:00 Size:00");
    }
    {
        // A bad number column in card.dat stops the load at that line.
        ProgramFolder folder;
        folder.write("card.dat", crlf({characterLine(1, " 1", "10", " 3", " 5", "a"),
                                       characterLine(2, "5 ", "10", " 3", " 5", "b")}));
        folder.write("deck0.dat", Deck0);
        folder.write("deck1.dat", Deck1);
        Program p(folder.path());
        ASSERT_EQ(p.messages.errors.size(), 1u);
        EXPECT_EQ(p.messages.errors[0], utf8("'5 ' は整数ではありません"));
        EXPECT_EQ(list(p, "C01")->count(), 0);
    }
}

TEST(TeamEditor, LabelsFollowUserPicksAndKeepColumnTexts) {
    ProgramFolder folder;
    // HP "05", AP "12", SP " 3": shown as they stand.
    folder.write("card.dat", crlf({characterLine(1, " 1", "05", "12", " 3", "a"),
                                   characterLine(2, "40", "10", " 3", " 5", "b"), vehicleLine(1, "50", "40", "v")}));
    folder.write("deck0.dat", "V001C001C001C001C001C001C001C001C001:000\r\n");
    folder.write("deck1.dat", "V001C001C001C001C001C001C001C001C001:000\r\n");
    Program p(folder.path());
    ASSERT_TRUE(p.messages.errors.empty());
    EXPECT_EQ(labelText(p, "C05data"), "HP:05 AP:12 SP: 3");
    EXPECT_EQ(labelText(p, "AllData0"), "Size 8(50)");

    // A selection from code raises no change; the user's pick does, on both sides.
    list(p, "C03")->setCurrentIndex(1);
    EXPECT_EQ(labelText(p, "C03data"), "HP:05 AP:12 SP: 3");
    pick(list(p, "C04"), 1);
    EXPECT_EQ(labelText(p, "C03data"), "HP:10 AP: 3 SP: 5");
    EXPECT_EQ(labelText(p, "C04data"), "HP:10 AP: 3 SP: 5");
    // Over the deck size it is only shown.
    EXPECT_EQ(labelText(p, "AllData0"), "Size 86(50)");
    EXPECT_EQ(labelText(p, "AllData1"), "Size 8(50)");

    // A slot without a selection counts nothing and shows nothing.
    list(p, "C17")->setCurrentIndex(-1);
    pick(list(p, "V10"), 0);
    EXPECT_EQ(labelText(p, "C17data"), "");
    EXPECT_EQ(labelText(p, "AllData1"), "Size 7(50)");
}

TEST(DeckLists, AddPickSaveAndReload) {
    ProgramFolder folder;
    folder.writeStandard();
    std::vector<std::string> saved;
    {
        Program p(folder.path());
        QComboBox* d0 = list(p, "D0");
        // The team as it stands, numbered by its place in the list; the selection stays.
        list(p, "C08")->setCurrentIndex(-1);
        p.find<QPushButton>("AddBtn0")->click();
        EXPECT_EQ(d0->count(), 3);
        EXPECT_EQ(d0->itemText(2), "002");
        EXPECT_EQ(d0->currentIndex(), 0);
        EXPECT_EQ(p.find<QPlainTextEdit>("Memo2")->toPlainText().split('\n').back(),
                  "V001C001C002C003C004C005C006C007C000:002");

        // Picking the stored second deck applies it and recomputes the labels.
        pick(d0, 1);
        EXPECT_EQ(list(p, "V00")->currentData().toInt(), 2);
        EXPECT_EQ(list(p, "C01")->currentData().toInt(), 10);
        EXPECT_EQ(labelText(p, "AllData0"), "Size 52(30)");
        // The applied 000 of the third deck leaves the selector empty.
        pick(d0, 2);
        EXPECT_EQ(list(p, "C08")->currentIndex(), -1);

        p.find<QPushButton>("SaveBtn0")->click();
        EXPECT_TRUE(p.messages.errors.empty());
        EXPECT_EQ(readFile(folder / "deck0.dat"), Deck0 + "V001C001C002C003C004C005C006C007C000:002\r\n\r\n");

        p.find<QPushButton>("AddBtn1")->click();
        EXPECT_EQ(list(p, "D1")->itemText(1), "001");
    }
    Program again(folder.path());
    EXPECT_TRUE(again.messages.errors.empty());
    EXPECT_EQ(list(again, "D0")->count(), 3);
    EXPECT_EQ(list(again, "D0")->itemText(1), utf8("001 控え"));
    // Side 1 was not saved: its added line is gone.
    EXPECT_EQ(list(again, "D1")->count(), 1);
}

TEST(DeckLists, BadDeckLinesAndFailedSaves) {
    ProgramFolder folder;
    folder.write("card.dat", smallCatalogue());
    folder.write("deck0.dat", Deck0 + "V002C009C0x9C009C009C009C009C009C009:002\r\n");
    folder.write("deck1.dat", "\r\n\r\n");
    Program p(folder.path());
    // The empty deck1.dat has no first line to apply.
    ASSERT_EQ(p.messages.errors.size(), 1u);
    EXPECT_EQ(p.messages.errors[0], utf8("'' は整数ではありません"));
    EXPECT_EQ(list(p, "D1")->count(), 0);

    // The columns before the bad one are applied; the labels are not recomputed.
    list(p, "C03")->setCurrentIndex(0);
    const QString before = labelText(p, "AllData0");
    pick(list(p, "D0"), 2);
    ASSERT_EQ(p.messages.errors.size(), 2u);
    EXPECT_EQ(p.messages.errors[1], utf8("'0x9' は整数ではありません"));
    EXPECT_EQ(list(p, "V00")->currentData().toInt(), 2);
    EXPECT_EQ(list(p, "C01")->currentData().toInt(), 9);
    EXPECT_EQ(list(p, "C03")->currentData().toInt(), 1);
    EXPECT_EQ(labelText(p, "AllData0"), before);

    // The first add to an empty list selects nothing.
    p.find<QPushButton>("AddBtn1")->click();
    EXPECT_EQ(list(p, "D1")->itemText(0), "000");
    EXPECT_EQ(list(p, "D1")->currentIndex(), -1);

    // A list that cannot be written: the error is shown, the list stays as it was.
    std::filesystem::remove(folder / "deck0.dat");
    std::filesystem::create_directories(folder / "deck0.dat" / "keep");
    p.find<QPushButton>("AddBtn0")->click();
    p.find<QPushButton>("SaveBtn0")->click();
    ASSERT_EQ(p.messages.errors.size(), 3u);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "deck0.dat" / "keep"));
    EXPECT_EQ(list(p, "D0")->count(), 4);
}

TEST(MainWindowLayout, PlacesCaptionsOrderAndFrame) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    Tmain& w = *p.main;

    EXPECT_EQ(w.windowTitle(), "main");
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(w.centralWidget()->size(), QSize(462, 356));
    EXPECT_EQ(w.font().pixelSize(), 12);

    EXPECT_EQ(p.find("C11")->geometry(), QRect(8, 184, 145, 20));
    EXPECT_EQ(p.find("V10")->geometry(), QRect(160, 216, 145, 20));
    EXPECT_EQ(p.find("C18")->geometry(), QRect(312, 248, 145, 20));
    EXPECT_EQ(p.find("C15data")->pos(), QPoint(160, 268));
    EXPECT_EQ(p.find("SaveBtn1")->geometry(), QRect(240, 152, 75, 17));
    EXPECT_EQ(p.find("BattleBtn")->geometry(), QRect(16, 296, 417, 25));
    EXPECT_EQ(p.find("SvrDirMax")->geometry(), QRect(360, 328, 73, 20));
    EXPECT_EQ(p.find("Memo1")->geometry(), QRect(472, 280, 289, 65));
    EXPECT_EQ(p.find<QPushButton>("AddBtn0")->text(), utf8("リストに追加"));
    EXPECT_EQ(p.find<QPushButton>("SaveBtn0")->text(), utf8("リストを記録"));
    EXPECT_EQ(p.find<QPushButton>("BattleBtn")->text(), "Let's Battle !!");
    EXPECT_EQ(p.find<QLineEdit>("SaverDir")->text(), "SaverDir");

    const char* order[] = {"C01",     "C02",      "C03",       "C04",   "V00",      "C05",      "C06",      "C07",
                           "C08",     "C11",      "C12",       "C13",   "C14",      "V10",      "C15",      "C16",
                           "C17",     "C18",      "BattleBtn", "Memo1", "D0",       "D1",       "AddBtn0",  "SaveBtn0",
                           "AddBtn1", "SaveBtn1", "Memo2",     "Memo3", "SaverBtn", "SaverDir", "SvrDirMax"};
    QStringList named;
    for (const char* name : order)
        named << name;
    QWidget* at = p.find(order[0]);
    for (size_t i = 1; i < std::size(order); ++i) {
        do
            at = at->nextInFocusChain();
        while (!named.contains(at->objectName()));
        EXPECT_EQ(at->objectName(), order[i]) << "after " << order[i - 1];
    }

    QStringList menus;
    for (QAction* a : w.menuBar()->actions())
        menus << a->text() + ":" + a->menu()->actions().front()->text();
    EXPECT_EQ(menus, QStringList({"File:Exit", "Help:About"}));
}
