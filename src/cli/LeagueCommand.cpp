#include "battle/Battle.h"
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/ProgressLine.h"
#include "cli/RunResults.h"
#include "cli/StatsText.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Random.h"
#include "common/TextLines.h"
#include "stats/PartialResult.h"
#include "stats/Statistics.h"

#include <algorithm>
#include <iostream>
#include <numeric>

namespace morvane::cli {

const char* const LeagueUsage =
    R"(usage: morvane-cli league [--cards FILE] --decks FILE [--battles N] [--threads T] [--seed S] [--json]
                          [--shard K/N]

Plays every deck of FILE against every other, both ways round (each as the top side
and as the bottom side, since the two sides' formations differ), and prints a ranking
by overall win rate and the matrix of pairwise win rates.

  --cards FILE   the card catalogue (default: card.dat in the program folder)
  --decks FILE   the decks, one deck line per line as in deck0.dat; at least two
  --battles N    battles of every ordered pair, deck A on top against deck B below
                 (default 1000)
  --threads T    worker threads (default: one per core); the result does not depend on it
  --seed S       seed of the run, 0 to 4294967295 (default: the milliseconds of the time of day)
  --json         print the result as one JSON object
  --shard K/N    play only the battles i with i mod N = K (K from 0 to N-1) of every pair
                 and print their counts and lengths as one line of JSON; 'morvane-cli
                 merge' puts the N shards together into the whole league (needs --seed)

Every ordered pair plays battles 0 to N-1 of the seed S, exactly as 'morvane-cli stats
--top A --bottom B --seed S' would; battle i uses the seed
  mix(S xor mix(i)), with mix(x) on 32 bits: x ^= x >> 16; x *= 0x7FEB352D; x ^= x >> 15;
  x *= 0x846CA68B; x ^= x >> 16
('morvane-cli stats --seed S --seed-of i' prints it). A battle still running after
10000 turns is undecided. Decks are named #1, #2, ... in the order of FILE.

On a terminal, stderr shows the progress.
Exit status: 0 done, 2 bad input (catalogue, deck file or line, option, or a card column
that a battle cannot read), 1 anything else.
)";

namespace {

struct LeagueDeck {
    DeckSource source;
};

struct DeckTally {
    uint64_t wins = 0;
    uint64_t battles = 0;
    double winRate() const { return battles ? double(wins) / double(battles) : 0.0; }
};

std::vector<LeagueDeck> readDecks(const std::filesystem::path& path) {
    std::vector<TextLine> lines;
    try {
        lines = readDeckFile(path);
    } catch (const IoError& e) {
        throw InputError(e.message(), e.where());
    }
    std::vector<LeagueDeck> decks;
    decks.reserve(lines.size());
    for (const TextLine& line : lines)
        decks.push_back({{line.text, path.string() + ":" + std::to_string(line.number)}});
    if (decks.size() < 2)
        throw UsageError(path.string() + " holds " + std::to_string(decks.size()) +
                         " deck line(s); a league needs at least two");
    return decks;
}

// A deck that cannot stand on either side would fail every one of its pairings; name
// its line before any battle is played.
void checkDeck(const CardCatalogue& catalogue, const DeckSource& deck) {
    const Teams teams = teamsFrom(catalogue, deck, deck);
    try {
        Random random;
        Battle probe(catalogue, random);
        probe.start(teams);
    } catch (MorvaneError& e) {
        e.setWhere(deck.where);
        throw;
    }
}

std::string deckName(size_t index) {
    return std::string("#").append(std::to_string(index + 1));
}

} // namespace

int runLeague(const std::vector<std::string>& args) {
    const Options options(args, {"--cards", "--decks", "--battles", "--threads", "--seed", "--shard"},
                          {"--json", "--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << LeagueUsage;
        return ExitOk;
    }
    if (!options.positional().empty())
        throw UsageError("unexpected argument '" + options.positional().front() + "'");
    if (!options.value("--decks"))
        throw UsageError("league needs --decks FILE");

    StatsRequest request;
    request.battles =
        options.value("--battles")
            ? static_cast<uint64_t>(parseCount("--battles", *options.value("--battles"), 1, 999999999999ll))
            : 1000;
    request.threads = threadsOption(options);
    request.seed = seedOption(options);

    const std::optional<Shard> shard = shardOption(options);
    if (shard) {
        request.shard = shard->index;
        request.shards = shard->count;
    }

    const std::filesystem::path cards = cardsPath(options);
    const CardCatalogue catalogue = loadCatalogue(cards);
    const std::filesystem::path decksPath = *options.value("--decks");
    const std::vector<LeagueDeck> decks = readDecks(decksPath);
    for (const LeagueDeck& deck : decks)
        checkDeck(catalogue, deck.source);

    LeagueRun run;
    for (const LeagueDeck& deck : decks)
        run.decks.push_back(cp932ToUtf8(deck.source.line));
    run.decksFile = decksPath.string();
    run.battles = request.battles;
    run.seed = request.seed;

    // One progress line over all pairs: the battles of the pairs done and of the one
    // under way.
    ProgressLine progress;
    const uint64_t perPair = shardBattles(request.battles, request.shard, request.shards);
    const uint64_t total = perPair * decks.size() * (decks.size() - 1);
    uint64_t before = 0;
    StatsControl control;
    if (progress.shown())
        control.progress = [&](uint64_t done, uint64_t) {
            progress.update([&] { return battlesProgressText("league", before + done, total, progress.seconds()); });
        };
    for (size_t a = 0; a < decks.size(); ++a) {
        for (size_t b = 0; b < decks.size(); ++b) {
            if (a == b)
                continue;
            request.teams = teamsFrom(catalogue, decks[a].source, decks[b].source);
            run.pairings.push_back({a, b, playStatistics(catalogue, request, control)});
            before += perPair;
        }
    }
    progress.wipe();

    if (shard) {
        PartialResult partial;
        partial.run = {"league",
                       request.battles,
                       request.seed,
                       request.maxTurns,
                       catalogueDigestOf(cards),
                       run.decks,
                       request.shards,
                       {}};
        partial.shard = request.shard;
        for (const LeaguePairing& p : run.pairings)
            partial.results.push_back(p.result);
        partial.cardsOption = options.value("--cards");
        partial.decksFile = run.decksFile;
        std::cout << partialJson(partial) << std::endl;
        return ExitOk;
    }
    printLeague(run, options.flag("--json"));
    return ExitOk;
}

void printLeague(const LeagueRun& run, bool json) {
    const size_t n = run.decks.size();
    std::vector<DeckTally> decks(n);
    double seconds = 0;
    uint64_t battles = 0;
    uint64_t turns = 0;
    unsigned threads = 0;
    for (const LeaguePairing& p : run.pairings) {
        const StatsResult& r = p.result;
        decks[p.top].wins += r.topWins;
        decks[p.bottom].wins += r.bottomWins;
        decks[p.top].battles += r.battles;
        decks[p.bottom].battles += r.battles;
        seconds += r.seconds;
        battles += r.battles;
        turns += r.turnsTotal;
        threads = std::max(threads, r.threads);
    }

    // Wins of the row deck against the column deck over both ways round, and the
    // battles they played together.
    std::vector<uint64_t> wins(n * n, 0);
    std::vector<uint64_t> played(n * n, 0);
    for (const LeaguePairing& p : run.pairings) {
        wins[p.top * n + p.bottom] += p.result.topWins;
        wins[p.bottom * n + p.top] += p.result.bottomWins;
        played[p.top * n + p.bottom] += p.result.battles;
        played[p.bottom * n + p.top] += p.result.battles;
    }
    auto share = [&](size_t a, size_t b) { return double(wins[a * n + b]) / double(played[a * n + b]); };

    std::vector<size_t> ranking(n);
    std::iota(ranking.begin(), ranking.end(), 0);
    std::stable_sort(ranking.begin(), ranking.end(),
                     [&](size_t x, size_t y) { return decks[x].winRate() > decks[y].winRate(); });
    const double battlesPerSecond = seconds > 0 ? double(battles) / seconds : 0.0;
    const double turnsPerSecond = seconds > 0 ? double(turns) / seconds : 0.0;

    if (json) {
        std::string out = "{\"decks\": [";
        for (size_t rank = 0; rank < n; ++rank) {
            const size_t d = ranking[rank];
            const DeckTally& deck = decks[d];
            out += std::string(rank ? ", " : "") + "{\"rank\": " + std::to_string(rank + 1) +
                   ", \"deck\": " + std::to_string(d + 1) + ", \"line\": " + jsonString(run.decks[d]) +
                   ", \"wins\": " + jsonNumber(deck.wins) + ", \"battles\": " + jsonNumber(deck.battles) +
                   ", \"win_rate\": " + jsonNumber(deck.winRate()) +
                   ", \"win_rate_ci\": " + jsonInterval(wilsonInterval(deck.wins, deck.battles)) + "}";
        }
        out += "], \"matrix\": [";
        for (size_t a = 0; a < n; ++a) {
            out += a ? ", [" : "[";
            for (size_t b = 0; b < n; ++b)
                out += (b ? ", " : "") + (a == b ? std::string("null") : jsonNumber(share(a, b)));
            out += "]";
        }
        out += "], \"pairs\": [";
        for (size_t i = 0; i < run.pairings.size(); ++i) {
            const LeaguePairing& p = run.pairings[i];
            const StatsResult& r = p.result;
            out += std::string(i ? ", " : "") + "{\"top\": " + std::to_string(p.top + 1) +
                   ", \"bottom\": " + std::to_string(p.bottom + 1) + ", \"battles\": " + jsonNumber(r.battles) +
                   ", \"top_wins\": " + jsonNumber(r.topWins) + ", \"bottom_wins\": " + jsonNumber(r.bottomWins) +
                   ", \"undecided\": " + jsonNumber(r.undecided) + ", \"top_win_rate\": " + jsonNumber(r.topWinRate()) +
                   ", \"top_win_rate_ci\": " + jsonInterval(r.topWinInterval()) +
                   ", \"turns_total\": " + jsonNumber(r.turnsTotal) + ", \"turns_mean\": " + jsonNumber(r.turnsMean()) +
                   ", \"turns_median\": " + jsonNumber(r.lengths.median()) +
                   ", \"turns_max\": " + std::to_string(r.lengths.max()) + "}";
        }
        out += "], \"battles_per_pair\": " + jsonNumber(run.battles) + ", \"battles\": " + jsonNumber(battles) +
               ", \"turns_total\": " + jsonNumber(turns) + ", \"threads\": " + std::to_string(threads) +
               ", \"seed\": " + std::to_string(run.seed) + ", \"seconds\": " + jsonNumber(seconds) +
               ", \"battles_per_second\": " + jsonNumber(battlesPerSecond) +
               ", \"turns_per_second\": " + jsonNumber(turnsPerSecond) +
               ", \"seed_rule\": " + jsonString(BattleSeedRule) + "}";
        std::cout << out << std::endl;
        return;
    }

    std::cout << "league:  " << n << " decks from " << run.decksFile << ", " << run.battles
              << " battles per ordered pair, " << battles << " in all (seed " << run.seed << ", " << threads
              << (threads == 1 ? " thread" : " threads") << ")\n\n"
              << "rank  deck    win rate  95% CI                 wins/battles  deck line\n";
    for (size_t rank = 0; rank < n; ++rank) {
        const DeckTally& deck = decks[ranking[rank]];
        const Interval ci = wilsonInterval(deck.wins, deck.battles);
        std::string row = std::to_string(rank + 1);
        row.resize(6, ' ');
        std::string name = deckName(ranking[rank]);
        name.resize(5, ' ');
        std::string rate = percentText(deck.winRate());
        rate.insert(0, rate.size() < 9 ? 9 - rate.size() : 0, ' ');
        std::string interval = intervalText(ci);
        interval.resize(22, ' ');
        std::string count = std::to_string(deck.wins) + "/" + std::to_string(deck.battles);
        count.resize(13, ' ');
        std::cout << row << name << "  " << rate << "  " << interval << " " << count << " " << run.decks[ranking[rank]]
                  << "\n";
    }
    std::cout << "\nwin rate of the row deck against the column deck, both ways round:\n      ";
    auto cell = [](std::string text) {
        text.insert(0, text.size() < 9 ? 9 - text.size() : 0, ' ');
        return text;
    };
    for (size_t b = 0; b < n; ++b)
        std::cout << cell(deckName(b));
    std::cout << "\n";
    for (size_t a = 0; a < n; ++a) {
        std::string name = deckName(a);
        name.resize(6, ' ');
        std::cout << name;
        for (size_t b = 0; b < n; ++b)
            std::cout << cell(a == b ? "-" : percentText(share(a, b)));
        std::cout << "\n";
    }
    std::cout << "\nspeed:   " << fixedText(battlesPerSecond, 0) << " battles/s, " << fixedText(turnsPerSecond, 0)
              << " turns/s (" << fixedText(seconds, 3) << " s)\n"
              << "replay:  battle i of deck A on top against deck B below: morvane-cli battle --top A --bottom B "
                 "--seed <seed of battle i>, where the "
              << BattleSeedRule << "\n";
}

} // namespace morvane::cli
