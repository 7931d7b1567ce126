#include "server/BattleService.h"

#include "batch/BatchClaim.h"
#include "batch/BatchRunner.h"
#include "batch/BatchScan.h"
#include "battle/Battle.h"
#include "cards/Team.h"
#include "cli/CliCommon.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/FileNames.h"
#include "common/Files.h"
#include "common/Random.h"

#include <iostream>

namespace fs = std::filesystem;

namespace morvane {

namespace {

int64_t wallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A failure as the command line tool prints it, "where: message" in UTF-8, with the
// root's path left out: the page that shows it is public, the host's folders are not.
std::string failureText(const std::exception_ptr& error, const std::string& root) {
    if (!error)
        return "the battle halted";
    std::string text;
    try {
        std::rethrow_exception(error);
    } catch (const MorvaneError& e) {
        text = e.where().empty() ? cp932ToUtf8(e.message()) : e.where() + ": " + cp932ToUtf8(e.message());
    } catch (const std::exception& e) {
        text = e.what();
    }
    for (size_t at; (at = text.find(root)) != std::string::npos;)
        text.erase(at, root.size());
    return text;
}

} // namespace

BattleService::BattleService(ServiceOptions options)
    : options_(std::move(options)), catalogue_(cli::loadCatalogue(options_.cards)), submitter_(options_.root),
      index_(options_.index, options_.root) {
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
    work_.notify_all();
    stopped_.notify_all();
    for (std::thread& runner : runners_)
        if (runner.joinable())
            runner.join();
    if (watcher_.joinable())
        watcher_.join();
}

std::pair<std::string, std::string> BattleService::checkDecks(const std::string& top, const std::string& bottom) const {
    const Teams teams = applyDeckLines(catalogue_, {top, "top deck line"}, {bottom, "bottom deck line"});
    // The battle start's own check: every selector holds a card.
    checkPlayable(catalogue_, teams);
    // Written as the runner reads them, so nothing past the ids (text after the list
    // number, a stray line break) reaches the folder.
    return {formatDeckLine(teams.side[0], 0), formatDeckLine(teams.side[1], 1)};
}

int BattleService::submit(const std::pair<std::string, std::string>& decks) {
    if (index_.waiting() >= options_.maxQueue) {
        ++metrics_.refusedQueue;
        throw QueueFullError();
    }
    const int number = submitter_.submit(decks.first, decks.second);
    {
        std::lock_guard lock(mutex_);
        submitted_[number] = std::chrono::steady_clock::now();
    }
    BattleEntry entry;
    entry.number = number;
    entry.top = decks.first;
    entry.bottom = decks.second;
    entry.submittedMs = wallMs();
    index_.add(entry);
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
    std::optional<std::chrono::steady_clock::time_point> mine;
    {
        std::lock_guard lock(mutex_);
        if (const auto at = submitted_.find(number); at != submitted_.end()) {
            mine = at->second;
            submitted_.erase(at);
        }
    }
    if (mine) {
        metrics_.observeLatency(std::chrono::duration<double>(std::chrono::steady_clock::now() - *mine).count());
    } else if (const std::optional<BattleEntry> entry = index_.find(number)) {
        metrics_.observeLatency(static_cast<double>(std::max<int64_t>(0, finishedMs - entry->submittedMs)) / 1000);
    }
}

void BattleService::runnerLoop(int index) {
    Random random(options_.seed + static_cast<uint32_t>(index));
    EngineBatchHost host(catalogue_, random, options_.root, -1, options_.maxTurns);
    host.setReadyFolders([this] { return takeOffered(); });
    BatchRunner runner(host, systemClock());
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_ && !runner.busy())
                return;
        }
        const BatchEvent event = runner.step();
        const int number = event.folder ? event.folder->number : -1;
        switch (event.kind) {
        case BatchEvent::DecksApplied: {
            std::lock_guard lock(mutex_);
            playing_.insert(number);
            break;
        }
        case BatchEvent::ReportStored: {
            index_.finish(number, event.outcome, wallMs());
            ++metrics_.battlesHere;
            finished(number, wallMs());
            std::lock_guard lock(mutex_);
            playing_.erase(number);
            break;
        }
        case BatchEvent::Stopped:
        case BatchEvent::FolderSkipped: {
            const std::string problem = failureText(event.error, options_.root);
            std::cerr << "morvane-server: " << (number >= 0 ? event.folder->name() + ": " : "") << problem << std::endl;
            if (event.kind == BatchEvent::Stopped && number >= 0) {
                index_.fail(number, problem);
                ++metrics_.battlesFailed;
                std::lock_guard lock(mutex_);
                submitted_.erase(number);
                playing_.erase(number);
            }
            break;
        }
        case BatchEvent::ScanFinished: {
            std::unique_lock lock(mutex_);
            work_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_ || !offered_.empty(); });
            break;
        }
        default:
            break;
        }
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

void BattleService::watchLoop() {
    // Waiting battles are looked at five times a second: one another runner finished
    // shows up at once, one whose runner gave it up is offered again. Claimed ones are
    // offered every ten seconds, so a claim whose runner died is taken over once it is
    // stale. New folders dropped by hand are looked for every five seconds.
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
                const std::string folder = batchFolderName(options_.root, number);
                if (folderHolds(folder, file::Report))
                    noticeFinished(number);
                else if (options_.runners > 0 && (!folderHolds(folder, BatchClaim::FileName) || tick % 50 == 0))
                    offer(number);
            }
        } catch (...) {
            std::cerr << "morvane-server: " << failureText(std::current_exception(), options_.root) << std::endl;
        }
    }
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
        std::error_code ec;
        if (!fs::is_directory(folder, ec))
            return std::nullopt;
        if (!entry || folderHolds(folder, file::Report)) {
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
        if (playingHere || folderHolds(folder, BatchClaim::FileName)) {
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
