#include "batch/BatchRunner.h"

#include "batch/FolderState.h"

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
        // Offered folders are not made: one that is gone is passed over with a word,
        // one that was played meanwhile or holds no pair is simply not ready.
        const FolderLook look = lookAtBatchFolder(offered.folder.path);
        offered.state = look.state;
        offered.problem = look.problem;
        switch (look.state) {
        case FolderState::Missing:
            offered.problem = std::make_exception_ptr(FileNotFoundError(offered.folder.path));
            return offered;
        case FolderState::Empty:
            continue;
        case FolderState::Done:
            if (!look.claimFile)
                continue;
            offered.claimLeft = true;
            return offered;
        case FolderState::Writing:
        case FolderState::Ready:
        case FolderState::Claimed:
        case FolderState::Failed:
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
        // Its writer may still be at work: looked at again once the pair is whole.
        if (found->state == FolderState::Writing && options_.waitForWholePairs)
            continue;

        ClaimAttempt attempt;
        try {
            attempt = BatchClaim::acquire(folder.path, clock_, options_.claimTimeout, sightings_);
        } catch (const MorvaneError&) {
            // A folder deleted under the runner is no fault of the root.
            if (!options_.stopOnBadRoot || lookAtBatchFolder(folder.path).state == FolderState::Missing)
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
        // Another runner may have stored the report between the look and the claim.
        if (claim) {
            const FolderLook look = lookAtBatchFolder(folder.path);
            if (look.state == FolderState::Failed)
                return event(BatchEvent::FolderSkipped, folder, look.problem);
            if (look.state == FolderState::Done)
                claim.reset();
        }
        if (!claim)
            continue; // played by another runner
        sweepBatchTemporaries(folder.path);
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

    return storeStep(outcome);
}

BatchEvent BatchRunner::storeStep(const BattleOutcome& outcome) {
    bool stored = false;
    std::exception_ptr failure;
    try {
        const std::string report = host_.finishedReport();
        // Looked at last, right before the report is placed: a runner that stalled
        // past its claim's age (stopped, swapped out) may have lost the folder to a
        // runner that judged it dead, and that one plays and stores it.
        if (claim_->held())
            stored = storeBatchReport(*folder_, report);
    } catch (...) {
        failure = std::current_exception();
    }
    const BatchFolder folder = *folder_;
    const bool vanished = !stored && lookAtBatchFolder(folder.path).state == FolderState::Missing;
    if (failure && !vanished)
        return stop(BatchEvent::StoreFailed, failure);
    claim_.reset();
    folder_.reset();
    phase_ = Phase::Scan;
    if (vanished) {
        // Deleted while its battle ran (an rm -r under way): passed over, and said.
        return event(BatchEvent::FolderSkipped, folder,
                     failure ? failure : std::make_exception_ptr(FileNotFoundError(folder.path)));
    }
    if (!stored)
        return scanStep(); // taken over, or stored by another runner meanwhile: its report stands
    BatchEvent done = event(BatchEvent::ReportStored, folder);
    done.outcome = outcome;
    return done;
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
