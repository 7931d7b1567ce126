#include "stats/Statistics.h"

#include "battle/Battle.h"
#include "common/Errors.h"
#include "common/Random.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

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

// Battles are handed out in small runs of consecutive numbers: large enough that the
// shared counter is touched rarely, small enough that threads finish together.
constexpr uint64_t ChunkBattles = 32;

} // namespace

const char* const BattleSeedRule =
    "seed of battle i (from 0) = mix(S xor mix(i)), mix(x) on 32 bits: x ^= x >> 16; x *= 0x7FEB352D; "
    "x ^= x >> 15; x *= 0x846CA68B; x ^= x >> 16";

uint32_t battleSeed(uint32_t runSeed, uint64_t index) {
    return mix(runSeed ^ mix(static_cast<uint32_t>(index)));
}

Interval wilsonInterval(uint64_t successes, uint64_t trials) {
    if (trials == 0)
        return {0.0, 1.0};
    constexpr double z = 1.959963984540054; // the 97.5th percentile of the standard normal
    const auto n = static_cast<double>(trials);
    const double p = double(std::min(successes, trials)) / n;
    const double z2 = z * z;
    const double denominator = 1.0 + z2 / n;
    const double centre = (p + z2 / (2.0 * n)) / denominator;
    const double half = z / denominator * std::sqrt(p * (1.0 - p) / n + z2 / (4.0 * n * n));
    return {std::max(0.0, centre - half), std::min(1.0, centre + half)};
}

void TurnHistogram::add(int32_t turns, uint64_t count) {
    if (count == 0)
        return;
    if (turns >= 0 && turns < DenseLengths) {
        if (dense_.size() <= static_cast<size_t>(turns))
            dense_.resize(static_cast<size_t>(turns) + 1, 0);
        dense_[static_cast<size_t>(turns)] += count;
    } else {
        sparse_[turns] += count;
    }
    count_ += count;
    if (count_ == count || turns > max_)
        max_ = turns;
}

uint64_t TurnHistogram::turns() const {
    uint64_t total = 0;
    forEach([&total](int32_t length, uint64_t count) { total += static_cast<uint64_t>(length) * count; });
    return total;
}

void TurnHistogram::merge(const TurnHistogram& other) {
    other.forEach([this](int32_t turns, uint64_t count) { add(turns, count); });
}

void TurnHistogram::forEach(const std::function<void(int32_t, uint64_t)>& visit) const {
    // Lengths below 0 cannot come from a battle, but keep the order right if they do.
    for (auto it = sparse_.begin(); it != sparse_.end() && it->first < 0; ++it)
        visit(it->first, it->second);
    for (size_t turns = 0; turns < dense_.size(); ++turns)
        if (dense_[turns])
            visit(static_cast<int32_t>(turns), dense_[turns]);
    for (auto it = sparse_.lower_bound(0); it != sparse_.end(); ++it)
        visit(it->first, it->second);
}

int32_t TurnHistogram::nthLength(uint64_t n) const {
    uint64_t seen = 0;
    int32_t found = 0;
    bool done = false;
    forEach([&](int32_t turns, uint64_t count) {
        if (done)
            return;
        seen += count;
        if (seen > n) {
            found = turns;
            done = true;
        }
    });
    return found;
}

double TurnHistogram::median() const {
    if (count_ == 0)
        return 0.0;
    const double lower = nthLength((count_ - 1) / 2);
    const double upper = nthLength(count_ / 2);
    return (lower + upper) / 2.0;
}

uint64_t shardBattles(uint64_t battles, uint64_t shard, uint64_t shards) {
    return shards == 0 || shard >= battles ? 0 : (battles - shard - 1) / shards + 1;
}

unsigned defaultThreadCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

