#include "stats/Statistics.h"

#include "battle/Battle.h"
#include "cards/Team.h"
#include "common/Random.h"
#include "stats/BattlePool.h"

#include <algorithm>
#include <string>

namespace morvane {

namespace {

uint32_t mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

// A thread for every so many battles at most: a short run is not worth waking a
// second core.
constexpr uint64_t BattlesPerThread = 32;

// Battles are handed to the pool in lists of this many, so that the memory of a run
// does not grow with its length.
constexpr uint64_t SliceBattles = 65536;

} // namespace

const char* const BattleSeedRule =
    "seed of battle i (from 0) = mix(S xor mix(i)), mix(x) on 32 bits: x ^= x >> 16; x *= 0x7FEB352D; "
    "x ^= x >> 15; x *= 0x846CA68B; x ^= x >> 16";

uint32_t battleSeed(uint32_t runSeed, uint64_t index) {
    return mix(runSeed ^ mix(static_cast<uint32_t>(index)));
}

uint64_t shardBattles(uint64_t battles, uint64_t shard, uint64_t shards) {
    return shards == 0 || shard >= battles ? 0 : (battles - shard - 1) / shards + 1;
}

StatsResult playStatistics(const CardCatalogue& catalogue, const StatsRequest& request, const StatsControl& control) {
    // A team with an empty selection fails every battle alike: say so once, up front.
    checkPlayable(catalogue, request.teams);

    // Battles are counted within the shard: its n-th battle is battle shard + n * shards
    // of the run.
    const uint64_t total = shardBattles(request.battles, request.shard, request.shards);
    auto battleOf = [&request](uint64_t n) { return request.shard + n * request.shards; };
    unsigned threads = request.threads == 0 ? defaultThreadCount() : request.threads;
    threads = static_cast<unsigned>(
        std::max<uint64_t>(1, std::min<uint64_t>(threads, (total + BattlesPerThread - 1) / BattlesPerThread)));

    const Field field{{request.teams.side[1]}, PlaySide::Top};
    const SideSelection& top = request.teams.side[0];
    StatsResult result;
    const auto start = std::chrono::steady_clock::now();
    auto shownAt = start;
    uint64_t before = 0;
    BattlePool pool(catalogue, field, threads, request.maxTurns, control.cancel);
    const BattlePool::Describe describe = [&](const FieldBattle& b, size_t i) {
        return "battle " + std::to_string(battleOf(before + i)) + " (seed " + std::to_string(b.seed) + ")";
    };
    const BattlePool::Progress progress = [&](size_t done) {
        const auto now = std::chrono::steady_clock::now();
        if (now - shownAt < control.progressInterval)
            return;
        shownAt = now;
        control.progress(before + done, total);
    };
    std::vector<FieldBattle> battles;
    std::vector<BattleOutcome> outcomes;
    bool complete = true;
    while (before < total && complete) {
        const uint64_t slice = std::min(SliceBattles, total - before);
        battles.clear();
        for (uint64_t n = before; n < before + slice; ++n)
            battles.push_back({&top, 0, battleSeed(request.seed, battleOf(n))});
        complete = pool.play(battles, outcomes, describe, control.progress ? progress : BattlePool::Progress());
        // A stopped run counts its battles up to the first one not played, so that it
        // is exactly the run of that many battles: its replay command gives its counts.
        size_t counted = outcomes.size();
        if (!complete)
            counted = static_cast<size_t>(
                std::find_if(outcomes.begin(), outcomes.end(), [](const BattleOutcome& o) { return !o.over(); }) -
                outcomes.begin());
        for (size_t i = 0; i < counted; ++i)
            result.top.add(outcomes[i], 0);
        before += slice;
    }
    result.threads = threads;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.cancelled = result.battles() < total;
    if (control.progress)
        control.progress(result.battles(), total);
    return result;
}

} // namespace morvane
