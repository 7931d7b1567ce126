#include "server/BattleService.h"

#include "batch/BatchRunner.h"
#include "batch/BatchScan.h"
#include "batch/FolderState.h"
#include "battle/Battle.h"
#include "cards/Team.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/FileNames.h"
#include "common/Files.h"
#include "common/Random.h"
#include "frontend/FrontEnd.h"
#include "ladder/LadderWork.h"
#include "report/ReportSink.h"
#include "report/SeededBattle.h"
#include "server/PublicText.h"

#include <iostream>
#include <set>

namespace fs = std::filesystem;

namespace morvane {

BattleService::BattleService(ServiceOptions options, const Clock& clock)
    : options_(std::move(options)), clock_(clock), catalogue_(front::loadCatalogue(options_.cards)),
      submitter_(options_.root), index_(options_.index, options_.root, clock),
      events_(std::make_unique<EventStore>(options_.root, catalogue_, clock,
                                           // Asked only when an event is created, by when the ladder below is made; a
                                           // withdrawn entry has left the ladder and enters no event either.
                                           [this](uint32_t number) -> std::optional<EntrantSource> {
                                               const std::optional<LadderEntry> entry =
                                                   ladder_ ? ladder_->entry(number) : std::nullopt;
                                               if (!entry || !entry->active())
                                                   return std::nullopt;
                                               EntrantSource source;
                                               source.ladderEntry = number;
                                               source.team = entry->team;
                                               source.name = entry->name;
                                               return source;
                                           })),
      ladder_(options_.ladder ? std::make_unique<Ladder>(options_.root, catalogue_, clock) : nullptr) {
    for (int side = 0; side < 2; ++side) {
        try {
            const std::vector<TextLine> lines = readDeckFile(deckFilePath(folderOf(options_.cards), side));
            if (!lines.empty())
                defaultDecks_[static_cast<size_t>(side)] = lines.front().text;
        } catch (const MorvaneError&) {
            // No deck file: the builder starts from the first cards.
        }
    }
    // Every folder that still waits (a restart, pairs dropped while the service was
    // down) is played first, lowest number first.
    if (options_.runners > 0)
        for (const int number : index_.refresh(true))
            offer(number);
    else
        index_.refresh(true);
    for (int i = 0; i < options_.runners; ++i)
        runners_.emplace_back([this, i] { runnerLoop(i); });
    watcher_ = std::thread([this] { watchLoop(); });
    ladderThread_ = std::thread([this] { ladderLoop(); });
}

BattleService::~BattleService() {
    stop();
}

void BattleService::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        offered_.clear();
    }
    cancelWork_ = true;
    work_.notify_all();
    stopped_.notify_all();
    for (std::thread& runner : runners_)
        if (runner.joinable())
            runner.join();
    if (watcher_.joinable())
        watcher_.join();
    if (ladderThread_.joinable())
        ladderThread_.join();
}

std::pair<std::string, std::string> BattleService::checkDecks(const std::string& top, const std::string& bottom) const {
    const Teams teams = applyDeckLines(catalogue_, {top, "top deck line"}, {bottom, "bottom deck line"});
    // The battle start's own check: every selector holds a card.
    checkPlayable(catalogue_, teams);
    // Written as the runner reads them, so nothing past the ids (text after the list
    // number, a stray line break) reaches the folder.
    return {formatDeckLine(teams.side[0], 0), formatDeckLine(teams.side[1], 1)};
}

int64_t BattleService::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now().time_since_epoch()).count();
}

