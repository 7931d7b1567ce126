#pragma once
// The desktop program on Qt's offscreen platform: fakes for every platform seam and a
// temporary program folder with hand-made card and deck files, so the tests build the
// same three windows the program does.

#include "common/Clock.h"
#include "common/Codec.h"
#include "ui/CardEditorDialog.h"
#include "ui/Logpas.h"
#include "ui/SysCtrls.h"
#include "ui/mainpas.h"
#include "ui/title.h"

#include <QAction>
#include <QComboBox>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace morvane::uitest {

struct FakeMessageBoxes : MessageBoxes {
    struct Box {
        QString caption, text;
    };
    void error(const QString& text, const QString& location) override {
        errors.push_back(text);
        locations.push_back(location);
        if (whileErrorOpen)
            whileErrorOpen();
    }
    void information(const QString& caption, const QString& text) override { infos.push_back({caption, text}); }
    // The message of each error box, and the file or folder shown below it.
    std::vector<QString> errors;
    std::vector<QString> locations;
    std::vector<Box> infos;
    // What happens while an error box is open, before the user closes it (a real box
    // runs the event loop meanwhile).
    std::function<void()> whileErrorOpen;
};

struct FakeOpener : DocumentOpener {
    bool open(const std::filesystem::path& path) override {
        opened.push_back(path);
        return viewerStarts;
    }
    std::vector<std::filesystem::path> opened;
    bool viewerStarts = true;
};

struct FakeVersionBlock : VersionBlock {
    std::optional<FixedVersion> read() const override { return block; }
    std::optional<FixedVersion> block = FixedVersion{0, 5};
};

struct FakeTrayShell : TrayShell {
    struct Call {
        TrayCommand command;
        NotifyIconData data;
    };
    bool notify(TrayCommand command, const NotifyIconData& data) override {
        calls.push_back({command, data});
        return answer;
    }
    int32_t createMessageWindow(WindowProc proc) override {
        windows.push_back(std::move(proc));
        return static_cast<int32_t>(windows.size());
    }
    void destroyMessageWindow(int32_t window) override { windows[static_cast<size_t>(window - 1)] = nullptr; }
    QPoint cursorPos() const override { return {300, 200}; }
    TShiftState keyState() const override { return ssShift | ssRight; }
    // What the notification area sends when the mouse acts on an icon.
    void mouse(int32_t window, uint32_t message) { windows[static_cast<size_t>(window - 1)](0x400, 0, message); }

    bool answer = true;
    std::vector<Call> calls;
    std::vector<WindowProc> windows;
};

// Card lines with columns 9-16 as given, two bytes each, and no abilities.
inline std::string characterLine(int id, const char* size, const char* hp, const char* ap, const char* sp,
                                 const std::string& name) {
    std::string line =
        QStringLiteral("C%1").arg(id, 3, 10, QLatin1Char('0')).toStdString() + "物地" + size + hp + ap + sp;
    for (int i = 0; i < 24; ++i)
        line += "＿";
    return utf8ToCp932(line + "  " + name);
}

inline std::string vehicleLine(int id, const char* size, const char* hp, const std::string& name) {
    std::string line =
        QStringLiteral("V%1").arg(id, 3, 10, QLatin1Char('0')).toStdString() + "＿地" + size + hp + " 0 0";
    for (int i = 0; i < 25; ++i)
        line += "＿";
    return utf8ToCp932(line + name);
}

inline std::string crlf(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines)
        bytes += line + "\r\n";
    return bytes;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A comment, characters 10 down to 1 (size = id, HP 10 + id) and three vehicles.
inline std::string smallCatalogue() {
    std::vector<std::string> lines{"; test cards"};
    for (int id = 10; id >= 1; --id)
        lines.push_back(characterLine(id, QStringLiteral("%1").arg(id, 2).toLatin1().constData(),
                                      QByteArray::number(10 + id).constData(), " 3", " 5",
                                      "兵士" + std::to_string(id)));
    lines.push_back(vehicleLine(1, "50", "40", "戦車"));
    lines.push_back(vehicleLine(2, "30", "60", "飛行船"));
    lines.push_back(vehicleLine(3, " 9", "99", "砦"));
    return crlf(lines);
}

inline const std::string Deck0 =
    utf8ToCp932("V001C001C002C003C004C005C006C007C008:000\r\nV002C010C009C008C007C006C005C004C003:001 控え\r\n");
inline const std::string Deck1 = "V003C002C002C002C002C002C002C002C002:000\r\n";

// A temporary program folder.
struct ProgramFolder {
    std::filesystem::path path() const { return dir.path().toStdString(); }
    std::filesystem::path operator/(const char* name) const { return path() / name; }
    void write(const char* name, const std::string& bytes) const {
        std::ofstream(path() / name, std::ios::binary) << bytes;
    }
    void writeStandard() const {
        write("card.dat", smallCatalogue());
        write("deck0.dat", Deck0);
        write("deck1.dat", Deck1);
    }
    QTemporaryDir dir;
};

// The three windows of the program, created in its order: splash, main, log.
struct Program {
    explicit Program(const std::filesystem::path& folder, bool releaseCheck = true, bool create = true) {
        env = {folder, &messages, &opener, &tray, &version, releaseCheck, &clock, desktop.path()};
        if (create)
            start();
    }
    void start() {
        startup = std::make_unique<Tstartup>(env);
        main = std::make_unique<Tmain>(env, *startup);
        log = std::make_unique<TLog>();
        startup->setWindows(main.get(), log.get());
    }
    template <class T = QWidget> T* find(const char* name) const {
        T* found = main->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    FakeMessageBoxes messages;
    FakeOpener opener;
    FakeTrayShell tray;
    FakeVersionBlock version;
    FixedClock clock{"12:34:56", 12345};
    QTemporaryDir desktop;
    Environment env;
    std::unique_ptr<Tstartup> startup;
    std::unique_ptr<Tmain> main;
    std::unique_ptr<TLog> log;
};

// Ticks the window's timers by hand until done(): the battle timer while it is on
// (it ticks fifty times a second), else the runner's. Fails when both are off first.
inline bool drive(const Program& p, const std::function<bool()>& done) {
    for (int tick = 0; tick < 100000 && !done(); ++tick) {
        if (p.main->Timer1->isActive())
            p.main->Timer1Timer();
        else if (p.main->SaverTimer->isActive())
            p.main->SaverTimerTimer();
        else
            break;
    }
    return done();
}

// Opens a tool as the user does, through its command in the Tools menu, and returns
// its dialog (null, with a failure, when either is missing).
template <class Dialog> Dialog* openTool(const Program& p, const char* command, const char* dialog) {
    auto* action = p.find<QAction>(command);
    if (!action)
        return nullptr;
    action->trigger();
    return p.find<Dialog>(dialog);
}

// The card editor, opened from the Tools menu (null, with a failure, when missing).
inline CardEditorDialog* openEditor(const Program& p) {
    p.find<QAction>("CardEditor1")->trigger();
    return p.main->findChild<CardEditorDialog*>("CardEditorDialog");
}

// The battle timer ticks as soon as it can: the wiring of a real timer is kept, its
// 20 ms pace (some 25 turns a battle) is not waited for.
inline void quickBattles(const Program& p) {
    p.main->Timer1->setInterval(0);
}

// A pick by the user: the selection moves and the list reports it.
inline void pick(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    Q_EMIT list->activated(index);
}

inline QString utf8(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace morvane::uitest
