// One battle object playing battle after battle, as the statistics and the batch
// runner do: what it keeps from the battles before (the slots' cards, the initiative
// of each pair of formations) must never show in the next one, and without a report
// a card column that is not a number must fail exactly where it fails with one.

#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Clock.h"
#include "common/Errors.h"
#include "common/Random.h"
#include "report/ReportSink.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace morvane;
using namespace morvane::test;

namespace {

const FixedClock Noon("12:00:00");

// Two decks of the classic catalogue with different speeds in every formation, and
// a third that keeps the first one's cards in other slots.
const char* const Decks[] = {"V001C003C011C012C007C021C019C020C005:000", "V004C018C016C024C022C025C039C044C002:000",
                             "V002C030C038C023C043C027C036C026C014:001", "V001C005C020C019C021C007C012C011C003:000"};

Teams teamsOf(const CardCatalogue& catalogue, const char* top, const char* bottom) {
    Teams teams;
    Deck0Set(top, teams, catalogue);
    Deck1Set(bottom, teams, catalogue);
    return teams;
}

struct Played {
    BattleOutcome outcome;
    std::string report;
    uint32_t seedAfter = 0;
};

// A battle object with its generator and its report kept in memory.
struct Player {
    explicit Player(const CardCatalogue& catalogue) : battle(catalogue, random, &sink) {
        battle.report().setClock(Noon);
    }
    Random random;
    MemoryReportSink sink;
    Battle battle;

    Played play(const Teams& teams, uint32_t seed) {
        random.setSeed(seed);
        Played p;
        p.outcome = battle.play(teams, 10000);
        p.report = sink.text();
        p.seedAfter = random.seed();
        return p;
    }
};

CardCatalogue classicCatalogue() {
    CardCatalogue catalogue;
    catalogue.load(std::filesystem::path(MORVANE_SOURCE_DIR) / "tests" / "data" / "classic" / "card.dat");
    return catalogue;
}

} // namespace

TEST(BattleReuse, EveryBattleOfAReusedObjectEqualsOneOnAFreshObject) {
    const CardCatalogue catalogue = classicCatalogue();
    Player reused(catalogue);
    // Same teams again, the sides swapped, the same cards in other slots, and back.
    const std::pair<int, int> order[] = {{0, 1}, {0, 1}, {1, 0}, {2, 1}, {3, 1}, {0, 2}, {0, 1}};
    uint32_t seed = 11;
    for (const auto& [top, bottom] : order) {
        const Teams teams = teamsOf(catalogue, Decks[top], Decks[bottom]);
        for (int i = 0; i < 3; ++i, seed += 7919) {
            Player fresh(catalogue);
            const Played a = reused.play(teams, seed);
            const Played b = fresh.play(teams, seed);
            ASSERT_TRUE(a.report == b.report) << "decks " << top << " and " << bottom << ", seed " << seed;
            EXPECT_EQ(a.outcome.turns, b.outcome.turns);
            EXPECT_EQ(a.seedAfter, b.seedAfter);
            EXPECT_EQ(reused.battle.state().slots, fresh.battle.state().slots);
        }
    }
}

// A search's teams differ from the one before in a card or two, and the plans of the
// formations that do not put a changed slot in front are kept: a change in any one
// slot, on either side, must still reach every plan that reads that slot.
TEST(BattleReuse, ATeamChangedInOneSlotAfterAnotherPlaysAsOnAFreshObject) {
    const CardCatalogue catalogue = classicCatalogue();
    Player reused(catalogue);
    uint32_t seed = 5;
    std::string line[2] = {Decks[0], Decks[1]};
    // Fast and slow cards in turn, so that the order of the front changes too.
    const char* const swaps[] = {"C043", "C022", "C011", "C038"};
    const char* const vehicles[] = {"V004", "V002"};
    int change = 0;
    for (std::string& side : line)
        for (size_t slot = 0; slot <= 8; ++slot, ++change) {
            // Slot 8 is the vehicle, at the start of the line.
            if (slot == 8)
                side.replace(0, 4, vehicles[change % 2]);
            else
                side.replace(4 + 4 * slot, 4, swaps[change % 4]);
            const Teams teams = teamsOf(catalogue, line[0].c_str(), line[1].c_str());
            for (int i = 0; i < 2; ++i, seed += 104729) {
                Player fresh(catalogue);
                const Played a = reused.play(teams, seed);
                const Played b = fresh.play(teams, seed);
                ASSERT_TRUE(a.report == b.report) << line[0] << " against " << line[1] << ", seed " << seed;
                EXPECT_EQ(a.seedAfter, b.seedAfter);
            }
        }
}

