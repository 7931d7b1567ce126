#pragma once
// A shard's share of a stats or league run, or of the measurement of a team against a
// field (optimize), so that a run can be split over machines and put back together:
// each shard plays the battles i with i mod N = K and prints its counts and battle
// lengths as one line of JSON; merging all N of them gives the counts and lengths of
// the whole run, hence the same rates, intervals, mean, median and longest battle.
// What makes two shards parts of one run (kind, decks, side, seed, battle count, turn
// cap, the catalogue's bytes) travels with them, and merging refuses shards of
// different runs, a missing shard and a repeated one.

#include "runs/Runs.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace morvane {

using AnyRun = std::variant<StatsRun, LeagueRun, MeasureRun>;

struct PartialResult {
    AnyRun run;
    uint64_t shard = 0;
    uint64_t shards = 1;
    std::string catalogue; // catalogueDigest of the catalogue the battles were played with
};

// The SHA-256 of a catalogue file's bytes in hexadecimal, as sha256sum prints it.
std::string catalogueDigest(std::string_view bytes);

// One line of JSON, and back. parsePartial throws InputError naming `where` when the
// text is no partial result, a figure lies outside what a run can hold (a count past
// its share, a length past the turn cap, a seed past 32 bits), or the figures do not
// add up.
std::string partialJson(const PartialResult& partial);
PartialResult parsePartial(std::string_view json, const std::string& where);

// The whole run from all of its shards, each given with the name of its file (for
// messages). The result's shard is 0 of 1 and its run says how many shards it was
// put together from; counts, lengths, threads and seconds are sums. Throws
// InputError, naming a file, for shards of different runs, a shard that is missing
// or given twice.
PartialResult mergePartials(const std::vector<std::pair<std::string, PartialResult>>& shards);

// The same, a shard at a time: a merge then holds the sum and the shard it is adding,
// not every shard at once (a shard of a league of 1,000 decks is about 200 MB).
class PartialMerge {
public:
    // Throws InputError, naming the file, for a shard of another run than the first
    // one added, or one added before.
    void add(const std::string& name, const PartialResult& shard);
    // Throws InputError when nothing was added or shards are missing.
    PartialResult whole() &&;

private:
    std::optional<PartialResult> whole_;
    std::string firstName_;
    std::map<uint64_t, std::string> seen_;
};

} // namespace morvane
