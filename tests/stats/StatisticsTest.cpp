#include "stats/Statistics.h"
#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Random.h"
#include "common/TextLines.h"
#include "stats/BattlePool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <thread>

namespace morvane {
namespace {

const std::filesystem::path DataFolder = std::filesystem::path(MORVANE_SOURCE_DIR) / "data";

Teams bundledTeams(const CardCatalogue& catalogue) {
    Teams teams;
    for (int side = 0; side < 2; ++side)
        applyDeckLine(readTextLines(deckFilePath(DataFolder, side)).front().text, teams.side[static_cast<size_t>(side)],
                      catalogue);
    return teams;
}

struct Lengths {
    std::vector<std::pair<int32_t, uint64_t>> counts;
    explicit Lengths(const TurnHistogram& h) {
        h.forEach([this](int32_t turns, uint64_t count) { counts.emplace_back(turns, count); });
    }
    bool operator==(const Lengths&) const = default;
};

TEST(BattleSeed, FollowsThePrintedRuleAndGivesEveryBattleItsOwnSeed) {
    // Values worked out by hand from the rule; a changed rule breaks every replay.
    EXPECT_EQ(battleSeed(0, 0), 0u);
    EXPECT_EQ(battleSeed(0, 1), 1492470133u);
    EXPECT_EQ(battleSeed(1, 0), 1753845952u);
    EXPECT_EQ(battleSeed(12345, 7), 1155216131u);
    EXPECT_EQ(battleSeed(4294967295u, 1000000), 3754143289u);
    std::set<uint32_t> seeds;
    for (uint64_t i = 0; i < 100000; ++i)
        seeds.insert(battleSeed(99, i));
    EXPECT_EQ(seeds.size(), 100000u);
}

TEST(WilsonInterval, MatchesKnownValues) {
    struct Case {
        uint64_t successes, trials;
        double low, high;
    };
    for (const Case& c : {Case{0, 10, 0.0, 0.2775328}, Case{5, 10, 0.2365931, 0.7634069}, Case{10, 10, 0.7224672, 1.0},
                          Case{81, 263, 0.2552885, 0.3662096}, Case{1, 1, 0.2065493, 1.0}, Case{0, 0, 0.0, 1.0}}) {
        const Interval i = wilsonInterval(c.successes, c.trials);
        EXPECT_NEAR(i.low, c.low, 1e-7) << c.successes << "/" << c.trials;
        EXPECT_NEAR(i.high, c.high, 1e-7) << c.successes << "/" << c.trials;
        EXPECT_LE(i.low, double(c.successes) / double(std::max<uint64_t>(c.trials, 1)));
    }
    // The interval of the losers mirrors that of the winners.
    const Interval wins = wilsonInterval(37, 120), losses = wilsonInterval(83, 120);
    EXPECT_NEAR(wins.low, 1.0 - losses.high, 1e-12);
    EXPECT_NEAR(wins.high, 1.0 - losses.low, 1e-12);
}

TEST(TurnHistogram, MedianMaxAndMergeOverShortAndVeryLongBattles) {
    TurnHistogram h;
    EXPECT_EQ(h.median(), 0.0);
    h.add(12);
    EXPECT_EQ(h.median(), 12.0);
    EXPECT_EQ(h.max(), 12);
    h.add(20);
    EXPECT_EQ(h.median(), 16.0); // an even count takes the mean of the middle two
    h.add(7, 3);
    EXPECT_EQ(h.median(), 7.0); // 7 7 7 12 20
    TurnHistogram longOnes;
    longOnes.add(250000, 4); // far past the flat table
    longOnes.add(5000);
    h.merge(longOnes);
    EXPECT_EQ(h.count(), 10u);
    EXPECT_EQ(h.max(), 250000);
    EXPECT_EQ(h.median(), (20.0 + 5000.0) / 2); // 7 7 7 12 20 | 5000 250000 x4
    EXPECT_EQ(Lengths(h).counts,
              (std::vector<std::pair<int32_t, uint64_t>>{{7, 3}, {12, 1}, {20, 1}, {5000, 1}, {250000, 4}}));
}

TEST(TurnHistogram, LengthsInAnyOrderCountAsTheyCame) {
    // Its flat table starts at the first length it sees, so lengths below that one, at
    // 0 and at either side of the table's end are where an offset goes wrong; the
    // second list has no 0, so the table never starts at 0.
    const std::vector<std::vector<int32_t>> lists = {
        {30, 29, 31, 0, 4095, 4096, 1, 30, 17, 4094, 0, 2, 100000, 28},
        {30, 29, 31, 4095, 4096, 17, 30, 4094, 12, 100000, 28},
    };
    for (const std::vector<int32_t>& lengths : lists) {
        std::map<int32_t, uint64_t> counts;
        uint64_t turns = 0;
        for (int32_t n : lengths) {
            ++counts[n];
            turns += static_cast<uint64_t>(n);
        }
        const std::vector<std::pair<int32_t, uint64_t>> expected(counts.begin(), counts.end());
        for (uint32_t seed = 1; seed <= 20; ++seed) {
            std::vector<int32_t> order = lengths;
            Random random(seed);
            for (size_t i = order.size(); i > 1; --i)
                std::swap(order[i - 1], order[random(static_cast<uint32_t>(i))]);
            TurnHistogram h;
            for (int32_t n : order)
                h.add(n);
            EXPECT_EQ(Lengths(h).counts, expected) << "seed " << seed;
            EXPECT_EQ(h.max(), 100000);
            EXPECT_EQ(h.turns(), turns);
        }
    }
}

class BundledStatistics : public ::testing::Test {
protected:
    void SetUp() override {
        catalogue.load(DataFolder / "card.dat");
        request.teams = bundledTeams(catalogue);
        request.battles = 300;
        request.seed = 4242;
    }
    CardCatalogue catalogue;
    StatsRequest request;
};

TEST_F(BundledStatistics, SameCountsOnOneTwoAndFourThreadsAsBattlesPlayedOneByOne) {
    // The reference plays battle i alone on a fresh engine, as morvane-cli battle does.
    uint64_t topWins = 0, bottomWins = 0, undecided = 0, turns = 0;
    TurnHistogram lengths;
    for (uint64_t i = 0; i < request.battles; ++i) {
        Random random(battleSeed(request.seed, i));
        Battle battle(catalogue, random);
        const BattleOutcome o = battle.play(request.teams, request.maxTurns);
        (o.capped() ? undecided : o.winner == 0 ? topWins : bottomWins) += 1;
        turns += static_cast<uint64_t>(o.turns);
        lengths.add(o.turns);
    }
    ASSERT_GT(topWins, 0u);
    ASSERT_GT(bottomWins, 0u);
    for (unsigned threads : {1u, 2u, 4u}) {
        request.threads = threads;
        const StatsResult r = playStatistics(catalogue, request);
        EXPECT_EQ(r.battles(), request.battles) << threads;
        EXPECT_EQ(r.topWins(), topWins) << threads;
        EXPECT_EQ(r.bottomWins(), bottomWins) << threads;
        EXPECT_EQ(r.undecided(), undecided) << threads;
        EXPECT_EQ(r.turnsTotal(), turns) << threads;
        EXPECT_TRUE(Lengths(r.lengths()) == Lengths(lengths)) << threads;
        EXPECT_FALSE(r.cancelled);
    }
}

TEST_F(BundledStatistics, TurnCapMakesBattlesUndecided) {
    request.maxTurns = 3;
    request.threads = 2;
    const StatsResult r = playStatistics(catalogue, request);
    EXPECT_EQ(r.topWins() + r.bottomWins() + r.undecided(), r.battles());
    EXPECT_GT(r.undecided(), 0u);
    EXPECT_LE(r.lengths().max(), 3);
    EXPECT_LT(r.topWinRate() + r.bottomWinRate(), 1.0);
}

TEST_F(BundledStatistics, ProgressReportsOnTheCallersThreadAndCancelStopsEarly) {
    request.battles = 1000000;
    request.threads = 2;
    std::atomic<bool> cancel{false};
    std::vector<uint64_t> seen;
    const auto caller = std::this_thread::get_id();
    StatsControl control;
    control.cancel = &cancel;
    control.progressInterval = std::chrono::milliseconds(5);
    control.progress = [&](uint64_t done, uint64_t total) {
        EXPECT_TRUE(std::this_thread::get_id() == caller);
        EXPECT_EQ(total, request.battles);
        seen.push_back(done);
        if (done > 0)
            cancel = true;
    };
    const StatsResult r = playStatistics(catalogue, request, control);
    EXPECT_TRUE(r.cancelled);
    EXPECT_GT(r.battles(), 0u);
    EXPECT_LT(r.battles(), request.battles);
    EXPECT_EQ(r.topWins() + r.bottomWins() + r.undecided(), r.battles());
    ASSERT_GE(seen.size(), 2u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end() - 1));
    EXPECT_EQ(seen.back(), r.battles());
    // What a stopped run counted is the run of that many battles, so its replay
    // command gives the same counts.
    StatsRequest prefix = request;
    prefix.battles = r.battles();
    const StatsResult replayed = playStatistics(catalogue, prefix);
    EXPECT_EQ(replayed.topWins(), r.topWins());
    EXPECT_EQ(replayed.turnsTotal(), r.turnsTotal());

