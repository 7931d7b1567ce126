#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/PageOutput.h"
#include "cli/ProgressLine.h"
#include "common/Codec.h"
#include "common/Html.h"
#include "common/Json.h"
#include "optimize/Optimization.h"
#include "tournament/Rank.h"

#include <cstdio>
#include <iostream>

namespace morvane::cli {

const char* const RankUsage =
    R"(usage: morvane-cli rank --decks FILE --budget N [--cards FILE] [--threads T] [--seed S]
                        [--max-turns N] [--json] [--html FILE]

Rates every deck of FILE by its win rate against all the others (each opponent alike,
half the battles on top and half below, an undecided battle counting half), with a 95%
interval, for far fewer battles than 'league' plays.

  --decks FILE   the decks, one deck line per line as in deck0.dat; 2 to 2048
  --budget N     battles in all; at least two for every pair of decks
  --cards FILE   the card catalogue (default: card.dat in the program folder)
  --threads T    worker threads (default: one per core); the result does not depend on it
  --seed S       seed of the run, 0 to 4294967295 (default: the milliseconds of the time of day)
  --max-turns N  a battle still running after N turns is undecided (default 10000)
  --json         print the result as one JSON object
  --html FILE    also write the ranking as one self-contained page (UTF-8, no scripts)

Every pair plays: first 40% of the budget spread evenly over the pairs, then, a round at
a time, more battles for the decks near the top (the first 11 places) whose intervals
still overlap a neighbour's, each against every opponent alike. Battle k of the pair of
decks #a and #b (a < b) puts #a on top for even k and uses the seed of battle k of the
pair's seed, battle (a-1) * 65536 + (b-1) of S ('morvane-cli stats --seed S --seed-of I'
prints a seed of a seed), so no two pairs share a battle seed. A place marked '?' is not
yet certain: its interval overlaps a neighbour's.

On a terminal, stderr shows the progress.
Exit status: 0 done (also when interrupted: the ranking of the battles played), 2 bad
input (catalogue, deck file or line, option, a budget under two battles a pair), 1 anything
else (the page cannot be written).
)";

namespace {

bool overlaps(const RankedDeck& x, const RankedDeck& y) {
    return x.interval.low <= y.interval.high && y.interval.low <= x.interval.high;
}

// Whether place p is not yet certain: its interval overlaps a neighbour's.
bool uncertain(const std::vector<RankedDeck>& ranking, size_t p) {
    return (p > 0 && overlaps(ranking[p], ranking[p - 1])) ||
           (p + 1 < ranking.size() && overlaps(ranking[p], ranking[p + 1]));
}

std::string percent(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", share * 100);
    return text;
}

void printJson(const RankResult& r, const RankRequest& request, const std::vector<DeckSource>& decks) {
    Json ranking = Json::array();
    for (size_t p = 0; p < r.ranking.size(); ++p) {
        const RankedDeck& d = r.ranking[p];
        ranking.push_back(Json{{"rank", p + 1},
                               {"deck", d.deck + 1},
                               {"line", cp932ToUtf8(decks[d.deck].line)},
                               {"rating", d.rating},
                               {"rating_ci", {d.interval.low, d.interval.high}},
                               {"standard_error", d.standardError},
                               {"battles", d.battles},
                               {"certain", !uncertain(r.ranking, p)}});
    }
    std::cout << jsonText(Json{{"decks", decks.size()},
                               {"budget", request.budget},
                               {"battles", r.battles},
                               {"seed", request.seed},
                               {"focus_rounds", r.rounds},
                               {"ranking", ranking}})
              << std::endl;
}

void printText(const RankResult& r, const RankRequest& request, const std::vector<DeckSource>& decks) {
    std::cout << "rank: " << decks.size() << " decks, " << r.battles << " battles of a budget of " << request.budget
              << ", seed " << request.seed << "\n\nrank  deck     rating  95% interval      battles  deck line\n";
    for (size_t p = 0; p < r.ranking.size(); ++p) {
        const RankedDeck& d = r.ranking[p];
        char line[160];
        std::snprintf(line, sizeof line, "%4zu%c #%-6zu %6.2f%%  %6.2f%% to %6.2f%%  %8llu  ", p + 1,
                      uncertain(r.ranking, p) ? '?' : ' ', d.deck + 1, d.rating * 100, d.interval.low * 100,
                      d.interval.high * 100, static_cast<unsigned long long>(d.battles));
        std::cout << line << escapeControls(cp932ToUtf8(decks[d.deck].line)) << "\n";
    }
    std::cout << "\n?: not yet certain (the interval overlaps a neighbour's)\n";
}

std::string rankPage(const RankResult& r, const std::vector<DeckSource>& decks, const CardCatalogue& catalogue,
                     const std::vector<SideSelection>& teams) {
    std::string page = "<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" "
                       "content=\"width=device-width, initial-scale=1\"><title>デッキの順位</title><style>"
                       "body{font-family:sans-serif;margin:0 auto;max-width:64em;padding:0 .8em;color:#222}"
                       ".scroll{overflow-x:auto}table{border-collapse:collapse;font-size:.9em}th,td{border:1px solid "
                       "#ccc;padding:.2em .45em;text-align:left;vertical-align:top}td.n{text-align:right;white-space:"
                       "nowrap}td.team{min-width:16em}code{font-size:.9em;word-break:break-all}</style></head><body>"
                       "<h1>デッキの順位</h1>";
    page += "<p>" + std::to_string(decks.size()) + " デッキ、戦闘 " + std::to_string(r.battles) +
            " 回。評価は他の全デッキに対する勝率（相手ごとに同じ重み、上下半々、引き分けは半分）と95%区間。"
            "？の付いた順位はまだ確かではありません（区間が隣と重なっています）。</p>";
    page += "<div class=\"scroll\"><table><tr><th>順位</th><th>デッキ</th><th>評価</th><th>95%区間</th><th>戦闘</th>"
            "<th>チーム</th></tr>";
    for (size_t p = 0; p < r.ranking.size(); ++p) {
        const RankedDeck& d = r.ranking[p];
        const SideSelection& team = teams[d.deck];
        std::string names = escapeHtml(cp932ToUtf8(catalogue.vehicle(team.vehicle).name));
        for (const int32_t id : team.characters)
            names += " / " + escapeHtml(cp932ToUtf8(catalogue.character(id).name));
        page += "<tr><td class=\"n\">" + std::to_string(p + 1) + (uncertain(r.ranking, p) ? "？" : "") + "</td><td>#" +
                std::to_string(d.deck + 1) + "</td><td class=\"n\">" + percent(d.rating) + "%</td><td class=\"n\">" +
                percent(d.interval.low) + "% 〜 " + percent(d.interval.high) + "%</td><td class=\"n\">" +
                std::to_string(d.battles) + "</td><td class=\"team\">" + names + "<br><code>" +
                escapeHtml(cp932ToUtf8(decks[d.deck].line)) + "</code></td></tr>";
    }
    return page + "</table></div></body></html>\n";
}

} // namespace