StatsResult playStatistics(const CardCatalogue& catalogue, const StatsRequest& request, const StatsControl& control) {
    // A team with an empty selection fails every battle alike: say so once, up front.
    {
        Random random;
        Battle probe(catalogue, random);
        probe.start(request.teams);
    }

    // Battles are counted within the shard: its n-th battle is battle shard + n * shards
    // of the run.
    const uint64_t total = shardBattles(request.battles, request.shard, request.shards);
    auto battleOf = [&request](uint64_t n) { return request.shard + n * request.shards; };
    unsigned threads = request.threads == 0 ? defaultThreadCount() : request.threads;
    threads = static_cast<unsigned>(
        std::max<uint64_t>(1, std::min<uint64_t>(threads, (total + ChunkBattles - 1) / ChunkBattles)));

    struct Worker {
        StatsResult counts;
        std::thread thread;
    };
    std::vector<Worker> workers(threads);
    std::atomic<uint64_t> next{0};
    std::atomic<uint64_t> done{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished;
    unsigned running = threads;
    std::exception_ptr failure;
    uint64_t failedBattle = UINT64_MAX;

    auto stopped = [&] {
        return stop.load(std::memory_order_relaxed) ||
               (control.cancel && control.cancel->load(std::memory_order_relaxed));
    };

    // Each worker counts on its own stack and hands its counts over once, at the end,
    // so that no two threads write to one cache line while battles are played.
    auto work = [&](StatsResult& slot) {
        StatsResult counts;
        Random random;
        Battle battle(catalogue, random);
        uint64_t index = 0; // of the run
        try {
            while (!stopped()) {
                const uint64_t first = next.fetch_add(ChunkBattles, std::memory_order_relaxed);
                if (first >= total)
                    break;
                const uint64_t last = std::min(total, first + ChunkBattles);
                uint64_t played = 0;
                for (uint64_t n = first; n < last && !stopped(); ++n, ++played) {
                    index = battleOf(n);
                    random.setSeed(battleSeed(request.seed, index));
                    const BattleOutcome outcome = battle.play(request.teams, request.maxTurns);
                    ++counts.battles;
                    if (outcome.capped())
                        ++counts.undecided;
                    else if (outcome.winner == 0)
                        ++counts.topWins;
                    else
                        ++counts.bottomWins;
                    counts.turnsTotal += static_cast<uint64_t>(outcome.turns);
                    counts.lengths.add(outcome.turns);
                }
                done.fetch_add(played, std::memory_order_relaxed);
            }
        } catch (MorvaneError& e) {
            const std::string seed = std::to_string(battleSeed(request.seed, index));
            e.setWhere("battle " + std::to_string(index) + " (seed " + seed + ")" +
                       (e.where().empty() ? std::string() : ", " + e.where()));
            std::lock_guard lock(mutex);
            if (index < failedBattle) {
                failedBattle = index;
                failure = std::current_exception();
            }
            stop = true;
        } catch (...) {
            std::lock_guard lock(mutex);
            if (index < failedBattle) {
                failedBattle = index;
                failure = std::current_exception();
            }
            stop = true;
        }
        std::lock_guard lock(mutex);
        slot = std::move(counts);
        --running;
        finished.notify_all();
    };

    const auto start = std::chrono::steady_clock::now();
    auto joinAll = [&] {
        for (Worker& w : workers)
            if (w.thread.joinable())
                w.thread.join();
    };
    try {
        for (Worker& w : workers)
            w.thread = std::thread(work, std::ref(w.counts));
        if (control.progress) {
            std::unique_lock lock(mutex);
            while (!finished.wait_for(lock, control.progressInterval, [&] { return running == 0; })) {
                lock.unlock();
                control.progress(done.load(std::memory_order_relaxed), total);
                lock.lock();
            }
        }
    } catch (...) {
        // A thread that cannot be started or a progress callback that throws: the
        // workers already running must still be stopped and joined before leaving.
        stop = true;
        joinAll();
        throw;
    }
    joinAll();
    const auto end = std::chrono::steady_clock::now();

    if (failure)
        std::rethrow_exception(failure);

    // Sums and a histogram: the same totals whichever thread played which battle.
    StatsResult result;
    for (const Worker& w : workers) {
        result.battles += w.counts.battles;
        result.topWins += w.counts.topWins;
        result.bottomWins += w.counts.bottomWins;
        result.undecided += w.counts.undecided;
        result.turnsTotal += w.counts.turnsTotal;
        result.lengths.merge(w.counts.lengths);
    }
    result.threads = threads;
    result.seconds = std::chrono::duration<double>(end - start).count();
    result.cancelled = result.battles < total;
    if (control.progress)
        control.progress(result.battles, total);
    return result;
}

} // namespace morvane
