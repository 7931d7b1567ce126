#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/ProgressLine.h"
#include "cli/RunResults.h"
#include "common/Codec.h"
#include "common/Files.h"
#include "common/Json.h"
#include "common/Random.h"
#include "runs/Shards.h"
#include "stats/Statistics.h"

#include <iostream>

namespace morvane::cli {

const char* const StatsUsage =
    R"(usage: morvane-cli stats [--cards FILE] [--top DECKLINE] [--bottom DECKLINE] [--battles N] [--threads T]
                         [--seed S] [--max-turns N] [--json] [--seed-of I] [--shard K/N]

Plays many independent battles between two decks without writing reports and prints
how often each side wins.

  --cards FILE       the card catalogue (default: card.dat in the program folder)
  --top DECKLINE     deck line of the top side, side 0
                     (default: the first line of deck0.dat beside the catalogue)
  --bottom DECKLINE  deck line of the bottom side, side 1
                     (default: the first line of deck1.dat beside the catalogue)
  --battles N        number of battles, 1 to 4294967296 (default 10000)
  --threads T        worker threads (default: one per core); the result does not depend on it
  --seed S           seed of the run, 0 to 4294967295 (default: the milliseconds of the time of day)
  --max-turns N      a battle still running after N turns is undecided (default 10000)
  --json             print the result as one JSON object
  --seed-of I        print the seed and the battle command that replay battle I of the run, and stop
  --shard K/N        play only the battles i with i mod N = K (K from 0 to N-1) and print
                     their counts and lengths as one line of JSON; 'morvane-cli merge' puts
                     the N shards together into the result of the whole run (needs --seed)

Battle i (from 0) is played with its own generator, whose seed is
  mix(S xor mix(i)), with mix(x) on 32 bits: x ^= x >> 16; x *= 0x7FEB352D; x ^= x >> 15;
  x *= 0x846CA68B; x ^= x >> 16
so 'morvane-cli battle --seed <that seed>' with the same decks and --max-turns replays it
with its report.

On a terminal, stderr shows the progress.
Exit status: 0 done, 2 bad input (catalogue, deck line, empty selection, option, or a
card column that a battle cannot read), 1 anything else.
)";

namespace {

// What a replay of this run needs: the options as the user gave them.
ReplayOptions replayOptions(const Options& options, long long maxTurns) {
    return {options.value("--cards"), options.value("--top"), options.value("--bottom"), maxTurns};
}

} // namespace

Json intervalJson(const Interval& interval) {
    return Json::array({interval.low, interval.high});
}

Json histogramJson(const TurnHistogram& lengths) {
    Json histogram = Json::array();
    lengths.forEach([&](int32_t turns, uint64_t count) { histogram.push_back({turns, count}); });
    return histogram;
}

Json tallyJson(const Tally& t) {
    return {{"wins", t.wins},
            {"battles", t.battles},
            {"undecided", t.undecided},
            {"win_rate", t.winRate()},
            {"win_rate_ci", intervalJson(t.winInterval())}};
}

std::string threadsText(unsigned threads, uint64_t shards) {
    if (shards > 1)
        return std::to_string(shards) + " shards, " + std::to_string(threads) + " threads in all";
    return std::to_string(threads) + (threads == 1 ? " thread" : " threads");
}

