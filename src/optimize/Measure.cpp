#include "optimize/Measure.h"

#include "stats/Statistics.h"

#include <algorithm>

namespace morvane {

namespace {

// Battles are handed to the pool in lists of this many, so that the memory of a
// measurement does not grow with its length.
constexpr uint64_t MeasureSlice = 8192;

} // namespace

Tally FieldScore::total() const {
    Tally sum;
    for (const Tally& t : pairings)
        sum.merge(t);
    return sum;
}

void FieldScore::merge(const FieldScore& other) {
    if (pairings.size() < other.pairings.size())
        pairings.resize(other.pairings.size());
    for (size_t p = 0; p < other.pairings.size(); ++p)
        pairings[p].merge(other.pairings[p]);
    complete = complete && other.complete;
}

FieldScore measureTeam(BattlePool& pool, const SideSelection& team, uint32_t seed, uint64_t first, uint64_t last,
                       uint64_t step, const std::function<void(uint64_t done)>& progress) {
    const Field& field = pool.field();
    const size_t pairings = field.pairings();
    step = std::max<uint64_t>(step, 1);
    FieldScore score;
    score.pairings.resize(pairings);
    std::vector<FieldBattle> battles;
    std::vector<BattleOutcome> outcomes;
    uint64_t done = 0;
    const BattlePool::Progress heard = [&](size_t inSlice) { progress(done + inSlice); };
    for (uint64_t i = first; i < last;) {
        battles.clear();
        for (; i < last && battles.size() < MeasureSlice; i += step)
            battles.push_back({&team, static_cast<uint32_t>(i % pairings), battleSeed(seed, FreshBase + i)});
        // A pairing's battles in a row find the engine's plans of the front still good.
        std::stable_sort(battles.begin(), battles.end(),
                         [](const FieldBattle& a, const FieldBattle& b) { return a.pairing < b.pairing; });
        const bool complete = pool.play(battles, outcomes, {}, progress ? heard : BattlePool::Progress());
        for (size_t j = 0; j < battles.size(); ++j)
            score.pairings[battles[j].pairing].add(outcomes[j], field.teamSideOf(battles[j].pairing));
        done += battles.size();
        if (!complete) {
            score.complete = false;
            break;
        }
    }
    return score;
}

} // namespace morvane
