#pragma once
// Where report lines go. The battle writes one whole line at a time and never reads
// back, so a file, a memory buffer or nothing at all can take the report.

#include "common/AtomicFile.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace morvane {

class ReportSink {
public:
    virtual ~ReportSink() = default;
    // Starts a new, empty report. Throws IoError when it cannot be created.
    virtual void open() = 0;
    // Appends text and a CR LF. Throws IoError when it cannot be written.
    virtual void writeLine(std::string_view text) = 0;
    // Finishes the report. Throws IoError when the rest cannot be written.
    virtual void close() = 0;
    // The battle halted on a failure with the report open: what it holds so far is
    // the report, and more lines follow if the battle is resumed. False when nothing
    // is left to go on with (a failed write lost it), so the next turn starts anew.
    virtual bool halt() noexcept { return true; }
};

// The report as a file. Each report is written to a temporary file beside it that
// takes the file's place when the report is closed, so a report that cannot be
// written in full (a full disk) leaves the previous one as it was. A battle halted
// by a failure puts its report in place as far as it got, so the user can see where
// it stopped, and a resumed battle goes on writing there.
class FileReportSink : public ReportSink {
public:
    explicit FileReportSink(std::filesystem::path path) : path_(std::move(path)) {}
    // A report neither closed nor halted (the program ends during a battle) is
    // dropped: the file keeps the last report that was.
    ~FileReportSink() override;
    FileReportSink(const FileReportSink&) = delete;
    FileReportSink& operator=(const FileReportSink&) = delete;

    void open() override;
    void writeLine(std::string_view text) override;
    void close() override;
    bool halt() noexcept override;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::unique_ptr<FileReplacement> file_;
};

// The report in memory, for tests and for measuring the whole path without a disk.
class MemoryReportSink : public ReportSink {
public:
    void open() override {
        text_.clear();
        open_ = true;
    }
    void writeLine(std::string_view text) override {
        text_.append(text);
        text_.append("\r\n");
    }
    void close() override { open_ = false; }

    const std::string& text() const { return text_; }
    bool isOpen() const { return open_; }

private:
    std::string text_;
    bool open_ = false;
};

} // namespace morvane
