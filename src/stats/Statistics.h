#pragma once
// Deck strength: many independent battles between two teams, played without a report
// and counted. Every battle has its own generator, seeded from the run's seed and the
// battle's number, so a run gives the same counts on any number of threads and any
// battle can be replayed alone (with its report) from its seed.
//
// Nothing here cares about windows or terminals: the command line tool prints the
// result, and a window can run the same call on a worker thread, watch its progress
// and cancel it.

#include "battle/BattleOutcome.h"
#include "cards/Deck.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace morvane {

class CardCatalogue;

// The seed of battle `index` (counted from 0) of a run seeded with `runSeed`:
//   seed = mix(runSeed XOR mix(index mod 2^32))
// where mix(x), on 32-bit unsigned x with wrapping multiplication, is
//   x ^= x >> 16; x *= 0x7FEB352D; x ^= x >> 15; x *= 0x846CA68B; x ^= x >> 16.
// mix is a bijection, so the first 2^32 battles of a run all get different seeds.
// The rule is fixed: changing it would change every published figure.
uint32_t battleSeed(uint32_t runSeed, uint64_t index);
// The rule above as one line of text, for users who want to replay a battle.
extern const char* const BattleSeedRule;

// A 95% Wilson score interval for a proportion successes / trials; [0, 1] when
// trials is 0.
struct Interval {
    double low = 0;
    double high = 1;
};
Interval wilsonInterval(uint64_t successes, uint64_t trials);

// Battle lengths in turns, counted by length, so that memory depends on how many
// different lengths occur, never on how many battles were played.
class TurnHistogram {
public:
    void add(int32_t turns, uint64_t count = 1);
    void merge(const TurnHistogram& other);

    uint64_t count() const { return count_; }
    int32_t max() const { return max_; }
    uint64_t turns() const; // of all the battles together
    // The middle length; for an even count the mean of the two middle ones. 0 when empty.
    double median() const;
    // Calls visit(turns, count) for every length that occurred, shortest first.
    void forEach(const std::function<void(int32_t, uint64_t)>& visit) const;

private:
    // Short battles, the common case, are counted in a flat table; the rare long
    // ones go to a map so that a high turn cap costs no memory until it is reached.
    static constexpr int32_t DenseLengths = 4096;
    int32_t nthLength(uint64_t n) const; // the length of the n-th shortest battle, from 0

    std::vector<uint64_t> dense_;
    std::map<int32_t, uint64_t> sparse_;
    uint64_t count_ = 0;
    int32_t max_ = 0;
};

struct StatsRequest {
    Teams teams;
    uint64_t battles = 10000;
    unsigned threads = 1; // 0: one per core
    uint32_t seed = 0;
    long long maxTurns = DefaultMaxTurns; // a battle still running after this many turns is undecided
    // Shard `shard` of `shards` plays only the battles i with i mod shards = shard, so
    // that shards run anywhere add up to the whole run.
    uint64_t shard = 0;
    uint64_t shards = 1;
};

// How many of a run's battles shard `shard` of `shards` plays.
uint64_t shardBattles(uint64_t battles, uint64_t shard, uint64_t shards);

struct StatsResult {
    uint64_t battles = 0; // battles played to their end or to the turn cap
    uint64_t topWins = 0;
    uint64_t bottomWins = 0;
    uint64_t undecided = 0; // stopped by the turn cap
    uint64_t turnsTotal = 0;
    TurnHistogram lengths;
    unsigned threads = 0;
    double seconds = 0;
    bool cancelled = false; // the counts then cover only the battles finished in time

    double topWinRate() const { return battles ? double(topWins) / double(battles) : 0.0; }
    double bottomWinRate() const { return battles ? double(bottomWins) / double(battles) : 0.0; }
    Interval topWinInterval() const { return wilsonInterval(topWins, battles); }
    Interval bottomWinInterval() const { return wilsonInterval(bottomWins, battles); }
    double turnsMean() const { return battles ? double(turnsTotal) / double(battles) : 0.0; }
    double battlesPerSecond() const { return seconds > 0 ? double(battles) / seconds : 0.0; }
    double turnsPerSecond() const { return seconds > 0 ? double(turnsTotal) / seconds : 0.0; }
};

// How a caller watches and stops a run. progress is called on the thread that called
// playStatistics, about every progressInterval and once more at the end, with the
// battles finished so far and the battles asked for (of its shard). Setting *cancel stops the
// workers after the battle each is playing.
struct StatsControl {
    std::atomic<bool>* cancel = nullptr;
    std::function<void(uint64_t done, uint64_t total)> progress;
    std::chrono::milliseconds progressInterval{100};
};

// Plays the battles on request.threads threads. Throws InputError before any battle
// when a team has an empty selection; a failure inside a battle (a card column that
// is not a number) stops the run and is thrown with the battle's number and seed in
// its location.
StatsResult playStatistics(const CardCatalogue& catalogue, const StatsRequest& request,
                           const StatsControl& control = {});

// The number of threads that 0 stands for.
unsigned defaultThreadCount();

} // namespace morvane
