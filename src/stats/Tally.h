#pragma once
// Counting battles: the wins, losses and undecided battles of one side, and how long
// the battles ran. The one record of a count for every runner of many battles: the
// top team of a deck-strength run, the measured team of the optimizer against each
// field deck, a deck of a league, a shard of any of them.

#include "battle/BattleOutcome.h"

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace morvane {

// A 95% Wilson score interval for a proportion successes / trials; [0, 1] when
// trials is 0.
struct Interval {
    double low = 0;
    double high = 1;
};
Interval wilsonInterval(uint64_t successes, uint64_t trials);
// Wilson's score interval for an observed share of `trials` trials (a real number: an
// effective count will do) with the given two-sided quantile; [0, 1] when trials is 0.
Interval wilsonInterval(double share, double trials, double quantile);
// The 97.5th percentile of the standard normal.
inline constexpr double Normal975 = 1.959963984540054;

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

    // Lengths from first_ on, so that a league's pairs of a battle or two hold a
    // count or two each rather than a table up from length 0.
    std::vector<uint64_t> dense_;
    int32_t first_ = 0;
    std::map<int32_t, uint64_t> sparse_;
    uint64_t count_ = 0;
    int32_t max_ = 0;
};

// Battles counted for one side: its wins, its losses (the other side's wins) and the
// battles stopped by the turn cap, with their lengths.
struct Tally {
    uint64_t battles = 0;
    uint64_t wins = 0;
    uint64_t losses = 0;
    uint64_t undecided = 0;
    uint64_t turnsTotal = 0;
    TurnHistogram lengths;

    // Counts a finished battle for `side` (0 top, 1 bottom); one that is not over
    // (never played) is not counted.
    void add(const BattleOutcome& outcome, int side) {
        if (!outcome.over())
            return;
        ++battles;
        wins += outcome.wonBy(side) ? 1 : 0;
        losses += outcome.lostBy(side) ? 1 : 0;
        undecided += outcome.capped() ? 1 : 0;
        turnsTotal += static_cast<uint64_t>(outcome.turns);
        lengths.add(outcome.turns);
    }
    void merge(const Tally& other);
    // The same battles counted for the other side.
    Tally mirrored() const {
        Tally other = *this;
        std::swap(other.wins, other.losses);
        return other;
    }

    double winRate() const { return battles ? double(wins) / double(battles) : 0.0; }
    double lossRate() const { return battles ? double(losses) / double(battles) : 0.0; }
    Interval winInterval() const { return wilsonInterval(wins, battles); }
    Interval lossInterval() const { return wilsonInterval(losses, battles); }
    double turnsMean() const { return battles ? double(turnsTotal) / double(battles) : 0.0; }
    // The counts agree with each other and with the lengths: what a tally read from a
    // file must show before it is added to others.
    bool addsUp() const;
};

} // namespace morvane
