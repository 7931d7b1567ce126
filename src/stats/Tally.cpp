#include "stats/Tally.h"

#include <algorithm>
#include <cmath>

namespace morvane {

Interval wilsonInterval(uint64_t successes, uint64_t trials) {
    if (trials == 0)
        return {0.0, 1.0};
    return wilsonInterval(double(std::min(successes, trials)) / double(trials), double(trials), Normal975);
}

Interval wilsonInterval(double share, double trials, double quantile) {
    if (!(trials > 0))
        return {0.0, 1.0};
    const double n = trials;
    const double p = std::clamp(share, 0.0, 1.0);
    const double q2 = quantile * quantile;
    const double denominator = 1.0 + q2 / n;
    const double centre = (p + q2 / (2.0 * n)) / denominator;
    const double half = quantile / denominator * std::sqrt(p * (1.0 - p) / n + q2 / (4.0 * n * n));
    return {std::max(0.0, centre - half), std::min(1.0, centre + half)};
}

void TurnHistogram::add(int32_t turns, uint64_t count) {
    if (count == 0)
        return;
    if (turns >= 0 && turns < DenseLengths) {
        if (dense_.empty()) {
            first_ = turns;
        } else if (turns < first_) {
            dense_.insert(dense_.begin(), static_cast<size_t>(first_ - turns), 0);
            first_ = turns;
        }
        const auto at = static_cast<size_t>(turns - first_);
        if (dense_.size() <= at)
            dense_.resize(at + 1, 0);
        dense_[at] += count;
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
    for (size_t at = 0; at < dense_.size(); ++at)
        if (dense_[at])
            visit(first_ + static_cast<int32_t>(at), dense_[at]);
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

void Tally::merge(const Tally& other) {
    battles += other.battles;
    wins += other.wins;
    losses += other.losses;
    undecided += other.undecided;
    turnsTotal += other.turnsTotal;
    lengths.merge(other.lengths);
}

bool Tally::addsUp() const {
    return wins + losses + undecided == battles && wins <= battles && losses <= battles && undecided <= battles &&
           lengths.count() == battles && lengths.turns() == turnsTotal;
}

} // namespace morvane
