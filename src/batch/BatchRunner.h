#pragma once
// The batch runner: scans a root's numbered folders, and plays and stores the battle of
// every ready one, one step per call. Each step does one thing (apply a folder's decks,
// start its battle, let it go on by a turn, store its report, finish a scan) and says
// what it did, so the front end only decides when to call again and what to show:
// morvane-cli calls in a loop and prints a line per folder, the window calls from its
// timer and lets its battle timer play the turns.
//
// The runner claims a folder before playing it (BatchClaim), so several runners can
// share one root, and gives up the claim once the folder's report is stored or the run
// stops there.

#include "batch/BatchClaim.h"
#include "batch/BatchScan.h"
#include "battle/Battle.h"
#include "cards/Deck.h"
#include "report/ReportSink.h"

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace morvane {

class CardCatalogue;
class Clock;
class Random;

// What the runner asks of its front end. Failures are thrown, with the program's
// message; the runner stops on them.
class BatchHost {
public:
    virtual ~BatchHost() = default;
    // The root folder's text, asked afresh for every folder.
    virtual std::string root() = 0;
    // The highest folder number, asked at the start of every scan.
    virtual int lastFolder() = 0;
    // Sets the two sides from a folder's deck pair: the top line, then the bottom one.
    virtual void applyDecks(const DeckPair& decks) = 0;
    // Starts the battle of the sides as set.
    virtual void startBattle() = 0;
    // Lets the battle go on by the front end's own pace (a turn, or a look at the
    // battle that its own timer plays) and says where it stands. Halted means stopped
    // by an error that the front end has already shown.
    virtual BattleOutcome advanceBattle() = 0;
    // The report of the battle that has just ended.
    virtual std::string finishedReport() = 0;
    // A folder number the front end has just seen become ready (a service that filled
    // it, a file system event), looked at before the scan goes on, so a runner plays
    // it at once and whatever its number; nothing when there is none. The window
    // has none and only scans.
    virtual std::optional<int> readyFolder() { return std::nullopt; }
};

struct BatchEvent {
    enum Kind {
        DecksApplied,  // a ready folder was claimed and its decks set: call again now
        BattleStarted, // call again at the battle's pace
        TurnPlayed,    // the battle goes on: call again at the battle's pace
        ReportStored,  // the folder is done: call again now
        FolderSkipped, // the folder cannot be made or looked into (error): call again now
        ScanFinished,  // call again when the next scan is due
        Stopped,       // the run stops here (error; null when the front end showed it)
        FolderHeld,    // another runner holds the folder (holder says who): call again now
    };
    // Why a run stopped, for the command line tool's exit status.
    enum Failure {
        None,
        BadRoot,     // the root cannot be used
        BadFolder,   // a folder's deck pair cannot be read or applied, or its battle fails
        StoreFailed, // a finished report cannot be stored
        ClaimFailed  // no claim can be made in a ready folder (no write permission, a full disk)
    };

    Kind kind = ScanFinished;
    std::optional<BatchFolder> folder;
    BattleOutcome outcome; // ReportStored
    std::exception_ptr error;
    Failure failure = None;
    std::optional<ClaimHolder> holder; // FolderHeld
};

// Whether a run that stopped with failure may succeed later with the folder as it
// is: the disk refused the claim or the report (full, over a quota), which says
// nothing against the folder's pair. Its folder stays ready; a runner that keeps
// going plays it again once there is room, rather than calling it failed.
constexpr bool mayPassLater(BatchEvent::Failure failure) {
    return failure == BatchEvent::StoreFailed || failure == BatchEvent::ClaimFailed;
}

struct BatchOptions {
    // Stop when the root itself cannot be used (it is not a folder, or cannot be made
    // or written, or no claim can be made in a ready folder). The window passes over
    // its folders one by one instead.
    bool stopOnBadRoot = true;
    // A claim untouched this long is taken over: its runner is taken to have died.
    std::chrono::seconds claimTimeout{600};
    // Pass over a deck pair that is not whole yet (no second line, a last id cut
    // short) and look at it again later, for a runner that watches a root while
    // others write into it. A single run plays what it finds, and such a pair fails.
    bool waitForWholePairs = false;
};

class BatchRunner {
public:
    BatchRunner(BatchHost& host, const Clock& clock, BatchOptions options = {});
    ~BatchRunner();
    BatchRunner(const BatchRunner&) = delete;
    BatchRunner& operator=(const BatchRunner&) = delete;

    BatchEvent step();

    // A folder is claimed: its battle runs or its report is owed. Ending the run now
    // would leave the folder to a later run.
    bool busy() const { return phase_ != Phase::Scan; }
    // Folders looked at so far in the current scan.
    int scanned() const { return scan_ ? scan_->scanned() : 0; }
    // Gives up the folder under way, if any; the next step starts a new scan.
    void reset();

private:
    enum class Phase { Scan, Start, Play };

    BatchEvent scanStep();
    // The next folder to look at: one the front end offers, or the scan's next.
    std::optional<ScannedFolder> nextFolder();
    BatchEvent playStep();
    BatchEvent storeStep(const BattleOutcome& outcome);
    BatchEvent stop(BatchEvent::Failure failure, std::exception_ptr error);
    void checkRoot(const std::string& root) const;

    BatchHost& host_;
    const Clock& clock_;
    BatchOptions options_;
    Phase phase_ = Phase::Scan;
    std::optional<BatchScan> scan_;
    bool scanning_ = false; // scan_ has folders left to look at
    std::optional<BatchFolder> folder_;
    std::optional<BatchClaim> claim_;
    Clock::TimePoint refreshedAt_{};
    ClaimSightings sightings_;
};

// The runner's front end without windows: the engine plays each battle turn by turn
// from one generator shared by the whole run, the report goes to memory.
class EngineBatchHost : public BatchHost {
public:
    EngineBatchHost(const CardCatalogue& catalogue, Random& random, std::string root, int last, long long maxTurns);

    std::string root() override { return root_; }
    int lastFolder() override { return last_; }
    void applyDecks(const DeckPair& decks) override;
    void startBattle() override;
    BattleOutcome advanceBattle() override;
    std::string finishedReport() override { return sink_.text(); }
    std::optional<int> readyFolder() override { return readyFolders_ ? readyFolders_() : std::nullopt; }

    Battle& battle() { return battle_; }
    // Where readyFolder() takes its numbers from (a queue, a folder watch).
    void setReadyFolders(std::function<std::optional<int>()> source) { readyFolders_ = std::move(source); }

private:
    const CardCatalogue& catalogue_;
    std::string root_;
    int last_;
    long long maxTurns_;
    MemoryReportSink sink_;
    Battle battle_;
    Teams teams_;
    std::function<std::optional<int>()> readyFolders_;
};

} // namespace morvane