int BattleService::submit(const std::pair<std::string, std::string>& decks) {
    // Without the lock, submissions answered side by side each saw room for one more.
    std::lock_guard submitting(submitMutex_);
    if (index_.waiting() >= options_.maxQueue) {
        ++metrics_.refusedQueue;
        throw QueueFullError();
    }
    const int number = submitter_.submit(decks.first, decks.second);
    {
        std::lock_guard lock(mutex_);
        submitted_[number] = clock_.now();
    }
    BattleEntry entry;
    entry.number = number;
    entry.top = decks.first;
    entry.bottom = decks.second;
    entry.submittedMs = nowMs();
    try {
        index_.add(entry);
    } catch (const MorvaneError& e) {
        // The pair is stored: a refusal now would be played all the same, and a
        // client that tried again would get it twice. The index, a cache, finds the
        // folder at its next look.
        logLine(publicText(e, options_.root));
    }
    ++metrics_.submissions;
    if (options_.runners > 0)
        offer(number);
    return number;
}

void BattleService::offer(int number) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || playing_.count(number))
            return;
        offered_.insert(number);
    }
    work_.notify_one();
}

std::optional<int> BattleService::takeOffered() {
    std::lock_guard lock(mutex_);
    if (stopping_ || offered_.empty())
        return std::nullopt;
    const int number = *offered_.begin();
    offered_.erase(offered_.begin());
    return number;
}

void BattleService::finished(int number, int64_t finishedMs) {
    std::optional<Clock::TimePoint> mine;
    {
        std::lock_guard lock(mutex_);
        if (const auto at = submitted_.find(number); at != submitted_.end()) {
            mine = at->second;
            submitted_.erase(at);
        }
    }
    if (mine) {
        metrics_.observeLatency(std::chrono::duration<double>(clock_.now() - *mine).count());
    } else if (const std::optional<BattleEntry> entry = index_.find(number)) {
        metrics_.observeLatency(static_cast<double>(std::max<int64_t>(0, finishedMs - entry->submittedMs)) / 1000);
    }
}

void BattleService::runnerLoop(int index) {
    Random random(options_.seed + static_cast<uint32_t>(index));
    EngineBatchHost host(catalogue_, random, options_.root, -1, options_.maxTurns);
    host.setReadyFolders([this] { return takeOffered(); });
    BatchOptions runOptions;
    runOptions.waitForWholePairs = true; // pairs dropped by hand may be half written
    BatchRunner runner(host, clock_, runOptions);
    ClaimSightings workSightings;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_ && !runner.busy())
                return;
        }
        const BatchEvent event = runner.step();
        if (event.kind == BatchEvent::ScanFinished) {
            // No battle offered: a unit of ladder work, after which battles that came
            // meanwhile go first again.
            if (playLadderWork(workSightings, runOptions.claimTimeout))
                continue;
            std::unique_lock lock(mutex_);
            const uint64_t posted = workPosted_;
            work_.wait_for(lock, std::chrono::seconds(1),
                           [&] { return stopping_ || !offered_.empty() || workPosted_ != posted; });
            continue;
        }
        try {
            note(event);
        } catch (...) {
            // The report is stored whatever the index says; the index's next look
            // at the folders finds it.
            logLine(publicText(std::current_exception(), options_.root));
            if (event.folder) {
                std::lock_guard lock(mutex_);
                playing_.erase(event.folder->number);
            }
        }
    }
}

bool BattleService::playLadderWork(ClaimSightings& sightings, std::chrono::seconds staleAfter) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || !offered_.empty())
            return false;
    }
    try {
        const std::optional<PlayedWork> played =
            playNextWorkUnit(options_.root, catalogue_, clock_, sightings, 1, staleAfter, &cancelWork_);
        if (played && played->error)
            logLine(placedText("ladder/work/" + played->id, *played->error));
        return played.has_value();
    } catch (...) {
        // The disk refused the unit's files: it waits for a later try.
        logLine(publicText(std::current_exception(), options_.root));
        return false;
    }
}

