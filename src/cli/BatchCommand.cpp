#include "batch/BatchRunner.h"
#include "batch/FolderWatch.h"
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/ProgressLine.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Random.h"
#include "ladder/LadderWork.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <map>
#include <thread>
#include <unistd.h>

namespace morvane::cli {

const char* const BatchUsage = R"(usage: morvane-cli batch ROOT [--last N] [--cards FILE] [--seed N] [--time TEXT]
                         [--max-turns N] [--watch] [--threads N]

Plays the deck pairs dropped into the numbered folders ROOT/0000 to ROOT/NNNN, in
ascending order, one battle each. The folders are created when missing. A folder
that holds deck.dat (line 1 the top side's deck line, line 2 the bottom side's) but
no battle.html gets a battle, and the battle's report as battle.html; a folder that
holds battle.html is done and left alone.

  --last N           the highest folder number, 0 to 9999 (default 1)
  --cards FILE       the card catalogue (default: card.dat in the program folder)
  --seed N           starting value of the random generator, 0 to 4294967295
                     (default: the milliseconds of the time of day); one generator
                     serves every battle of the run, in folder order
  --time TEXT        text written after "make time[" in the reports (default: the time of day)
  --max-turns N      stop a battle that has not ended after N turns and keep its
                     report as it stands (default 10000)
  --watch            scan again every second until interrupted (Ctrl-C ends the run
                     between two battles); a folder that receives its deck.dat is
                     played as soon as its writer has finished (within a second when
                     written from another machine), also one past --last; a deck.dat
                     that is not whole yet (no second line, a last id cut short)
                     waits until it is; a folder deleted meanwhile is passed over;
                     between scans it plays the ladder's waiting work units too
  --threads N        threads for a ladder work unit, 1 to 1024 (default: one per core)

Under --watch the ladder's and events' work waiting in ROOT/ladder/work/ID/unit.dat
(put there by morvane-server on a shared ROOT) is played as well, one unit at a time
and only once a scan finds no battle folder ready: battle folders go first. A unit is
claimed like a folder, played from its seed and answered in ROOT/ladder/work/ID/answer.dat;
one that cannot be played is answered with an error, said on stderr. Prints one line
per unit: ladder ID battles=N, ladder ID event, or ladder ID error.

Prints one line per battle: NNNN winner=top|bottom|none turns=N
A folder that cannot be made or looked into (its deck.dat a link loop, say) is passed
over with one line on stderr. Several runs, on this machine or others, may share a
ROOT: each claims a folder (ROOT/NNNN/.morvane-claim) before playing it, so no folder
is played twice. A folder claimed by another run is passed over with one line on
stderr (said once under --watch) naming the run's pid and host, since when it holds
the folder and since when its claim is unchanged, or saying that the claim file cannot
be read as a claim. The claim of a run
that died is taken over once its process is known to be gone (a run of this machine's
boot and PID namespace: its pid ended, became a zombie or went to a later process),
or ten minutes after it last changed (by its file time; one dated ahead counts from
when it was first seen).
On a terminal, stderr shows the progress.
Exit status: 0 done (or --watch interrupted); 2 a ROOT that cannot be used as a folder,
a folder whose deck.dat cannot be read or applied, or whose battle cannot start or halts
on an error (the run stops there, with one error line naming the folder; that folder
gets no report), or a bad option or catalogue; 1 a report that cannot be stored, or a
ready folder where no claim can be made (no write permission, a full disk), named with
the reason (the run stops there; under --watch it goes on, and the folder, still ready,
is tried again a second later, then after twice the wait each time, up to half a
minute, while the failure lasts); 130 interrupted without --watch.
)";

namespace {

constexpr int ExitInterrupted = 130;

// The batch's progress line: folders scanned, battles played, time.
class Progress {
public:
    explicit Progress(bool shown) : line_(shown) {}

