#pragma once
// A runner's hold on one batch folder while it plays it. Several runners may share a
// root (two terminals, the window beside the command line tool, machines sharing the
// folder): each claims a folder before playing it, by creating the claim file there
// exclusively, and gives the claim up once the report is stored, so no folder is
// played twice and no report is written over by another runner's battle.
//
// A runner that dies leaves its claim behind. Such a claim is taken over when its
// process is gone (same host) or when it has not been refreshed for a while (any
// host): a holder refreshes its claim while its battle runs.

#include "common/Clock.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

class BatchClaim {
public:
    static constexpr std::string_view FileName = ".morvane-claim";

    // Claims the folder (a path ending with "/"); nothing when another runner holds
    // it. A claim left by a process that is gone, or untouched for staleAfter by the
    // clock, is taken over. Throws IoError naming the claim file when it cannot be
    // created or read.
    static std::optional<BatchClaim> acquire(const std::string& folder, const Clock& clock,
                                             std::chrono::seconds staleAfter);

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
    BatchClaim(std::string path, std::string token) : path_(std::move(path)), token_(std::move(token)) {}

    std::string path_;
    std::string token_;
};

} // namespace morvane
