#pragma once
// The printed results of stats, league and a team's measurement (optimize --measure),
// shared by those commands and by merge, so that a run merged from its shards prints
// exactly what the whole run would have.

#include "optimize/FieldBattles.h"
#include "stats/ResultText.h"
#include "stats/Statistics.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morvane::cli {

struct StatsRun {
    StatsResult result;
    uint32_t seed = 0;
    long long maxTurns = DefaultMaxTurns;
    std::string top;    // deck line, UTF-8
    std::string bottom; // deck line, UTF-8
    ReplayOptions replay;
};
void printStats(const StatsRun& run, bool json);

struct LeaguePairing {
    size_t top = 0; // decks by index: this one on top against that one below
    size_t bottom = 0;
    StatsResult result;
};

struct LeagueRun {
    std::vector<std::string> decks; // deck lines, UTF-8, in the order of the file
    std::string decksFile;
    uint64_t battles = 0; // of every ordered pair
    uint32_t seed = 0;
    std::vector<LeaguePairing> pairings;
};
void printLeague(const LeagueRun& run, bool json);

// A team measured against a field on the final measurement's seeds, without a search.
struct MeasureRun {
    std::string team;                   // deck line, UTF-8, list number 000
    std::string teamSize;               // "Size 40(40)"
    std::vector<std::string> teamCards; // the vehicle, then slots 1 to 8, by name (UTF-8)
    std::vector<std::string> field;     // the field's deck lines, UTF-8, in file order
    std::vector<std::string> sources;   // file:line of each
    std::string fieldFile;
    PlaySide side = PlaySide::Both;
    uint64_t finalBattles = 0; // of every pairing
    uint32_t seed = 0;
    long long maxTurns = 10000;
    std::vector<ScoreTally> pairings; // in the order of Field::pairings
    TurnHistogram lengths;            // of all the battles
    uint64_t turnsTotal = 0;
    unsigned threads = 0;
    double seconds = 0;
};
void printMeasurement(const MeasureRun& run, bool json);

PlaySide parseSide(const std::string& text); // "top", "bottom" or "both"; a UsageError otherwise
const char* sideName(PlaySide side);

} // namespace morvane::cli
