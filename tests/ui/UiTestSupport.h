#pragma once
// The desktop program on Qt's offscreen platform: a QApplication for the whole test
// run, fakes for every platform seam, and a temporary program folder with hand-made
// card and deck files, so the tests build the same three windows the program does.

#include "common/Text.h"
#include "ui/Logpas.h"
#include "ui/Platform.h"
#include "ui/SysCtrls.h"
#include "ui/mainpas.h"
#include "ui/title.h"

#include <QApplication>
#include <QComboBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace morvane::uitest {

class FakeMessageBoxes : public MessageBoxes {
public:
    struct Box {
        QString caption;
        QString text;
    };
    void error(const QString& text) override { errors.push_back(text); }
    void information(const QString& caption, const QString& text) override { infos.push_back({caption, text}); }
    std::vector<QString> errors;
    std::vector<Box> infos;
};

class FakeOpener : public DocumentOpener {
public:
    void open(const std::filesystem::path& path) override { opened.push_back(path); }
    std::vector<std::filesystem::path> opened;
};

class FakeVersionBlock : public VersionBlock {
public:
    std::optional<FixedVersion> read() const override { return block; }
    std::optional<FixedVersion> block = FixedVersion{0x00000000, 0x00000005};
};

class FakeTrayShell : public TrayShell {
public:
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
    QPoint cursorPos() const override { return cursor; }
    TShiftState keyState() const override { return keys; }
    // What the notification area sends when the mouse acts on an icon.
    void mouse(int32_t window, uint32_t mouseMessage) {
        windows[static_cast<size_t>(window - 1)](tray::CallbackMessage, 0, static_cast<intptr_t>(mouseMessage));
    }

    bool answer = true;
    std::vector<Call> calls;
    std::vector<WindowProc> windows;
    QPoint cursor{300, 200};
    TShiftState keys = 0;
};

// A card line: columns 9-16 as given (two bytes each), the battle columns empty.
inline std::string characterLine(int id, const std::string& size, const std::string& hp, const std::string& ap,
                                 const std::string& sp, const std::string& name) {
    char id3[8];
    std::snprintf(id3, sizeof id3, "%03d", id);
    std::string line = std::string("C") + id3 + "物地" + size + hp + ap + sp;
    for (int i = 0; i < 24; ++i)
        line += "＿";
    return utf8ToCp932(line + "  " + name);
}

inline std::string vehicleLine(int id, const std::string& size, const std::string& hp, const std::string& name) {
    char id3[8];
    std::snprintf(id3, sizeof id3, "%03d", id);
    std::string line = std::string("V") + id3 + "＿地" + size + hp + " 0 0";
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

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Ten characters (ids 1-10, size = id, HP 10 + id) and three vehicles; two decks a side.
inline std::string smallCatalogue() {
    std::vector<std::string> lines{"; test cards"};
    for (int id = 10; id >= 1; --id) {
        char size[4], hp[4];
        std::snprintf(size, sizeof size, "%2d", id);
        std::snprintf(hp, sizeof hp, "%2d", 10 + id);
        lines.push_back(characterLine(id, size, hp, " 3", " 5", "兵士" + std::to_string(id)));
    }
    lines.push_back(vehicleLine(1, "50", "40", "戦車"));
    lines.push_back(vehicleLine(2, "30", "60", "飛行船"));
    lines.push_back(vehicleLine(3, " 9", "99", "砦"));
    return crlf(lines);
}

inline const std::string Deck0 =
    utf8ToCp932("V001C001C002C003C004C005C006C007C008:000\r\nV002C010C009C008C007C006C005C004C003:001 控え\r\n");
inline const char* const Deck1 = "V003C002C002C002C002C002C002C002C002:000\r\n";

// The three windows of the program over a program folder, created in the program's
// order: splash, main, log.
class Program {
public:
    explicit Program(const std::filesystem::path& folder, bool releaseCheck = true, bool create = true) {
        env.programFolder = folder;
        env.messages = &messages;
        env.opener = &opener;
        env.trayShell = &tray;
        env.version = &version;
        env.releaseCheck = releaseCheck;
        env.clockSeed = [] { return 12345u; };
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
    Environment env;
    std::unique_ptr<Tstartup> startup;
    std::unique_ptr<Tmain> main;
    std::unique_ptr<TLog> log;
};

// A temporary program folder holding the given files.
class ProgramFolder {
public:
    ProgramFolder() { EXPECT_TRUE(dir.isValid()); }
    std::filesystem::path path() const { return dir.path().toStdString(); }
    std::filesystem::path operator/(const char* name) const { return path() / name; }
    void write(const char* name, const std::string& bytes) const { writeFile(path() / name, bytes); }
    void writeStandard() const {
        write("card.dat", smallCatalogue());
        write("deck0.dat", Deck0);
        write("deck1.dat", Deck1);
    }
    QTemporaryDir dir;
};

// A pick by the user: the selection moves and the list reports it.
inline void pick(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    Q_EMIT list->activated(index);
}

inline QString utf8(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace morvane::uitest
