#pragma once
// The results of runs of many battles, as front ends show them and shards carry them:
// a deck-strength run (stats), a league, and the measurement of a team against a
// field on fresh seeds. A run merged from its shards is the same record as the whole
// run, so it prints the same.
//
// Nothing here plays a battle or prints a result.

#include "stats/BattlePool.h"
#include "stats/League.h"
#include "stats/ResultText.h"
#include "stats/Statistics.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morvane {

struct StatsRun {
    StatsResult result;
    uint64_t battles = 0; // asked for, of the whole run (a shard plays its share)
    uint32_t seed = 0;
    long long maxTurns = DefaultMaxTurns;
    std::string top;    // deck line, UTF-8
    std::string bottom; // deck line, UTF-8
    // The options as the user gave them, for the replay hints.
    ReplayOptions replay;
    uint64_t shards = 1; // put together from this many shards: threads and seconds are their sums
};

struct LeaguePairing {
    size_t top = 0; // decks by index: this one on top against that one below
    size_t bottom = 0;
    StatsResult result;
};

struct LeagueRun {
    std::vector<std::string> decks; // deck lines, UTF-8, in the order of the file
    std::string decksFile;
    std::optional<std::string> cardsOption;
    uint64_t battles = 0; // of every ordered pair
    uint32_t seed = 0;
    long long maxTurns = DefaultMaxTurns;
    std::vector<LeaguePairing> pairings; // in the order of leaguePairs
    // By deck, as LeagueResult counts them; empty for a run merged from shards that
    // did not count them (written by earlier versions).
    std::vector<uint64_t> winSquares;
    uint64_t shards = 1;

    // The 95% interval of the win rate of deck `deck`, whose battles are `record`.
    Interval winInterval(size_t deck, const Tally& record) const;
};

// A team measured against a field on the final measurement's seeds.
struct MeasureRun {
    std::string team;                   // deck line, UTF-8, list number 000
    std::string teamSize;               // "Size 40(40)"
    std::vector<std::string> teamCards; // the vehicle, then slots 1 to 8, by name (UTF-8)
    std::vector<std::string> field;     // the field's deck lines, UTF-8, in file order
    std::vector<std::string> sources;   // file:line of each
    std::string fieldFile;
    std::optional<std::string> cardsOption;
    PlaySide side = PlaySide::Both;
    uint64_t finalBattles = 0; // of every pairing
    uint32_t seed = 0;
    long long maxTurns = DefaultMaxTurns;
    std::vector<Tally> pairings; // counted for the team, in the order of Field::pairings
    unsigned threads = 0;
    double seconds = 0;
    uint64_t shards = 1;

    Field layout() const; // which deck and side each pairing is; the decks themselves left empty
    Tally total() const;
};

// "top", "bottom", "both".
const char* playSideName(PlaySide side);
std::optional<PlaySide> parsePlaySide(std::string_view text);

} // namespace morvane
