#pragma once
// A shard's share of a stats or league run, so that a run can be split over machines
// and put back together: each shard plays the battles i with i mod N = K and prints
// its counts and battle lengths as one JSON object; merging all N of them gives the
// counts and lengths of the whole run, hence the same rates, intervals, mean, median
// and longest battle. What makes two shards parts of one run (command, decks, seed,
// battle count, turn cap, the catalogue's bytes) travels with them, and merging
// refuses shards of different runs, a missing shard and a repeated one.
//
// Nothing here plays a battle or prints a result: the command line tool does both.

#include "stats/Statistics.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// The SHA-256 of a catalogue file's bytes in hexadecimal, as sha256sum prints it.
std::string catalogueDigest(std::string_view bytes);

// What two shards of one run share.
struct RunIdentity {
    std::string command;  // "stats" or "league"
    uint64_t battles = 0; // of the whole run; for a league, of every ordered pair
    uint32_t seed = 0;
    long long maxTurns = 10000;
    std::string catalogue;          // catalogueDigest of card.dat
    std::vector<std::string> decks; // UTF-8: top and bottom, or the league's decks in file order
    uint64_t shards = 1;

    bool operator==(const RunIdentity&) const = default;
};

struct PartialResult {
    RunIdentity run;
    uint64_t shard = 0;
    // One result for stats; for a league one per ordered pair, in the order played
    // (#1 on top against #2, #3, ..., then #2 on top against #1, #3, ...).
    std::vector<StatsResult> results;
    // How the user named the inputs, for the printed result's replay hints and
    // headings; not part of the identity (the same catalogue may lie elsewhere).
    std::optional<std::string> cardsOption;
    std::optional<std::string> topOption;
    std::optional<std::string> bottomOption;
    std::string decksFile;
};

// One line of JSON, and back. parsePartial throws InputError naming `where` when the
// text is no partial result or its figures do not add up.
std::string partialJson(const PartialResult& partial);
PartialResult parsePartial(std::string_view json, const std::string& where);

// The whole run from all of its shards, each given with the name of its file (for
// messages). The result's shard is 0 of 1; counts, lengths, threads and seconds are
// sums. Throws InputError, naming a file, for shards of different runs, a shard that
// is missing or given twice, or a shard whose battle count is not its share.
PartialResult mergePartials(const std::vector<std::pair<std::string, PartialResult>>& shards);

} // namespace morvane
