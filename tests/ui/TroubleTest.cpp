// What the user sees when something goes wrong: an error box names the file or folder
// its message does not name, and a report that no viewer could show is said once on a
// status line, without a box and without stopping a batch.

#include "UiTestSupport.h"

#include "common/Errors.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

using namespace morvane;
using namespace morvane::uitest;
namespace fs = std::filesystem;

namespace {
QString pathText(const fs::path& path) {
    return QString::fromStdString(path.string());
}
} // namespace

TEST(ErrorBox, NamesTheFileBelowAMessageThatDoesNotSayWhich) {
    {
        ProgramFolder folder;
        Program p(folder.path());
        ASSERT_EQ(p.messages.locations.size(), 1u);
        EXPECT_EQ(p.messages.locations[0], pathText(folder / "card.dat"));
    }
    {
        ProgramFolder folder;
        folder.write("card.dat", smallCatalogue());
        folder.write("deck0.dat", "V001C001C002Cxy3C004C005C006C007C008:000\r\n");
        folder.write("deck1.dat", Deck1);
        Program p(folder.path());
        ASSERT_EQ(p.messages.errors.size(), 1u);
        EXPECT_EQ(p.messages.errors[0], utf8("'xy3' は整数ではありません"));
        EXPECT_EQ(p.messages.locations[0], pathText(folder / "deck0.dat"));
    }
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());

    // A batch folder's deck pair, by file and line.
    QTemporaryDir batch;
    const fs::path root = batch.path().toStdString();
    fs::create_directories(root / "0000");
    std::ofstream(root / "0000/deck.dat", std::ios::binary) << Deck1 << "V003C002CzzzC002C002C002C002C002C002:000\r\n";
    p.main->SaverDir->setText(batch.path() + "/");
    p.main->SaverTimer->start();
    p.main->SaverTimerTimer();
    ASSERT_EQ(p.messages.locations.size(), 1u);
    EXPECT_EQ(p.messages.errors[0], utf8("'zzz' は整数ではありません"));
    EXPECT_EQ(p.messages.locations[0], pathText(root / "0000/deck.dat") + ":2");

    // A message that says it all has nothing below it.
    p.find<QComboBox>("C13")->setCurrentIndex(-1);
    p.find<QPushButton>("BattleBtn")->click();
    ASSERT_EQ(p.messages.locations.size(), 2u);
    EXPECT_EQ(p.messages.errors[1], utf8("C13のカードが選ばれていません"));
    EXPECT_EQ(p.messages.locations[1], QString());
}

TEST(ViewerMissing, IsSaidOnceOnAStatusLineAndABatchGoesOn) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    p.opener.viewerStarts = false;
    p.main->show();
    const QSize frame = p.main->size();
    EXPECT_TRUE(p.main->ViewerNotice->text().isEmpty());

    QTemporaryDir batch;
    const fs::path root = batch.path().toStdString();
    for (const char* name : {"0000", "0001"}) {
        fs::create_directories(root / name);
        std::ofstream(root / name / "deck.dat", std::ios::binary) << Deck0;
    }
    p.main->SaverDir->setText(batch.path() + "/");
    p.main->SaverTimer->start();
    ASSERT_TRUE(drive(p, [&] { return fs::exists(root / "0001/battle.html"); }));

    EXPECT_EQ(p.opener.opened.size(), 2u);
    EXPECT_TRUE(p.messages.errors.empty());
    EXPECT_TRUE(p.main->ViewerNotice->isVisible());
    EXPECT_TRUE(p.main->ViewerNotice->text().endsWith(pathText(p.main->reportPath())));
    EXPECT_EQ(p.main->statusBar()->findChildren<QLabel*>().size(), 1);
    // The fixed window keeps its size, however long the path.
    QCoreApplication::processEvents();
    EXPECT_EQ(p.main->size(), frame);
}

TEST(ViewerMissing, TheNoteGoesOnceAViewerShowsAReport) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    p.main->show();
    auto playBattle = [&] {
        p.find<QPushButton>("BattleBtn")->click();
        ASSERT_TRUE(drive(p, [&] { return !p.main->Timer1->isActive(); }));
    };
    p.opener.viewerStarts = false;
    playBattle();
    EXPECT_FALSE(p.main->ViewerNotice->text().isEmpty());

    p.opener.viewerStarts = true;
    playBattle();
    EXPECT_EQ(p.opener.opened.size(), 2u);
    EXPECT_TRUE(p.main->ViewerNotice->text().isEmpty());
    // And comes back for a report that again finds no viewer.
    p.opener.viewerStarts = false;
    playBattle();
    EXPECT_FALSE(p.main->ViewerNotice->text().isEmpty());
}

TEST(ErrorBox, SaysWhyAFileCannotBeUsedInJapanese) {
    {
        // Something else where the catalogue should be.
        ProgramFolder folder;
        std::filesystem::create_directory(folder / "card.dat");
        Program p(folder.path());
        ASSERT_EQ(p.messages.errors.size(), 1u);
        EXPECT_EQ(p.messages.errors[0], utf8("ﾌｧｲﾙを読み込めません"));
        EXPECT_EQ(p.messages.locations[0], pathText(folder / "card.dat") + utf8("（フォルダーです）"));
    }
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    // A deck list the user made read-only.
    std::filesystem::permissions(folder / "deck1.dat", std::filesystem::perms::owner_read);
    p.find<QPushButton>("SaveBtn1")->click();
    ASSERT_EQ(p.messages.errors.size(), 1u);
    EXPECT_EQ(p.messages.errors[0], utf8("ﾌｧｲﾙを作成できません"));
    EXPECT_EQ(p.messages.locations[0], pathText(folder / "deck1.dat") + utf8("（書き込みが許可されていません）"));

    // Reasons the system gives, in Japanese; a rare one keeps the system's words.
    EXPECT_EQ(reasonText(FileReason::ofErrno(EACCES)), utf8("アクセスが許可されていません"));
    EXPECT_EQ(reasonText(FileReason::ofErrno(ENOSPC)), utf8("ディスクに空きがありません"));
    EXPECT_EQ(reasonText({FileReason::TooLarge, 0, 1048576}), utf8("1,048,576 バイトを超えています"));
    EXPECT_TRUE(reasonText(FileReason::ofErrno(EXDEV)).startsWith(QStringLiteral("エラー %1: ").arg(EXDEV)));
    EXPECT_EQ(reasonText({}), QString());
}