    // Cancelled before it starts: nothing is played, and that is not mistaken for a result.
    const StatsResult none = playStatistics(catalogue, request, control);
    EXPECT_EQ(none.battles(), 0u);
    EXPECT_TRUE(none.cancelled);

    // A callback that throws stops the workers instead of leaving them running.
    cancel = false;
    control.progress = [](uint64_t, uint64_t) { throw std::runtime_error("window closed"); };
    EXPECT_THROW(playStatistics(catalogue, request, control), std::runtime_error);
}

TEST_F(BundledStatistics, BadTeamsAndUnreadableCardsFailWithWhereToLook) {
    Teams empty = request.teams;
    empty.side[1].characters[2] = 0;
    request.teams = empty;
    EXPECT_THROW(playStatistics(catalogue, request), InputError);

    // The first character of the top deck gets an attack column that is not a number:
    // every battle fails on its first turn, and the error names the battle to replay.
    std::string bytes = readFileBytes(DataFolder / "card.dat");
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "\nC%03d", static_cast<int>(bundledTeams(catalogue).side[0].characters[0]));
    const size_t line = bytes.compare(0, 4, prefix + 1) == 0 ? 0 : bytes.find(prefix) + 1;
    ASSERT_NE(line, 0 + std::string::npos + 1);
    bytes.replace(line + 12, 2, "xx"); // columns 13-14
    CardCatalogue broken;
    broken.loadBytes(bytes);
    request.teams = bundledTeams(broken);
    request.threads = 1;
    try {
        playStatistics(broken, request);
        ADD_FAILURE() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.where().rfind("battle 0 (seed " + std::to_string(battleSeed(request.seed, 0)) + "), card C", 0), 0u)
            << e.where();
    }
}

