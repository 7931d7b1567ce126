#pragma once
// A runner's hold on one batch folder while it plays it. Several runners may share a
// root (two terminals, the window beside the command line tool, machines sharing the
// folder): each claims a folder before playing it, by linking a complete claim file
// into place there, and gives the claim up once the report is stored, so no folder is
// played twice and no report is written over by another runner's battle.
//
// A runner that dies leaves its claim behind. Such a claim is taken over when its
// process is known to be gone, or when it has not changed for a while (any host): a
// holder refreshes its claim while its battle runs. Only a runner on the same boot of
// the same machine and in the same PID namespace can know that a process is gone; it
// tells the claim's process from a later one given the same pid by its start time, and
// takes a zombie for gone. Every other claim ages by its file's time, and by how long
// this runner has seen it unchanged, so that one whose time lies in the future, or that
// is no claim at all, still expires.

#include "common/Clock.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// Who holds a folder, as its claim file says.
struct ClaimHolder {
    // The runner's host name and process; empty and 0 when the file cannot be read as
    // a claim (empty, cut short, another program's, not a regular file).
    std::string host;
    long long pid = 0;
    // When the folder was claimed; for a file that is no claim, when it last changed.
    Clock::TimePoint since;
    // What the claim's age is counted from: the last time it changed, as its file time
    // or this runner's first sighting of it tells, whichever is earlier. It is taken
    // over once that lies the claim timeout in the past.
    Clock::TimePoint unchangedSince;

    bool readable() const { return pid > 0; }
};

// What one runner has seen of other runners' claims, so that a claim can age by this
// runner's clock however its file is dated.
class ClaimSightings {
public:
    // How long path has been seen in this state (its text and file time), the first
    // sighting counting from now.
    Clock::TimePoint::duration unchangedFor(const std::string& path, const std::string& state, Clock::TimePoint now);
    void forget(const std::string& path) { seen_.erase(path); }

private:
    struct Sighting {
        std::string state;
        Clock::TimePoint first;
    };
    std::map<std::string, Sighting> seen_;
};

struct ClaimAttempt;

class BatchClaim {
public:
    static constexpr std::string_view FileName = ".morvane-claim";

    // Claims the folder (a path ending with "/"). A claim left by a process that is
    // gone, or unchanged for staleAfter, is taken over; a live one makes the attempt
    // say who holds the folder. Throws IoError naming the claim file and the reason
    // when no claim can be made there (no write permission, a full disk).
    static ClaimAttempt acquire(const std::string& folder, const Clock& clock, std::chrono::seconds staleAfter,
                                ClaimSightings& sightings);
    // Removes a claim left in a done folder, by the same rules as acquire takes one
    // over.
    static void clearAbandoned(const std::string& folder, const Clock& clock, std::chrono::seconds staleAfter,
                               ClaimSightings& sightings);

    BatchClaim(BatchClaim&& other) noexcept;
    BatchClaim& operator=(BatchClaim&& other) noexcept;
    BatchClaim(const BatchClaim&) = delete;
    BatchClaim& operator=(const BatchClaim&) = delete;
    ~BatchClaim();

    // Whether the claim file is still this claim (a runner that took it over for
    // stale has not replaced it).
    bool held() const;
    // Marks the claim as alive, so no other runner takes it over.
    void refresh();
    // Gives the claim up: removes the claim file if it is still this claim.
    void release();

    const std::string& path() const { return path_; }

private:
    BatchClaim(std::string path, std::string text) : path_(std::move(path)), text_(std::move(text)) {}

    std::string path_;
    std::string text_;
};

struct ClaimAttempt {
    std::optional<BatchClaim> claim;
    // Who holds the folder when it was not claimed; nothing when another runner won a
    // race for it just now.
    std::optional<ClaimHolder> holder;
};

} // namespace morvane
