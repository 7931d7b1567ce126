#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/PageOutput.h"
#include "common/Codec.h"
#include "common/Json.h"
#include "optimize/Optimization.h"
#include "tournament/Tournament.h"
#include "tournament/TournamentJson.h"
#include "tournament/TournamentPage.h"

#include <cstdio>
#include <iostream>

namespace morvane::cli {

const char* const TournamentUsage =
    R"(usage: morvane-cli tournament --format round-robin|swiss|knockout --decks FILE [--cards FILE]
                              [--rounds R] [--battles N] [--seed S] [--threads T]
                              [--max-turns N] [--json] [--html FILE]

Plays an event between the decks of FILE, seeded in the order of the file (the first
line is seed 1), and prints every round, the standings and the champion.

  --format F     round-robin: everyone meets everyone once; swiss: R rounds, each deck
                 meeting one with its score that it has not met (a bye, worth a match won,
                 to the lowest ranked that has had none); knockout: single elimination,
                 byes to the top seeds when the decks are not a power of two
  --decks FILE   the decks, one deck line per line as in deck0.dat; 2 to 4096
  --cards FILE   the card catalogue (default: card.dat in the program folder)
  --rounds R     rounds of a Swiss event (default: enough for one winner, ceil(log2 n))
  --battles N    battles of a match, best of N (1 to 1000, default 3)
  --seed S       seed of the event, 0 to 4294967295 (default: the milliseconds of the time of day)
  --threads T    worker threads (default: one per core); the result does not depend on it
  --max-turns N  a battle still running after N turns is undecided (default 10000)
  --json         print the result as one JSON object
  --html FILE    also write the event as one self-contained page (UTF-8, no scripts)

A match is over once a deck has won more than half of N battles; battle k puts the
first deck of the match on top for even k and below for odd k, with the seed that
'morvane-cli stats --seed M --seed-of k' prints for the match's seed M, so any battle
plays again with 'morvane-cli battle'. A match still level after N battles is drawn
(half a point each); in a knockout, battles N to 2N-1 follow until one is won, and if
none is, the higher seed goes on. Standings: points, then Buchholz (the opponents'
points; Swiss only), then Sonneborn-Berger (the points of the opponents beaten, half
of those drawn with), then the seed; in a knockout, the round reached.

Exit status: 0 done, 2 bad input (catalogue, deck file or line, option, or a Swiss event
that cannot be paired without a repeat), 1 anything else (the page cannot be written).
)";

