#pragma once
// Filling a batch root from outside the runners, as a service that takes deck pairs
// from players does. A pair goes into the lowest free numbered folder: one this
// submitter creates, or one that a runner's scan made and left empty. Its "deck.dat"
// is written under a temporary name, synced, and linked into place only if no
// "deck.dat" is there yet, so a runner never sees half a pair, two submitters never
// fill one folder, and a pair whose submission returned survives a crash.

#include <mutex>
#include <string>
#include <string_view>

namespace morvane {

class BatchSubmitter {
public:
    // root is a path ending with "/"; it is created when missing. Finds the lowest
    // free folder by listing the root. Throws FolderError when root cannot be made.
    explicit BatchSubmitter(std::string root);

    // Stores the pair (the top side's deck line, then the bottom side's, each followed
    // by CR LF) and returns its folder number. Lines must hold no line break. Safe to
    // call from several threads. Throws FolderError or IoError naming the folder or
    // file; a folder it made is removed again then, and its number is the next
    // submission's.
    int submit(std::string_view top, std::string_view bottom);

    const std::string& root() const { return root_; }

private:
    // Called when a submission into number failed; madeFolder is the folder it made
    // (empty when it made none).
    void giveBack(int number, const std::string& madeFolder);

    std::string root_;
    std::mutex mutex_;
    int next_ = 0;
};

} // namespace morvane
