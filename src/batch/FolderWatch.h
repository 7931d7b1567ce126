#pragma once
// Tells a batch runner which numbered folders of a root have just received their deck
// pair, whatever their number, so that a runner with nothing to do need not wait for
// its next scan. The kernel's inotify events tell at once what happens on this
// machine; network file systems give no events for what other machines write, so a
// look over the root's listing every second finds those (without creating folders,
// as the runner's own scan does). A watch that cannot be set up (no inotify, too many
// folders to watch) only makes the listing the one way to find them.
//
// A folder is told of only once its writer has finished: the deck pair was closed
// after writing, and no event came for the folder for a quiet while, so that a pair
// written in several goes (a line at a time, a copy that pauses) is not read half
// way. A folder that vanishes meanwhile is told of too, for the runner to pass over.

#include "common/Clock.h"

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace morvane {

class FolderWatch {
public:
    static constexpr std::chrono::milliseconds DefaultQuiet{300};

    // Watches root (a path ending with "/"). Never throws.
    explicit FolderWatch(std::string root, const Clock& clock = systemClock(),
                         std::chrono::milliseconds quiet = DefaultQuiet);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Whether the kernel's events come.
    bool active() const { return fd_ >= 0; }
    // Waits up to timeout for a folder to become ready; true when one is waiting to be
    // taken. Returns at once when one already is.
    bool wait(std::chrono::milliseconds timeout);
    // The lowest folder number seen to become ready (or to vanish while it was being
    // written) and not yet taken.
    std::optional<int> take();
    // Looks over the root's listing for ready folders the events did not tell of.
    void sweep();

private:
    void readEvents();
    void folderEvent(int number, uint32_t mask, bool deckPair);
    // Folders whose writers have been quiet long enough are looked at.
    void settle();
    void lookAt(int number);

    std::string root_;
    const Clock& clock_;
    std::chrono::milliseconds quiet_;
    int fd_ = -1;
    int rootWatch_ = -1;
    std::unordered_map<int, int> folders_; // watch descriptor -> folder number
    std::unordered_set<int> watched_;
    std::unordered_set<int> done_; // folders seen with their report
    // Folders with recent events: when the last came, and whether a writer of the
    // deck pair has not closed it yet.
    struct Pending {
        Clock::TimePoint last;
        bool open = false;
    };
    std::map<int, Pending> pending_;
    std::set<int> ready_;
    Clock::TimePoint swept_;
};

} // namespace morvane
