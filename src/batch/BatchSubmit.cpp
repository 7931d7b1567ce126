#include "batch/BatchSubmit.h"

#include "batch/BatchScan.h"
#include "common/Errors.h"
#include "common/FileNames.h"
#include "common/Files.h"
#include "common/Messages.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace morvane {

namespace {

// A folder nobody has put anything into: made by a runner's scan, or by a submitter
// that died before its pair was in place (its temporary file does not count).
bool emptyFolder(const std::string& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string temp = std::string(".").append(file::BatchDecks) + ".";
        if (name.compare(0, temp.size(), temp) != 0)
            return false;
    }
    return !ec;
}

} // namespace

BatchSubmitter::BatchSubmitter(std::string root) : root_(std::move(root)) {
    std::error_code ec;
    fs::create_directories(root_, ec);
    if (!fs::is_directory(root_, ec))
        throw FolderError(root_);
    std::set<int> numbers;
    for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec))
        if (const std::optional<int> number = batchFolderNumber(it->path().filename().string()))
            numbers.insert(*number);
    // The lowest number that is missing or whose folder is empty.
    for (const int number : numbers) {
        if (number != next_ || emptyFolder(batchFolderName(root_, number)))
            break;
        ++next_;
    }
}

bool BatchSubmitter::placeDecks(const std::string& folder, std::string_view bytes) {
    const std::string target = folder + std::string(file::BatchDecks);
    std::string temp;
    int fd = -1;
    std::random_device entropy;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = folder + "." + std::string(file::BatchDecks) + "." + std::to_string(entropy()) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        throw IoError(std::string(msg::FileNotCreated), target);
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    const bool synced = written == bytes.size() && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !synced) {
        ::unlink(temp.c_str());
        throw IoError(std::string(msg::FileNotWritten), target);
    }
    // A link, unlike a rename, never replaces a deck pair someone else put there.
    const int linked = ::link(temp.c_str(), target.c_str());
    const int error = errno;
    ::unlink(temp.c_str());
    if (linked != 0) {
        if (error == EEXIST)
            return false;
        throw IoError(std::string(msg::FileNotCreated), target);
    }
    if (!syncFolder(folder))
        throw IoError(std::string(msg::FileNotWritten), target);
    return true;
}

int BatchSubmitter::submit(std::string_view top, std::string_view bottom) {
    const std::string bytes = std::string(top).append("\r\n").append(bottom).append("\r\n");
    for (;;) {
        int number = 0;
        {
            // Only the choice of a folder is taken in turn; the writes and syncs of
            // several submissions go on side by side.
            std::lock_guard lock(mutex_);
            if (next_ > 999999999)
                throw FolderError(batchFolderName(root_, next_));
            number = next_++;
        }
        const std::string folder = batchFolderName(root_, number);
        if (::mkdir(folder.c_str(), 0755) != 0) {
            // Made by a runner's scan or another submitter: usable only while empty.
            if (errno != EEXIST)
                throw FolderError(folder);
            if (!emptyFolder(folder))
                continue;
        } else if (!syncFolder(root_)) {
            throw FolderError(folder);
        }
        if (placeDecks(folder, bytes))
            return number;
    }
}

} // namespace morvane
