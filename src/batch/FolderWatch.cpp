#include "batch/FolderWatch.h"

#include "batch/BatchScan.h"
#include "batch/FolderState.h"
#include "common/FileNames.h"

#include <algorithm>
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
// written in place (a copy by hand, a line at a time); a deleted report makes it ready
// again. Writes and creations only say that a writer is at work.
constexpr uint32_t FolderEvents =
    IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_CREATE | IN_MODIFY | IN_DELETE_SELF | IN_ONLYDIR;
constexpr uint32_t RootEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;
constexpr std::chrono::seconds SweepEvery{1};

bool sameName(const char* name, std::string_view wanted) {
    return wanted.size() == std::char_traits<char>::length(name) &&
           ::strncasecmp(name, wanted.data(), wanted.size()) == 0;
}

} // namespace

FolderWatch::FolderWatch(std::string root, const Clock& clock, std::chrono::milliseconds quiet)
    : root_(std::move(root)), clock_(clock), quiet_(quiet) {
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

void FolderWatch::lookAt(int number) {
    if (done_.count(number) || pending_.count(number))
        return;
    const std::string folder = batchFolderName(root_, number);
    const FolderLook look = lookAtBatchFolder(folder);
    if (look.state == FolderState::Missing)
        return;
    if (look.state == FolderState::Done) {
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
    // The deck pair may have come before the watch did. A held folder is told of too:
    // the runner says who holds it, and takes it over once its holder is gone.
    if (look.state == FolderState::Ready || look.state == FolderState::Claimed)
        ready_.insert(number);
}

void FolderWatch::sweep() {
    swept_ = clock_.now();
    std::error_code ec;
    for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec))
        if (const std::optional<int> number = batchFolderNumber(it->path().filename().string()))
            lookAt(*number);
}

void FolderWatch::folderEvent(int number, uint32_t mask, bool deckPair) {
    Pending& pending = pending_[number];
    pending.last = clock_.now();
    // Only a write says that a writer has the file open: a pair linked into place
    // (as a submitter puts it) is created whole, and no close follows under its name.
    if (deckPair && (mask & IN_MODIFY))
        pending.open = true;
    if (deckPair && (mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM)))
        pending.open = false;
    done_.erase(number);
    ready_.erase(number);
}

void FolderWatch::settle() {
    const Clock::TimePoint now = clock_.now();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->second.open || now - it->second.last < quiet_) {
            ++it;
            continue;
        }
        const int number = it->first;
        it = pending_.erase(it);
        // Deleted while it changed (an rm -r under way): the runner passes it over
        // and says so, rather than finding it gone half way through a battle.
        if (lookAtBatchFolder(batchFolderName(root_, number)).state == FolderState::Missing)
            ready_.insert(number);
        else
            lookAt(number);
    }
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
            const bool deckPair = e->len > 0 && sameName(e->name, file::BatchDecks);
            if (deckPair || (e->len > 0 && sameName(e->name, file::Report)) || (e->mask & IN_DELETE_SELF))
                folderEvent(number, e->mask, deckPair);
        }
    }
}

bool FolderWatch::wait(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (fd_ >= 0)
            readEvents();
        settle();
        if (!ready_.empty())
            return true;
        if (clock_.now() - swept_ >= SweepEvery) {
            sweep();
            if (!ready_.empty())
                return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || fd_ < 0)
            return false;
        // Woken by the next event, or when the quietest pending folder may be settled.
        std::chrono::milliseconds step = left;
        for (const auto& [number, pending] : pending_)
            if (!pending.open)
                step = std::min(
                    step, std::max(std::chrono::milliseconds(1), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                     quiet_ - (clock_.now() - pending.last))));
        pollfd events{fd_, POLLIN, 0};
        ::poll(&events, 1, static_cast<int>(step.count()));
    }
}

std::optional<int> FolderWatch::take() {
    if (fd_ >= 0)
        readEvents();
    settle();
    if (ready_.empty())
        return std::nullopt;
    const int number = *ready_.begin();
    ready_.erase(ready_.begin());
    return number;
}

} // namespace morvane
