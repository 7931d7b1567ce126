// The team optimizer in the core: the rules no visited team may break, a search that
// finds a plainly dominant card, results that do not depend on the thread count, a
// budget that holds, and a final measurement made of the engine's own battles.

#include "optimize/Optimizer.h"
#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "common/Errors.h"
#include "common/Random.h"
#include "stats/Statistics.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace morvane {
namespace {

using test::Card;
using test::Vehicle;

// Six plain characters of size 5 (ids 1-6, a little stronger with each id), a dominant
// one of size 5 (id 7) and a stronger one still that no team within the size rule can
// hold (id 8, size 35). Vehicle 1 allows exactly eight cards of size 5, vehicle 2 more.
CardCatalogue dominanceCatalogue() {
    std::vector<std::string> lines;
    for (int id = 1; id <= 6; ++id)
        lines.push_back(Card{.id = id, .size = " 5", .hp = test::num2(9 + id), .power = " 3", .sp = " 5"}.line());
    lines.push_back(Card{.id = 7, .size = " 5", .hp = "60", .power = "15", .sp = "20"}.line());
    lines.push_back(Card{.id = 8, .size = "35", .hp = "99", .power = "40", .sp = "20"}.line());
    lines.push_back(Vehicle{.id = 1, .size = "40", .hp = "30"}.line());
    lines.push_back(Vehicle{.id = 2, .size = "48", .hp = "25"}.line());
    CardCatalogue catalogue;
    catalogue.loadBytes(test::cardFile(lines));
    return catalogue;
}

SideSelection team(int32_t vehicle, std::array<int32_t, 8> characters) {
    return SideSelection{vehicle, characters};
}

OptimizeRequest dominanceRequest() {
    OptimizeRequest request;
    request.start = team(1, {1, 1, 1, 1, 1, 1, 1, 1});
    request.field.decks = {team(1, {2, 3, 4, 5, 6, 2, 3, 4}), team(2, {6, 6, 5, 5, 4, 4, 3, 3})};
    request.field.side = PlaySide::Both;
    request.budget = 20000;
    request.threads = 2;
    request.seed = 11;
    request.maxTurns = 2000;
    return request;
}

int copiesOf(const SideSelection& t, int32_t id) {
    return static_cast<int>(std::count(t.characters.begin(), t.characters.end(), id));
}

TEST(Optimizer, PutsThePlainlyDominantCardInAndNeverTheOneThatDoesNotFit) {
    const CardCatalogue catalogue = dominanceCatalogue();
    const OptimizeRequest request = dominanceRequest();
    int oversized = 0;
    OptimizeControl control;
    control.visited = [&](const SideSelection& t) { oversized += copiesOf(t, 8); };
    const OptimizeResult result = optimizeTeam(catalogue, request, control);

    EXPECT_GE(copiesOf(result.best, 7), 1) << formatDeckLine(result.best, 0);
    EXPECT_EQ(oversized, 0);
    EXPECT_GT(result.accepted, 0u);

    // Fresh seeds agree that the found team beats the start team.
    BattlePool runner(catalogue, request.field, 2, request.maxTurns);
    const Tally found = measureTeam(runner, result.best, request.seed, 0, 400).total();
    const Tally start = measureTeam(runner, request.start, request.seed, 0, 400).total();
    EXPECT_EQ(found.battles, 400u);
    EXPECT_GT(found.winRate(), start.winRate() + 0.2);
}

// Every rule checked here on its own terms, not through TeamSpace.
struct RuleCheck {
    const CardCatalogue& catalogue;
    SideSelection start;
    KeptSlots kept;
    std::map<int32_t, int> ownedCharacters;
    std::map<int32_t, int> ownedVehicles;
    std::vector<std::string> breaches;

