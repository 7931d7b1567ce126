#pragma once
// A shard's share of a stats or league run, or of the measurement of a team against a
// field (optimize), so that a run can be split over machines and put back together:
// each shard plays the battles i with i mod N = K and prints its counts and battle
// lengths as one JSON object; merging all N of them gives the counts and lengths of
// the whole run, hence the same rates, intervals, mean, median and longest battle.
// What makes two shards parts of one run (command, decks, side, seed, battle count,
// turn cap, the catalogue's bytes) travels with them, and merging refuses shards of
// different runs, a missing shard and a repeated one.
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
    std::string command;  // "stats", "league" or "optimize"
    uint64_t battles = 0; // of the whole run; for a league, of every ordered pair; for optimize, of every pairing
    uint32_t seed = 0;
    long long maxTurns = DefaultMaxTurns;
    std::string catalogue; // catalogueDigest of card.dat
    // UTF-8: top and bottom, the league's decks in file order, or the measured team
    // (list number 000) followed by the field's decks in file order.
    std::vector<std::string> decks;
    uint64_t shards = 1;
    std::string side; // optimize: where the team plays, "top", "bottom" or "both"

    bool operator==(const RunIdentity&) const = default;
};

// The measured team's battles in one pairing of the field (a field deck, with the
// team on one side of it), counted for the team.
struct PairingTally {
    uint64_t battles = 0;
    uint64_t wins = 0;
    uint64_t losses = 0;
    uint64_t undecided = 0;
    uint64_t turnsTotal = 0;
    TurnHistogram lengths;
};

// The pairings of a measurement: each field deck once on the team's side, or twice
// (the team on top first) when it plays both.
uint64_t measurePairings(const RunIdentity& run);

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
    std::string decksFile; // the league's decks, or the optimize field

    // optimize: the pairings in order (field deck 1 on each of its sides, then 2...),
    // the shard's threads and seconds, and for the printed result the field lines'
    // sources (file:line) and the team's size text and card names (vehicle first).
    std::vector<PairingTally> pairings;
    unsigned threads = 0;
    double seconds = 0;
    std::vector<std::string> sources;
    std::string teamSize;
    std::vector<std::string> teamCards;
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
