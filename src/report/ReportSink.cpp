#include "report/ReportSink.h"

#include "common/Errors.h"
#include "common/Messages.h"

namespace morvane {

FileReportSink::~FileReportSink() = default;

void FileReportSink::open() {
    // An unfinished report that is started again is replaced by the new one.
    file_.reset();
    file_ = std::make_unique<FileReplacement>(path_);
}

void FileReportSink::writeLine(std::string_view text) {
    if (!file_ || !file_->active())
        throw IoError(std::string(msg::FileNotWritten), path_.string());
    file_->write(text);
    file_->write("\r\n");
}

void FileReportSink::close() {
    if (!file_)
        return;
    const std::unique_ptr<FileReplacement> file = std::move(file_);
    if (file->active())
        file->commit();
}

bool FileReportSink::halt() noexcept {
    if (!file_ || !file_->active())
        return false;
    try {
        file_->publish();
        return true;
    } catch (...) {
        // The report is lost either way; the next turn starts a new one.
        return false;
    }
}

} // namespace morvane
