#pragma once
// Deck strength: many independent battles between two teams, played without a report
// and counted. Every battle has its own generator, seeded from the run's seed and the
// battle's number, so a run gives the same counts on any number of threads and any
// battle can be replayed alone (with its report) from its seed. The battles are the
// battle pool's: the top team against a field of one deck, the bottom team.
//
// Nothing here cares about windows or terminals: the command line tool prints the
// result, and a window can run the same call on a worker thread, watch its progress
// and cancel it.

#include "battle/BattleOutcome.h"
#include "cards/Deck.h"
#include "stats/Tally.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

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
// The most battles a run can number apart: battle 2^32 would replay battle 0.
inline constexpr uint64_t MaxSeededBattles = uint64_t{1} << 32;

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
    // The battles counted for the top team: its wins, its losses (the bottom team's
    // wins) and the battles stopped by the turn cap.
    Tally top;
    unsigned threads = 0;
    double seconds = 0;
    bool cancelled = false; // the counts then cover only the battles finished in time

    uint64_t battles() const { return top.battles; }
    uint64_t topWins() const { return top.wins; }
    uint64_t bottomWins() const { return top.losses; }
    uint64_t undecided() const { return top.undecided; }
    uint64_t turnsTotal() const { return top.turnsTotal; }
    const TurnHistogram& lengths() const { return top.lengths; }
    double topWinRate() const { return top.winRate(); }
    double bottomWinRate() const { return top.lossRate(); }
    Interval topWinInterval() const { return top.winInterval(); }
    Interval bottomWinInterval() const { return top.lossInterval(); }
    double turnsMean() const { return top.turnsMean(); }
    double battlesPerSecond() const { return seconds > 0 ? double(battles()) / seconds : 0.0; }
    double turnsPerSecond() const { return seconds > 0 ? double(turnsTotal()) / seconds : 0.0; }
};

// How a caller watches and stops a run. progress is called on the thread that called
// playStatistics, about every progressInterval with the battles finished so far and
// the battles asked for (of its shard), and once more at the end with the battles
// counted: after a cancel these are the battles up to the first one not finished,
// which may be a few fewer than were finished. Setting *cancel stops the workers
// after the battle each is playing.
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

} // namespace morvane
