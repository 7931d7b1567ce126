#include "batch/FolderState.h"

#include "batch/BatchClaim.h"
#include "common/AtomicFile.h"
#include "common/Errors.h"
#include "common/FileNames.h"
#include "common/Messages.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

// "V%.3d" and eight "C%.3d": what a deck line needs to select a team.
constexpr size_t DeckLineIdBytes = 4 + 8 * 4;
// A deck pair is two lines; no more is read to judge it.
constexpr size_t DeckPairBytes = 4096;

bool sameNameNoCase(const std::string& name, std::string_view wanted) {
    return name.size() == wanted.size() && ::strncasecmp(name.data(), wanted.data(), wanted.size()) == 0;
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// ".NAME.DIGITS.tmp" of one of the folder's own files.
bool temporaryOfOurs(std::string_view name) {
    if (name.size() < 6 || name.front() != '.' || !endsWith(name, ".tmp"))
        return false;
    for (const std::string_view own : {file::BatchDecks, file::Report, BatchClaim::FileName})
        if (name.substr(1, own.size()) == own && name.size() > own.size() + 1 && name[own.size() + 1] == '.')
            return true;
    return false;
}

// Whether name in folder is there, following links; throws IoError for a name that
// cannot be looked up (a link loop), which is no missing file.
bool present(const std::string& folder, const std::string& name) {
    struct stat info {};
    const std::string path = folder + name;
    if (::stat(path.c_str(), &info) == 0)
        return true;
    if (errno == ENOENT)
        return false;
    throw IoError(std::string(msg::FileNotRead), path, FileReason::ofErrno(errno));
}

// The first bytes of a deck pair; nothing but "whole" to say when they cannot be read,
// so that the reader that plays it names the reason.
bool deckPairWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return true;
    struct stat info {};
    std::string bytes(DeckPairBytes, '\0');
    ssize_t n = -1;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        while ((n = ::read(fd, bytes.data(), bytes.size())) < 0 && errno == EINTR) {
        }
    ::close(fd);
    if (n < 0)
        return true;
    bytes.resize(static_cast<size_t>(n));
    return bytes.size() == DeckPairBytes || wholeDeckPair(bytes);
}

} // namespace

bool wholeDeckPair(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\x1a'));
    const size_t firstEnd = bytes.find_first_of("\r\n");
    if (firstEnd == std::string_view::npos)
        return false;
    size_t second = firstEnd + 1;
    if (bytes[firstEnd] == '\r' && second < bytes.size() && bytes[second] == '\n')
        ++second;
    // A CR at the very end may yet be followed by its LF: the second line that
    // follows then is not there yet either.
    if (second == bytes.size())
        return false;
    const std::string_view line = bytes.substr(second);
    return line.find_first_of("\r\n") != std::string_view::npos || line.size() >= DeckLineIdBytes;
}

FolderLook lookAtBatchFolder(const std::string& folder) {
    FolderLook look;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) {
        if (ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
            look.state = FolderState::Failed;
            look.problem = std::make_exception_ptr(FolderError(folder));
        }
        return look;
    }
    std::string decks;
    std::string report;
    for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (decks.empty() && sameNameNoCase(name, file::BatchDecks))
            decks = name;
        else if (report.empty() && sameNameNoCase(name, file::Report))
            report = name;
        else if (name == BatchClaim::FileName)
            look.claimFile = true;
        else if (temporaryOfOurs(name))
            look.temporaryFiles = true;
    }
    try {
        if (decks.empty() || !present(folder, decks))
            look.state = FolderState::Empty;
        else if (!report.empty() && present(folder, report))
            look.state = FolderState::Done;
        else if (look.claimFile)
            look.state = FolderState::Claimed;
        else
            look.state = deckPairWhole(folder + decks) ? FolderState::Ready : FolderState::Writing;
    } catch (const MorvaneError&) {
        look.state = FolderState::Failed;
        look.problem = std::current_exception();
    }
    return look;
}

void sweepBatchTemporaries(const std::string& folder) {
    for (const std::string_view own : {file::BatchDecks, file::Report, BatchClaim::FileName})
        removeAbandonedTemporaries(std::string(folder).append(own));
}

} // namespace morvane
