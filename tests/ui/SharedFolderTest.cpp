// Two copies of the window on one program folder: the second is told at its start
// and starts all the same, and a list saved by one is never overwritten by the
// other's older list.

#include "UiTestSupport.h"

#include <QPushButton>

using namespace morvane;
using namespace morvane::uitest;

TEST(TwoCopies, TheSecondIsToldAndNeitherSaveDropsWhatTheOtherStored) {
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

    a.find<QPushButton>("AddBtn0")->click();
    a.find<QPushButton>("SaveBtn0")->click();
    ASSERT_EQ(a.messages.errors.size(), 1u);
    EXPECT_EQ(a.messages.errors[0], utf8("読み込んだ後に変更されたﾌｧｲﾙには記録できません"));
    EXPECT_EQ(a.messages.locations[0], QString::fromStdString((folder / "deck0.dat").string()));
    EXPECT_EQ(readFile(folder / "deck0.dat"), saved);
    // B saves on: what it saved is what it read now.
    b.find<QPushButton>("AddBtn0")->click();
    b.find<QPushButton>("SaveBtn0")->click();
    EXPECT_TRUE(b.messages.errors.empty());

    // Once both have gone, a new copy is alone again.
    a.main.reset();
    b.main.reset();
    Program c(folder.path());
    EXPECT_TRUE(c.messages.infos.empty());
}