TEST(BattlePool, OfSeveralFailingBattlesTheFirstListedIsReportedWhateverTheTiming) {
    // C001 never acts (speed 0), so a battle of two such teams runs to the turn cap:
    // slow. C002's attack column is no number, so a team of it fails when it attacks.
    // Battle 4 is slow and battle 5 fails after it in the same chunk of four, while
    // every battle from 8 on fails at once on another thread. Stopping all threads at
    // the first failure seen reported battle 8 or later.
    std::string bytes = readFileBytes(DataFolder / "card.dat");
    auto column = [&bytes](int id, size_t from, const char* text) {
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "\nC%03d", id);
        const size_t line = bytes.find(prefix) + 1;
        bytes.replace(line + from - 1, 2, text);
    };
    column(1, 15, " 0");
    column(2, 13, "xx");
    CardCatalogue catalogue;
    catalogue.loadBytes(bytes);
    auto team = [](int32_t character) {
        SideSelection s;
        s.vehicle = 1;
        s.characters.fill(character);
        return s;
    };
    const SideSelection still = team(1), broken = team(2), plain = team(3);
    const Field field{{still, plain}, PlaySide::Top};
    std::vector<FieldBattle> battles;
    for (uint32_t i = 0; i < 64; ++i) {
        const SideSelection* t = i == 4 ? &still : i == 5 || i >= 8 ? &broken : &plain;
        battles.push_back({t, i == 4 ? 0U : 1U, battleSeed(7, i)});
    }
    const BattlePool::Describe describe = [](const FieldBattle&, size_t i) { return "battle " + std::to_string(i); };
    for (int run = 0; run < 5; ++run) {
        BattlePool pool(catalogue, field, 4, 300000);
        std::vector<BattleOutcome> outcomes;
        try {
            pool.play(battles, outcomes, describe);
            ADD_FAILURE() << "no error";
        } catch (const MorvaneError& e) {
            EXPECT_EQ(e.where().rfind("battle 5,", 0), 0u) << e.where();
        }
    }
}

} // namespace
} // namespace morvane