TEST(BattleReuse, AnEmptySelectionIsRefusedAfterBattlesWithTheSameCardsToo) {
    CardCatalogue catalogue;
    catalogue.loadBytes(cardFile({Card{.id = 1, .name = "兵"}.line(), Vehicle{.id = 1}.line()}));
    Random random(3);
    Battle battle(catalogue, random);
    // A new battle object's empty slots hold no card either.
    EXPECT_THROW(battle.start(Teams{}), InputError);
    Teams teams{{SideSelection{1, {1, 1, 1, 1, 1, 1, 1, 1}}, SideSelection{1, {1, 1, 1, 1, 1, 1, 1, 1}}}};
    battle.play(teams, 50);
    const BattleState before = battle.state();
    teams.side[1].characters[7] = 0;
    EXPECT_THROW(battle.start(teams), InputError);
    EXPECT_EQ(battle.state().slots, before.slots);
    EXPECT_EQ(battle.state().BattleRunning, before.BattleRunning);
    teams.side[1].characters[7] = 2; // no card 2 in this catalogue
    EXPECT_THROW(battle.start(teams), InputError);
    EXPECT_EQ(battle.state().slots[18].cardId, 1);
}

namespace {

// Where a battle stopped: the turn and the error's text and location, or nothing.
struct Failure {
    int32_t turn = 0;
    std::string message;
    std::string where;
    bool operator==(const Failure&) const = default;
};

// Plays up to 60 turns, starting over with `later` after turn 3 (the button pressed
// during the battle); the first failure ends it.
std::optional<Failure> firstFailure(const CardCatalogue& catalogue, ReportSink* sink, const Teams& first,
                                    const Teams& later, uint32_t seed) {
    Random random(seed);
    Battle battle(catalogue, random, sink);
    battle.report().setClock(Noon);
    try {
        battle.start(first);
        for (int turn = 1; turn <= 60 && battle.playTurn() == BattleStatus::Running; ++turn)
            if (turn == 3)
                battle.start(later);
    } catch (const ConversionError& e) {
        return Failure{battle.state().TurnNo, e.message(), e.where()};
    }
    return std::nullopt;
}

} // namespace

TEST(BattleReuse, WithoutAReportAColumnThatIsNoNumberFailsWhenAndWhereItDoesWithOne) {
    // Card 2's AP and card 3's heal are no numbers. Card 2 fails the roster when it
    // starts in a team, else the turn in which it first stands in front or attacks;
    // card 3 fails when it first acts.
    CardCatalogue catalogue;
    catalogue.loadBytes(cardFile({Card{.id = 1, .sp = " 7", .name = "兵"}.line(),
                                  Card{.id = 2, .power = "x1", .sp = " 9", .name = "壊"}.line(),
                                  Card{.id = 3, .sp = " 4", .heal = "5 ", .name = "癒"}.line(),
                                  Card{.id = 4, .sp = "12", .name = "速"}.line(), Vehicle{.id = 1}.line()}));
    const Teams plain{{SideSelection{1, {1, 4, 1, 4, 1, 4, 1, 4}}, SideSelection{1, {4, 1, 4, 1, 4, 1, 4, 1}}}};
    const Teams withAp{{SideSelection{1, {1, 4, 1, 4, 2, 4, 1, 4}}, SideSelection{1, {4, 1, 4, 1, 4, 1, 4, 1}}}};
    const Teams withHeal{{SideSelection{1, {1, 4, 1, 4, 1, 4, 1, 4}}, SideSelection{1, {4, 1, 3, 1, 4, 1, 4, 1}}}};
    int failedAtStart = 0, failedLater = 0;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        for (const auto& [first, later] : {std::pair{withAp, plain}, std::pair{plain, withAp},
                                           std::pair{plain, withHeal}, std::pair{withHeal, withAp}}) {
            MemoryReportSink sink;
            const std::optional<Failure> written = firstFailure(catalogue, &sink, first, later, seed);
            const std::optional<Failure> unwritten = firstFailure(catalogue, nullptr, first, later, seed);
            ASSERT_EQ(written.has_value(), unwritten.has_value()) << "seed " << seed;
            if (written) {
                EXPECT_EQ(*written, *unwritten) << "seed " << seed;
                ++(written->turn <= 1 ? failedAtStart : failedLater);
            }
        }
    }
    // Both kinds of moment occurred.
    EXPECT_GT(failedAtStart, 0);
    EXPECT_GT(failedLater, 0);
}