int runRank(const std::vector<std::string>& args) {
    const Options options(args, {"--decks", "--budget", "--cards", "--threads", "--seed", "--max-turns", "--html"},
                          {"--json", "--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << RankUsage;
        return ExitOk;
    }
    if (!options.positional().empty())
        throw UsageError("unexpected argument '" + options.positional().front() + "'");
    if (!options.value("--decks"))
        throw UsageError("rank needs --decks FILE");
    if (!options.value("--budget"))
        throw UsageError("rank needs --budget N");
    RankRequest request;
    request.budget = static_cast<uint64_t>(parseCount("--budget", *options.value("--budget"), 1, 1LL << 40));
    request.threads = threadsOption(options);
    request.seed = seedOption(options);
    request.maxTurns = maxTurnsOption(options);

    const std::filesystem::path cards = cardsPath(options);
    const std::filesystem::path decksPath = *options.value("--decks");
    if (auto html = options.value("--html"))
        checkRunOutput("--html", *html, {{"the catalogue", cards}, {"the decks", decksPath}});
    const CardCatalogue catalogue = loadCatalogue(cards);
    const std::vector<DeckSource> decks = readDeckFileOption(decksPath);
    if (decks.size() < 2 || decks.size() > MaxRankedDecks)
        throw UsageError(decksPath.string() + " holds " + std::to_string(decks.size()) +
                         " deck line(s); rank takes 2 to " + std::to_string(MaxRankedDecks));
    request.decks = fieldDecks(decks, catalogue);

    const std::atomic<bool>& interrupted = catchInterrupts();
    ProgressLine progress;
    std::function<void(uint64_t, uint64_t)> heard;
    if (progress.shown())
        heard = [&](uint64_t done, uint64_t total) {
            progress.update([&] { return battlesProgressText("rank", done, total, progress.seconds()); });
        };
    const RankResult result = rankDecks(catalogue, request, heard, &interrupted);
    progress.wipe();

    return writePageAndPrint(
        options.value("--html"), [&] { return rankPage(result, decks, catalogue, request.decks); },
        [&] { options.flag("--json") ? printJson(result, request, decks) : printText(result, request, decks); });
}

} // namespace morvane::cli
