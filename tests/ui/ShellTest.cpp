// The application shell: the splash and its two ways to the main window, the version
// text, the non-release path with its version snapshot and log window, the About box,
// the ways out of the program, and the one application icon.

#include "UiTestSupport.h"

#include "ui/CardEditorDialog.h"
#include "ui/CardTableModel.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include <functional>

using namespace morvane;
using namespace morvane::uitest;

namespace {
// Lets the splash timer run out at once.
void runSplashTimer(Program& p) {
    auto* timer = p.startup->findChild<QTimer*>(QStringLiteral("Timer1"));
    ASSERT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 2000);
    timer->setInterval(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !p.startup->isVisible(); }, 5000));
}

// Runs the event loop with the action queued; true when the program ended by itself.
bool endsTheProgram(const std::function<void()>& action, int waitMs = 3000) {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    guard.start(waitMs);
    QTimer::singleShot(0, action);
    const int result = QCoreApplication::exec();
    guard.stop();
    return result == 0;
}
// "Version " and the project's four numbers, as the version block compiled in from it
// must give them; a project version of fewer parts counts the rest as 0.
const std::string Version = [] {
    std::string version = MORVANE_PROJECT_VERSION;
    for (auto dots = std::count(version.begin(), version.end(), '.'); dots < 3; ++dots)
        version += ".0";
    return "Version " + version;
}();

// The window shown and its card editor opened from the menu.
CardEditorDialog* openEditorShown(const Program& p) {
    p.main->show();
    return openEditor(p);
}

} // namespace

TEST(Splash, ClickOrTimerShowsTheMainWindow) {
    ProgramFolder folder;
    folder.writeStandard();
    {
        // A click does only that, even in a development build: no snapshot, no log.
        Program p(folder.path(), false);
        p.startup->show();
        QTest::mouseClick(p.startup.get(), Qt::LeftButton);
        EXPECT_TRUE(p.main->isVisible());
        EXPECT_FALSE(p.startup->isVisible());
        EXPECT_FALSE(p.startup->Timer1->isActive());
        EXPECT_FALSE(p.log->isVisible());
        EXPECT_TRUE(p.messages.infos.empty());
    }
    Program p(folder.path());
    p.startup->show();
    runSplashTimer(p);
    EXPECT_TRUE(p.main->isVisible());
    EXPECT_FALSE(p.log->isVisible());
    EXPECT_FALSE(std::filesystem::exists(folder.path() / Version));
}

TEST(Splash, AnErrorBoxLeftOpenPastTheSplashTimeStillEndsWithTheMainWindow) {
    ProgramFolder folder; // no card.dat: the main window's start-up shows an error
    Program p(folder.path(), true, false);
    // The user leaves the box open until the splash time has run out.
    p.messages.whileErrorOpen = [&p] {
        p.startup->Timer1->setInterval(1);
        QSignalSpy fired(p.startup->Timer1, &QTimer::timeout);
        ASSERT_TRUE(fired.wait(5000));
    };
    p.start();
    ASSERT_EQ(p.messages.errors.size(), 1u);
    p.startup->show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.main->isVisible() && !p.startup->isVisible(); }, 5000));
}

TEST(Splash, TimerInADevelopmentBuildKeepsOneSnapshotPerVersion) {
    ProgramFolder folder;
    folder.writeStandard();
    std::filesystem::create_directory(folder / "sub");
    {
        Program p(folder.path(), false);
        p.startup->show();
        runSplashTimer(p);
        ASSERT_EQ(p.messages.infos.size(), 1u);
        EXPECT_EQ(p.messages.infos[0].caption, utf8("自動バージョン管理"));
        EXPECT_EQ(p.messages.infos[0].text, QString::fromStdString(Version) + utf8("を記録しました"));
        EXPECT_EQ(readFile(folder.path() / Version / "card.dat"), smallCatalogue());
        // Folders are not copied.
        EXPECT_FALSE(std::filesystem::exists(folder.path() / Version / "sub"));
        EXPECT_TRUE(p.log->isVisible());
        EXPECT_TRUE(p.main->isVisible());
    }
    Program again(folder.path(), false);
    again.startup->show();
    runSplashTimer(again);
    EXPECT_TRUE(again.messages.infos.empty());
}

TEST(MainFrame, AboutShowsTheTitleAndVersionOnTwoLines) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    p.find<QAction>("About1")->trigger();
    ASSERT_EQ(p.messages.infos.size(), 1u);
    EXPECT_EQ(p.messages.infos[0].caption, utf8("バージョン情報"));
    EXPECT_EQ(p.messages.infos[0].text.split('\n'),
              QStringList({QStringLiteral("Morvane"), QString::fromStdString(Version)}));
    // The four numbers of the two version words, compiled in from the project version.
    EXPECT_EQ(versionText(CompiledVersionBlock()), QString::fromStdString(Version));
    p.version.block = FixedVersion{0x00010002, 0x0003000A};
    EXPECT_EQ(versionText(p.version), "Version 1.2.3.10");
}

TEST(MainFrame, TheInformationBoxIsWideEnoughForItsCaption) {
    // A window manager cuts a caption wider than its window; the About box's two short
    // lines alone would make it that narrow.
    const QString caption = utf8("バージョン情報");
    int width = 0;
    int captionWidth = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        width = box->width();
        captionWidth = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(caption);
        box->accept();
    });
    QtMessageBoxes().information(caption, QStringLiteral("Morvane\nVersion 1.0.0.0"));
    // The caption, and room for the title bar's icon and three buttons.
    EXPECT_GE(width, captionWidth + 120);
}

