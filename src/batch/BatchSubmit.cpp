#include "batch/BatchSubmit.h"

#include "batch/BatchScan.h"
#include "common/AtomicFile.h"
#include "common/Errors.h"
#include "common/FileNames.h"
#include "common/Files.h"
#include "common/Messages.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
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
        bool made = false;
        try {
            if (::mkdir(folder.c_str(), 0755) == 0) {
                made = true;
                if (!syncFolder(root_))
                    throw FolderError(folder);
            } else if (errno != EEXIST) {
                throw FolderError(folder);
            } else if (!emptyFolder(folder)) {
                // Made by a runner's scan or another submitter: usable only while empty.
                continue;
            }
            // A link, unlike a rename, never replaces a deck pair someone else put there.
            if (placeNewFile(folder + std::string(file::BatchDecks), bytes, 0644, Durability::Folder))
                return number;
        } catch (...) {
            giveBack(number, made ? folder : std::string());
            throw;
        }
    }
}

void BatchSubmitter::giveBack(int number, const std::string& madeFolder) {
    // A refused submission leaves nothing behind: a full disk refusing hundreds of
    // them would otherwise leave as many empty folders, and push every later battle
    // past them. Only an empty folder goes; one that someone filled meanwhile stays.
    if (!madeFolder.empty())
        ::rmdir(madeFolder.c_str());
    std::lock_guard lock(mutex_);
    next_ = std::min(next_, number);
}

} // namespace morvane
