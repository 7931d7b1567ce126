#pragma once
// Failures of the program carry its own message texts in code page 932, exactly as
// a message box or the report would show them. Where the failure came from (a file
// and line, a deck line, a card column) travels beside the message, so the desktop
// shell can show the bare message and the command line tool can say where.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace morvane {

// Why a file could not be used, kept as data so that each front end says it in its
// own language: the window in Japanese, the command line in English.
struct FileReason {
    enum Kind {
        None,
        Folder,     // a folder stands where a file should
        Fifo,       // a FIFO: reading it would wait for a writer
        Device,     // a character or block device
        NotRegular, // a socket or anything else that is no regular file
        TooLarge,   // past limit bytes
        ReadOnly,   // the file or its folder may not be written
        System,     // the system said no: error holds errno
    };
    Kind kind = None;
    int error = 0;
    std::uintmax_t limit = 0;

    static FileReason ofErrno(int error) { return {System, error, 0}; }
    bool operator==(const FileReason&) const = default;
};

// The reason as the command line gives it after the file, e.g. "a folder",
// "Permission denied"; empty for None.
std::string englishReason(const FileReason& reason);

class MorvaneError : public std::runtime_error {
public:
    explicit MorvaneError(std::string message, std::string where = {})
        : std::runtime_error(message), message_(std::move(message)), location_(std::move(where)), where_(location_) {}
    MorvaneError(std::string message, std::string location, FileReason reason);

    // The program's own text, code page 932.
    const std::string& message() const { return message_; }
    // Where it came from (a path as the file system spells it, a line, a card), UTF-8,
    // followed by the reason in English in brackets when there is one; may be empty.
    const std::string& where() const { return where_; }
    // The same without the reason, and the reason itself, for a front end that says
    // the reason in its own words.
    const std::string& location() const { return location_; }
    const FileReason& reason() const { return reason_; }
    // A new place replaces the old one and the reason that went with it.
    void setWhere(std::string where) {
        location_ = std::move(where);
        where_ = location_;
        reason_ = {};
    }

private:
    std::string message_;
    std::string location_;
    std::string where_;
    FileReason reason_;
};

// "where: message", or the message alone where there is no place: the one shape in
// which every front end shows where a failure came from.
std::string placedText(std::string_view where, std::string_view message);
// The failure as the command line and the service write it: its place and its
// message, UTF-8.
std::string utf8Text(const MorvaneError& error);

// The user's data cannot be used: a card file, a deck line, a missing selection.
class InputError : public MorvaneError {
public:
    using MorvaneError::MorvaneError;
    // The same failure counted as the user's input: a file the user named that cannot
    // be read is bad input to the command line tool, not the program's own failure.
    explicit InputError(const MorvaneError& other) : MorvaneError(other) {}
};

// A column that should hold a number does not: "'%s' は整数ではありません".
class ConversionError : public InputError {
public:
    explicit ConversionError(const std::string& columnText, std::string where = {});
    const std::string& columnText() const { return columnText_; }

private:
    std::string columnText_;
};

// A file could not be opened, created, written or renamed.
class IoError : public MorvaneError {
public:
    using MorvaneError::MorvaneError;
};

// A stored file was changed by another writer (another copy of the program, the
// command line tool) since this one read it; saving would lose what that writer
// stored: "読み込んだ後に変更されたﾌｧｲﾙには記録できません".
class FileChangedError : public IoError {
public:
    explicit FileChangedError(std::string where);
};

// A file that should be read is not there: "ﾌｧｲﾙが見つかりません".
class FileNotFoundError : public IoError {
public:
    explicit FileNotFoundError(std::string where);
};

// A folder could not be created: "ﾃﾞｨﾚｸﾄﾘを作成することができません".
class FolderError : public IoError {
public:
    explicit FolderError(std::string where);
};

} // namespace morvane
