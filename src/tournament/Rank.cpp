#include "tournament/Rank.h"

#include "cards/CardCatalogue.h"
#include "cards/Team.h"
#include "common/Errors.h"
#include "stats/BattlePool.h"
#include "stats/Statistics.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

namespace morvane {

namespace {

constexpr double Z95 = 1.959963984540054;

// Battles handed to the pool at once: the lists stay small however large the budget.
constexpr size_t SliceBattles = 65536;

// What the battles of one pair came to, counted for its lower-numbered deck.
// Wide counts: a budget of up to 2^40 battles may all go to the one pair of two decks.
struct PairCount {
    uint64_t wins = 0;
    uint64_t losses = 0;
    uint64_t draws = 0;

    uint64_t battles() const { return wins + losses + draws; }
    double mean() const {
        return (static_cast<double>(wins) + 0.5 * static_cast<double>(draws)) / static_cast<double>(battles());
    }
    // The variance of the mean score: the battles' sample variance over their count. A
    // pair of one battle says nothing of its spread: the largest a score can have.
    double meanVariance() const {
        const auto n = static_cast<double>(battles());
        if (n < 2)
            return 0.25 / std::max(n, 1.0);
        const double m = mean();
        const double squares = static_cast<double>(wins) + 0.25 * static_cast<double>(draws);
        return std::max(0.0, (squares - n * m * m) / (n - 1)) / n;
    }
};

struct Planned {
    size_t a = 0;
    size_t b = 0;
    uint64_t k = 0; // battle number within the pair
};

// The battles of one pair a plan asks for, numbered first to first + count - 1 within
// the pair. A plan is kept as runs and spelled out a slice at a time, so that its
// memory follows the number of pairs and not the budget.
struct PairRun {
    size_t a = 0;
    size_t b = 0;
    uint64_t first = 0;
    uint64_t count = 0;
};

class Ranker {
public:
    Ranker(const CardCatalogue& catalogue, const RankRequest& request, const std::atomic<bool>* cancel)
        : request_(request), n_(request.decks.size()), field_{request.decks, PlaySide::Both},
          pool_(catalogue, field_, request.threads, request.maxTurns, cancel), counts_(n_ * (n_ - 1) / 2),
          cancel_(cancel) {}

    size_t pairs() const { return counts_.size(); }
    uint64_t played() const { return played_; }

    PairCount& count(size_t a, size_t b) { return counts_[a * n_ - a * (a + 1) / 2 + (b - a - 1)]; }

    // Score and variance of deck i's rating from the pairs played so far.
    RankedDeck rated(size_t i) {
        RankedDeck r;
        r.deck = i;
        double sum = 0;
        double variance = 0;
        for (size_t j = 0; j < n_; ++j) {
            if (j == i)
                continue;
            const PairCount& c = i < j ? count(i, j) : count(j, i);
            const double mean = c.battles() ? c.mean() : 0.5;
            sum += i < j ? mean : 1 - mean;
            variance += c.battles() ? c.meanVariance() : 0.25;
            r.battles += c.battles();
        }
        const auto others = static_cast<double>(n_ - 1);
        r.rating = sum / others;
        r.standardError = std::sqrt(variance) / others;
        r.interval = {std::max(0.0, r.rating - Z95 * r.standardError), std::min(1.0, r.rating + Z95 * r.standardError)};
        return r;
    }

    std::vector<RankedDeck> ranking() {
        std::vector<RankedDeck> all;
        for (size_t i = 0; i < n_; ++i)
            all.push_back(rated(i));
        std::stable_sort(all.begin(), all.end(),
                         [](const RankedDeck& x, const RankedDeck& y) { return x.rating > y.rating; });
        return all;
    }

    // Plays the planned battles, a slice at a time; false when cancelled.
    bool play(const std::vector<PairRun>& plan, const std::function<void(uint64_t)>& progress) {
        std::vector<Planned> slice;
        std::vector<FieldBattle> battles;
        std::vector<BattleOutcome> outcomes;
        size_t run = 0;
        uint64_t taken = 0; // of the current run
        while (run < plan.size()) {
            slice.clear();
            while (slice.size() < SliceBattles && run < plan.size()) {
                const PairRun& r = plan[run];
                const uint64_t take = std::min<uint64_t>(r.count - taken, SliceBattles - slice.size());
                for (uint64_t k = r.first + taken; k < r.first + taken + take; ++k)
                    slice.push_back({r.a, r.b, k});
                taken += take;
                if (taken == r.count) {
                    ++run;
                    taken = 0;
                }
            }
            battles.clear();
            for (const Planned& p : slice)
                battles.push_back({&field_.decks[p.a], static_cast<uint32_t>(2 * p.b + p.k % 2),
                                   battleSeed(pairSeed(request_.seed, p.a, p.b), p.k)});
            outcomes.clear();
            if (!pool_.play(battles, outcomes))
                return false;
            for (size_t i = 0; i < slice.size(); ++i) {
                const Planned& p = slice[i];
                const BattleOutcome& o = outcomes[i];
                const int aSide = static_cast<int>(p.k % 2);
                PairCount& c = count(p.a, p.b);
                if (o.wonBy(aSide))
                    ++c.wins;
                else if (o.lostBy(aSide))
                    ++c.losses;
                else
                    ++c.draws;
            }
            played_ += slice.size();
            if (progress)
                progress(played_);
            if (cancel_ && cancel_->load(std::memory_order_relaxed))
                return false;
        }
        return true;
    }