void BattleService::note(const BatchEvent& event) {
    const int number = event.folder ? event.folder->number : -1;
    switch (event.kind) {
    case BatchEvent::DecksApplied: {
        std::lock_guard lock(mutex_);
        playing_.insert(number);
        break;
    }
    case BatchEvent::ReportStored: {
        {
            std::lock_guard lock(mutex_);
            retries_.erase(number);
        }
        index_.finish(number, event.outcome, nowMs());
        ++metrics_.battlesHere;
        finished(number, nowMs());
        std::lock_guard lock(mutex_);
        playing_.erase(number);
        break;
    }
    case BatchEvent::Stopped:
    case BatchEvent::FolderSkipped: {
        const std::string problem = publicText(event.error, options_.root);
        logLine(placedText(number >= 0 ? event.folder->name() : "", problem));
        if (event.kind == BatchEvent::Stopped && number >= 0 && mayPassLater(event.failure)) {
            // An acknowledged battle is not lost to a full disk: it waits, and is
            // played again once there is room.
            deferRetry(number);
        } else if (event.kind == BatchEvent::Stopped && number >= 0) {
            index_.fail(number, problem);
            ++metrics_.battlesFailed;
            std::lock_guard lock(mutex_);
            submitted_.erase(number);
            playing_.erase(number);
        }
        break;
    }
    default:
        break;
    }
}

bool BattleService::noticeFinished(int number) {
    // The watch and a page may notice the same battle at once: it is counted once.
    std::lock_guard lock(noticeMutex_);
    const std::optional<BattleEntry> before = index_.find(number);
    const std::optional<BattleEntry> now = index_.reread(number);
    if (!now || now->state != BattleEntry::Done || (before && before->state == BattleEntry::Done))
        return false;
    ++metrics_.battlesOthers;
    finished(number, now->finishedMs);
    return true;
}

void BattleService::deferRetry(int number) {
    std::lock_guard lock(mutex_);
    playing_.erase(number);
    Retry& retry = retries_[number];
    // One second, doubling up to a minute: a disk that stays full costs a battle a
    // minute, one that frees up is noticed soon.
    retry.due = std::chrono::steady_clock::now() + std::chrono::seconds(1 << std::min(retry.refusals, 6));
    ++retry.refusals;
}

bool BattleService::retryDue(int number) {
    std::lock_guard lock(mutex_);
    const auto it = retries_.find(number);
    return it == retries_.end() || std::chrono::steady_clock::now() >= it->second.due;
}

void BattleService::watchLoop() {
    // Waiting battles are looked at five times a second: one another runner finished
    // shows up at once, one whose runner gave it up is offered again. Claimed ones are
    // offered every ten seconds, so a claim whose runner died is taken over once it is
    // stale. New folders dropped by hand are looked for every five seconds.
    // Hand-dropped pairs seen still being written: their deck lines are read again
    // once they are whole.
    std::set<int> writing;
    for (long tick = 1;; ++tick) {
        {
            std::unique_lock lock(mutex_);
            if (stopped_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stopping_; }))
                return;
        }
        try {
            if (tick % 25 == 0)
                index_.refresh(false);
            for (const int number : index_.waitingNumbers()) {
                {
                    std::lock_guard lock(mutex_);
                    if (playing_.count(number) || offered_.count(number))
                        continue;
                }
                const FolderState state = lookAtBatchFolder(batchFolderName(options_.root, number)).state;
                if (state == FolderState::Writing)
                    writing.insert(number);
                else if (writing.erase(number) > 0)
                    index_.reread(number);
                if (state == FolderState::Done)
                    noticeFinished(number);
                else if (options_.runners > 0 && retryDue(number) &&
                         (state == FolderState::Ready || (state == FolderState::Claimed && tick % 50 == 0)))
                    offer(number);
            }
        } catch (...) {
            logLine(publicText(std::current_exception(), options_.root));
        }
    }
}

void BattleService::absorbAnsweredWork() {
    std::lock_guard counting(ladderMutex_);
    std::vector<AnsweredWork> events;
    std::vector<AnsweredWork> matches;
    for (AnsweredWork& work : answeredWork(options_.root))
        (work.unit.kind == WorkKind::Event ? events : matches).push_back(std::move(work));
    // Retired only once counted or stored: a stop in between leaves the answer to be
    // read again, and the ladder's journal and the event store each count it once.
    if (ladder_ && !matches.empty())
        for (const std::string& id : ladder_->absorbAnswers(matches))
            retireWork(options_.root, id);
    if (!events.empty())
        for (const std::string& id : events_->absorb(events))
            retireWork(options_.root, id);
}

