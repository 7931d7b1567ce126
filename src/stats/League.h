#pragma once
// A league: every deck of a list on top against every other below it, each ordered pair
// playing battles 0 to N-1 of the run's seed, exactly as a deck-strength run of the two
// would. So battle i of every pair has the same seed, and a deck's battles with one
// seed are not independent of each other: a seed that helps it against one opponent
// tends to help it against the next. Its overall win rate is therefore not one
// binomial draw, and its interval comes from how much the deck's wins vary from seed
// to seed (each seed a cluster of battles), which the league counts as it plays.
//
// Keeping the shared seeds rather than giving each pair its own keeps every pair's
// result what 'stats' with the same seed gives (and replays), keeps what earlier runs
// and their shards hold, and keeps the pairwise comparisons paired: two decks are
// compared against a third on the very same seeds.

#include "stats/Statistics.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace morvane {

// The ordered pairs of a league of `decks` decks in the order it plays them: #1 on top
// against #2, #3, ..., then #2 on top against #1, #3, ...
std::vector<std::pair<size_t, size_t>> leaguePairs(size_t decks);

struct LeagueRequest {
    std::vector<SideSelection> decks;
    uint64_t battles = 1000; // of every ordered pair
    unsigned threads = 1;    // 0: one per core
    uint32_t seed = 0;
    long long maxTurns = DefaultMaxTurns;
    // As for a deck-strength run: only the battles i with i mod shards = shard.
    uint64_t shard = 0;
    uint64_t shards = 1;
};

struct LeagueResult {
    std::vector<StatsResult> pairs; // in the order of leaguePairs; threads and seconds are the run's shares
    // By deck: the sum over the seeds played of the square of the deck's wins with that
    // seed, both sides and all opponents together. With the wins themselves this gives
    // the spread of the wins from seed to seed; shards add up.
    std::vector<uint64_t> winSquares;
    unsigned threads = 0;
    double seconds = 0;
    bool cancelled = false; // the counts then cover only the seeds finished in time
};

// Plays the league, every seed's battles of all pairs together. Progress counts the
// battles of all pairs; a cancelled run keeps only the seeds whose battles all ended.
// A failing battle is thrown with its number, pair and seed in its location.
LeagueResult playLeague(const CardCatalogue& catalogue, const LeagueRequest& request, const StatsControl& control = {});

// The 97.5th percentile of Student's t distribution with `df` degrees of freedom (at
// least 1), to four decimals or better.
double studentT975(uint64_t df);

// A 95% interval for a deck's win rate in a league whose `seeds` seeds each gave it the
// same number of battles: Wilson's interval with the effective number of battles that
// the seed-to-seed spread of its wins implies, and Student's t for the few seeds the
// spread is estimated from. `winSquares` is what LeagueResult holds for the deck; where
// it is unknown (shards written before it was counted) the interval takes each seed as
// one trial, which holds however the battles of a seed depend on each other.
Interval seedClusterInterval(uint64_t wins, uint64_t battles, uint64_t seeds, const uint64_t* winSquares);

} // namespace morvane
