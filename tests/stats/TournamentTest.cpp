// Tournaments: the pairings of each format on their own (no pair twice, every entrant
// placed once a round, byes where they belong), and whole events on the bundled decks,
// which must come out the same on any thread count and whose every battle the battle
// command plays again from the seed the event prints.

#include "tournament/Tournament.h"

#include "cards/CardCatalogue.h"
#include "common/Errors.h"
#include "common/Json.h"
#include "common/TextLines.h"
#include "stats/Statistics.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <fstream>
#include <random>
#include <set>

namespace morvane {
namespace {

const std::filesystem::path DataFolder = std::filesystem::path(MORVANE_SOURCE_DIR) / "data";
const std::string Cli = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";

std::vector<std::string> bundledLines() {
    std::vector<std::string> lines;
    for (int side = 0; side < 2; ++side)
        for (const auto& line : readTextLines(deckFilePath(DataFolder, side)))
            if (!line.text.empty())
                lines.push_back(line.text);
    return lines;
}

// Whether any pairing without a repeat exists (the bye to anyone who has had none),
// by trying them all: small fields only.
bool pairable(std::vector<size_t> left, const std::vector<std::vector<bool>>& met, const std::vector<bool>& hadBye) {
    if (left.empty())
        return true;
    if (left.size() % 2 == 1) {
        for (size_t i = 0; i < left.size(); ++i) {
            if (hadBye[left[i]])
                continue;
            std::vector<size_t> rest = left;
            rest.erase(rest.begin() + static_cast<long>(i));
            if (pairable(rest, met, hadBye))
                return true;
        }
        return false;
    }
    const size_t first = left[0];
    for (size_t j = 1; j < left.size(); ++j) {
        if (met[first][left[j]])
            continue;
        std::vector<size_t> rest;
        for (size_t k = 1; k < left.size(); ++k)
            if (k != j)
                rest.push_back(left[k]);
        if (pairable(rest, met, hadBye))
            return true;
    }
    return false;
}

// Plays Swiss rounds on pairings alone, the ranking shuffled between rounds as results
// would shuffle it, and checks each round; returns the rounds paired. A late round may
// have no pairing without a repeat at all (the earlier rounds can leave none): then,
// for a field small enough to try every pairing, that must be so.
unsigned playSwissRounds(size_t n, unsigned rounds, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::vector<bool>> met(n, std::vector<bool>(n, false));
    std::vector<bool> hadBye(n, false);
    std::vector<size_t> ranking(n);
    for (size_t i = 0; i < n; ++i)
        ranking[i] = i;
    for (unsigned r = 0; r < rounds; ++r) {
        std::shuffle(ranking.begin(), ranking.end(), random);
        const auto pairs = swissPairings(ranking, met, hadBye);
        if (!pairs) {
            if (n <= 12) {
                EXPECT_FALSE(pairable(ranking, met, hadBye)) << n << " entrants, round " << r + 1;
            }
            return r;
        }
        std::set<size_t> placed;
        size_t byes = 0;
        for (const auto& [a, b] : *pairs) {
            EXPECT_TRUE(placed.insert(a).second) << a << " twice in round " << r + 1;
            if (b == Bye) {
                ++byes;
                EXPECT_FALSE(hadBye[a]) << a << " had a bye already";
                hadBye[a] = true;
                continue;
            }
            EXPECT_TRUE(placed.insert(b).second) << b << " twice in round " << r + 1;
            EXPECT_FALSE(met[a][b]) << a << " and " << b << " meet again in round " << r + 1;
            met[a][b] = met[b][a] = true;
        }
        EXPECT_EQ(placed.size(), n);
        EXPECT_EQ(byes, n % 2);
    }
    return rounds;
}

TEST(TournamentPairings, SwissNeverRepeatsAPairOrAByeFor9And64Entrants) {
    EXPECT_EQ(defaultSwissRounds(9), 4u);
    EXPECT_EQ(defaultSwissRounds(64), 6u);
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        EXPECT_EQ(playSwissRounds(9, 4, seed), 4u);
        EXPECT_EQ(playSwissRounds(64, 6, seed), 6u);
        EXPECT_EQ(playSwissRounds(64, 20, seed), 20u);
    }
    // Late rounds, where pairing top down strands the last entrants and the search
    // must take choices back; where it finds nothing, nothing exists.
    unsigned late = 0;
    for (uint32_t seed = 1; seed <= 30; ++seed) {
        late += playSwissRounds(9, 9, seed);
        late += playSwissRounds(10, 9, seed);
    }
    EXPECT_GT(late, 30u * 2 * 6);
}

TEST(TournamentPairings, RoundRobinMeetsEveryPairOnceAndSpreadsTheTopSide) {
    for (size_t n = 2; n <= 13; ++n) {
        std::set<std::pair<size_t, size_t>> pairs;
        std::vector<unsigned> first(n, 0);
        for (unsigned r = 0; r < roundRobinRounds(n); ++r) {
            std::set<size_t> placed;
            for (const auto& [a, b] : roundRobinRound(n, r)) {
                EXPECT_TRUE(placed.insert(a).second);
                if (b == Bye)
                    continue;
                EXPECT_TRUE(placed.insert(b).second);
                EXPECT_TRUE(pairs.insert({std::min(a, b), std::max(a, b)}).second) << a << "-" << b << " twice";
                ++first[a];
            }
            EXPECT_EQ(placed.size(), n) << n << " entrants, round " << r;
        }
        EXPECT_EQ(pairs.size(), n * (n - 1) / 2) << n;
        // Nobody opens every match on top: the fixed entrant of the circle alternates.
        if (n >= 4) {
            EXPECT_LT(first[0], roundRobinRounds(n)) << n;
        }
    }
}

TEST(TournamentPairings, BracketKeepsTheTopSeedsApartUntilTheFinal) {
    EXPECT_EQ(bracketSeeds(8), (std::vector<size_t>{0, 7, 3, 4, 1, 6, 2, 5}));
    for (size_t size = 2; size <= 64; size *= 2) {
        const std::vector<size_t> slots = bracketSeeds(size);
        ASSERT_EQ(slots.size(), size);
        EXPECT_EQ(std::set<size_t>(slots.begin(), slots.end()).size(), size);
        // First-round opponents add up to the last seed, so byes meet the top seeds.
        for (size_t i = 0; i < size; i += 2)
            EXPECT_EQ(slots[i] + slots[i + 1], size - 1);
        // Seeds 1 and 2 in different halves, 1 to 4 in different quarters.
        const auto at = [&](size_t seed) { return std::find(slots.begin(), slots.end(), seed) - slots.begin(); };
        EXPECT_NE(at(0) < static_cast<long>(size / 2), at(1) < static_cast<long>(size / 2));
        if (size >= 4) {
            std::set<long> quarters;
            for (size_t seed = 0; seed < 4; ++seed)
                quarters.insert(at(seed) / static_cast<long>(size / 4));
            EXPECT_EQ(quarters.size(), 4u);
        }
    }
}

class Events : public ::testing::Test {
protected:
    void SetUp() override { catalogue.load(DataFolder / "card.dat"); }

