#include "batch/BatchRunner.h"

#include "cards/CardCatalogue.h"
#include "common/Clock.h"
#include "common/Errors.h"
#include "common/FileNames.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace morvane {

namespace {

BatchEvent event(BatchEvent::Kind kind, std::optional<BatchFolder> folder = std::nullopt,
                 std::exception_ptr error = nullptr) {
    BatchEvent e;
    e.kind = kind;
    e.folder = std::move(folder);
    e.error = std::move(error);
    return e;
}

} // namespace

BatchRunner::BatchRunner(BatchHost& host, const Clock& clock, BatchOptions options)
    : host_(host), clock_(clock), options_(options) {}

BatchRunner::~BatchRunner() = default;

void BatchRunner::reset() {
    claim_.reset();
    folder_.reset();
    scan_.reset();
    scanning_ = false;
    phase_ = Phase::Scan;
}

BatchEvent BatchRunner::stop(BatchEvent::Failure failure, std::exception_ptr error) {
    BatchEvent stopped = event(BatchEvent::Stopped, folder_, std::move(error));
    stopped.failure = failure;
    reset();
    return stopped;
}

BatchEvent BatchRunner::step() {
    return phase_ == Phase::Scan ? scanStep() : playStep();
}

void BatchRunner::checkRoot(const std::string& root) const {
    // An empty or mistyped relative root is refused by the scan itself; this is about
    // a root that names something other than a usable folder.
    if (root.empty() || (root.front() != '/' && !fs::is_directory(root.substr(0, root.find('/')))))
        return;
    std::error_code ec;
    fs::create_directories(root, ec);
    if (!fs::is_directory(root, ec))
        throw FolderError(root);
}

std::optional<ScannedFolder> BatchRunner::nextFolder() {
    while (const std::optional<int> number = host_.readyFolder()) {
        if (*number < 0)
            continue;
        ScannedFolder offered{{*number, batchFolderName(host_.root(), *number)}, nullptr};
        try {
            // Offered folders are not made: one that is gone, or was played meanwhile,
            // is simply not ready.
            if (folderHolds(offered.folder.path, file::BatchDecks) && !folderHolds(offered.folder.path, file::Report))
                return offered;
        } catch (const MorvaneError&) {
            offered.problem = std::current_exception();
            return offered;
        }
    }
    if (!scanning_) {
        const int last = host_.lastFolder();
        if (options_.stopOnBadRoot)
            checkRoot(host_.root());
        scan_.emplace(last);
        scanning_ = true;
    }
    return scan_->next([this] { return host_.root(); });
}

BatchEvent BatchRunner::scanStep() {
    for (;;) {
        std::optional<ScannedFolder> found;
        try {
            found = nextFolder();
        } catch (...) {
            return stop(BatchEvent::BadRoot, std::current_exception());
        }
        if (!found) {
            scanning_ = false;
            return event(BatchEvent::ScanFinished);
        }
        const BatchFolder& folder = found->folder;
        if (found->problem)
            return event(BatchEvent::FolderSkipped, folder, found->problem);
        if (found->claimLeft) {
            BatchClaim::clearAbandoned(folder.path, clock_, options_.claimTimeout, sightings_);
            continue;
        }

        ClaimAttempt attempt;
        try {
            attempt = BatchClaim::acquire(folder.path, clock_, options_.claimTimeout, sightings_);
        } catch (const MorvaneError&) {
            if (!options_.stopOnBadRoot)
                return event(BatchEvent::FolderSkipped, folder, std::current_exception());
            folder_ = folder;
            return stop(BatchEvent::ClaimFailed, std::current_exception());
        }
        if (attempt.holder) {
            BatchEvent held = event(BatchEvent::FolderHeld, folder);
            held.holder = std::move(attempt.holder);
            return held;
        }
        std::optional<BatchClaim> claim = std::move(attempt.claim);
        try {
            // Another runner may have stored the report between the look and the claim.
            if (claim && folderHolds(folder.path, file::Report))
                claim.reset();
        } catch (const MorvaneError&) {
            return event(BatchEvent::FolderSkipped, folder, std::current_exception());
        }
        if (!claim)
            continue; // played by another runner
        removeStaleReportFiles(folder);
        claim_ = std::move(claim);
        folder_ = folder;
        refreshedAt_ = clock_.now();
        try {
            host_.applyDecks(readDeckPair(folder));
        } catch (...) {
            return stop(BatchEvent::BadFolder, std::current_exception());
        }
        phase_ = Phase::Start;
        return event(BatchEvent::DecksApplied, folder);
    }
}

BatchEvent BatchRunner::playStep() {
    BattleOutcome outcome;
    try {
        if (phase_ == Phase::Start) {
            host_.startBattle();
            phase_ = Phase::Play;
            return event(BatchEvent::BattleStarted, folder_);
        }
        outcome = host_.advanceBattle();
    } catch (...) {
        return stop(BatchEvent::BadFolder, std::current_exception());
    }
    if (outcome.status == BattleStatus::Halted)
        return stop(BatchEvent::BadFolder, nullptr);
    if (outcome.status == BattleStatus::Running) {
        // Long battles (the window plays a turn every 20 ms) keep the claim alive.
        if (clock_.now() - refreshedAt_ > options_.claimTimeout / 4) {
            claim_->refresh();
            refreshedAt_ = clock_.now();
        }
        return event(BatchEvent::TurnPlayed, folder_);
    }

    if (!claim_->held()) {
        // Taken over by a runner that judged this one dead: that runner plays the
        // folder and stores its own report.
        folder_.reset();
        claim_.reset();
        phase_ = Phase::Scan;
        return scanStep();
    }
    try {
        storeBatchReport(*folder_, host_.finishedReport());
    } catch (...) {
        return stop(BatchEvent::StoreFailed, std::current_exception());
    }
    BatchEvent stored = event(BatchEvent::ReportStored, folder_);
    stored.outcome = outcome;
    claim_.reset();
    folder_.reset();
    phase_ = Phase::Scan;
    return stored;
}

EngineBatchHost::EngineBatchHost(const CardCatalogue& catalogue, Random& random, std::string root, int last,
                                 long long maxTurns)
    : catalogue_(catalogue), root_(std::move(root)), last_(last), maxTurns_(maxTurns),
      battle_(catalogue, random, &sink_) {}

void EngineBatchHost::applyDecks(const DeckPair& decks) {
    applyDeckPair(decks, teams_, catalogue_);
}

void EngineBatchHost::startBattle() {
    battle_.start(teams_);
}

BattleOutcome EngineBatchHost::advanceBattle() {
    battle_.playTurn(maxTurns_);
    return battle_.outcome();
}

} // namespace morvane
