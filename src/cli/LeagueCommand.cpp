#include "cards/Team.h"
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/ProgressLine.h"
#include "cli/RunResults.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Json.h"
#include "common/TextLines.h"
#include "runs/Shards.h"
#include "stats/League.h"
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
                 (1 to 4294967296, default 1000)
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
('morvane-cli stats --seed S --seed-of i' prints it). Since every pair plays the same
seeds, a deck's 95% interval comes from how much its wins vary from one seed to the
next. A battle still running after 10000 turns is undecided. Decks are named #1, #2,
... in the order of FILE.

On a terminal, stderr shows the progress.
Exit status: 0 done, 2 bad input (catalogue, deck file or line, option, or a card column
that a battle cannot read), 1 anything else.
)";

namespace {

// A deck that cannot stand on either side would fail every one of its pairings; name
// its line before any battle is played.
void checkDeck(const CardCatalogue& catalogue, const DeckSource& deck) {
    const SideSelection team = applyDeckSource(deck, catalogue);
    try {
        checkPlayable(catalogue, team);
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
    // Every pair numbers its battles from 0: beyond 2^32 their seeds repeat.
    request.battles =
        options.value("--battles")
            ? static_cast<uint64_t>(parseCount("--battles", *options.value("--battles"), 1, MaxSeededBattles))
            : 1000;
    request.threads = threadsOption(options);
    request.seed = seedOption(options);

    const std::optional<Shard> shard = shardOption(options);
    if (shard) {
        request.shard = shard->index;
        request.shards = shard->count;
    }

    const std::filesystem::path cards = cardsPath(options);
    std::string digest;
    const CardCatalogue catalogue = loadCatalogue(cards, &digest);
    const std::filesystem::path decksPath = *options.value("--decks");
    const std::vector<DeckSource> decks = readDeckFileOption(decksPath);
    if (decks.size() < 2)
        throw UsageError(decksPath.string() + " holds " + std::to_string(decks.size()) +
                         " deck line(s); a league needs at least two");
    for (const DeckSource& deck : decks)
        checkDeck(catalogue, deck);

    LeagueRun run;
    for (const DeckSource& deck : decks)
        run.decks.push_back(cp932ToUtf8(deck.line));
    run.decksFile = decksPath.string();
    run.cardsOption = options.value("--cards");
    run.battles = request.battles;
    run.seed = request.seed;
    run.maxTurns = request.maxTurns;

    // One progress line over all pairs.
    ProgressLine progress;
    StatsControl control;
    if (progress.shown())
        control.progress = [&](uint64_t done, uint64_t total) {
            progress.update([&] { return battlesProgressText("league", done, total, progress.seconds()); });
        };
    LeagueRequest league;
    for (const DeckSource& deck : decks)
        league.decks.push_back(applyDeckSource(deck, catalogue));
    league.battles = request.battles;
    league.threads = request.threads;
    league.seed = request.seed;
    league.maxTurns = request.maxTurns;
    league.shard = request.shard;
    league.shards = request.shards;
    LeagueResult played = playLeague(catalogue, league, control);
    const auto pairs = leaguePairs(decks.size());
    run.pairings.reserve(pairs.size());
    for (size_t k = 0; k < pairs.size(); ++k)
        run.pairings.push_back({pairs[k].first, pairs[k].second, std::move(played.pairs[k])});
    played.pairs = {};
    run.winSquares = std::move(played.winSquares);
    progress.wipe();

    if (shard) {
        std::cout << partialJson({std::move(run), request.shard, request.shards, digest}) << std::endl;
        return ExitOk;
    }
    printLeague(run, options.flag("--json"));
    return ExitOk;
}

namespace {

// What printLeague shows, counted from the pairs: each deck's battles, the row deck's
// battles against the column deck (both ways round), the ranking and the speed.
struct LeagueTable {
    size_t n = 0;
    std::vector<Tally> decks;
    // Row deck against column deck: the counts alone. A whole Tally here carries a
    // histogram of lengths for every cell, which made a league of 1,000 decks hold
    // three histograms a pair where the pairs themselves hold one.
    struct Share {
        uint64_t wins = 0;
        uint64_t battles = 0;
    };
    std::vector<Share> against;
    std::vector<size_t> ranking;
    double seconds = 0;
    uint64_t battles = 0;
    uint64_t turns = 0;
    unsigned threads = 0;

    double share(size_t a, size_t b) const {
        const Share& s = against[a * n + b];
        return s.battles ? double(s.wins) / double(s.battles) : 0.0;
    }
    double battlesPerSecond() const { return seconds > 0 ? double(battles) / seconds : 0.0; }
    double turnsPerSecond() const { return seconds > 0 ? double(turns) / seconds : 0.0; }
};

LeagueTable leagueTable(const LeagueRun& run) {
    LeagueTable t;
    t.n = run.decks.size();
    t.decks.resize(t.n);
    t.against.resize(t.n * t.n);
    for (const LeaguePairing& p : run.pairings) {
        const StatsResult& r = p.result;
        t.decks[p.top].merge(r.top);
        t.decks[p.bottom].merge(r.top.mirrored());
        LeagueTable::Share& down = t.against[p.top * t.n + p.bottom];
        LeagueTable::Share& up = t.against[p.bottom * t.n + p.top];
        down.wins += r.topWins();
        down.battles += r.battles();
        up.wins += r.bottomWins();
        up.battles += r.battles();
        t.seconds += r.seconds;
        t.battles += r.battles();
        t.turns += r.turnsTotal();
        t.threads = std::max(t.threads, r.threads);
    }
    t.ranking.resize(t.n);
    std::iota(t.ranking.begin(), t.ranking.end(), 0);
    std::stable_sort(t.ranking.begin(), t.ranking.end(),
                     [&](size_t x, size_t y) { return t.decks[x].winRate() > t.decks[y].winRate(); });
    return t;
}

Json pairJson(const LeaguePairing& p) {
    const StatsResult& r = p.result;
    return {{"top", p.top + 1},
            {"bottom", p.bottom + 1},
            {"battles", r.battles()},
            {"top_wins", r.topWins()},
            {"bottom_wins", r.bottomWins()},
            {"undecided", r.undecided()},
            {"top_win_rate", r.topWinRate()},
            {"top_win_rate_ci", intervalJson(r.topWinInterval())},
            {"turns_total", r.turnsTotal()},
            {"turns_mean", r.turnsMean()},
            {"turns_median", r.lengths().median()},
            {"turns_max", r.lengths().max()}};
}

// The matrix and the pairs grow with the square of the decks: built as one document,
// a league of 1,000 decks took 2 GB to print 230 MB. They are written a row and a
// pair at a time, in the same text one document gives.
void printLeagueJson(const LeagueRun& run, const LeagueTable& t) {
    Json ranked = Json::array();
    for (size_t rank = 0; rank < t.n; ++rank) {
        const size_t d = t.ranking[rank];
        ranked.push_back({{"rank", rank + 1},
                          {"deck", d + 1},
                          {"line", run.decks[d]},
                          {"wins", t.decks[d].wins},
                          {"battles", t.decks[d].battles},
                          {"win_rate", t.decks[d].winRate()},
                          {"win_rate_ci", intervalJson(run.winInterval(d, t.decks[d]))}});
    }
    std::cout << "{\"decks\": " << jsonText(ranked) << ", \"matrix\": [";
    for (size_t a = 0; a < t.n; ++a) {
        Json row = Json::array();
        for (size_t b = 0; b < t.n; ++b)
            row.push_back(a == b ? Json(nullptr) : Json(t.share(a, b)));
        std::cout << (a == 0 ? "" : ", ") << jsonText(row);
    }
    std::cout << "], \"pairs\": [";
    for (size_t k = 0; k < run.pairings.size(); ++k)
        std::cout << (k == 0 ? "" : ", ") << jsonText(pairJson(run.pairings[k]));
    const Json rest = {{"battles_per_pair", run.battles},
                       {"battles", t.battles},
                       {"turns_total", t.turns},
                       {"threads", t.threads},
                       {"seed", run.seed},
                       {"seconds", t.seconds},
                       {"battles_per_second", t.battlesPerSecond()},
                       {"turns_per_second", t.turnsPerSecond()},
                       {"seed_rule", BattleSeedRule}};
    std::cout << "], " << jsonMembers(rest) << '}' << std::endl;
}

void printRanking(const LeagueRun& run, const LeagueTable& t) {
    std::cout << "league:  " << t.n << " decks from " << escapeControls(run.decksFile) << ", " << run.battles
              << " battles per ordered pair, " << t.battles << " in all (seed " << run.seed << ", "
              << threadsText(t.threads, run.shards) << ")\n\n"
              << "rank  deck    win rate  95% CI                 wins/battles  deck line\n";
    for (size_t rank = 0; rank < t.n; ++rank) {
        const size_t d = t.ranking[rank];
        const Tally& deck = t.decks[d];
        std::string row = std::to_string(rank + 1);
        row.resize(6, ' ');
        std::string name = deckName(d);
        name.resize(5, ' ');
        std::string rate = percentText(deck.winRate());
        rate.insert(0, rate.size() < 9 ? 9 - rate.size() : 0, ' ');
        std::string interval = intervalText(run.winInterval(d, deck));
        interval.resize(22, ' ');
        std::string count = std::to_string(deck.wins) + "/" + std::to_string(deck.battles);
        count.resize(13, ' ');
        std::cout << row << name << "  " << rate << "  " << interval << " " << count << " "
                  << escapeControls(run.decks[d]) << "\n";
    }
}

void printMatrix(const LeagueTable& t) {
    std::cout << "\nwin rate of the row deck against the column deck, both ways round:\n      ";
    auto cell = [](std::string text) {
        text.insert(0, text.size() < 9 ? 9 - text.size() : 0, ' ');
        return text;
    };
    for (size_t b = 0; b < t.n; ++b)
        std::cout << cell(deckName(b));
    std::cout << "\n";
    for (size_t a = 0; a < t.n; ++a) {
        std::string name = deckName(a);
        name.resize(6, ' ');
        std::cout << name;
        for (size_t b = 0; b < t.n; ++b)
            std::cout << cell(a == b ? "-" : percentText(t.share(a, b)));
        std::cout << "\n";
    }
}

} // namespace

void printLeague(const LeagueRun& run, bool json) {
    const LeagueTable t = leagueTable(run);
    if (json) {
        printLeagueJson(run, t);
        return;
    }
    printRanking(run, t);
    printMatrix(t);
    std::cout << "\nspeed:   " << fixedText(t.battlesPerSecond(), 0) << " battles/s, "
              << fixedText(t.turnsPerSecond(), 0) << " turns/s (" << fixedText(t.seconds, 3) << " s)\n"
              << "replay:  battle i of deck A on top against deck B below: morvane-cli battle --top A --bottom B "
                 "--seed <seed of battle i>, where the "
              << BattleSeedRule << "\n";
}

} // namespace morvane::cli
