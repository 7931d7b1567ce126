#pragma once
// A team's score against a field on fresh seeds: the battles that say what a team
// found by a search is worth, played on seeds the search never used.

#include "stats/BattlePool.h"
#include "stats/Tally.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace morvane {

// Seeds of the search and of the final measurement come from one run seed but from
// disjoint battle numbers: the search's below FreshBase, the measurement's from it on.
// battleSeed is a bijection on the low 32 bits of the number, so the measurement never
// meets a seed the search used, as long as it numbers fewer than FreshBase battles.
inline constexpr uint64_t FreshBase = uint64_t{1} << 31;

// A team's score against a field, per pairing (counted for the team); shards of one
// measurement merge into the score of the whole.
struct FieldScore {
    std::vector<Tally> pairings;
    bool complete = true; // false when cancelled part way

    Tally total() const;
    void merge(const FieldScore& other);
};

// Battles first, first + step, ... below last (counted from 0) of the final
// measurement of a team: battle i plays pairing i mod P of the field (P pairings) with
// the seed battleSeed(seed, FreshBase + i). N battles per pairing are battles 0 to
// N * P - 1; any split of that range into shards, as ranges or as every step-th
// battle, adds up to the same score. progress, when given, hears the battles done so
// far now and then, on the calling thread.
FieldScore measureTeam(BattlePool& pool, const SideSelection& team, uint32_t seed, uint64_t first, uint64_t last,
                       uint64_t step = 1, const std::function<void(uint64_t done)>& progress = {});

} // namespace morvane
