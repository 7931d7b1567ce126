#pragma once
// The seams between the windows and the desktop they run on: message boxes, the
// viewer that shows a finished report, the program's own version block, and the
// program folder. Each is a few lines behind an interface, so the tests run the real
// windows with fakes that record instead of blocking or launching anything.

#include "battle/BattleOutcome.h"

#include <QFont>
#include <QIcon>
#include <QString>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

namespace morvane {

class Clock;
class TrayShell;

// The message boxes of the program. error() is what the application shows for a
// handler that failed: the program's own message, and below it the file or folder it
// concerns when the failure names one (empty otherwise). information() is a box with
// one OK button. Both wait until the box is closed.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void error(const QString& text, const QString& location) = 0;
    virtual void information(const QString& caption, const QString& text) = 0;
};

// Hands a finished document to the user's viewer; false when no viewer could be
// started.
class DocumentOpener {
public:
    virtual ~DocumentOpener() = default;
    virtual bool open(const std::filesystem::path& absolutePath) = 0;
};

// The fixed version block of the executable: the two product version words, each a
// high and a low 16-bit number. Nothing when the executable carries none.
struct FixedVersion {
    uint32_t productVersionMS = 0;
    uint32_t productVersionLS = 0;
};
class VersionBlock {
public:
    virtual ~VersionBlock() = default;
    virtual std::optional<FixedVersion> read() const = 0;
};

// Everything the windows take from outside. The program passes the real desktop; the
// tests a temporary program folder and fakes.
struct Environment {
    std::filesystem::path programFolder;
    MessageBoxes* messages = nullptr;
    DocumentOpener* opener = nullptr;
    TrayShell* trayShell = nullptr;
    const VersionBlock* version = nullptr;
    // The checked state of the splash's hidden "Release" box: the shipped program is a
    // release build.
    bool releaseCheck = true;
    // The time: the report header, the generator's seed, the deck strength runs.
    const Clock* clock = nullptr;
    // The user's desktop folder, which holds the batch runner's default root; empty
    // when the desktop has none.
    QString desktopFolder;
    // A battle still running after this many turns is ended as it stands, as the
    // command line tool ends it: one in which nobody can act would run for ever.
    long long maxTurns = DefaultMaxTurns;
};

// Code page 932 bytes of cards, decks and messages, for display.
QString fromCp932(std::string_view bytes);

// "ＭＳ Ｐゴシック" at the given pixel height, IPAPGothic where it is missing.
QFont programFont(int pixelSize = 12);

// The application's icon, drawn for every size the desktop asks for: the window
// icon of every window, the tray icon and the menu entry's.
QIcon applicationIcon();

// Shows a failure in an error box: its message, and where it came from (a file or
// folder, UTF-8) below it.
void showError(MessageBoxes& messages, const std::exception& error);

// A failure in one line for a dialog's own text: "where: message", or the message alone.
QString errorText(const std::exception& error);
// The same for a failure caught on another thread; empty for none.
QString errorText(const std::exception_ptr& error);

// Runs an event handler the way the application runs every handler: a failure ends it
// where it happened and is shown by showError; whatever the handler changed before
// stays changed.
void runHandler(MessageBoxes& messages, const std::function<void()>& handler);

// The real desktop.
class QtMessageBoxes : public MessageBoxes {
public:
    void error(const QString& text, const QString& location) override;
    void information(const QString& caption, const QString& text) override;
};

class QtDocumentOpener : public DocumentOpener {
public:
    bool open(const std::filesystem::path& absolutePath) override;
};

// The product version compiled in from the project version.
class CompiledVersionBlock : public VersionBlock {
public:
    std::optional<FixedVersion> read() const override;
};

} // namespace morvane