    TournamentRequest request(TournamentFormat format, size_t entrants, unsigned threads) {
        const std::vector<std::string> lines = bundledLines();
        TournamentRequest r;
        r.format = format;
        // More entrants than bundled decks: the same teams again, as distinct entrants.
        for (size_t i = 0; i < entrants; ++i) {
            SideSelection team;
            applyDeckLine(lines[i % lines.size()], team, catalogue);
            r.entrants.push_back(team);
        }
        r.battles = 3;
        r.seed = 77;
        r.threads = threads;
        r.maxTurns = 400;
        return r;
    }

    CardCatalogue catalogue;
};

TEST_F(Events, KnockoutOfAnyCountGivesByesToTheTopSeedsAndCrownsTheOneUnbeaten) {
    for (const size_t n : {2, 3, 5, 6, 8, 12}) {
        const TournamentResult r = playTournament(catalogue, request(TournamentFormat::Knockout, n, 2));
        const auto rounds = static_cast<unsigned>(std::bit_width(n - 1));
        ASSERT_EQ(r.rounds.size(), rounds) << n;
        const size_t byes = std::bit_ceil(n) - n;
        std::set<size_t> byeHolders;
        for (size_t k = 0; k < r.rounds.size(); ++k)
            for (const Match& m : r.rounds[k].matches) {
                if (m.bye()) {
                    EXPECT_EQ(k, 0u) << "a bye after the first round";
                    byeHolders.insert(m.a);
                } else {
                    EXPECT_NE(m.winner, -1) << "a knockout match left drawn";
                }
            }
        std::set<size_t> topSeeds;
        for (size_t s = 0; s < byes; ++s)
            topSeeds.insert(s);
        EXPECT_EQ(byeHolders, topSeeds) << n;
        EXPECT_EQ(r.rounds.back().matches.size(), 1u);
        EXPECT_EQ(r.champion, r.rounds.back().matches[0].winnerEntrant());
        EXPECT_EQ(r.standings.front().entrant, r.champion);
        EXPECT_EQ(r.standings.front().lost, 0u);
        EXPECT_EQ(r.standings.front().won, rounds);
        // Everyone else lost exactly once.
        for (size_t i = 1; i < r.standings.size(); ++i)
            EXPECT_EQ(r.standings[i].lost, 1u) << n;
    }
}

TEST_F(Events, AnEventIsTheSameOnAnyThreadCountAndItsPointsAddUp) {
    for (const TournamentFormat format :
         {TournamentFormat::RoundRobin, TournamentFormat::Swiss, TournamentFormat::Knockout}) {
        const TournamentResult one = playTournament(catalogue, request(format, 9, 1));
        const TournamentResult two = playTournament(catalogue, request(format, 9, 2));
        ASSERT_EQ(one.rounds.size(), two.rounds.size());
        for (size_t k = 0; k < one.rounds.size(); ++k)
            for (size_t i = 0; i < one.rounds[k].matches.size(); ++i) {
                const Match& a = one.rounds[k].matches[i];
                const Match& b = two.rounds[k].matches[i];
                EXPECT_EQ(std::tie(a.a, a.b, a.seed, a.winsA, a.winsB, a.undecided, a.winner),
                          std::tie(b.a, b.b, b.seed, b.winsA, b.winsB, b.undecided, b.winner));
                EXPECT_LE(a.played, 2 * 3u);
            }
        double points = 0;
        unsigned matches = 0;
        for (const TournamentRound& round : one.rounds)
            matches += static_cast<unsigned>(round.matches.size());
        for (const Standing& s : one.standings)
            points += s.points;
        // Every match, byes included, hands out one point in all.
        if (format == TournamentFormat::Knockout)
            continue;
        EXPECT_DOUBLE_EQ(points, matches) << formatName(format);
        for (size_t i = 1; i < one.standings.size(); ++i)
            EXPECT_GE(one.standings[i - 1].points, one.standings[i].points);
    }
}

TEST_F(Events, RefusesWhatCannotBePlayed) {
    TournamentRequest r = request(TournamentFormat::Swiss, 1, 1);
    EXPECT_THROW(playTournament(catalogue, r), InputError);
    r = request(TournamentFormat::Swiss, 4, 1);
    r.rounds = 4; // four entrants meet all others in three
    EXPECT_THROW(playTournament(catalogue, r), InputError);
    r = request(TournamentFormat::RoundRobin, 4, 1);
    r.battles = 0;
    EXPECT_THROW(playTournament(catalogue, r), InputError);
    r = request(TournamentFormat::RoundRobin, 4, 1);
    r.entrants[2].characters[3] = 0; // an empty slot cannot stand in a battle
    try {
        playTournament(catalogue, r);
        FAIL() << "an empty slot was played";
    } catch (const InputError& e) {
        EXPECT_EQ(e.where(), "deck #3");
    }
}

// The command plays the event the core plays, and each printed seed replays its battle.
TEST(TournamentCommand, PrintsAnEventWhoseBattlesReplayFromTheirSeeds) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "morvane-tournament-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::vector<std::string> lines = bundledLines();
    {
        std::ofstream decks(folder / "decks.dat", std::ios::binary);
        for (const std::string& line : lines)
            decks << line << "\r\n";
    }
    const std::vector<std::string> args = {
        "tournament", "--format", "swiss",  "--decks", (folder / "decks.dat").string(), "--battles", "3",
        "--seed",     "5",        "--json", "--html",  (folder / "event.html").string()};
    const test::ProgramRun run = test::runProgram(Cli, args);
    ASSERT_EQ(run.status, 0) << run.err;
    const Json out = Json::parse(run.out);
    EXPECT_EQ(out["rounds"].size(), 3u);
    EXPECT_EQ(out["standings"].size(), lines.size());
    const Json& match = out["rounds"][1][0];
    const uint32_t seed = match["seed"].get<uint32_t>();
    // Battle 1 of the match: the second deck on top.
    const std::string a = lines[match["a"].get<size_t>() - 1];
    const std::string b = lines[match["b"].get<size_t>() - 1];
    const test::ProgramRun battle =
        test::runProgram(Cli, {"battle", "--seed", std::to_string(battleSeed(seed, 1)), "--top", b, "--bottom", a,
                               "--max-turns", "10000", "-o", (folder / "replay.html").string(), "--time", "x"});
    ASSERT_NE(battle.out.find("winner="), std::string::npos) << battle.err;
    const bool aWon = battle.out.find("winner=bottom") != std::string::npos;
    const bool bWon = battle.out.find("winner=top") != std::string::npos;
    // The match counted its battles in order: with battle 0 known from the seed too,
    // the first two battles' wins must appear in its tally.
    const test::ProgramRun first =
        test::runProgram(Cli, {"battle", "--seed", std::to_string(battleSeed(seed, 0)), "--top", a, "--bottom", b, "-o",
                               (folder / "replay0.html").string(), "--time", "x"});
    const unsigned aWins = (first.out.find("winner=top") != std::string::npos) + aWon;
    const unsigned bWins = (first.out.find("winner=bottom") != std::string::npos) + bWon;
    EXPECT_GE(match["a_wins"].get<unsigned>(), aWins) << run.out;
    EXPECT_GE(match["b_wins"].get<unsigned>(), bWins) << run.out;
    if (aWins == 2 || bWins == 2) {
        EXPECT_EQ(match["played"].get<unsigned>(), 2u);
    }

    std::ifstream page(folder / "event.html");
    const std::string html((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
    EXPECT_NE(html.find("<h2>順位</h2>"), std::string::npos);
    // The format by the name the service's pages give it.
    EXPECT_NE(html.find("<h1>トーナメント：スイス式</h1>"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);

    EXPECT_EQ(test::runProgram(Cli, {"tournament", "--format", "league", "--decks", "x"}).status, 2);
    EXPECT_EQ(test::runProgram(Cli, {"tournament", "--format", "knockout", "--rounds", "2", "--decks",
                                     (folder / "decks.dat").string()})
                  .status,
              2);
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace morvane