TEST(MainFrame, ClosingTheLogGoesOnAndTheThreeWaysOutEndTheProgram) {
    ProgramFolder folder;
    folder.writeStandard();
    {
        Program p(folder.path());
        p.main->show();
        p.log->show();
        EXPECT_FALSE(endsTheProgram([&] { p.log->close(); }, 200));
        EXPECT_TRUE(p.main->isVisible());
        // Also during a battle.
        p.find<QPushButton>("BattleBtn")->click();
        EXPECT_TRUE(endsTheProgram([&] { p.main->close(); }));
        EXPECT_FALSE(p.find<QTimer>("Timer1")->isActive());
    }
    {
        Program p(folder.path());
        p.main->show();
        EXPECT_TRUE(endsTheProgram([&] { p.find<QAction>("Exit1")->trigger(); }));
    }
    {
        Program p(folder.path());
        p.main->show();
        auto* menu = p.find<QMenu>("PopupMenu1");
        // The tray menu pops up for the left and for the right button.
        const int32_t window = p.main->IconTray1->MessageWindow();
        p.tray.mouse(window, tray::LButtonUp);
        EXPECT_TRUE(menu->isVisible());
        menu->hide();
        p.tray.mouse(window, tray::RButtonUp);
        EXPECT_TRUE(menu->isVisible());
        EXPECT_TRUE(endsTheProgram([&] { p.find<QAction>("exit2")->trigger(); }));
        p.main.reset();
        // Destroying the window removed the icon.
        EXPECT_EQ(p.tray.calls.back().command, TrayCommand::Delete);
    }
}

TEST(MainFrame, CancelAtTheEditorsSaveQuestionKeepsTheProgramAndTheEdits) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    CardEditorDialog* editor = openEditorShown(p);
    ASSERT_NE(editor, nullptr);
    std::vector<QString> questions;
    QMessageBox::StandardButton answer = QMessageBox::Cancel;
    editor->ask = [&](const QString& text, QMessageBox::StandardButtons) {
        questions.push_back(text);
        return answer;
    };
    CardTableModel& characters = *editor->model('C');
    ASSERT_TRUE(
        characters.setData(characters.index(0, characters.columnOf(findCardField('C', "hp"))), 42, Qt::EditRole));
    p.find<QPushButton>("SaverBtn")->click();

    // Every way out asks, and キャンセル keeps every window, the edit and the runner.
    for (const char* way : {"close", "Exit1", "exit2"}) {
        EXPECT_FALSE(endsTheProgram(
            [&] {
                if (way == std::string("close"))
                    p.main->close();
                else
                    p.find<QAction>(way)->trigger();
            },
            300))
            << way;
        EXPECT_TRUE(p.main->isVisible()) << way;
        EXPECT_TRUE(editor->isVisible()) << way;
    }
    EXPECT_EQ(questions, std::vector<QString>(3, utf8("変更を保存しますか?")));
    EXPECT_TRUE(editor->modified());
    EXPECT_TRUE(p.main->SaverTimer->isActive());

    // Discarded, the changes go and the program ends; the file is as it was.
    answer = QMessageBox::Discard;
    EXPECT_TRUE(endsTheProgram([&] { p.main->close(); }));
    EXPECT_EQ(readFile(folder / "card.dat"), smallCatalogue());
}

TEST(MainFrame, TheWindowPlaysWithTheCatalogueTheEditorReadsAgain) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    CardEditorDialog* editor = openEditorShown(p);
    ASSERT_NE(editor, nullptr);
    editor->ask = [](const QString&, QMessageBox::StandardButtons) { return QMessageBox::Yes; };
    // Another writer renames C003 while the editor is open.
    std::string theirs = smallCatalogue();
    const std::string old = utf8ToCp932("兵士3\r\n");
    theirs.replace(theirs.find(old), old.size(), utf8ToCp932("戦士3\r\n"));
    folder.write("card.dat", theirs);
    ASSERT_EQ(p.main->catalogue().character(3).name, utf8ToCp932("兵士3"));

    ASSERT_TRUE(editor->reload());
    EXPECT_EQ(p.main->catalogue().character(3).name, utf8ToCp932("戦士3"));
}

TEST(ApplicationIcon, IsEveryWindowsIconAndTheTrayIconAtEverySize) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    const QIcon icon = applicationIcon();
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        EXPECT_EQ(icon.pixmap(size).size(), QSize(size, size)) << size;
    // The 16 px drawing is its own, not the large one scaled down.
    EXPECT_NE(icon.pixmap(16).toImage(),
              icon.pixmap(256).scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).toImage());

    const QImage expected = icon.pixmap(32).toImage();
    for (const QWidget* window : std::initializer_list<const QWidget*>{p.startup.get(), p.main.get(), p.log.get()})
        EXPECT_EQ(window->windowIcon().pixmap(32).toImage(), expected) << window->objectName().toStdString();
    ASSERT_FALSE(p.tray.calls.empty());
    EXPECT_EQ(p.tray.calls.back().data.icon.pixmap(16).toImage(), icon.pixmap(16).toImage());
}
