// The verdicts on cards, apart from any battle: a card's shares of best teams are
// proportions over independent searches, and a verdict may only be given where the
// interval leaves its line. Played out on drawn searches whose true shares are known,
// a verdict contrary to the truth must stay as rare as the intervals promise, also with
// the further searches a run plays while a card is open.

#include "balance/Balance.h"

#include <gtest/gtest.h>

#include <random>

namespace morvane {
namespace {

// A card used in `used` of `searches` best teams, `stacked` of them with three copies.
CardBalance card(int used, int searches, int stacked = 0, bool vehicle = false) {
    CardBalance c;
    c.vehicle = vehicle;
    c.id = 1;
    c.copies.assign(static_cast<size_t>(searches), 0);
    for (int k = 0; k < used; ++k)
        c.copies[static_cast<size_t>(k)] = k < stacked ? StackCopies : 1;
    return c;
}

TEST(Verdict, NamesOnlyWhatTheIntervalSettlesAndSaysWhatWouldSettleTheRest) {
    EXPECT_EQ(card(20, 24).verdict().verdict, Verdict::DecidesTooMuch);
    EXPECT_EQ(card(0, 36).verdict().verdict, Verdict::Unplayed);
    // 24 searches that all pass a card over do not show that fewer than one in six
    // would use it: the interval of 0 of 24 still reaches 22%.
    const CardVerdict few = card(0, 24).verdict();
    EXPECT_EQ(few.verdict, Verdict::Uncertain);
    EXPECT_EQ(few.question, CardVerdict::Rare);
    EXPECT_EQ(few.searchesToSettle, 34u);
    EXPECT_EQ(card(0, 34).verdict().verdict, Verdict::Unplayed);
    // An ordinary card: clearly played, clearly not in most teams, from enough searches
    // (at 36 the interval of any share is wider than the gap between the lines).
    EXPECT_EQ(card(30, 100).verdict().verdict, Verdict::Fine);
    EXPECT_EQ(card(12, 36).verdict().verdict, Verdict::Uncertain);

    // A share on the line is never settled; one near it needs many searches.
    const CardVerdict half = card(12, 24).verdict();
    EXPECT_EQ(half.verdict, Verdict::Uncertain);
    EXPECT_EQ(half.question, CardVerdict::Use);
    EXPECT_EQ(half.searchesToSettle, 0u);
    const CardVerdict near = card(14, 24).verdict();
    ASSERT_EQ(near.verdict, Verdict::Uncertain);
    EXPECT_GT(near.searchesToSettle, 24u);
    // ... and at that many searches the same share does settle, one fewer does not.
    const unsigned n = near.searchesToSettle;
    const Interval at = wilsonInterval(14.0 / 24.0, n, VerdictQuantile);
    const Interval before = wilsonInterval(14.0 / 24.0, n - 1, VerdictQuantile);
    EXPECT_GT(at.low, DecisiveUse);
    EXPECT_LE(before.low, DecisiveUse);

    // Stacking decides too much on its own, characters only: a vehicle is one a team.
    EXPECT_EQ(card(20, 36, 20).verdict().verdict, Verdict::DecidesTooMuch);
    const CardVerdict someStacks = card(10, 36, 6).verdict();
    EXPECT_EQ(someStacks.verdict, Verdict::Uncertain);
    EXPECT_EQ(someStacks.question, CardVerdict::Stack);
    EXPECT_EQ(card(30, 100, 30).verdict().question, CardVerdict::Stack);
    EXPECT_EQ(card(30, 100, 30, true).verdict().verdict, Verdict::Fine);
}

// Searches drawn with a true share of use; the run's rule of further searches, four at
// a time while the card is open, up to `most`.
Verdict drawnVerdict(std::mt19937_64& random, double share, unsigned first, unsigned most) {
    std::bernoulli_distribution uses(share);
    CardBalance c = card(0, 0);
    auto draw = [&](unsigned searches) {
        for (unsigned k = 0; k < searches; ++k)
            c.copies.push_back(uses(random) ? 1 : 0);
    };
    draw(first);
    while (c.verdict().verdict == Verdict::Uncertain && c.copies.size() < most)
        draw(std::min<unsigned>(4, most - static_cast<unsigned>(c.copies.size())));
    return c.verdict().verdict;
}

TEST(Verdict, AVerdictContraryToTheTruthIsAsRareAsTheIntervalsPromise) {
    std::mt19937_64 random(20261209);
    constexpr int Runs = 4000;
    // Shares near both lines, where errors are likeliest, and between and beyond them.
    for (const double share : {0.02, 0.08, 0.15, 1.0 / 6.0, 0.2, 0.35, 0.45, 0.5, 0.55, 0.7}) {
        int wrong = 0;
        for (int run = 0; run < Runs; ++run) {
            const Verdict v = drawnVerdict(random, share, 8, 36);
            const bool contrary = (v == Verdict::DecidesTooMuch && share <= DecisiveUse) ||
                                  (v == Verdict::Unplayed && share >= UnplayedUse) ||
                                  (v == Verdict::Fine && (share > DecisiveUse || share < UnplayedUse));
            wrong += contrary ? 1 : 0;
        }
        // The looks the further searches take cost more than one side's 0.5%, but with
        // 99% intervals stay under 2% (the 95% ones gave 9% at the line): 3% is five
        // standard errors of 4000 runs above 2%.
        EXPECT_LT(wrong, Runs * 3 / 100) << "true share " << share;
    }
}

} // namespace
} // namespace morvane
