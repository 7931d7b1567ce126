// Ratings with intervals: the 95% intervals of many small rankings, each with a seed of
// its own, must cover ratings measured with a hundred times the battles about 95% of
// the time, both when the battles are spread evenly and when most go to the top; and
// no two pairs may share a battle seed, which would make a deck's results against its
// opponents move together and its interval too narrow.

#include "tournament/Rank.h"

#include "cards/CardCatalogue.h"
#include "common/Errors.h"
#include "common/Json.h"
#include "common/TextLines.h"
#include "stats/Statistics.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>

namespace morvane {
namespace {

const std::filesystem::path DataFolder = std::filesystem::path(MORVANE_SOURCE_DIR) / "data";

class Ranking : public ::testing::Test {
protected:
    void SetUp() override {
        catalogue.load(DataFolder / "card.dat");
        for (int side = 0; side < 2; ++side)
            for (const auto& line : readTextLines(deckFilePath(DataFolder, side)))
                if (!line.text.empty()) {
                    SideSelection team;
                    applyDeckLine(line.text, team, catalogue);
                    decks.push_back(team);
                }
        decks.resize(5);
    }

    RankRequest request(uint64_t perPair, uint32_t seed, double evenShare) const {
        RankRequest r;
        r.decks = decks;
        r.budget = perPair * decks.size() * (decks.size() - 1) / 2;
        r.seed = seed;
        r.threads = 2;
        r.evenShare = evenShare;
        r.focus = 2;
        return r;
    }

    // The share of intervals, over runs with seeds 1 to runs, that hold the rating of
    // the truth for their deck.
    double coverage(const RankResult& truth, uint64_t perPair, double evenShare, unsigned runs) const {
        std::vector<double> rating(decks.size());
        for (const RankedDeck& d : truth.ranking)
            rating[d.deck] = d.rating;
        unsigned covered = 0;
        unsigned intervals = 0;
        for (uint32_t seed = 1; seed <= runs; ++seed) {
            for (const RankedDeck& d : rankDecks(catalogue, request(perPair, seed, evenShare)).ranking) {
                covered += d.interval.low <= rating[d.deck] && rating[d.deck] <= d.interval.high;
                ++intervals;
            }
        }
        return static_cast<double>(covered) / intervals;
    }

