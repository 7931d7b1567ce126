#include "batch/FolderWatch.h"

#include "batch/BatchScan.h"
#include "common/FileNames.h"
#include "common/Files.h"

#include <cerrno>
#include <filesystem>
#include <poll.h>
#include <strings.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace morvane {

namespace {

// A folder gets its deck pair by a rename (the service, careful tools) or by a file
// written in place (a copy by hand); a deleted report makes it ready again.
constexpr uint32_t FolderEvents = IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR;
constexpr uint32_t RootEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;
constexpr std::chrono::seconds SweepEvery{1};

bool sameName(const char* name, std::string_view wanted) {
    return wanted.size() == std::char_traits<char>::length(name) &&
           ::strncasecmp(name, wanted.data(), wanted.size()) == 0;
}

} // namespace

FolderWatch::FolderWatch(std::string root) : root_(std::move(root)) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0) {
        rootWatch_ = ::inotify_add_watch(fd_, root_.c_str(), RootEvents);
        if (rootWatch_ < 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    sweep();
}

FolderWatch::~FolderWatch() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FolderWatch::folderReady(const std::string& folder) {
    std::error_code ec;
    return fs::exists(findFileNoCase(folder, file::BatchDecks), ec) &&
           !fs::exists(findFileNoCase(folder, file::Report), ec);
}

void FolderWatch::lookAt(int number) {
    if (done_.count(number))
        return;
    const std::string folder = batchFolderName(root_, number);
    std::error_code ec;
    if (fs::exists(findFileNoCase(folder, file::Report), ec)) {
        // A done folder changes only when its report is deleted, which the scan finds.
        done_.insert(number);
        return;
    }
    if (fd_ >= 0 && !watched_.count(number)) {
        const int wd = ::inotify_add_watch(fd_, folder.c_str(), FolderEvents);
        if (wd >= 0) {
            folders_[wd] = number;
            watched_.insert(number);
        }
    }
    // The deck pair may have come before the watch did.
    if (folderReady(folder))
        ready_.insert(number);
}

void FolderWatch::sweep() {
    swept_ = std::chrono::steady_clock::now();
    std::error_code ec;
    for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec))
        if (const std::optional<int> number = batchFolderNumber(it->path().filename().string()))
            lookAt(*number);
}

void FolderWatch::readEvents() {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) {
                sweep();
                continue;
            }
            if (e->wd == rootWatch_) {
                if (e->len > 0 && (e->mask & IN_ISDIR))
                    if (const std::optional<int> number = batchFolderNumber(e->name))
                        lookAt(*number);
                continue;
            }
            const auto folder = folders_.find(e->wd);
            if (folder == folders_.end())
                continue;
            const int number = folder->second;
            if (e->mask & IN_IGNORED) {
                watched_.erase(number);
                folders_.erase(folder);
                continue;
            }
            if (e->len > 0 && (sameName(e->name, file::BatchDecks) || sameName(e->name, file::Report))) {
                done_.erase(number);
                lookAt(number);
            }
        }
    }
}

bool FolderWatch::wait(std::chrono::milliseconds timeout) {
    if (fd_ >= 0)
        readEvents();
    if (ready_.empty() && fd_ >= 0) {
        pollfd events{fd_, POLLIN, 0};
        if (::poll(&events, 1, static_cast<int>(timeout.count())) > 0)
            readEvents();
    }
    if (ready_.empty() && std::chrono::steady_clock::now() - swept_ >= SweepEvery)
        sweep();
    return !ready_.empty();
}

std::optional<int> FolderWatch::take() {
    if (fd_ >= 0)
        readEvents();
    if (ready_.empty())
        return std::nullopt;
    const int number = *ready_.begin();
    ready_.erase(ready_.begin());
    return number;
}

} // namespace morvane
