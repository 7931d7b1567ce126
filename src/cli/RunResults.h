#pragma once
// The printed results of stats and league, shared by those commands and by merge, so
// that a run merged from its shards prints exactly what the whole run would have.

#include "stats/ResultText.h"
#include "stats/Statistics.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morvane::cli {

struct StatsRun {
    StatsResult result;
    uint32_t seed = 0;
    long long maxTurns = 10000;
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

} // namespace morvane::cli
