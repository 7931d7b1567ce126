#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "common/FileNames.h"
#include "common/Files.h"
#include "report/ReportSink.h"
#include "report/SeededBattle.h"

#include <iostream>

namespace morvane::cli {

const char* const BattleUsage =
    R"(usage: morvane-cli battle [--cards FILE] [--top DECKLINE] [--bottom DECKLINE] [--seed N]
                          [--time TEXT] [-o FILE] [--max-turns N]

Plays one battle between two decks and writes its report.

  --cards FILE       the card catalogue (default: card.dat in the program folder)
  --top DECKLINE     deck line of the top side, side 0
                     (default: the first line of deck0.dat beside the catalogue)
  --bottom DECKLINE  deck line of the bottom side, side 1
                     (default: the first line of deck1.dat beside the catalogue)
  --seed N           starting value of the random generator, 0 to 4294967295
                     (default: the milliseconds of the time of day, as the desktop program)
  --time TEXT        text written after "make time[" in the report (default: the time of day)
  -o FILE            the report (default: battle.html beside the catalogue)
  --max-turns N      stop a battle that has not ended after N turns (default 10000)

Prints one line: winner=top|bottom|none turns=N report=PATH
The report is written to a temporary file beside it (.NAME.NUMBER.tmp) that takes its
place at the end; such files left by a run that was killed are removed by the next run
for the same report.
Exit status: 0 the battle ended, 2 bad input (catalogue, deck line, empty selection,
option), 3 the turn cap was reached, 1 anything else (the report cannot be written,
also past the file size limit of ulimit -f).
Errors go to stderr as one line. The report is never opened in a viewer.
)";

int runBattle(const std::vector<std::string>& args) {
    const Options options(args, {"--cards", "--top", "--bottom", "--seed", "--time", "-o", "--max-turns"},
                          {"--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << BattleUsage;
        return ExitOk;
    }
    if (!options.positional().empty())
        throw UsageError("unexpected argument '" + options.positional().front() + "'");
    const uint32_t seed = seedOption(options);
    const long long maxTurns = maxTurnsOption(options);

    const std::filesystem::path cards = cardsPath(options);
    const CardCatalogue catalogue = loadCatalogue(cards);
    const std::filesystem::path folder = folderOf(cards);
    // One after the other: of two missing deck files, the error names the first.
    const DeckSource top = deckLine(options, "--top", folder, 0);
    const DeckSource bottom = deckLine(options, "--bottom", folder, 1);
    const Teams teams = teamsFrom(catalogue, top, bottom);
    const std::filesystem::path reportPath =
        options.value("-o") ? std::filesystem::path(*options.value("-o")) : folder / file::Report;
    std::vector<RunInput> inputs{{"the catalogue", cards}};
    for (int side = 0; side < 2; ++side)
        if (!options.value(side == 0 ? "--top" : "--bottom"))
            inputs.push_back({side == 0 ? "the top deck file" : "the bottom deck file", deckFilePath(folder, side)});
    refuseOutputOverInput("-o", reportPath, inputs);

    FileReportSink sink(reportPath);
    std::optional<FixedClock> fixedTime;
    if (auto time = options.value("--time"))
        fixedTime.emplace(utf8ToCp932(*time));
    const BattleOutcome outcome =
        playSeededBattle(catalogue, teams, seed, sink, maxTurns, fixedTime ? &*fixedTime : nullptr);
    std::cout << "winner="
              << (outcome.winner == 0   ? "top"
                  : outcome.winner == 1 ? "bottom"
                                        : "none")
              << " turns=" << outcome.turns << " report=" << reportPath.string() << std::endl;
    return outcome.capped() ? ExitTurnCap : ExitOk;
}

} // namespace morvane::cli
