#pragma once
// Ratings of many decks with intervals that hold, for far fewer battles than a league.
//
// A deck's rating is its win rate against the field: the mean, over every other deck,
// of its chance of winning a battle against that deck, half the battles on top and half
// below, an undecided battle counting half. A battle between two decks scores 1, 1/2 or
// 0 for the one and the rest for the other, so it tells about both.
//
// Every pair of decks plays; a pair's battles alternate the sides and have seeds of
// their own (battle k of the pair of a and b, a < b, has the seed of battle k of
// pairSeed(seed, a, b), with a on top for even k), so no two pairs share a battle seed
// and a deck's results against different opponents are independent. A rating is the
// mean of the deck's pair scores; its variance the sum of the pairs' (each the sample
// variance of the pair's battle scores over its count, which over-counts when the two
// sides differ: the interval errs wide, never narrow); its 95% interval the normal
// one. A first share of the budget is spread evenly over the pairs; the rest goes, a
// round at a time, to the decks whose intervals overlap a neighbour's in the current
// order, the higher ranked first, each such deck playing every opponent alike.

#include "battle/BattleOutcome.h"
#include "cards/Deck.h"
#include "stats/Tally.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace morvane {

class CardCatalogue;

inline constexpr size_t MaxRankedDecks = 2048;

struct RankRequest {
    std::vector<SideSelection> decks;
    uint64_t budget = 0; // battles in all; at least two a pair
    uint32_t seed = 0;
    unsigned threads = 1; // 0: one per core
    long long maxTurns = DefaultMaxTurns;
    double evenShare = 0.4; // of the budget, spread evenly over the pairs first
    size_t focus = 10;      // the top places whose order is worth most battles
};

struct RankedDeck {
    size_t deck = 0;
    double rating = 0; // 0 to 1
    double standardError = 0;
    Interval interval; // 95%
    uint64_t battles = 0;
};

struct RankResult {
    std::vector<RankedDeck> ranking; // best first
    uint64_t battles = 0;
    unsigned rounds = 0; // of the focused allocation
};

// The seed of the battles of the pair a < b.
uint32_t pairSeed(uint32_t runSeed, size_t a, size_t b);

// Throws InputError for fewer than two decks, more than MaxRankedDecks, a budget under
// two battles a pair, or a deck that cannot stand in a battle. progress hears the
// battles played of the budget now and then.
RankResult rankDecks(const CardCatalogue& catalogue, const RankRequest& request,
                     const std::function<void(uint64_t done, uint64_t total)>& progress = {},
                     const std::atomic<bool>* cancel = nullptr);

} // namespace morvane