    void operator()(const SideSelection& t) {
        const std::string line = formatDeckLine(t, 0);
        int total = 0;
        for (size_t k = 0; k < 8; ++k) {
            total += catalogue.character(t.characters[k]).size;
            if (kept[k] && t.characters[k] != start.characters[k])
                breaches.push_back(line + " changes a kept slot");
            if (copiesOf(t, t.characters[k]) > 1)
                breaches.push_back(line + " repeats a character");
            if (copiesOf(t, t.characters[k]) > ownedCharacters[t.characters[k]])
                breaches.push_back(line + " uses more copies than owned");
        }
        if (kept[VehicleSlot] && t.vehicle != start.vehicle)
            breaches.push_back(line + " changes the kept vehicle");
        if (ownedVehicles[t.vehicle] < 1)
            breaches.push_back(line + " uses a vehicle not owned");
        if (total > catalogue.vehicle(t.vehicle).size)
            breaches.push_back(line + " is over its deck size");
    }
};

TEST(Optimizer, NoVisitedTeamBreaksKeepUniqueOwnedOrTheSizeRule) {
    // Sizes 3 to 9 against deck sizes 40, 48 and 46, so that the size rule bites: the
    // start team stands at its limit.
    std::vector<std::string> lines;
    for (int id = 1; id <= 12; ++id)
        lines.push_back(Card{
            .id = id, .size = test::num2(3 + id % 7), .hp = test::num2(8 + id), .power = " 3", .sp = test::num2(1 + id)}
                            .line());
    for (int id = 1; id <= 3; ++id)
        lines.push_back(Vehicle{.id = id, .size = test::num2(id == 1 ? 40 : id == 2 ? 48 : 46), .hp = "30"}.line());
    CardCatalogue catalogue;
    catalogue.loadBytes(test::cardFile(lines));

    OptimizeRequest request;
    request.start = team(3, {1, 2, 3, 4, 5, 6, 7, 8}); // Size 46(46)
    request.field.decks = {team(2, {9, 10, 11, 12, 9, 10, 11, 12})};
    request.field.side = PlaySide::Both;
    request.budget = 6000;
    request.threads = 2;
    request.maxTurns = 2000;
    request.rules.kept[2] = true; // slot 3
    request.rules.kept[6] = true; // slot 7
    request.rules.unique = true;
    OwnedCards owned;
    owned.characters.assign(CardCatalogue::CharacterRows + 1, 0);
    owned.vehicles.assign(CardCatalogue::VehicleRows + 1, 0);
    for (int id = 1; id <= 12; ++id)
        owned.characters[static_cast<size_t>(id)] = id == 11 ? 0 : 1; // 11 not owned at all
    owned.vehicles[1] = owned.vehicles[3] = 1;                        // 2 not owned
    request.rules.owned = owned;

    for (const SearchMethod method :
         {SearchMethod::Kick, SearchMethod::Restart, SearchMethod::Climb, SearchMethod::Random}) {
        RuleCheck check{catalogue, request.start, request.rules.kept, {}, {{1, 1}, {3, 1}}, {}};
        for (int id = 1; id <= 12; ++id)
            check.ownedCharacters[id] = id == 11 ? 0 : 1;
        size_t visited = 0;
        OptimizeControl control;
        control.visited = [&](const SideSelection& t) {
            ++visited;
            check(t);
        };
        request.method = method;
        request.seed = 3 + static_cast<uint32_t>(method);
        request.tuning.testBattles = 64; // short races: many teams, restarts included
        const OptimizeResult result = optimizeTeam(catalogue, request, control);
        EXPECT_GT(visited, 50u) << static_cast<int>(method);
        EXPECT_TRUE(check.breaches.empty()) << check.breaches.front();
        check(result.best);
        EXPECT_TRUE(check.breaches.empty());
        if (method == SearchMethod::Kick || method == SearchMethod::Restart) {
            EXPECT_GT(result.restarts, 0u);
        }
    }

    // With the size rule lifted, teams over their deck size are visited.
    request.rules = TeamRules{};
    request.rules.sizeRule = false;
    request.method = SearchMethod::Random;
    bool over = false;
    OptimizeControl control;
    control.visited = [&](const SideSelection& t) {
        int total = 0;
        for (const int32_t id : t.characters)
            total += catalogue.character(id).size;
        over = over || total > catalogue.vehicle(t.vehicle).size;
    };
    optimizeTeam(catalogue, request, control);
    EXPECT_TRUE(over);
}

TEST(Optimizer, GivesTheSameSearchOnOneAndTwoThreadsAndKeepsToItsBudget) {
    const CardCatalogue catalogue = dominanceCatalogue();
    OptimizeRequest request = dominanceRequest();
    request.budget = 7001;
    std::vector<std::vector<SideSelection>> visits(2);
    std::vector<OptimizeResult> results;
    for (unsigned threads : {1u, 2u}) {
        request.threads = threads;
        OptimizeControl control;
        control.visited = [&](const SideSelection& t) { visits[threads - 1].push_back(t); };
        results.push_back(optimizeTeam(catalogue, request, control));
    }
    EXPECT_EQ(results[0].threads, 1u);
    EXPECT_EQ(results[1].threads, 2u);
    EXPECT_EQ(results[0].best, results[1].best);
    EXPECT_EQ(results[0].battles, results[1].battles);
    EXPECT_EQ(results[0].candidates, results[1].candidates);
    EXPECT_EQ(results[0].accepted, results[1].accepted);
    EXPECT_EQ(results[0].bestTally.wins, results[1].bestTally.wins);
    EXPECT_EQ(visits[0], visits[1]);

    // Budgets that no stage divides evenly, down to fewer battles than one round.
    for (const uint64_t budget : {1ull, 3ull, 5ull, 250ull, 1001ull, 7001ull}) {
        request.budget = budget;
        uint64_t reported = 0;
        OptimizeControl control;
        control.progressInterval = std::chrono::milliseconds(0);
        control.progress = [&](const OptimizeProgress& p) { reported = std::max(reported, p.battles); };
        const OptimizeResult r = optimizeTeam(catalogue, request, control);
        EXPECT_LE(r.battles, budget);
        EXPECT_LE(reported, budget);
    }
}

// A search's course follows from its seed alone: the figures below were those of the
// search before its battles were listed by field deck first, and no order of playing
// them may change a race. A search that reads one battle's outcome as another's
// (a team's, a round's or a pairing's) takes other moves and ends elsewhere.
TEST(Optimizer, ASearchsCourseIsFixedByItsSeedWhateverOrderItsBattlesArePlayedIn) {
    const CardCatalogue catalogue = dominanceCatalogue();
    OptimizeRequest request = dominanceRequest();
    request.budget = 30000;
    uint64_t visits = 0;
    uint64_t visitSum = 0; // of the visited teams' ids, weighted by the order of the visits
    OptimizeControl control;
    control.visited = [&](const SideSelection& t) {
        ++visits;
        for (int32_t id : t.characters)
            visitSum += visits * static_cast<uint64_t>(id);
        visitSum += visits * 100 * static_cast<uint64_t>(t.vehicle);
    };
    const OptimizeResult r = optimizeTeam(catalogue, request, control);
    EXPECT_EQ(formatDeckLine(r.best, 0), "V001C001C007C001C001C001C001C001C007:000");
    EXPECT_EQ(r.battles, 29996u);
    EXPECT_EQ(r.candidates, 48u);
    EXPECT_EQ(r.accepted, 3u);
    EXPECT_EQ(r.bestTally.wins, 3536u);
    EXPECT_EQ(r.bestTally.battles, 3548u);
    EXPECT_EQ(visits, 49u);
    EXPECT_EQ(visitSum, 145332u);
}

// Stacks with and without a reason. Characters 7 to 10 play exactly alike and beat the
// plain ones 1 to 6. Against a field of the strong cards, a team of eight 7s stays so
// for the plain search, as no change wins more; preferring variety, the search trades
// copies for the strong card's twins down to two of each, and never for a plain card,
// which loses battles. With no twin in the catalogue, the stack is all the team can be
// and stays whole.
TEST(Optimizer, APreferenceForVarietyBreaksOnlyTheStacksATeamDoesNotNeed) {
    std::vector<std::string> lines;
    for (int id = 1; id <= 6; ++id)
        lines.push_back(Card{.id = id, .size = " 5", .hp = test::num2(9 + id), .power = " 3", .sp = " 5"}.line());
    const auto strongLines = [&lines](int twins) {
        std::vector<std::string> all = lines;
        for (int id = 7; id < 7 + twins; ++id)
            all.push_back(Card{.id = id, .size = " 5", .hp = "30", .power = " 6", .sp = "10"}.line());
        all.push_back(Vehicle{.id = 1, .size = "40", .hp = "30"}.line());
        return test::cardFile(all);
    };
    CardCatalogue twins;
    twins.loadBytes(strongLines(4));
    CardCatalogue single;
    single.loadBytes(strongLines(1));

    OptimizeRequest request = dominanceRequest();
    request.start = team(1, {7, 7, 7, 7, 7, 7, 7, 7});
    request.field.decks = {team(1, {7, 7, 7, 7, 7, 7, 7, 7}), team(1, {7, 7, 6, 7, 7, 5, 7, 7})};
    request.budget = 400000;
    request.tuning.testBattles = 256;
    const OptimizeResult plain = optimizeTeam(twins, request);
    EXPECT_EQ(copiesOf(plain.best, 7), 8) << formatDeckLine(plain.best, 0);

    request.tuning.preferVariety = true;
    const OptimizeResult varied = optimizeTeam(twins, request);
    for (int32_t id = 1; id <= 10; ++id)
        EXPECT_EQ(copiesOf(varied.best, id), id >= 7 ? 2 : 0) << formatDeckLine(varied.best, 0);
    EXPECT_LE(varied.battles, request.budget);

    const OptimizeResult needed = optimizeTeam(single, request);
    EXPECT_EQ(copiesOf(needed.best, 7), 8) << formatDeckLine(needed.best, 0);
}

TEST(Optimizer, CancelEndsTheSearchWithTheBestTeamSoFar) {
    const CardCatalogue catalogue = dominanceCatalogue();
    OptimizeRequest request = dominanceRequest();
    request.budget = 100000000;
    std::atomic<bool> cancel{false};
    OptimizeControl control;
    control.cancel = &cancel;
    control.progressInterval = std::chrono::milliseconds(0);
    control.progress = [&](const OptimizeProgress& p) {
        if (p.battles > 3000)
            cancel = true;
    };
    const OptimizeResult result = optimizeTeam(catalogue, request, control);
    EXPECT_TRUE(result.cancelled);
    EXPECT_LT(result.battles, 10000u);
    EXPECT_TRUE(TeamSpace(catalogue, request.rules, request.start).legal(result.best));
}

TEST(Optimizer, RefusesAStartTeamThatBreaksARuleAndAFieldDeckThatCannotPlay) {
    const CardCatalogue catalogue = dominanceCatalogue();
    OptimizeRequest request = dominanceRequest();
    request.start = team(1, {8, 1, 1, 1, 1, 1, 1, 1}); // Size 70(40)
    try {
        optimizeTeam(catalogue, request);
        ADD_FAILURE() << "no error";
    } catch (const InputError& e) {
        EXPECT_NE(cp932ToUtf8(e.message()).find("サイズ合計がデッキサイズを超えています: Size 70(40)"),
                  std::string::npos)
            << cp932ToUtf8(e.message());
    }
    request.rules.sizeRule = false;
    request.rules.unique = true;
    EXPECT_THROW(optimizeTeam(catalogue, request), InputError); // 1 repeated

    request = dominanceRequest();
    request.field.decks[1].characters[4] = 0;
    try {
        optimizeTeam(catalogue, request);
        ADD_FAILURE() << "no error";
    } catch (const InputError& e) {
        EXPECT_EQ(e.where(), "field deck 2");
        EXPECT_EQ(cp932ToUtf8(e.message()), "C05のカードが選ばれていません");
    }
}

TEST(FinalMeasurement, PlaysTheEnginesBattlesOnFreshSeedsAndSplitsIntoShards) {
    const CardCatalogue catalogue = dominanceCatalogue();
    const OptimizeRequest request = dominanceRequest();
    const SideSelection t = team(2, {7, 1, 2, 3, 4, 5, 6, 1});
    BattlePool two(catalogue, request.field, 2, request.maxTurns);
    BattlePool one(catalogue, request.field, 1, request.maxTurns);
    const FieldScore whole = measureTeam(two, t, 99, 0, 1000);
    FieldScore shards = measureTeam(one, t, 99, 0, 333);
    shards.merge(measureTeam(two, t, 99, 333, 1000));
    ASSERT_EQ(whole.pairings.size(), 4u);
    for (size_t p = 0; p < 4; ++p) {
        EXPECT_EQ(whole.pairings[p].battles, 250u);
        EXPECT_EQ(whole.pairings[p].wins, shards.pairings[p].wins) << p;
    }

    // Battle 6 is pairing 2: field deck 2 below the team, with the seed of battle
    // number 2^31 + 6 of the run.
    const FieldScore single = measureTeam(one, t, 99, 6, 7);
    Random random;
    Battle battle(catalogue, random);
    random.setSeed(battleSeed(99, (uint64_t{1} << 31) + 6));
    const BattleOutcome outcome = battle.play(Teams{{t, request.field.decks[1]}}, request.maxTurns);
    EXPECT_EQ(single.pairings[2].battles, 1u);
    EXPECT_EQ(single.pairings[2].wins, outcome.winner == 0 ? 1u : 0u);
    EXPECT_EQ(single.total().battles, 1u);
}

TEST(TeamRules, KeptSlotsAndOwnedCardsReadAsDocumented) {
    const std::optional<KeptSlots> kept = parseKeptSlots("V, c03 ,C07");
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(*kept, (KeptSlots{false, false, true, false, false, false, true, false, true}));
    for (const char* bad : {"", "C09", "C00", "C3", "V,", "X", "C01;C02"})
        EXPECT_FALSE(parseKeptSlots(bad).has_value()) << bad;

    const CardCatalogue catalogue = dominanceCatalogue();
    const OwnedCards owned =
        parseOwnedCards("; mine\r\nC007 2\r\n  c1\r\n# more\r\nC7 1\r\nV002 1\r\n", "owned.txt", catalogue);
    EXPECT_EQ(owned.character(7), 3);
    EXPECT_EQ(owned.character(1), 1);
    EXPECT_EQ(owned.character(2), 0);
    EXPECT_EQ(owned.vehicle(2), 1);
    EXPECT_EQ(owned.vehicle(1), 0);
    EXPECT_EQ(owned.character(-1), 0);

    const struct {
        const char* text;
        const char* message;
        const char* where;
    } bad[] = {
        {"C001 1\r\nC002 two\r\n", "'C002 two' は所持カードの行ではありません", "owned.txt:2"},
        {"C001 1\r\n\r\nX001 1\r\n", "'X001 1' は所持カードの行ではありません", "owned.txt:3"},
        {"C001 1 2\r\n", "'C001 1 2' は所持カードの行ではありません", "owned.txt:1"},
        {"C009 1\r\n", "'C009' カード番号が範囲外です", "owned.txt:1"},
        {"; none\r\nV003\r\n", "'V003' カード番号が範囲外です", "owned.txt:2"},
    };
    for (const auto& b : bad) {
        try {
            parseOwnedCards(b.text, "owned.txt", catalogue);
            ADD_FAILURE() << b.text;
        } catch (const InputError& e) {
            EXPECT_EQ(cp932ToUtf8(e.message()), b.message);
            EXPECT_EQ(e.where(), b.where);
        }
    }
}

TEST(TeamRules, MovesLeadOnlyToLegalTeamsAndCoverTheNeighbourhood) {
    const CardCatalogue catalogue = dominanceCatalogue();
    TeamRules rules;
    const SideSelection start = team(2, {1, 2, 3, 4, 5, 6, 1, 2}); // Size 40(48)
    const TeamSpace space(catalogue, rules, start);
    const std::vector<TeamMove> moves = space.moves(start);
    // Vehicle 1 (deck size 40) fits; each slot takes the 6 other small cards (not 8,
    // size 35); 26 of the 28 slot pairs hold different cards.
    EXPECT_EQ(moves.size(), 1u + 8u * 6u + 26u);
    for (const TeamMove& m : moves)
        EXPECT_TRUE(space.legal(applyMove(start, m)));

    Random random(5);
    for (int i = 0; i < 50; ++i) {
        const std::optional<SideSelection> t = space.randomTeam(random);
        ASSERT_TRUE(t.has_value());
        EXPECT_TRUE(space.legal(*t));
    }
}

} // namespace
} // namespace morvane
