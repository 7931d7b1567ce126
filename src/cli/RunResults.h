#pragma once
// The printed results of stats, league and a team's measurement (optimize --measure),
// shared by those commands and by merge, so that a run merged from its shards prints
// exactly what the whole run would have.

#include "common/Json.h"
#include "runs/Runs.h"

#include <cstdint>
#include <string>

namespace morvane::cli {

void printStats(const StatsRun& run, bool json);
void printLeague(const LeagueRun& run, bool json);
void printMeasurement(const MeasureRun& run, bool json);

// Pieces of the JSON outputs: [low, high], and [[turns, battles], ...] shortest first.
Json intervalJson(const Interval& interval);
Json histogramJson(const TurnHistogram& lengths);
// A team's battles: wins, battles, undecided, its win rate and interval.
Json tallyJson(const Tally& t);
// "2 threads", or for a run put together from shards "3 shards, 6 threads in all".
std::string threadsText(unsigned threads, uint64_t shards);

} // namespace morvane::cli