    void update(long long scanned, long long played, bool now = false) {
        line_.update([&] { return text(scanned, played); }, now);
    }
    void wipe() { line_.wipe(); }
    // Leaves the last figures on the terminal.
    void finish(long long scanned, long long played) {
        line_.finish([&] { return text(scanned, played); });
    }

private:
    std::string text(long long scanned, long long played) const {
        char buffer[128];
        std::snprintf(buffer, sizeof buffer, "batch: %lld folders scanned, %lld battles played, %.1f s", scanned,
                      played, line_.seconds());
        return buffer;
    }
    ProgressLine line_;
};

// Returns early when the watch sees a folder become ready.
void sleepUntilNextScan(const std::atomic<bool>& interrupted, FolderWatch& watch) {
    for (int i = 0; i < 20 && !interrupted; ++i) {
        if (watch.wait(std::chrono::milliseconds(50)))
            return;
        if (!watch.active())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// A watched root waits after a folder its disk refused, longer each time it is
// refused again: a disk that stays full is tried every half minute, not played into
// at full speed. Returns early when interrupted.
void waitBeforeTryingAgain(const std::atomic<bool>& interrupted, std::chrono::milliseconds pause) {
    for (auto waited = std::chrono::milliseconds(0); waited < pause && !interrupted;
         waited += std::chrono::milliseconds(50))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// Prints a failure the runner handed over, the way every failure is printed, and
// returns the exit status it calls for; a folder it belongs to is named first.
int printFailure(const std::exception_ptr& error, const std::optional<BatchFolder>& folder) {
    try {
        std::rethrow_exception(error);
    } catch (MorvaneError& e) {
        if (folder && e.where().find(folder->path) == std::string::npos)
            e.setWhere(placedText(folder->path, e.where()));
        return reportFailure(e);
    } catch (const std::exception& e) {
        return reportFailure(e);
    }
}

std::string localTimeText(Clock::TimePoint time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    char text[32] = "?";
    if (::localtime_r(&seconds, &local))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// Why a ready folder waits: who holds it, since when, and what its age is counted from
// (it is taken over ten minutes after). Built by appending: GCC 12 misreads "literal" +
// std::string&& as an overlap.
std::string heldText(const BatchFolder& folder, const ClaimHolder& holder) {
    std::string text = folder.path;
    if (!holder.readable())
        return text.append(BatchClaim::FileName)
            .append(": passed over: cannot be read as a claim (unchanged since ")
            .append(localTimeText(holder.unchangedSince))
            .append(")");
    return text.append(": passed over: claimed by pid ")
        .append(std::to_string(holder.pid))
        .append(" on host ")
        .append(holder.host)
        .append(" since ")
        .append(localTimeText(holder.since))
        .append(", unchanged since ")
        .append(localTimeText(holder.unchangedSince));
}

// Plays one waiting unit of the ladder's work, if any, and prints its line; true when
// one was played, so that the next scan follows at once.
bool playLadderWork(const std::string& root, const CardCatalogue& catalogue, ClaimSightings& sightings,
                    unsigned threads, std::chrono::seconds staleAfter, const std::atomic<bool>& interrupted,
                    Progress& progress) {
    std::optional<PlayedWork> played;
    try {
        played = playNextWorkUnit(root, catalogue, systemClock(), sightings, threads, staleAfter, &interrupted);
    } catch (const std::exception& e) {
        // The disk refused the unit's files: said, and the unit waits for a later try.
        progress.wipe();
        std::cout.flush();
        reportFailure(e);
        return false;
    }
    if (!played)
        return false;
    progress.wipe();
    if (played->error) {
        std::cout.flush();
        std::cerr << "morvane-cli: "
                  << escapeControls(placedText((ladderWorkFolder(root) / played->id).string(), *played->error))
                  << std::endl;
        std::cout << "ladder " << played->id << " error" << std::endl;
    } else if (played->kind == WorkKind::Event) {
        std::cout << "ladder " << played->id << " event" << std::endl;
    } else {
        std::cout << "ladder " << played->id << " battles=" << played->battles << std::endl;
    }
    return true;
}

} // namespace

// The folder the numbered folders are in, and how many of them to look at.
struct BatchPlace {
    std::string root;
    int last = 1;
};

BatchPlace batchPlace(const Options& options) {
    if (options.positional().empty())
        throw UsageError("batch needs the root folder (morvane-cli batch --help)");
    if (options.positional().size() > 1)
        throw UsageError("unexpected argument '" + options.positional()[1] + "'");
    BatchPlace place;
    if (auto last = options.value("--last"))
        place.last = static_cast<int>(parseCount("--last", *last, 0, 9999));
    // ROOT names the folder that holds the numbered folders. An empty ROOT stays
    // empty (and is refused by the scan) rather than becoming "/".
    place.root = options.positional().front();
    if (!place.root.empty() && place.root.back() != '/')
        place.root += '/';
    return place;
}

// Says who holds a folder passed over, once for each holder: --watch looks again every
// second.
void sayHeld(const BatchEvent& event, std::map<int, std::string>& said, Progress& progress) {
    std::string text = heldText(*event.folder, *event.holder);
    std::string& before = said[event.folder->number];
    if (text == before)
        return;
    progress.wipe();
    std::cout.flush();
    std::cerr << "morvane-cli: " << escapeControls(text) << std::endl;
    before = std::move(text);
}

int runBatch(const std::vector<std::string>& args) {
    const Options options(args, {"--last", "--cards", "--seed", "--time", "--max-turns", "--threads"},
                          {"--watch", "--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << BatchUsage;
        return ExitOk;
    }
    const BatchPlace place = batchPlace(options);
    const std::string& root = place.root;
    const uint32_t seed = seedOption(options);
    const long long maxTurns = maxTurnsOption(options);
    const bool watch = options.flag("--watch");
    const unsigned threads = threadsOption(options);

    const CardCatalogue catalogue = loadCatalogue(cardsPath(options));
    Random random(seed);
    EngineBatchHost host(catalogue, random, root, place.last, maxTurns);
    std::optional<FixedClock> fixedTime;
    if (auto time = options.value("--time")) {
        fixedTime.emplace(utf8ToCp932(*time));
        host.battle().report().setClock(*fixedTime);
    }
    BatchOptions runOptions;
    // A watched root is written into while the run goes on: a pair not yet whole is
    // its writer's still, and is looked at again rather than failed.
    runOptions.waitForWholePairs = watch;
    BatchRunner runner(host, systemClock(), runOptions);
    // Set up once the first scan has made the root.
    std::optional<FolderWatch> folderWatch;

    // A second Ctrl-C ends the program at once: a report is only ever renamed into
    // place, so no folder is left with half of one.
    const std::atomic<bool>& interrupted = catchInterrupts();
    Progress progress(::isatty(STDERR_FILENO) == 1);
    long long scannedBefore = 0;
    long long played = 0;
    std::map<int, std::string> heldSaid; // what was last said of each held folder
    ClaimSightings workSightings;        // of the ladder's work units
    // How long a watched run waits before it tries a refused folder again.
    constexpr std::chrono::milliseconds FirstPause{1000}, LongestPause{30000};
    std::chrono::milliseconds pause = FirstPause;
    // A first Ctrl-C lets the folder under way be finished and stored.
    bool done = false;
    while (!done && (!interrupted || runner.busy())) {
        const BatchEvent event = runner.step();
        switch (event.kind) {
        case BatchEvent::ReportStored:
            ++played;
            pause = FirstPause;
            progress.wipe();
            std::cout << event.folder->name() << " winner="
                      << (event.outcome.winner == 0   ? "top"
                          : event.outcome.winner == 1 ? "bottom"
                                                      : "none")
                      << " turns=" << event.outcome.turns << std::endl;
            break;
        case BatchEvent::FolderSkipped:
            // The run goes on without the folder, but says why it was passed over.
            progress.wipe();
            std::cout.flush();
            printFailure(event.error, event.folder);
            break;
        case BatchEvent::FolderHeld:
            sayHeld(event, heldSaid, progress);
            break;
        case BatchEvent::Stopped:
            progress.wipe();
            std::cout.flush();
            printFailure(event.error, event.folder);
            // A runner left to watch a root (another machine's, often) would otherwise
            // end for good on a disk that fills up for a while; the folder stays ready,
            // its claim given up, and is played again once there is room.
            if (watch && mayPassLater(event.failure)) {
                waitBeforeTryingAgain(interrupted, pause);
                pause = std::min(2 * pause, LongestPause);
                break;
            }
            return event.failure == BatchEvent::StoreFailed || event.failure == BatchEvent::ClaimFailed ? ExitFailure
                                                                                                        : ExitBadInput;
        case BatchEvent::ScanFinished:
            scannedBefore += runner.scanned();
            if (watch && !folderWatch) {
                folderWatch.emplace(root);
                host.setReadyFolders([&folderWatch] { return folderWatch->take(); });
            }
            if (!watch)
                done = true;
            else if (!playLadderWork(root, catalogue, workSightings, threads, runOptions.claimTimeout, interrupted,
                                     progress))
                sleepUntilNextScan(interrupted, *folderWatch);
            break;
        default:
            break;
        }
        progress.update(scannedBefore + runner.scanned(), played);
    }
    progress.finish(scannedBefore, played);
    return interrupted && !watch ? ExitInterrupted : ExitOk;
}

} // namespace morvane::cli