size_t BattleService::postLadderWork() {
    // Enough waiting work to keep every runner busy between two looks (a look and its
    // syncs can take longer than the tenth of a second between them), never so much
    // that a new entry's placement queues behind a long backlog: this is about half a
    // second of two cores' battles.
    constexpr uint64_t Backlog = 131072;
    if (!ladder_)
        return 0;
    std::lock_guard handing(ladderMutex_);
    // Topped up once half of it is played, not after every unit: each look over the
    // ladder rates every entry, which at thousands of entries cost a runner's worth of
    // a tenth of its time when it came ten times a second.
    const uint64_t outstanding = ladder_->battlesOutstanding();
    if (outstanding >= Backlog / 2)
        return 0;
    const std::vector<WorkUnit> units = ladder_->nextWork(Backlog - outstanding);
    for (const WorkUnit& unit : units)
        submitWork(options_.root, unit);
    if (!units.empty()) {
        {
            std::lock_guard lock(mutex_);
            ++workPosted_;
        }
        work_.notify_all();
    }
    return units.size();
}

void BattleService::ladderLoop() {
    // Ten times a second: a new entry's placement goes out at once, and an answered
    // unit counts within a tenth of a second of its answer.
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (stopped_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stopping_; }))
                return;
        }
        try {
            absorbAnsweredWork();
            postLadderWork();
        } catch (...) {
            logLine(publicText(std::current_exception(), options_.root));
        }
    }
}

EventStore::Created BattleService::createEvent(const EventPlan& plan) {
    return events_->create(plan, options_.maxTurns);
}

std::string BattleService::replay(const std::pair<std::string, std::string>& decks, uint32_t seed,
                                  long long maxTurns) const {
    const Teams teams = applyDeckLines(catalogue_, {decks.first, "top deck line"}, {decks.second, "bottom deck line"});
    MemoryReportSink sink;
    playSeededBattle(catalogue_, teams, seed, sink, maxTurns, &clock_);
    return sink.text();
}

std::optional<BattleView> BattleService::view(int number) {
    const std::string folder = batchFolderName(options_.root, number);
    std::optional<BattleEntry> entry = index_.find(number);
    bool playingHere = false;
    {
        std::lock_guard lock(mutex_);
        playingHere = playing_.count(number) > 0;
    }
    if (!playingHere && (!entry || entry->state == BattleEntry::Waiting)) {
        // Not indexed yet (dropped by hand), or perhaps played elsewhere meanwhile.
        const FolderState state = lookAtBatchFolder(folder).state;
        if (state == FolderState::Missing)
            return std::nullopt;
        if (!entry || state == FolderState::Done) {
            noticeFinished(number);
            entry = index_.find(number);
        }
    }
    if (!entry)
        return std::nullopt;
    BattleView view;
    view.entry = *entry;
    switch (entry->state) {
    case BattleEntry::Done:
        view.state = BattleView::Done;
        break;
    case BattleEntry::Failed:
        view.state = BattleView::Failed;
        break;
    case BattleEntry::Waiting:
        if (playingHere || lookAtBatchFolder(folder).state == FolderState::Claimed) {
            view.state = BattleView::Playing;
        } else {
            view.state = BattleView::Waiting;
            view.place = index_.waitingBefore(number) + 1;
        }
        break;
    }
    return view;
}

std::optional<std::string> BattleService::report(int number) const {
    const fs::path path = findFileNoCase(batchFolderName(options_.root, number), file::Report);
    try {
        return readFileBytes(path);
    } catch (const MorvaneError&) {
        return std::nullopt;
    }
}

std::string BattleService::metricsText() {
    size_t playing = 0;
    {
        std::lock_guard lock(mutex_);
        playing = playing_.size();
    }
    return metrics_.text(index_.waiting(), static_cast<int>(playing));
}

} // namespace morvane
