#include "batch/StoredReport.h"

#include "battle/BattleText.h"
#include "common/Errors.h"
#include "common/Messages.h"
#include "report/ReportText.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

// Enough for the last turn's heading: a turn section and the lines of its actions
// run to a few kilobytes.
constexpr off_t TailBytes = 256 * 1024;

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

} // namespace

BattleOutcome outcomeOfReport(std::string_view text) {
    BattleOutcome outcome;
    outcome.status = BattleStatus::Capped;
    const std::string top = std::string(text::EndAnchor) + "\r\n" + std::string(text::TopWins) + "\r\n" +
                            std::string(text::EndAnchorClose) + "\r\n";
    const std::string bottom = std::string(text::EndAnchor) + "\r\n" + std::string(text::BottomWins) + "\r\n" +
                               std::string(text::EndAnchorClose) + "\r\n";
    if (endsWith(text, top) || endsWith(text, bottom)) {
        outcome.status = BattleStatus::Ended;
        outcome.winner = endsWith(text, top) ? 0 : 1;
    }
    const std::string heading = "\r\n" + std::string(text::TurnHeadingOpen);
    for (size_t at = text.rfind(heading); at != std::string_view::npos; at = text.rfind(heading, at - 1)) {
        size_t digit = at + heading.size();
        int32_t turns = 0;
        const size_t first = digit;
        while (digit < text.size() && digit - first < 9 && text[digit] >= '0' && text[digit] <= '9')
            turns = turns * 10 + (text[digit++] - '0');
        if (digit > first && text.substr(digit, text::TurnHeadingEnd.size()) == text::TurnHeadingEnd) {
            outcome.turns = turns;
            break;
        }
        if (at == 0)
            break;
    }
    return outcome;
}

BattleOutcome outcomeOfReportFile(const std::filesystem::path& path) {
    // Opened without waiting and read only as a regular file: a FIFO put in a report's
    // place must not stall the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        throw IoError(std::string(msg::FileNotRead), path.string());
    struct stat info {};
    std::string tail;
    bool read = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (read) {
        const off_t start = info.st_size > TailBytes ? info.st_size - TailBytes : 0;
        tail.resize(static_cast<size_t>(info.st_size - start));
        size_t got = 0;
        while (read && got < tail.size()) {
            const ssize_t n = ::pread(fd, tail.data() + got, tail.size() - got, start + static_cast<off_t>(got));
            if (n < 0 && errno == EINTR)
                continue;
            read = n > 0;
            got += read ? static_cast<size_t>(n) : 0;
        }
    }
    ::close(fd);
    if (!read)
        throw IoError(std::string(msg::FileNotRead), path.string());
    return outcomeOfReport(tail);
}

} // namespace morvane
