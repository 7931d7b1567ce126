#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/RunResults.h"
#include "common/Files.h"
#include "runs/Shards.h"

#include <iostream>

namespace morvane::cli {

const char* const MergeUsage = R"(usage: morvane-cli merge FILE... [--json]

Puts together the partial results that 'morvane-cli stats --shard K/N', 'morvane-cli
league --shard K/N' or 'morvane-cli optimize --shard K/N' printed, one file each, and
prints the result of the whole run as stats, league or optimize --measure would have
printed it: the same counts, win rates, intervals, mean, median and longest battle. Of
the figures that describe how the run was played, the threads and seconds are the
shards' added up, the speed follows from them, and the text says how many shards there
were.

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

    PartialMerge merge;
    for (const std::string& file : options.positional())
        merge.add(file, parsePartial(readInput([&] { return readFileBytes(file); }), file));
    const PartialResult whole = std::move(merge).whole();
    const bool json = options.flag("--json");
    std::visit(
        [json](const auto& run) {
            using Run = std::decay_t<decltype(run)>;
            if constexpr (std::is_same_v<Run, StatsRun>)
                printStats(run, json);
            else if constexpr (std::is_same_v<Run, LeagueRun>)
                printLeague(run, json);
            else
                printMeasurement(run, json);
        },
        whole.run);
    return ExitOk;
}

} // namespace morvane::cli
