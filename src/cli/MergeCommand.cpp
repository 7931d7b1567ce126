#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/RunResults.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "stats/PartialResult.h"

#include <iostream>

namespace morvane::cli {

const char* const MergeUsage = R"(usage: morvane-cli merge FILE... [--json]

Puts together the partial results that 'morvane-cli stats --shard K/N', 'morvane-cli
league --shard K/N' or 'morvane-cli optimize --shard K/N' printed, one file each, and
prints the result of the whole run as stats, league or optimize --measure would have
printed it: the same counts, win rates, intervals, mean, median and longest battle. Of
the figures that describe how the run was played, the threads and seconds are the
shards' added up, and the speed follows from them.

  --json   print the result as one JSON object, as the command's --json does

The files must hold all N shards of one run, each once: the same command, decks (for
optimize the measured team and the field, and its side), seed, number of battles, turn
cap and catalogue (its SHA-256 is in every file). Anything else is refused with one line
naming the file.

Exit status: 0 done, 2 a file that cannot be read or is no partial result, shards of
different runs, a missing or repeated shard, or a bad option; 1 anything else.
)";

int runMerge(const std::vector<std::string>& args) {
    const Options options(args, {}, {"--json", "--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << MergeUsage;
        return ExitOk;
    }
    if (options.positional().empty())
        throw UsageError("merge needs the partial results to put together (morvane-cli merge --help)");

    std::vector<std::pair<std::string, PartialResult>> shards;
    for (const std::string& file : options.positional()) {
        std::string text;
        try {
            text = readFileBytes(file);
        } catch (const IoError& e) {
            throw InputError(e.message(), e.where());
        }
        shards.emplace_back(file, parsePartial(text, file));
    }
    const PartialResult whole = mergePartials(shards);
    const bool json = options.flag("--json");

    if (whole.run.command == "optimize") {
        MeasureRun run;
        run.team = whole.run.decks.front();
        run.teamSize = whole.teamSize;
        run.teamCards = whole.teamCards;
        run.field.assign(whole.run.decks.begin() + 1, whole.run.decks.end());
        run.sources = whole.sources;
        run.fieldFile = whole.decksFile;
        run.side = parseSide(whole.run.side);
        run.finalBattles = whole.run.battles;
        run.seed = whole.run.seed;
        run.maxTurns = whole.run.maxTurns;
        for (const PairingTally& t : whole.pairings) {
            run.pairings.push_back({t.battles, t.wins, t.undecided});
            run.lengths.merge(t.lengths);
            run.turnsTotal += t.turnsTotal;
        }
        run.threads = whole.threads;
        run.seconds = whole.seconds;
        printMeasurement(run, json);
        return ExitOk;
    }
    if (whole.run.command == "stats") {
        printStats({whole.results.front(), whole.run.seed, whole.run.maxTurns, whole.run.decks[0], whole.run.decks[1],
                    ReplayOptions{whole.cardsOption, whole.topOption, whole.bottomOption, whole.run.maxTurns}},
                   json);
        return ExitOk;
    }
    LeagueRun run;
    run.decks = whole.run.decks;
    run.decksFile = whole.decksFile;
    run.battles = whole.run.battles;
    run.seed = whole.run.seed;
    // The pairs in the order the league plays them, as the shards hold them.
    size_t next = 0;
    for (size_t a = 0; a < run.decks.size(); ++a)
        for (size_t b = 0; b < run.decks.size(); ++b)
            if (a != b)
                run.pairings.push_back({a, b, whole.results[next++]});
    printLeague(run, json);
    return ExitOk;
}

} // namespace morvane::cli
