// The other intervals we print, each against a truth played out with many seeds: a
// deck-strength run's (every battle a seed of its own), a measured team's (pairings
// pooled, each battle a seed of its own) and a card's loss in the balance report (two
// teams on the very same seeds). Each must cover the truth in about 19 runs of 20.

#include "balance/Balance.h"
#include "cards/CardCatalogue.h"
#include "common/Files.h"
#include "common/TextLines.h"
#include "optimize/Measure.h"
#include "stats/Statistics.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

const std::filesystem::path DataFolder = std::filesystem::path(MORVANE_SOURCE_DIR) / "data";
constexpr uint32_t Runs = 200;

bool covers(const Interval& i, double truth) {
    return i.low <= truth && truth <= i.high;
}

class Coverage : public ::testing::Test {
protected:
    void SetUp() override {
        catalogue.load(DataFolder / "card.dat");
        for (int side = 0; side < 2; ++side)
            for (const TextLine& line : readTextLines(deckFilePath(DataFolder, side))) {
                decks.emplace_back();
                applyDeckLine(line.text, decks.back(), catalogue);
            }
    }
    CardCatalogue catalogue;
    std::vector<SideSelection> decks;
};

TEST_F(Coverage, DeckStrengthIntervalsCoverBothSidesRates) {
    StatsRequest request;
    request.teams = Teams{{decks[0], decks[5]}};
    request.threads = 2;
    request.battles = 20000;
    request.seed = 1;
    const StatsResult truth = playStatistics(catalogue, request);
    request.battles = 60;
    int top = 0, bottom = 0;
    for (uint32_t run = 0; run < Runs; ++run) {
        request.seed = 1000 + run;
        const StatsResult r = playStatistics(catalogue, request);
        top += covers(r.topWinInterval(), truth.topWinRate());
        bottom += covers(r.bottomWinInterval(), truth.bottomWinRate());
    }
    EXPECT_GE(top, 180);
    EXPECT_GE(bottom, 180);
    EXPECT_LE(top, 199);
    EXPECT_LE(bottom, 199);
}

TEST_F(Coverage, MeasuredTeamsAndTheLossOfACardCoverTheirTruths) {
    // A team against three field decks on both sides, and the same team with its
    // first character replaced, measured on the same seeds as balance measures them.
    const Field field{{decks[1], decks[2], decks[6]}, PlaySide::Both};
    const SideSelection& kept = decks[0];
    SideSelection replaced = kept;
    replaced.characters[0] = 13;
    BattlePool pool(catalogue, field, 2, DefaultMaxTurns);
    const uint64_t pairings = field.pairings();
    auto measure = [&](const SideSelection& team, uint32_t seed, uint64_t perPairing) {
        return measureTeam(pool, team, seed, 0, perPairing * pairings).total();
    };
    const double keptTruth = measure(kept, 1, 8000).winRate();
    const double replacedTruth = measure(replaced, 1, 8000).winRate();
    ASSERT_GT(std::abs(keptTruth - replacedTruth), 0.02) << "a card that changes nothing tests nothing";

    int team = 0, loss = 0;
    for (uint32_t run = 0; run < Runs; ++run) {
        CardBalance card;
        card.kept = measure(kept, 1000 + run, 15);
        card.replaced = measure(replaced, 1000 + run, 15);
        team += covers(card.kept.winInterval(), keptTruth);
        loss += covers(card.lossInterval(), keptTruth - replacedTruth);
    }
    EXPECT_GE(team, 180);
    EXPECT_LE(team, 199);
    EXPECT_GE(loss, 180);
    EXPECT_LE(loss, 199);
}

} // namespace
} // namespace morvane
