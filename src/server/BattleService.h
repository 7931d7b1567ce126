#pragma once
// The battle service without its HTTP front: takes deck pairs, checks them by the
// program's own rules, drops each into the next free batch folder, and plays them
// with the one batch runner on its own threads (claims included, so runners
// elsewhere may share the root). It keeps the index current and tells where each
// battle stands. The web front only parses requests and answers with what this says.

#include "batch/BatchRunner.h"
#include "batch/BatchSubmit.h"
#include "battle/BattleOutcome.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Clock.h"
#include "ladder/Ladder.h"
#include "server/BattleDesk.h"
#include "server/BattleIndex.h"
#include "server/Metrics.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace morvane {

struct ServiceOptions {
    std::string root;   // ends with "/"
    bool ladder = true; // keep the ladder of the root's records, and hand out its work
    std::filesystem::path cards;
    std::filesystem::path index;
    int runners = 1;
    int64_t maxQueue = 1000;
    uint32_t seed = 0;
    long long maxTurns = DefaultMaxTurns;
};

class BattleService final : public BattleDesk {
public:
    // Loads the catalogue (throws InputError naming it), makes the root, opens the
    // index and brings it up to date from the folders, and starts the runners, which
    // first play every folder still waiting.
    explicit BattleService(ServiceOptions options, const Clock& clock = systemClock());
    // Stops as stop() does.
    ~BattleService() override;
    BattleService(const BattleService&) = delete;
    BattleService& operator=(const BattleService&) = delete;

    // The two deck lines (code page 932) as the runner will read them: checked by the
    // deck line and battle start rules, and written as the deck lines of the teams
    // they select. Throws InputError with the program's message and which line.
    std::pair<std::string, std::string> checkDecks(const std::string& top, const std::string& bottom) const override;
    // Stores a checked pair in the next free folder and offers it to the runners;
    // returns its number. Throws QueueFullError when maxQueue battles wait, and
    // MorvaneError when the folder cannot be written.
    int submit(const std::pair<std::string, std::string>& decks) override;

    // Where a battle stands; nothing for a number without a deck pair.
    std::optional<BattleView> view(int number) override;
    std::vector<BattleEntry> history(int64_t offset, int count) override { return index_.newest(offset, count); }
    int64_t battleCount() override { return index_.count(); }
    int64_t waiting() { return index_.waiting(); }
    std::string metricsText() override;
    // The report of a battle, byte for byte as stored; nothing when there is none.
    std::optional<std::string> report(int number) const override;

    const CardCatalogue& catalogue() const override { return catalogue_; }
    // Deck lines of the program folder's deck files beside the catalogue, for the
    // team builder's first teams; empty when there are none.
    const std::array<std::string, 2>& defaultDecks() const override { return defaultDecks_; }
    const std::string& root() const { return options_.root; }
    ServiceMetrics& metrics() override { return metrics_; }

    std::string replay(const std::pair<std::string, std::string>& decks, uint32_t seed,
                       long long maxTurns) const override;
    long long maxTurns() const override { return options_.maxTurns; }

    EventStore::Created createEvent(const EventPlan& plan) override;
    void cancelEvent(const std::string& id, std::string_view key) override { events_->cancel(id, key); }
    std::optional<EventRecord> event(const std::string& id) override { return events_->event(id); }
    std::vector<EventRecord> events(size_t first, size_t count) override { return events_->list(first, count); }
    size_t eventCount() override { return events_->count(); }

    Ladder* ladder() override { return ladder_.get(); }

    // Hands the answered units of the root to whoever counts them (the ladder, the
    // events) and retires those counted. The ladder's loop does it ten times a second;
    // tests may call it too, one caller at a time.
    void absorbAnsweredWork();
    // Submits the ladder's next work when less than the backlog waits. Returns the
    // units submitted.
    size_t postLadderWork();

    // Stops offering battles, lets every runner finish and store the battle it plays,
    // and waits for them.
    void stop();

private:
    void runnerLoop(int index);
    // Plays one waiting unit of the ladder's work when no battle waits; true when one
    // was played.
    bool playLadderWork(ClaimSightings& sightings, std::chrono::seconds staleAfter);
    // Keeps the index and the counts in step with what a runner did.
    void note(const BatchEvent& event);
    void watchLoop();
    // Counts answers and hands out the ladder's next work.
    void ladderLoop();
    // Offers a waiting battle to this service's runners.
    void offer(int number);
    std::optional<int> takeOffered();
    // A battle finished here or elsewhere: the latency is measured once.
    void finished(int number, int64_t finishedMs);
    // Reads the folder of a battle that may have been played elsewhere; true when it
    // was, and is now known to be done.
    bool noticeFinished(int number);
    // A battle whose claim or report the disk refused: played again after a pause
    // that grows with each refusal.
    void deferRetry(int number);
    bool retryDue(int number);

    int64_t nowMs() const;

    ServiceOptions options_;
    const Clock& clock_;
    CardCatalogue catalogue_;
    std::array<std::string, 2> defaultDecks_;
    BatchSubmitter submitter_;
    BattleIndex index_;
    std::unique_ptr<EventStore> events_;
    std::unique_ptr<Ladder> ladder_;
    ServiceMetrics metrics_;

    std::mutex mutex_;
    std::mutex noticeMutex_;
    // The ladder counts and hands out work from one thread at a time.
    std::mutex ladderMutex_;
    // Submissions one at a time: the queue's length is looked at and grown as one step.
    std::mutex submitMutex_;
    std::condition_variable work_;    // runners: a battle was offered, or stop
    std::condition_variable stopped_; // the watch: stop
    bool stopping_ = false;
    // Set with stopping_: a ladder work unit under way stops, and waits for a later run.
    std::atomic<bool> cancelWork_{false};
    std::set<int> offered_;
    // Grows with each unit of ladder work submitted, so an idle runner wakes for it.
    uint64_t workPosted_ = 0;
    std::set<int> playing_;
    // Submissions made by this process, for the latency.
    std::map<int, Clock::TimePoint> submitted_;
    struct Retry {
        std::chrono::steady_clock::time_point due;
        int refusals = 0;
    };
    std::map<int, Retry> retries_;

    std::vector<std::thread> runners_;
    std::thread watcher_;
    std::thread ladderThread_;
};

} // namespace morvane
