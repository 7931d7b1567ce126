#pragma once
// Tells a batch runner which numbered folders of a root have just received their deck
// pair, whatever their number, so that a runner with nothing to do need not wait for
// its next scan. The kernel's inotify events tell at once what happens on this
// machine; network file systems give no events for what other machines write, so a
// look over the root's listing every second finds those (without creating folders,
// as the runner's own scan does). A watch that cannot be set up (no inotify, too many
// folders to watch) only makes the listing the one way to find them.

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace morvane {

class FolderWatch {
public:
    // Watches root (a path ending with "/"). Never throws.
    explicit FolderWatch(std::string root);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Whether the kernel's events come.
    bool active() const { return fd_ >= 0; }
    // Waits up to timeout for a folder to become ready; true when one is waiting to be
    // taken. Returns at once when one already is.
    bool wait(std::chrono::milliseconds timeout);
    // The lowest folder number seen to become ready and not yet taken.
    std::optional<int> take();
    // Looks over the root's listing for ready folders the events did not tell of.
    void sweep();

private:
    void readEvents();
    void lookAt(int number);
    static bool folderReady(const std::string& folder);

    std::string root_;
    int fd_ = -1;
    int rootWatch_ = -1;
    std::unordered_map<int, int> folders_; // watch descriptor -> folder number
    std::unordered_set<int> watched_;
    std::unordered_set<int> done_; // folders seen with their report
    std::set<int> ready_;
    std::chrono::steady_clock::time_point swept_;
};

} // namespace morvane