void printStats(const StatsRun& run, bool json) {
    const StatsResult& r = run.result;
    if (!json) {
        std::cout << "top:         " << escapeControls(run.top) << "\n"
                  << "bottom:      " << escapeControls(run.bottom) << "\n"
                  << "battles:     " << r.battles() << " (seed " << run.seed << ", "
                  << threadsText(r.threads, run.shards) << ", undecided after " << run.maxTurns << " turns)\n"
                  << "top wins:    " << r.topWins() << "  " << percentText(r.topWinRate()) << "  95% CI "
                  << intervalText(r.topWinInterval()) << "\n"
                  << "bottom wins: " << r.bottomWins() << "  " << percentText(r.bottomWinRate()) << "  95% CI "
                  << intervalText(r.bottomWinInterval()) << "\n"
                  << "undecided:   " << r.undecided() << "\n"
                  << "turns:       mean " << fixedText(r.turnsMean(), 2) << ", median "
                  << fixedText(r.lengths().median(), 1) << ", longest " << r.lengths().max() << ", total "
                  << r.turnsTotal() << "\n"
                  << "speed:       " << fixedText(r.battlesPerSecond(), 0) << " battles/s, "
                  << fixedText(r.turnsPerSecond(), 0) << " turns/s (" << fixedText(r.seconds, 3) << " s)\n"
                  << "replay:      " << BattleSeedRule << "\n"
                  << "             battle 0: "
                  << escapeControls(battleReplayCommand(run.replay, battleSeed(run.seed, 0))) << "\n";
        return;
    }
    const Json out = {{"battles", r.battles()},
                      {"top_wins", r.topWins()},
                      {"bottom_wins", r.bottomWins()},
                      {"undecided", r.undecided()},
                      {"top_win_rate", r.topWinRate()},
                      {"top_win_rate_ci", intervalJson(r.topWinInterval())},
                      {"bottom_win_rate", r.bottomWinRate()},
                      {"bottom_win_rate_ci", intervalJson(r.bottomWinInterval())},
                      {"turns_total", r.turnsTotal()},
                      {"turns_mean", r.turnsMean()},
                      {"turns_median", r.lengths().median()},
                      {"turns_max", r.lengths().max()},
                      {"turns_histogram", histogramJson(r.lengths())},
                      {"threads", r.threads},
                      {"seed", run.seed},
                      {"max_turns", run.maxTurns},
                      {"seconds", r.seconds},
                      {"battles_per_second", r.battlesPerSecond()},
                      {"turns_per_second", r.turnsPerSecond()},
                      {"top", run.top},
                      {"bottom", run.bottom},
                      {"seed_rule", BattleSeedRule}};
    std::cout << jsonText(out) << std::endl;
}

int runStats(const std::vector<std::string>& args) {
    const Options options(
        args,
        {"--cards", "--top", "--bottom", "--battles", "--threads", "--seed", "--max-turns", "--seed-of", "--shard"},
        {"--json", "--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << StatsUsage;
        return ExitOk;
    }
    if (!options.positional().empty())
        throw UsageError("unexpected argument '" + options.positional().front() + "'");

    StatsRequest request;
    // Beyond 2^32 battles the seeds of a run repeat, and the run would count the same
    // battles twice.
    if (auto value = options.value("--battles"))
        request.battles = static_cast<uint64_t>(parseCount("--battles", *value, 1, MaxSeededBattles));
    request.threads = threadsOption(options);
    request.seed = seedOption(options);
    request.maxTurns = maxTurnsOption(options);

    if (auto value = options.value("--seed-of")) {
        if (!options.value("--seed"))
            throw UsageError("--seed-of needs the --seed of the run");
        const auto index = static_cast<uint64_t>(parseCount("--seed-of", *value, 0, MaxSeededBattles - 1));
        const uint32_t seed = battleSeed(request.seed, index);
        std::cout << "battle " << index << " of seed " << request.seed << ": seed " << seed << "\n"
                  << escapeControls(battleReplayCommand(replayOptions(options, request.maxTurns), seed)) << "\n";
        return ExitOk;
    }

    const std::optional<Shard> shard = shardOption(options);
    const std::filesystem::path cards = cardsPath(options);
    std::string digest;
    const CardCatalogue catalogue = loadCatalogue(cards, &digest);
    const std::filesystem::path folder = folderOf(cards);
    const DeckSource top = deckLine(options, "--top", folder, 0);
    const DeckSource bottom = deckLine(options, "--bottom", folder, 1);
    request.teams = teamsFrom(catalogue, top, bottom);
    if (shard) {
        request.shard = shard->index;
        request.shards = shard->count;
    }

    ProgressLine progress;
    StatsControl control;
    if (progress.shown())
        control.progress = [&progress](uint64_t done, uint64_t total) {
            progress.update([&] { return battlesProgressText("stats", done, total, progress.seconds()); });
        };
    StatsRun run;
    run.result = playStatistics(catalogue, request, control);
    progress.wipe();
    run.battles = request.battles;
    run.seed = request.seed;
    run.maxTurns = request.maxTurns;
    run.top = cp932ToUtf8(top.line);
    run.bottom = cp932ToUtf8(bottom.line);
    run.replay = replayOptions(options, request.maxTurns);

    if (shard) {
        std::cout << partialJson({std::move(run), request.shard, request.shards, digest}) << std::endl;
        return ExitOk;
    }
    printStats(run, options.flag("--json"));
    return ExitOk;
}

} // namespace morvane::cli