namespace {

std::string deckName(size_t entrant) {
    // Appended, not "#" + text: GCC 12 at -O3 takes that for an overlapping copy.
    return std::string("#").append(std::to_string(entrant + 1));
}

// A round robin of 4,096 decks has eight million matches: built as one document its
// JSON would take many times the memory of its text. The matches are written one at
// a time into the text one document gives.
void printJson(const TournamentResult& r, const TournamentRequest& request, const std::vector<DeckSource>& decks) {
    Json standings = Json::array();
    for (size_t i = 0; i < r.standings.size(); ++i) {
        const Standing& s = r.standings[i];
        Json standing{{"rank", i + 1}, {"deck", s.entrant + 1}, {"line", cp932ToUtf8(decks[s.entrant].line)}};
        standing.update(standingFigures(s));
        standings.push_back(std::move(standing));
    }
    const Json head{{"format", formatName(r.format)},
                    {"decks", decks.size()},
                    {"battles_per_match", request.battles},
                    {"seed", request.seed}};
    std::cout << '{' << jsonMembers(head) << ", \"rounds\": [";
    for (size_t k = 0; k < r.rounds.size(); ++k) {
        std::cout << (k == 0 ? "[" : ", [");
        const std::vector<Match>& matches = r.rounds[k].matches;
        for (size_t m = 0; m < matches.size(); ++m)
            std::cout << (m == 0 ? "" : ", ") << jsonText(matchJson(matches[m]));
        std::cout << ']';
    }
    const Json tail{{"champion", r.champion + 1}, {"battles", r.battles}, {"interrupted", r.interrupted}};
    std::cout << "], \"standings\": " << jsonText(standings) << ", " << jsonMembers(tail) << '}' << std::endl;
}

void printText(const TournamentResult& r, const TournamentRequest& request, const std::vector<DeckSource>& decks) {
    std::cout << "tournament: " << formatName(r.format) << ", " << decks.size() << " decks, " << r.rounds.size()
              << " rounds, best of " << request.battles << ", seed " << request.seed << "\n";
    for (size_t i = 0; i < r.rounds.size(); ++i) {
        std::cout << "\nround " << i + 1 << "\n";
        for (const Match& m : r.rounds[i].matches) {
            char line[160];
            if (m.bye())
                std::snprintf(line, sizeof line, "  %-5s bye\n", deckName(m.a).c_str());
            else
                std::snprintf(line, sizeof line, "  %-5s - %-5s %u-%u%s  %s  seed %u\n", deckName(m.a).c_str(),
                              deckName(m.b).c_str(), m.winsA, m.winsB,
                              m.undecided ? (" (" + std::to_string(m.undecided) + " undecided)").c_str() : "",
                              m.winner == -1 ? "drawn"
                                             : (deckName(m.winnerEntrant()) + (m.bySeed ? " by seed" : "")).c_str(),
                              m.seed);
            std::cout << line;
        }
    }
    std::cout << "\nrank  deck   points  buchholz  s-b     won drawn lost  battles\n";
    for (size_t i = 0; i < r.standings.size(); ++i) {
        const Standing& s = r.standings[i];
        char line[160];
        std::snprintf(line, sizeof line, "%4zu  %-5s %6.1f  %8.1f  %6.2f  %4u %5u %4u  %u-%u  ", i + 1,
                      deckName(s.entrant).c_str(), s.points, s.buchholz, s.sonnebornBerger, s.won, s.drawn, s.lost,
                      s.battlesWon, s.battlesLost);
        std::cout << line << escapeControls(cp932ToUtf8(decks[s.entrant].line)) << "\n";
    }
    if (r.interrupted)
        std::cout << "\ninterrupted: the rounds above were played\n";
    else
        std::cout << "\nchampion: " << deckName(r.champion) << " "
                  << escapeControls(cp932ToUtf8(decks[r.champion].line)) << "\n";
}

TournamentRequest requestFrom(const Options& options) {
    const auto format = tournamentFormat(options.value("--format").value_or(""));
    if (!format)
        throw UsageError("tournament needs --format round-robin, swiss or knockout");
    TournamentRequest request;
    request.format = *format;
    if (auto value = options.value("--rounds")) {
        if (request.format != TournamentFormat::Swiss)
            throw UsageError("--rounds is for a Swiss event");
        request.rounds = static_cast<unsigned>(parseCount("--rounds", *value, 1, MaxEntrants));
    }
    if (auto value = options.value("--battles"))
        request.battles = static_cast<unsigned>(parseCount("--battles", *value, 1, MaxMatchBattles));
    request.seed = seedOption(options);
    request.threads = threadsOption(options);
    request.maxTurns = maxTurnsOption(options);
    return request;
}

std::string commandText(const Options& options, const TournamentRequest& request) {
    std::string text = "morvane-cli tournament --format " + std::string(formatName(request.format)) + " --decks " +
                       *options.value("--decks");
    if (auto cards = options.value("--cards"))
        text += " --cards " + *cards;
    if (request.format == TournamentFormat::Swiss && request.rounds)
        text += " --rounds " + std::to_string(request.rounds);
    text += " --battles " + std::to_string(request.battles) + " --seed " + std::to_string(request.seed);
    if (request.maxTurns != DefaultMaxTurns)
        text += " --max-turns " + std::to_string(request.maxTurns);
    return text;
}

} // namespace

int runTournament(const std::vector<std::string>& args) {
    const Options options(
        args,
        {"--format", "--decks", "--cards", "--rounds", "--battles", "--seed", "--threads", "--max-turns", "--html"},
        {"--json", "--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << TournamentUsage;
        return ExitOk;
    }
    if (!options.positional().empty())
        throw UsageError("unexpected argument '" + options.positional().front() + "'");
    if (!options.value("--decks"))
        throw UsageError("tournament needs --decks FILE");
    TournamentRequest request = requestFrom(options);

    const std::filesystem::path cards = cardsPath(options);
    const std::filesystem::path decksPath = *options.value("--decks");
    if (auto html = options.value("--html"))
        checkRunOutput("--html", *html, {{"the catalogue", cards}, {"the decks", decksPath}});
    const CardCatalogue catalogue = loadCatalogue(cards);
    const std::vector<DeckSource> decks = readDeckFileOption(decksPath);
    if (decks.size() < 2 || decks.size() > MaxEntrants)
        throw UsageError(decksPath.string() + " holds " + std::to_string(decks.size()) +
                         " deck line(s); a tournament takes 2 to " + std::to_string(MaxEntrants));
    request.entrants = fieldDecks(decks, catalogue);

    const std::atomic<bool>& interrupted = catchInterrupts();
    const TournamentResult result = playTournament(catalogue, request, &interrupted);

    const TournamentSources sources{decksPath.string(), commandText(options, request), request.battles, request.seed};
    return writePageAndPrint(
        options.value("--html"), [&] { return tournamentPage(result, request.entrants, catalogue, sources); },
        [&] { options.flag("--json") ? printJson(result, request, decks) : printText(result, request, decks); });
}

} // namespace morvane::cli
