// Two copies of the window on one program folder: the second is told at its start
// and starts all the same, and a list saved by one is never overwritten by the
// other's older list: each save keeps the other's lines and adds its own after them.

#include "UiTestSupport.h"

#include <QPlainTextEdit>
#include <QPushButton>

using namespace morvane;
using namespace morvane::uitest;

TEST(TwoCopies, TheSecondIsToldAndEachSaveKeepsTheOthersLinesAndAddsItsOwn) {
    ProgramFolder folder;
    folder.writeStandard();
    Program a(folder.path());
    EXPECT_TRUE(a.messages.infos.empty());
    Program b(folder.path());
    ASSERT_EQ(b.messages.infos.size(), 1u);
    EXPECT_TRUE(b.messages.infos[0].text.contains(utf8("別に起動している Morvane")));
    EXPECT_TRUE(b.messages.infos[0].text.contains(QString::fromStdString(folder.path().string())));
    // It started as the first did.
    EXPECT_TRUE(b.messages.errors.empty());
    EXPECT_EQ(b.find<QComboBox>("D0")->count(), 2);

    // B changes a card, adds and saves; A then adds and saves its own list.
    pick(b.find<QComboBox>("C01"), 9);
    b.find<QPushButton>("AddBtn0")->click();
    b.find<QPushButton>("SaveBtn0")->click();
    const std::string saved = readFile(folder / "deck0.dat");
    EXPECT_NE(saved.find("V001C010C002"), std::string::npos);

    // A's save finds B's line stored since A read the file: it keeps it, puts its own
    // new line after it, says so and shows the file's list.
    a.find<QPushButton>("AddBtn0")->click();
    pick(a.find<QComboBox>("D0"), 2);
    a.find<QPushButton>("SaveBtn0")->click();
    EXPECT_TRUE(a.messages.errors.empty());
    ASSERT_EQ(a.messages.infos.size(), 1u);
    EXPECT_TRUE(a.messages.infos[0].text.contains(utf8("deck0.dat")));
    EXPECT_TRUE(a.messages.infos[0].text.contains(utf8("003 として保存しました")));
    const std::string merged = saved.substr(0, saved.size() - 2) + "V001C001C002C003C004C005C006C007C008:003\r\n\r\n";
    EXPECT_EQ(readFile(folder / "deck0.dat"), merged);
    auto* list = a.find<QComboBox>("D0");
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(list->itemText(2), "002");
    EXPECT_EQ(list->currentIndex(), 3) << "the line picked is still picked where it went";
    EXPECT_EQ(a.main->Memo2->toPlainText().count(QLatin1Char('\n')), 3);
    // The merged list is the file's now: the next save is a plain one.
    a.find<QPushButton>("AddBtn0")->click();
    a.find<QPushButton>("SaveBtn0")->click();
    EXPECT_EQ(a.messages.infos.size(), 1u);
    EXPECT_EQ(readFile(folder / "deck0.dat").substr(merged.size() - 2, 36), "V001C001C002C003C004C005C006C007C008");

    // B, behind again, merges the same way; a save with nothing new just shows the file.
    b.find<QPushButton>("SaveBtn0")->click();
    ASSERT_EQ(b.messages.infos.size(), 2u);
    EXPECT_TRUE(b.messages.infos[1].text.contains(utf8("追加したデッキはありません")));
    EXPECT_EQ(b.find<QComboBox>("D0")->count(), 5);
    b.find<QPushButton>("AddBtn0")->click();
    b.find<QPushButton>("SaveBtn0")->click();
    EXPECT_TRUE(b.messages.errors.empty());
    EXPECT_EQ(DeckList::load(folder / "deck0.dat").lines().size(), 6u);

    // Once both have gone, a new copy is alone again.
    a.main.reset();
    b.main.reset();
    Program c(folder.path());
    EXPECT_TRUE(c.messages.infos.empty());
}
