// TIconTray against a fake notification area: identifiers, the records and commands
// it hands over, the mouse table, its menus; and the Qt notification area on a
// desktop that has none.

#include "UiTestSupport.h"

#include <QMenu>
#include <QPixmap>
#include <QTest>

using namespace morvane;
using namespace morvane::uitest;

namespace {
QIcon someIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::blue);
    return QIcon(pixmap);
}
} // namespace

TEST(IconTray, NumbersInstancesAndRegistersThroughTheShell) {
    FakeTrayShell shell;
    TIconTray first(nullptr, shell);
    TIconTray second(nullptr, shell);
    EXPECT_GE(first.IconId(), 1);
    EXPECT_EQ(second.IconId(), first.IconId() + 1);

    // An empty icon is never added.
    first.AfterLoad();
    EXPECT_TRUE(shell.calls.empty());

    first.setIcon(someIcon());
    ASSERT_EQ(shell.calls.size(), 1u);
    const NotifyIconData& added = shell.calls[0].data;
    EXPECT_EQ(shell.calls[0].command, TrayCommand::Add);
    EXPECT_EQ(added.id, first.IconId());
    EXPECT_EQ(added.window, first.MessageWindow());
    // The message, the icon and the tip are all registered.
    EXPECT_EQ(added.flags, tray::FlagMessage | tray::FlagIcon | tray::FlagTip);

    // 35 double-byte characters: 70 bytes, cut at 63 inside the 32nd character.
    std::string hint;
    for (int i = 0; i < 35; ++i)
        hint += "\x82\xa0";
    first.setHint(hint);
    ASSERT_EQ(shell.calls.size(), 2u);
    EXPECT_EQ(shell.calls[1].command, TrayCommand::Modify);
    EXPECT_EQ(shell.calls[1].data.tip, hint.substr(0, 63));
    first.setHint(hint.substr(0, 63));
    EXPECT_EQ(shell.calls.size(), 2u);

    first.setShowHint(false);
    EXPECT_EQ(shell.calls.back().data.tip, "");
    EXPECT_EQ(shell.calls.back().data.flags, tray::FlagMessage | tray::FlagIcon | tray::FlagTip);

    // A refusal raises and keeps the registration as it was.
    shell.answer = false;
    EXPECT_THROW(first.setHint("x"), EIconTrayError);
    EXPECT_TRUE(first.Registered());
    shell.answer = true;

    // An empty icon removes it; removing it again asks nothing.
    first.setIcon(QIcon());
    EXPECT_EQ(shell.calls.back().command, TrayCommand::Delete);
    const size_t calls = shell.calls.size();
    first.UpdateIcon(false);
    EXPECT_EQ(shell.calls.size(), calls);
}

TEST(IconTray, DispatchesTheMouseTableAndPopsUpItsMenus) {
    FakeTrayShell shell;
    auto menu = std::make_unique<QMenu>();
    TIconTray t(nullptr, shell);
    t.setLBtnPopupMenu(menu.get());
    t.setRBtnPopupMenu(menu.get());
    t.setIcon(someIcon());
    t.AfterLoad();

    QStringList events;
    const char* buttons[] = {"L", "R", "M"};
    t.OnClick = [&](QObject* sender) { events << (sender == &t ? "click" : "?"); };
    t.OnDblClick = [&](QObject*) { events << "dbl"; };
    t.OnMouseDown = [&](QObject*, TMouseButton b, TShiftState s, int x, int y) {
        events << QStringLiteral("down %1 %2 %3,%4").arg(buttons[int(b)]).arg(s).arg(x).arg(y);
    };
    t.OnMouseUp = [&](QObject*, TMouseButton b, TShiftState s, int, int) {
        events << QStringLiteral("up %1 %2").arg(buttons[int(b)]).arg(s);
    };
    t.OnMouseMove = [&](QObject*, TShiftState s, int x, int y) {
        events << QStringLiteral("move %1 %2,%3").arg(s).arg(x).arg(y);
    };

    const int32_t window = t.MessageWindow();
    for (uint32_t message = 0x200; message <= 0x20a; ++message) {
        shell.mouse(window, message);
        if (menu->isVisible()) {
            events << QStringLiteral("popup %1,%2").arg(menu->x()).arg(menu->y());
            menu->hide();
        }
    }
    // Another window message is not the tray's.
    EXPECT_EQ(t.TrayWindowProc(0x401, 0, tray::LButtonUp), 0);

    EXPECT_EQ(events, QStringList({"move 17 300,200", "down L 17 300,200", "click", "up L 17", "popup 300,200", "dbl",
                                   "down L 81 300,200", "down R 17 300,200", "up R 17", "popup 300,200",
                                   "down R 81 300,200", "down M 17 300,200", "up M 17", "down M 81 300,200"}));

    // Removing the menu that serves both buttons clears both.
    menu.reset();
    EXPECT_EQ(t.LBtnPopupMenu(), nullptr);
    EXPECT_EQ(t.RBtnPopupMenu(), nullptr);
    shell.mouse(window, tray::LButtonUp);
    EXPECT_EQ(events.mid(events.size() - 2), QStringList({"click", "up L 17"})) << "and no menu to pop up";
}

TEST(IconTray, QtShellStartsWithoutANotificationArea) {
    QtTrayShell shell;
    TIconTray t(nullptr, shell);
    t.setIcon(someIcon());
    // The offscreen desktop has no notification area: the icon is accepted, not shown.
    EXPECT_NO_THROW(t.AfterLoad());
    EXPECT_NO_THROW(t.setHint("Morvane"));
    // Real refusals still count: the same icon twice, or one that was never added.
    EXPECT_FALSE(shell.notify(TrayCommand::Add, t.NotifyData()));
    t.UpdateIcon(false);
    EXPECT_FALSE(shell.notify(TrayCommand::Delete, t.NotifyData()));
}

TEST(IconTray, QtShellShowsTheIconOnceANotificationAreaAppears) {
    QtTrayShell shell;
    bool panel = false;
    shell.trayAvailable = [&] { return panel; };
    shell.trayWatch()->setInterval(5);
    TIconTray t(nullptr, shell);
    t.setIcon(someIcon());
    t.AfterLoad();
    EXPECT_FALSE(shell.shown(t.MessageWindow(), t.IconId()));
    EXPECT_TRUE(shell.trayWatch()->isActive());
    QTest::qWait(30);
    EXPECT_FALSE(shell.shown(t.MessageWindow(), t.IconId())) << "no panel yet";

    // The panel starts after the program: the icon goes in, and the looking stops.
    panel = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return shell.shown(t.MessageWindow(), t.IconId()); }, 2000));
    EXPECT_FALSE(shell.trayWatch()->isActive());
    // An icon added with a panel there is shown at once.
    t.UpdateIcon(false);
    t.UpdateIcon(true);
    EXPECT_TRUE(shell.shown(t.MessageWindow(), t.IconId()));
}
