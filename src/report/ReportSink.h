#pragma once
// Where report lines go. The battle writes one whole line at a time and never reads
// back, so a file, a memory buffer or nothing at all can take the report.

#include <cstdio>
#include <filesystem>
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
};

// The report as a file, created afresh (or emptied) by every open().
class FileReportSink : public ReportSink {
public:
    explicit FileReportSink(std::filesystem::path path) : path_(std::move(path)) {}
    ~FileReportSink() override;
    FileReportSink(const FileReportSink&) = delete;
    FileReportSink& operator=(const FileReportSink&) = delete;

    void open() override;
    void writeLine(std::string_view text) override;
    void close() override;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
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
