#include "report/ReportSink.h"

#include "common/Errors.h"
#include "common/Messages.h"

namespace morvane {

FileReportSink::~FileReportSink() {
    if (file_)
        std::fclose(file_);
}

void FileReportSink::open() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    file_ = std::fopen(path_.c_str(), "wb");
    if (!file_)
        throw IoError(std::string(msg::FileNotCreated), path_.string());
}

void FileReportSink::writeLine(std::string_view text) {
    if (!file_)
        throw IoError(std::string(msg::FileNotWritten), path_.string());
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fwrite("\r\n", 1, 2, file_) != 2)
        throw IoError(std::string(msg::FileNotWritten), path_.string());
}

void FileReportSink::close() {
    if (!file_)
        return;
    const int result = std::fclose(file_);
    file_ = nullptr;
    if (result != 0)
        throw IoError(std::string(msg::FileNotWritten), path_.string());
}

} // namespace morvane
