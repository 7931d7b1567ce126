// A league's battles and the intervals of its decks' win rates. Every ordered pair
// plays the same seeds, so a deck's battles with one seed hang together; the intervals
// must hold all the same, which only a truth played out in full can show.

#include "stats/League.h"
#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "common/Files.h"
#include "common/Random.h"
#include "common/TextLines.h"

#include <gtest/gtest.h>

#include <cmath>

namespace morvane {
namespace {

const std::filesystem::path DataFolder = std::filesystem::path(MORVANE_SOURCE_DIR) / "data";

std::vector<SideSelection> bundledDecks(const CardCatalogue& catalogue, size_t count) {
    std::vector<SideSelection> decks;
    for (int side = 0; side < 2; ++side)
        for (const TextLine& line : readTextLines(deckFilePath(DataFolder, side)))
            if (decks.size() < count) {
                decks.emplace_back();
                applyDeckLine(line.text, decks.back(), catalogue);
            }
    return decks;
}

// Deck d's battles in a league result, both ways round.
Tally record(const LeagueResult& r, size_t decks, size_t d) {
    Tally t;
    const auto pairs = leaguePairs(decks);
    for (size_t k = 0; k < pairs.size(); ++k) {
        if (pairs[k].first == d)
            t.merge(r.pairs[k].top);
        else if (pairs[k].second == d)
            t.merge(r.pairs[k].top.mirrored());
    }
    return t;
}

bool covers(const Interval& i, double truth) {
    return i.low <= truth && truth <= i.high;
}

TEST(StudentT, PercentilesMatchTheTables) {
    const std::pair<uint64_t, double> table[] = {{1, 12.7062}, {2, 4.3027}, {3, 3.1824},  {4, 2.7764},  {5, 2.5706},
                                                 {6, 2.4469},  {9, 2.2622}, {24, 2.0639}, {120, 1.9799}};
    for (const auto& [df, t] : table)
        EXPECT_NEAR(studentT975(df), t, 1e-4) << df;
    EXPECT_NEAR(studentT975(1000000), Normal975, 1e-5);
}

TEST(SeedClusterInterval, BattlesThatRepeatEachOtherAddNothing) {
    // One battle a seed is the plain case: Wilson's interval but for the seeds' own
    // estimate of the spread (one degree of freedom less, Student's t).
    const Interval single = seedClusterInterval(4100, 10000, 10000, std::vector<uint64_t>{4100}.data());
    const Interval wilson = wilsonInterval(4100, 10000);
    EXPECT_NEAR(single.low, wilson.low, 1e-4);
    EXPECT_NEAR(single.high, wilson.high, 1e-4);

    // Every seed's battle played five times over, all alike: five times the battles,
    // the same knowledge, the same interval; the binomial one would be far narrower.
    const uint64_t wins = 12, seeds = 30, copies = 5;
    const uint64_t squares = wins * copies * copies;
    const Interval once = seedClusterInterval(wins, seeds, seeds, &wins);
    const Interval repeated = seedClusterInterval(wins * copies, seeds * copies, seeds, &squares);
    EXPECT_NEAR(repeated.low, once.low, 1e-12);
    EXPECT_NEAR(repeated.high, once.high, 1e-12);
    EXPECT_GT(wilsonInterval(wins * copies, seeds * copies).low, once.low + 0.05);

    // Without the squares (shards of earlier versions) each seed counts as one trial.
    const Interval unknown = seedClusterInterval(wins * copies, seeds * copies, seeds, nullptr);
    EXPECT_NEAR(unknown.low, wilsonInterval(wins, seeds).low, 1e-12);
    EXPECT_NEAR(unknown.high, wilsonInterval(wins, seeds).high, 1e-12);

    // Edges: no battles; one seed, whose spread cannot be told; all won; every seed alike.
    const uint64_t one = 4;
    EXPECT_EQ(seedClusterInterval(0, 0, 0, nullptr).low, 0.0);
    EXPECT_EQ(seedClusterInterval(0, 0, 0, nullptr).high, 1.0);
    EXPECT_NEAR(seedClusterInterval(2, 4, 1, &one).low, wilsonInterval(0.5, 1, Normal975).low, 1e-12);
    const uint64_t allWon = 40 * 4 * 4;
    const Interval perfect = seedClusterInterval(160, 160, 40, &allWon);
    EXPECT_EQ(perfect.high, 1.0);
    EXPECT_GT(perfect.low, 0.9);
    EXPECT_LT(perfect.low, 1.0);
    const uint64_t even = 40 * 2 * 2;
    const Interval alike = seedClusterInterval(80, 160, 40, &even);
    EXPECT_EQ(alike.low, 0.5);
    EXPECT_EQ(alike.high, 0.5);
}

class BundledLeague : public ::testing::Test {
protected:
    void SetUp() override { catalogue.load(DataFolder / "card.dat"); }
    CardCatalogue catalogue;
};

TEST_F(BundledLeague, CountsEveryPairAsStatsWouldAndSquaresEachSeedsWins) {
    LeagueRequest request;
    request.decks = bundledDecks(catalogue, 3);
    request.battles = 40;
    request.seed = 99;
    request.maxTurns = 30; // some battles undecided: they are no one's win
    const auto pairs = leaguePairs(3);

    // The reference plays each battle alone, as the battle command replays it.
    std::vector<uint64_t> squares(3, 0);
    for (uint64_t i = 0; i < request.battles; ++i) {
        std::vector<uint64_t> wins(3, 0);
        for (const auto& [a, b] : pairs) {
            Random random(battleSeed(request.seed, i));
            Battle battle(catalogue, random);
            const BattleOutcome o = battle.play(Teams{{request.decks[a], request.decks[b]}}, request.maxTurns);
            wins[a] += o.wonBy(0) ? 1 : 0;
            wins[b] += o.wonBy(1) ? 1 : 0;
        }
        for (size_t d = 0; d < 3; ++d)
            squares[d] += wins[d] * wins[d];
    }
    for (unsigned threads : {1u, 2u}) {
        request.threads = threads;
        const LeagueResult r = playLeague(catalogue, request);
        EXPECT_FALSE(r.cancelled);
        EXPECT_EQ(r.winSquares, squares) << threads;
        ASSERT_EQ(r.pairs.size(), pairs.size());
        for (size_t k = 0; k < pairs.size(); ++k) {
            StatsRequest alone;
            alone.teams = Teams{{request.decks[pairs[k].first], request.decks[pairs[k].second]}};
            alone.battles = request.battles;
            alone.seed = request.seed;
            alone.maxTurns = request.maxTurns;
            const StatsResult s = playStatistics(catalogue, alone);
            EXPECT_EQ(r.pairs[k].topWins(), s.topWins()) << k;
            EXPECT_EQ(r.pairs[k].bottomWins(), s.bottomWins()) << k;
            EXPECT_EQ(r.pairs[k].undecided(), s.undecided()) << k;
            EXPECT_EQ(r.pairs[k].turnsTotal(), s.turnsTotal()) << k;
        }
    }
    // A seed's battles all fall in one shard, so the shards' squares add up.
    std::vector<uint64_t> summed(3, 0);
    request.shards = 3;
    for (request.shard = 0; request.shard < 3; ++request.shard) {
        const LeagueResult part = playLeague(catalogue, request);
        for (size_t d = 0; d < 3; ++d)
            summed[d] += part.winSquares[d];
    }
    EXPECT_EQ(summed, squares);
}

// A deck and five variants of another, each with its last slot changed: a league a
// player makes to choose between variants. Against near-twins a seed that helps the
// first deck once helps it again, so its battles with one seed hang together most.
std::vector<SideSelection> variantField(const CardCatalogue& catalogue) {
    std::vector<SideSelection> decks = bundledDecks(catalogue, 2);
    const SideSelection base = decks[1];
    decks.pop_back();
    for (int32_t card = 10; card < 16; ++card) {
        decks.push_back(base);
        decks.back().characters[7] = card;
    }
    return decks;
}

TEST_F(BundledLeague, EveryDecksIntervalCoversTheTruthInNineteenRunsOfTwenty) {
    LeagueRequest request;
    request.decks = variantField(catalogue);
    request.threads = 2;
    const size_t n = request.decks.size();
    // The truth: the same league over many seeds, with an error a twentieth of a run's.
    request.battles = 4000;
    request.seed = 1;
    const LeagueResult truth = playLeague(catalogue, request);

    // 200 runs of 12 seeds each, every run with a seed of its own.
    request.battles = 12;
    std::vector<int> covered(n, 0), binomial(n, 0);
    for (uint32_t run = 0; run < 200; ++run) {
        request.seed = 1000 + run;
        const LeagueResult r = playLeague(catalogue, request);
        for (size_t d = 0; d < n; ++d) {
            const double rate = record(truth, n, d).winRate();
            const Tally t = record(r, n, d);
            covered[d] += covers(seedClusterInterval(t.wins, t.battles, request.battles, &r.winSquares[d]), rate);
            binomial[d] += covers(t.winInterval(), rate);
        }
    }
    for (size_t d = 0; d < n; ++d) {
        EXPECT_GE(covered[d], 180) << "deck #" << d + 1;
        EXPECT_LE(covered[d], 199) << "deck #" << d + 1 << ": far wider than it need be";
    }
    // What the league printed before, each deck's battles taken as one binomial draw:
    // the first deck, whose battles against the near-twins hang together, is covered
    // far less often.
    EXPECT_LT(binomial[0], 160);
}

} // namespace
} // namespace morvane
