#include "stats/League.h"

#include "stats/BattlePool.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

namespace morvane {

namespace {

// As in a deck-strength run: a second core is not worth waking for a few battles,
// and a run's memory must not grow with its length.
constexpr uint64_t BattlesPerThread = 32;
constexpr uint64_t SliceBattles = 65536;

// A slice of seeds, every pair's battles with each, played as one list.
struct SeedSlice {
    uint64_t first = 0; // within the shard
    uint64_t seeds = 0;
};

} // namespace

std::vector<std::pair<size_t, size_t>> leaguePairs(size_t decks) {
    std::vector<std::pair<size_t, size_t>> pairs;
    for (size_t a = 0; a < decks; ++a)
        for (size_t b = 0; b < decks; ++b)
            if (a != b)
                pairs.emplace_back(a, b);
    return pairs;
}

LeagueResult playLeague(const CardCatalogue& catalogue, const LeagueRequest& request, const StatsControl& control) {
    const auto pairs = leaguePairs(request.decks.size());
    const uint64_t perPair = shardBattles(request.battles, request.shard, request.shards);
    const uint64_t total = perPair * pairs.size();
    auto battleOf = [&request](uint64_t n) { return request.shard + n * request.shards; };
    unsigned threads = request.threads == 0 ? defaultThreadCount() : request.threads;
    threads = static_cast<unsigned>(
        std::max<uint64_t>(1, std::min<uint64_t>(threads, (total + BattlesPerThread - 1) / BattlesPerThread)));

    LeagueResult result;
    result.pairs.resize(pairs.size());
    result.winSquares.assign(request.decks.size(), 0);
    // Pairing b of this field is deck b below the team on top.
    const Field field{request.decks, PlaySide::Top};
    const auto start = std::chrono::steady_clock::now();
    auto shownAt = start;
    BattlePool pool(catalogue, field, threads, request.maxTurns, control.cancel);
    SeedSlice slice;
    const BattlePool::Describe describe = [&](const FieldBattle& b, size_t i) {
        const auto& [top, bottom] = pairs[i / slice.seeds];
        return "battle " + std::to_string(battleOf(slice.first + i % slice.seeds)) + " of #" + std::to_string(top + 1) +
               " on top against #" + std::to_string(bottom + 1) + " (seed " + std::to_string(b.seed) + ")";
    };
    const BattlePool::Progress progress = [&](size_t done) {
        const auto now = std::chrono::steady_clock::now();
        if (now - shownAt < control.progressInterval)
            return;
        shownAt = now;
        control.progress(slice.first * pairs.size() + done, total);
    };
    const uint64_t seedsPerSlice = std::max<uint64_t>(1, SliceBattles / std::max<size_t>(1, pairs.size()));
    std::vector<FieldBattle> battles;
    std::vector<BattleOutcome> outcomes;
    std::vector<uint64_t> wins(request.decks.size());
    uint64_t counted = 0;
    for (; slice.first < perPair; slice.first += slice.seeds) {
        slice.seeds = std::min(seedsPerSlice, perPair - slice.first);
        // A pair's battles of the slice in a row: the engine keeps its plans of the
        // front and its branches settle between battles of the same teams. Battle
        // (pair k, seed s) is at k * seeds + s.
        battles.clear();
        for (const auto& [top, bottom] : pairs)
            for (uint64_t n = slice.first; n < slice.first + slice.seeds; ++n)
                battles.push_back(
                    {&request.decks[top], static_cast<uint32_t>(bottom), battleSeed(request.seed, battleOf(n))});
        // A seed counts whole or not at all: its wins' square needs all its battles.
        if (!pool.play(battles, outcomes, describe, control.progress ? progress : BattlePool::Progress()))
            break;
        for (uint64_t s = 0; s < slice.seeds; ++s) {
            std::fill(wins.begin(), wins.end(), 0);
            for (size_t k = 0; k < pairs.size(); ++k) {
                const BattleOutcome& outcome = outcomes[k * slice.seeds + s];
                result.pairs[k].top.add(outcome, 0);
                wins[pairs[k].first] += outcome.wonBy(0) ? 1 : 0;
                wins[pairs[k].second] += outcome.wonBy(1) ? 1 : 0;
            }
            for (size_t d = 0; d < wins.size(); ++d)
                result.winSquares[d] += wins[d] * wins[d];
        }
        counted += slice.seeds;
    }
    result.threads = threads;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.cancelled = counted < perPair;
    for (StatsResult& r : result.pairs) {
        r.threads = threads;
        r.seconds = pairs.empty() ? 0.0 : result.seconds / double(pairs.size());
        r.cancelled = result.cancelled;
    }
    if (control.progress)
        control.progress(counted * pairs.size(), total);
    return result;
}

double studentT975(uint64_t df) {
    if (df <= 1)
        return 12.706204736174698; // tan(0.475 pi)
    if (df == 2)
        return 4.302652729749464; // 0.95 sqrt(2 / 0.0975)
    if (df <= 5) {
        constexpr double few[] = {3.182446305284263, 2.776445105197793, 2.570581835636314};
        return few[df - 3];
    }
    // The Cornish-Fisher expansion in 1/df, within 1e-4 from 6 degrees of freedom on.
    const double z = Normal975;
    const auto v = static_cast<double>(df);
    const double z3 = z * z * z, z5 = z3 * z * z, z7 = z5 * z * z, z9 = z7 * z * z;
    return z + (z3 + z) / (4 * v) + (5 * z5 + 16 * z3 + 3 * z) / (96 * v * v) +
           (3 * z7 + 19 * z5 + 17 * z3 - 15 * z) / (384 * v * v * v) +
           (79 * z9 + 776 * z7 + 1482 * z5 - 1920 * z3 - 945 * z) / (92160 * v * v * v * v);
}

Interval seedClusterInterval(uint64_t wins, uint64_t battles, uint64_t seeds, const uint64_t* winSquares) {
    if (battles == 0 || seeds == 0)
        return {0.0, 1.0};
    const double share = double(std::min(wins, battles)) / double(battles);
    // A seed's share of wins lies between 0 and 1, so its variance is at most
    // share (1 - share): seeds as trials is safe whatever the battles of a seed share.
    if (!winSquares || seeds < 2)
        return wilsonInterval(share, double(seeds), Normal975);
    // The seeds' spread of wins, exactly in integers: (seeds * sum X^2 - (sum X)^2).
    using Wide = unsigned __int128;
    const Wide sum = Wide(wins) * wins;
    const Wide scaled = Wide(*winSquares) * seeds;
    const double spread = scaled > sum ? static_cast<double>(scaled - sum) : 0.0;
    const double perSeed = double(battles) / double(seeds);
    // The variance of the win rate: that of a seed's wins over seeds, divided by the
    // battles of a seed squared.
    const double variance = spread / (double(seeds) * double(seeds - 1)) / (double(seeds) * perSeed * perSeed);
    const double quantile = studentT975(seeds - 1);
    if (share <= 0.0 || share >= 1.0)
        return wilsonInterval(share, double(battles), quantile);
    // Every seed gave the deck the same wins: nothing is left to vary.
    if (!(variance > 0.0))
        return {share, share};
    return wilsonInterval(share, share * (1.0 - share) / variance, quantile);
}

} // namespace morvane
