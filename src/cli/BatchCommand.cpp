#include "batch/BatchScan.h"
#include "battle/Battle.h"
#include "battle/PlayBattle.h"
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/ProgressLine.h"
#include "common/Errors.h"
#include "common/Random.h"
#include "common/Text.h"
#include "report/ReportSink.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>
#include <unistd.h>

namespace morvane::cli {

const char* const BatchUsage = R"(usage: morvane-cli batch ROOT [--last N] [--cards FILE] [--seed N] [--time TEXT]
                         [--max-turns N] [--watch]

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
                     between two battles)

Prints one line per battle: NNNN winner=top|bottom|none turns=N
On a terminal, stderr shows the progress.
Exit status: 0 done (or --watch interrupted), 2 a folder whose deck.dat cannot be read
or applied, or whose battle cannot start or halts on an error (the run stops there,
with one error line naming the folder; that folder gets no report), or a bad option
or catalogue; 1 a report that cannot be stored; 130 interrupted without --watch.
)";

namespace {

constexpr int ExitInterrupted = 130;

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) {
    interrupted = 1;
}

// A first Ctrl-C lets the battle under way finish and be stored; the handler is then
// gone, so a second one ends the program at once (the report is only ever renamed
// into place, so no folder is left with half a report).
void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

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

void sleepUntilNextScan() {
    for (int i = 0; i < 20 && !interrupted; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

} // namespace

int runBatch(const std::vector<std::string>& args) {
    const Options options(args, {"--last", "--cards", "--seed", "--time", "--max-turns"}, {"--watch", "--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << BatchUsage;
        return ExitOk;
    }
    if (options.positional().empty())
        throw UsageError("batch needs the root folder (morvane-cli batch --help)");
    if (options.positional().size() > 1)
        throw UsageError("unexpected argument '" + options.positional()[1] + "'");
    const int last =
        options.value("--last") ? static_cast<int>(parseCount("--last", *options.value("--last"), 0, 9999)) : 1;
    const uint32_t seed = options.value("--seed") ? parseSeed(*options.value("--seed")) : Random::clockSeed();
    const long long maxTurns =
        options.value("--max-turns") ? parseCount("--max-turns", *options.value("--max-turns"), 1, 2147483647) : 10000;
    const bool watch = options.flag("--watch");

    // ROOT names the folder that holds the numbered folders. An empty ROOT stays
    // empty (and is refused by the scan) rather than becoming "/".
    std::string root = options.positional().front();
    if (!root.empty() && root.back() != '/')
        root += '/';

    const CardCatalogue catalogue = loadCatalogue(cardsPath(options));
    Random random(seed);
    MemoryReportSink sink;
    Battle battle(catalogue, random, &sink);
    if (auto time = options.value("--time")) {
        const std::string text = utf8ToCp932(*time);
        battle.report().setClock([text] { return text; });
    }
    Teams teams;

    catchInterrupts();
    Progress progress(::isatty(STDERR_FILENO) == 1);
    long long scannedBefore = 0;
    long long played = 0;
    // Stops the run at a folder: one error line that names it, and the exit status.
    auto stop = [&](MorvaneError& error, int status, const BatchFolder* folder) {
        if (folder && error.where().find(folder->path) == std::string::npos)
            error.setWhere(folder->path + (error.where().empty() ? "" : ": " + error.where()));
        progress.wipe();
        std::cout.flush();
        reportFailure(error);
        return status;
    };

    for (;;) {
        BatchScan scan(last);
        while (!interrupted) {
            std::optional<BatchFolder> folder;
            try {
                folder = scan.next(root);
            } catch (FolderError& e) {
                return stop(e, ExitBadInput, nullptr);
            }
            progress.update(scannedBefore + scan.scanned(), played);
            if (!folder)
                break;
            try {
                applyDeckPair(readDeckPair(*folder), teams, catalogue);
            } catch (MorvaneError& e) {
                return stop(e, ExitBadInput, &*folder);
            }
            BattleOutcome outcome;
            try {
                outcome = playBattle(battle, teams, maxTurns);
            } catch (MorvaneError& e) {
                return stop(e, ExitBadInput, &*folder);
            }
            try {
                storeBatchReport(*folder, sink.text());
            } catch (MorvaneError& e) {
                return stop(e, ExitFailure, &*folder);
            }
            ++played;
            progress.wipe();
            std::cout << folder->name() << " winner="
                      << (outcome.winner == 0   ? "top"
                          : outcome.winner == 1 ? "bottom"
                                                : "none")
                      << " turns=" << outcome.turns << std::endl;
            progress.update(scannedBefore + scan.scanned(), played);
        }
        scannedBefore += scan.scanned();
        if (!watch || interrupted)
            break;
        sleepUntilNextScan();
        if (interrupted)
            break;
    }
    progress.finish(scannedBefore, played);
    return interrupted && !watch ? ExitInterrupted : ExitOk;
}

} // namespace morvane::cli
