#pragma once
// Plays a ladder's units in the test's own process, with the battle pool, as a runner
// would: battle k of a match puts a on top for even k, with the seed battleSeed(seed, k).

#include "cards/CardCatalogue.h"
#include "ladder/LadderWork.h"
#include "stats/BattlePool.h"
#include "stats/Statistics.h"

#include <vector>

namespace morvane::testing {

inline std::vector<MatchCount> playOrders(const CardCatalogue& catalogue, const std::vector<MatchOrder>& orders,
                                          unsigned threads = 2) {
    Field field{{}, PlaySide::Both};
    std::vector<SideSelection> teams;
    for (const MatchOrder& m : orders) {
        field.decks.push_back(m.b);
        teams.push_back(m.a);
    }
    std::vector<FieldBattle> battles;
    std::vector<std::pair<size_t, unsigned>> of; // match, battle number
    for (size_t i = 0; i < orders.size(); ++i)
        for (unsigned k = 0; k < orders[i].battles; ++k) {
            battles.push_back({&teams[i], static_cast<uint32_t>(2 * i + k % 2), battleSeed(orders[i].seed, k)});
            of.emplace_back(i, k);
        }
    BattlePool pool(catalogue, field, threads, DefaultMaxTurns);
    std::vector<BattleOutcome> outcomes;
    pool.play(battles, outcomes);
    std::vector<MatchCount> counts(orders.size());
    for (size_t j = 0; j < battles.size(); ++j) {
        const auto [i, k] = of[j];
        const int aSide = static_cast<int>(k % 2);
        MatchCount& c = counts[i];
        if (outcomes[j].wonBy(aSide))
            ++c.winsA;
        else if (outcomes[j].lostBy(aSide))
            ++c.winsB;
        else
            ++c.undecided;
    }
    return counts;
}

// The answers of units, as a runner would place them.
inline std::vector<AnsweredWork> playUnits(const CardCatalogue& catalogue, const std::vector<WorkUnit>& units,
                                           unsigned threads = 2) {
    std::vector<AnsweredWork> answers;
    answers.reserve(units.size());
    for (const WorkUnit& unit : units)
        answers.push_back({unit, formatMatchCounts(playOrders(catalogue, parseMatchOrders(unit.body), threads))});
    return answers;
}

} // namespace morvane::testing
