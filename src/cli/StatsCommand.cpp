#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/ProgressLine.h"
#include "cli/RunResults.h"
#include "cli/StatsText.h"
#include "common/Codec.h"
#include "common/Files.h"
#include "common/Random.h"
#include "stats/PartialResult.h"
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
  --battles N        number of battles (default 10000)
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

void printStats(const StatsRun& run, bool json) {
    const StatsResult& r = run.result;
    if (!json) {
        std::cout << "top:         " << run.top << "\n"
                  << "bottom:      " << run.bottom << "\n"
                  << "battles:     " << r.battles << " (seed " << run.seed << ", " << r.threads
                  << (r.threads == 1 ? " thread" : " threads") << ", undecided after " << run.maxTurns << " turns)\n"
                  << "top wins:    " << r.topWins << "  " << percentText(r.topWinRate()) << "  95% CI "
                  << intervalText(r.topWinInterval()) << "\n"
                  << "bottom wins: " << r.bottomWins << "  " << percentText(r.bottomWinRate()) << "  95% CI "
                  << intervalText(r.bottomWinInterval()) << "\n"
                  << "undecided:   " << r.undecided << "\n"
                  << "turns:       mean " << fixedText(r.turnsMean(), 2) << ", median "
                  << fixedText(r.lengths.median(), 1) << ", longest " << r.lengths.max() << ", total " << r.turnsTotal
                  << "\n"
                  << "speed:       " << fixedText(r.battlesPerSecond(), 0) << " battles/s, "
                  << fixedText(r.turnsPerSecond(), 0) << " turns/s (" << fixedText(r.seconds, 3) << " s)\n"
                  << "replay:      " << BattleSeedRule << "\n"
                  << "             battle 0: " << battleReplayCommand(run.replay, battleSeed(run.seed, 0)) << "\n";
        return;
    }
    std::string histogram;
    r.lengths.forEach([&](int32_t turns, uint64_t count) {
        histogram += (histogram.empty() ? "[" : ", [") + std::to_string(turns) + ", " + std::to_string(count) + "]";
    });
    std::cout << "{\"battles\": " << r.battles << ", \"top_wins\": " << r.topWins
              << ", \"bottom_wins\": " << r.bottomWins << ", \"undecided\": " << r.undecided
              << ", \"top_win_rate\": " << jsonNumber(r.topWinRate())
              << ", \"top_win_rate_ci\": " << jsonInterval(r.topWinInterval())
              << ", \"bottom_win_rate\": " << jsonNumber(r.bottomWinRate())
              << ", \"bottom_win_rate_ci\": " << jsonInterval(r.bottomWinInterval())
              << ", \"turns_total\": " << r.turnsTotal << ", \"turns_mean\": " << jsonNumber(r.turnsMean())
              << ", \"turns_median\": " << jsonNumber(r.lengths.median()) << ", \"turns_max\": " << r.lengths.max()
              << ", \"turns_histogram\": [" << histogram << "]"
              << ", \"threads\": " << r.threads << ", \"seed\": " << run.seed << ", \"max_turns\": " << run.maxTurns
              << ", \"seconds\": " << jsonNumber(r.seconds)
              << ", \"battles_per_second\": " << jsonNumber(r.battlesPerSecond())
              << ", \"turns_per_second\": " << jsonNumber(r.turnsPerSecond()) << ", \"top\": " << jsonString(run.top)
              << ", \"bottom\": " << jsonString(run.bottom) << ", \"seed_rule\": " << jsonString(BattleSeedRule) << "}"
              << std::endl;
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
    if (auto value = options.value("--battles"))
        request.battles = static_cast<uint64_t>(parseCount("--battles", *value, 1, 999999999999ll));
    request.threads = threadsOption(options);
    request.seed = seedOption(options);
    request.maxTurns = maxTurnsOption(options);

    if (auto value = options.value("--seed-of")) {
        if (!options.value("--seed"))
            throw UsageError("--seed-of needs the --seed of the run");
        const auto index = static_cast<uint64_t>(parseCount("--seed-of", *value, 0, 999999999999ll));
        const uint32_t seed = battleSeed(request.seed, index);
        std::cout << "battle " << index << " of seed " << request.seed << ": seed " << seed << "\n"
                  << battleReplayCommand(replayOptions(options, request.maxTurns), seed) << "\n";
        return ExitOk;
    }

    const std::optional<Shard> shard = shardOption(options);
    const std::filesystem::path cards = cardsPath(options);
    const CardCatalogue catalogue = loadCatalogue(cards);
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
    const StatsResult result = playStatistics(catalogue, request, control);
    progress.wipe();

    if (shard) {
        PartialResult partial;
        partial.run = {"stats",
                       request.battles,
                       request.seed,
                       request.maxTurns,
                       catalogueDigestOf(cards),
                       {cp932ToUtf8(top.line), cp932ToUtf8(bottom.line)},
                       request.shards,
                       {}};
        partial.shard = request.shard;
        partial.results = {result};
        partial.cardsOption = options.value("--cards");
        partial.topOption = options.value("--top");
        partial.bottomOption = options.value("--bottom");
        std::cout << partialJson(partial) << std::endl;
        return ExitOk;
    }
    printStats({result, request.seed, request.maxTurns, cp932ToUtf8(top.line), cp932ToUtf8(bottom.line),
                replayOptions(options, request.maxTurns)},
               options.flag("--json"));
    return ExitOk;
}

} // namespace morvane::cli