    CardCatalogue catalogue;
    std::vector<SideSelection> decks;
};

TEST_F(Ranking, IntervalsCoverTheRatingsOfAHundredTimesTheBattles) {
    // The truth: 6000 battles a pair, its own intervals a tenth as wide as the runs'.
    const RankResult truth = rankDecks(catalogue, request(6000, 424242, 1.0));
    for (const RankedDeck& d : truth.ranking)
        EXPECT_LT(d.standardError, 0.006);

    const double even = coverage(truth, 60, 1.0, 60);
    EXPECT_GE(even, 0.90) << "battles spread evenly";
    EXPECT_LE(even, 0.995) << "intervals far too wide to be of use";
    const double focused = coverage(truth, 60, 0.4, 60);
    EXPECT_GE(focused, 0.90) << "most battles on the top places";
}

TEST_F(Ranking, IsTheSameOnAnyThreadCountAndSpendsNoMoreThanItsBudget) {
    RankRequest one = request(200, 9, 0.4);
    one.threads = 1;
    const RankResult a = rankDecks(catalogue, one);
    const RankResult b = rankDecks(catalogue, request(200, 9, 0.4));
    ASSERT_EQ(a.ranking.size(), b.ranking.size());
    for (size_t i = 0; i < a.ranking.size(); ++i) {
        EXPECT_EQ(a.ranking[i].deck, b.ranking[i].deck);
        EXPECT_EQ(a.ranking[i].rating, b.ranking[i].rating);
        EXPECT_EQ(a.ranking[i].battles, b.ranking[i].battles);
    }
    EXPECT_LE(a.battles, one.budget);
    EXPECT_GT(a.rounds, 0u) << "the budget left after the even share went nowhere";
    uint64_t counted = 0;
    for (const RankedDeck& d : a.ranking)
        counted += d.battles;
    EXPECT_EQ(counted, 2 * a.battles) << "every battle counts for both its decks";
}

TEST_F(Ranking, TheLargestBudgetIsPlayedASliceAtATimeWithoutLayingItOutFirst) {
    // Two decks and the largest budget the command takes: all of it goes to their one
    // pair, more battles than memory could list and than 32 bits count. Stopped after
    // the first slice, which must come at once.
    RankRequest r = request(2, 3, 0.4);
    r.decks.resize(2);
    r.budget = uint64_t{1} << 40;
    std::atomic<bool> cancel{false};
    uint64_t heard = 0;
    const RankResult result = rankDecks(
        catalogue, r,
        [&](uint64_t done, uint64_t) {
            heard = done;
            cancel = true;
        },
        &cancel);
    EXPECT_GT(result.battles, 0u);
    EXPECT_LE(result.battles, 100'000u);
    EXPECT_EQ(result.battles, heard);
    ASSERT_EQ(result.ranking.size(), 2u);
    EXPECT_EQ(result.ranking[0].battles, result.battles);
}

TEST(RankSeeds, NoTwoPairsShareABattleSeed) {
    std::set<uint32_t> seeds;
    size_t battles = 0;
    for (size_t a = 0; a < 60; ++a)
        for (size_t b = a + 1; b < 60; ++b)
            for (uint64_t k = 0; k < 20; ++k, ++battles)
                seeds.insert(battleSeed(pairSeed(7, a, b), k));
    // Distinct 32-bit seeds drawn at random collide now and then; shared ones would
    // collide by the thousand.
    EXPECT_GT(seeds.size(), battles - 20) << battles;
}

TEST_F(Ranking, RefusesABudgetShortOfTwoBattlesAPair) {
    RankRequest r = request(2, 1, 0.4);
    r.budget -= 1;
    EXPECT_THROW(rankDecks(catalogue, r), InputError);
    r.decks.resize(1);
    EXPECT_THROW(rankDecks(catalogue, r), InputError);
}

TEST(RankCommand, PrintsEveryDeckWithItsIntervalAndWhetherItsPlaceIsCertain) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "morvane-rank-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    {
        std::ofstream out(folder / "decks.dat", std::ios::binary);
        for (int side = 0; side < 2; ++side)
            for (const auto& line : readTextLines(deckFilePath(DataFolder, side)))
                out << line.text << "\r\n";
    }
    const std::string cli = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";
    const test::ProgramRun run =
        test::runProgram(cli, {"rank", "--decks", (folder / "decks.dat").string(), "--budget", "3000", "--seed", "3",
                               "--json", "--html", (folder / "rank.html").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json out = Json::parse(run.out);
    ASSERT_EQ(out["ranking"].size(), 8u);
    double last = 1;
    for (const Json& d : out["ranking"]) {
        const double rating = d["rating"].get<double>();
        EXPECT_LE(rating, last);
        last = rating;
        EXPECT_LE(d["rating_ci"][0].get<double>(), rating);
        EXPECT_GE(d["rating_ci"][1].get<double>(), rating);
    }
    EXPECT_LE(out["battles"].get<uint64_t>(), 3000u);
    EXPECT_TRUE(std::filesystem::exists(folder / "rank.html"));
    EXPECT_EQ(test::runProgram(cli, {"rank", "--decks", (folder / "decks.dat").string(), "--budget", "55"}).status, 2);
    std::filesystem::remove_all(folder);
}

TEST(RankCommand, APageThatCannotBeWrittenIsRefusedBeforeAnyBattleAndNeverOverTheDecks) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "morvane-rank-page-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::string decks;
    for (int side = 0; side < 2; ++side)
        for (const auto& line : readTextLines(deckFilePath(DataFolder, side)))
            decks += line.text + "\r\n";
    const std::string deckFile = (folder / "decks.dat").string();
    {
        std::ofstream out(deckFile, std::ios::binary);
        out << decks;
    }
    const std::string cli = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";
    const std::vector<std::vector<std::string>> runs = {
        {"rank", "--decks", deckFile, "--budget", "100000", "--seed", "1"},
        {"tournament", "--format", "swiss", "--decks", deckFile, "--rounds", "3", "--battles", "3", "--seed", "1"},
    };
    for (std::vector<std::string> args : runs) {
        args.insert(args.end(), {"--html", deckFile});
        const test::ProgramRun over = test::runProgram(cli, args);
        EXPECT_EQ(over.status, 2) << args[0] << over.err;
        EXPECT_NE(over.err.find("the decks the run reads"), std::string::npos) << over.err;
        EXPECT_EQ(over.out, "") << args[0];
        args.back() = (folder / "missing" / "page.html").string();
        const test::ProgramRun missing = test::runProgram(cli, args);
        EXPECT_EQ(missing.status, 1) << args[0];
        EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
        // Nothing printed: the refusal came before the battles, not after them.
        EXPECT_EQ(missing.out, "") << args[0];
    }
    std::ifstream in(deckFile, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), decks);
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace morvane
