#pragma once
// Failures of the program carry its own message texts in code page 932, exactly as
// a message box or the report would show them. Where the failure came from (a file
// and line, a deck line, a card column) travels beside the message, so the desktop
// shell can show the bare message and the command line tool can say where.

#include <stdexcept>
#include <string>

namespace morvane {

class MorvaneError : public std::runtime_error {
public:
    explicit MorvaneError(std::string message, std::string where = {})
        : std::runtime_error(message), message_(std::move(message)), where_(std::move(where)) {}

    // The program's own text, code page 932.
    const std::string& message() const { return message_; }
    // Where it came from (a path as the file system spells it, a line, a card), UTF-8;
    // may be empty.
    const std::string& where() const { return where_; }
    void setWhere(std::string where) { where_ = std::move(where); }

private:
    std::string message_;
    std::string where_;
};

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
