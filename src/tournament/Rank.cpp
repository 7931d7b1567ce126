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
struct PairCount {
    uint32_t wins = 0;
    uint32_t losses = 0;
    uint32_t draws = 0;

    uint32_t battles() const { return wins + losses + draws; }
    double mean() const { return (wins + 0.5 * draws) / battles(); }
    // The variance of the mean score: the battles' sample variance over their count. A
    // pair of one battle says nothing of its spread: the largest a score can have.
    double meanVariance() const {
        const double n = battles();
        if (n < 2)
            return 0.25 / std::max(n, 1.0);
        const double m = mean();
        const double squares = wins + 0.25 * draws;
        return std::max(0.0, (squares - n * m * m) / (n - 1)) / n;
    }
};

struct Planned {
    size_t a = 0;
    size_t b = 0;
    uint32_t k = 0; // battle number within the pair
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
    bool play(const std::vector<Planned>& plan, const std::function<void(uint64_t)>& progress) {
        for (size_t from = 0; from < plan.size(); from += SliceBattles) {
            const size_t to = std::min(plan.size(), from + SliceBattles);
            std::vector<FieldBattle> battles;
            battles.reserve(to - from);
            for (size_t i = from; i < to; ++i) {
                const Planned& p = plan[i];
                battles.push_back({&field_.decks[p.a], static_cast<uint32_t>(2 * p.b + p.k % 2),
                                   battleSeed(pairSeed(request_.seed, p.a, p.b), p.k)});
            }
            std::vector<BattleOutcome> outcomes;
            if (!pool_.play(battles, outcomes))
                return false;
            for (size_t i = from; i < to; ++i) {
                const Planned& p = plan[i];
                const BattleOutcome& o = outcomes[i - from];
                const int aSide = static_cast<int>(p.k % 2);
                PairCount& c = count(p.a, p.b);
                if (o.wonBy(aSide))
                    ++c.wins;
                else if (o.lostBy(aSide))
                    ++c.losses;
                else
                    ++c.draws;
            }
            played_ += to - from;
            if (progress)
                progress(played_);
            if (cancel_ && cancel_->load(std::memory_order_relaxed))
                return false;
        }
        return true;
    }

    // Every pair the same number of battles more.
    std::vector<Planned> evenPlan(uint32_t perPair) {
        std::vector<Planned> plan;
        plan.reserve(pairs() * perPair);
        for (size_t a = 0; a < n_; ++a)
            for (size_t b = a + 1; b < n_; ++b) {
                const uint32_t first = count(a, b).battles();
                for (uint32_t k = 0; k < perPair; ++k)
                    plan.push_back({a, b, first + k});
            }
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
    std::vector<Planned> focusPlan(const std::vector<size_t>& decks, uint32_t perPair) {
        std::vector<bool> chosen(n_, false);
        for (const size_t d : decks)
            chosen[d] = true;
        std::vector<Planned> plan;
        for (size_t a = 0; a < n_; ++a)
            for (size_t b = a + 1; b < n_; ++b) {
                if (!chosen[a] && !chosen[b])
                    continue;
                const uint32_t first = count(a, b).battles();
                for (uint32_t k = 0; k < perPair; ++k)
                    plan.push_back({a, b, first + k});
            }
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
    const uint32_t perPair = static_cast<uint32_t>(std::max<uint64_t>(2, evenBattles / ranker.pairs() / 2 * 2));
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
        going = ranker.play(ranker.focusPlan(decks, static_cast<uint32_t>(2 * times)), heard);
        ++result.rounds;
    }
    result.ranking = ranker.ranking();
    result.battles = ranker.played();
    return result;
}

} // namespace morvane