    // Every pair the same number of battles more.
    std::vector<PairRun> evenPlan(uint64_t perPair) {
        std::vector<PairRun> plan;
        plan.reserve(pairs());
        for (size_t a = 0; a < n_; ++a)
            for (size_t b = a + 1; b < n_; ++b)
                plan.push_back({a, b, count(a, b).battles(), perPair});
        return plan;
    }

    // The decks near the top whose interval overlaps a neighbour's in the current order:
    // their places are not yet certain.
    std::vector<size_t> uncertainTop(const std::vector<RankedDeck>& order) const {
        std::vector<size_t> decks;
        const size_t last = std::min(order.size() - 1, request_.focus + 1);
        auto overlaps = [&](size_t p, size_t q) {
            return order[p].interval.low <= order[q].interval.high && order[q].interval.low <= order[p].interval.high;
        };
        for (size_t p = 0; p <= last; ++p)
            if ((p > 0 && overlaps(p, p - 1)) || (p + 1 < order.size() && p + 1 <= last && overlaps(p, p + 1)))
                decks.push_back(order[p].deck);
        return decks;
    }

    // Each deck plays every opponent perPair battles more; a pair of two such decks once.
    std::vector<PairRun> focusPlan(const std::vector<size_t>& decks, uint64_t perPair) {
        std::vector<bool> chosen(n_, false);
        for (const size_t d : decks)
            chosen[d] = true;
        std::vector<PairRun> plan;
        for (size_t a = 0; a < n_; ++a)
            for (size_t b = a + 1; b < n_; ++b)
                if (chosen[a] || chosen[b])
                    plan.push_back({a, b, count(a, b).battles(), perPair});
        return plan;
    }

private:
    const RankRequest& request_;
    size_t n_;
    Field field_;
    BattlePool pool_;
    std::vector<PairCount> counts_;
    const std::atomic<bool>* cancel_;
    uint64_t played_ = 0;
};

void checkRequest(const CardCatalogue& catalogue, const RankRequest& request) {
    const size_t n = request.decks.size();
    if (n < 2 || n > MaxRankedDecks)
        throw InputError("a ranking takes 2 to " + std::to_string(MaxRankedDecks) + " decks");
    const uint64_t pairs = n * (n - 1) / 2;
    if (request.budget < 2 * pairs)
        throw InputError("a budget of at least " + std::to_string(2 * pairs) + " battles (two a pair) ranks " +
                         std::to_string(n) + " decks");
    for (size_t i = 0; i < n; ++i) {
        try {
            checkPlayable(catalogue, request.decks[i]);
        } catch (MorvaneError& e) {
            e.setWhere("deck #" + std::to_string(i + 1));
            throw;
        }
    }
}

} // namespace

uint32_t pairSeed(uint32_t runSeed, size_t a, size_t b) {
    // Decks are fewer than 2^16, so the pair's number is below 2^32 and its own.
    return battleSeed(runSeed, static_cast<uint64_t>(a) * 65536 + b);
}

RankResult rankDecks(const CardCatalogue& catalogue, const RankRequest& request,
                     const std::function<void(uint64_t, uint64_t)>& progress, const std::atomic<bool>* cancel) {
    checkRequest(catalogue, request);
    Ranker ranker(catalogue, request, cancel);
    const auto heard = [&](uint64_t done) {
        if (progress)
            progress(done, request.budget);
    };
    // Even battles a pair, so both sides of every pair are played alike.
    const auto evenBattles = static_cast<uint64_t>(request.evenShare * static_cast<double>(request.budget));
    const uint64_t perPair = std::max<uint64_t>(2, evenBattles / ranker.pairs() / 2 * 2);
    RankResult result;
    bool going = ranker.play(ranker.evenPlan(perPair), heard);

    // The rest a round at a time, each round about a fiftieth of the budget.
    const uint64_t roundBattles = std::max<uint64_t>(1, request.budget / 50);
    while (going) {
        const std::vector<size_t> decks = ranker.uncertainTop(ranker.ranking());
        if (decks.empty())
            break;
        const uint64_t cost = decks.size() * (request.decks.size() - 1) * 2;
        const uint64_t left = request.budget - ranker.played();
        if (cost > left)
            break;
        const uint64_t times = std::clamp<uint64_t>(roundBattles / cost, 1, left / cost);
        going = ranker.play(ranker.focusPlan(decks, 2 * times), heard);
        ++result.rounds;
    }
    result.ranking = ranker.ranking();
    result.battles = ranker.played();
    return result;
}

} // namespace morvane
