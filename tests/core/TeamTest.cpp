// A team as the rules see it: the selectors' names and order, the size total against
// the deck size, both deck lines applied as one step, and whether teams can play.

#include "cards/Team.h"
#include "cards/CardCatalogue.h"
#include "common/Errors.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

using namespace morvane;
using test::Card;
using test::Vehicle;

namespace {

// Characters 1-8 of sizes 1-8 (9 has size 9, as does every later id), vehicle 1 of deck size 40.
CardCatalogue catalogue() {
    std::vector<std::string> lines;
    for (int id = 1; id <= 9; ++id)
        lines.push_back(Card{.id = id, .size = test::num2(id)}.line());
    lines.push_back(Vehicle{.id = 1, .size = "40"}.line());
    CardCatalogue cards;
    cards.loadBytes(test::cardFile(lines));
    return cards;
}

std::string missing(const CardCatalogue& cards, const Teams& teams) {
    try {
        checkPlayable(cards, teams);
    } catch (const InputError& e) {
        EXPECT_EQ(e.where(), "");
        return cp932ToUtf8(e.message());
    }
    return "playable";
}

} // namespace

TEST(Team, SelectorsAreNamedAndVisitedColumnByColumn) {
    std::vector<std::string> names;
    for (const int side : {0, 1})
        for (const int index : KeyboardOrder)
            names.push_back(selectorName(selectorSlot(side, index)));
    EXPECT_EQ(names, (std::vector<std::string>{"C01", "C02", "C03", "C04", "V00", "C05", "C06", "C07", "C08", "C11",
                                               "C12", "C13", "C14", "V10", "C15", "C16", "C17", "C18"}));
    EXPECT_EQ(selectorSlot(1, VehicleSelector), 19);
}

TEST(Team, SizeTextCountsEverySlotAgainstTheVehicle) {
    const CardCatalogue cards = catalogue();
    EXPECT_EQ(sizeText(cards, {1, {1, 2, 3, 4, 5, 6, 7, 8}}), "Size 36(40)");
    // The same card twice counts twice; an empty slot and a missing vehicle add nothing.
    EXPECT_EQ(sizeText(cards, {1, {9, 9, 9, 9, 9, 0, 0, 0}}), "Size 45(40)");
    EXPECT_EQ(sizeText(cards, {}), "Size 0(0)");
    EXPECT_EQ(sizeTotal(cards, {0, {8, 8, 8, 8, 8, 8, 8, 8}}), 64);
}

TEST(Team, CheckPlayableNamesTheFirstEmptySelectorTopSideFirst) {
    const CardCatalogue cards = catalogue();
    const SideSelection full{1, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(missing(cards, {{full, full}}), "playable");
    SideSelection noVehicle = full;
    noVehicle.vehicle = 2; // no such vehicle
    SideSelection noFifth = full;
    noFifth.characters[4] = 0;
    EXPECT_EQ(missing(cards, {{full, noVehicle}}), "V10のカードが選ばれていません");
    EXPECT_EQ(missing(cards, {{noVehicle, noFifth}}), "V00のカードが選ばれていません");
    // Characters before the vehicle.
    noFifth.vehicle = 0;
    EXPECT_EQ(missing(cards, {{full, noFifth}}), "C15のカードが選ばれていません");
    // A single team is named by the top side's selectors.
    try {
        checkPlayable(cards, noFifth);
        ADD_FAILURE() << "playable";
    } catch (const InputError& e) {
        EXPECT_EQ(cp932ToUtf8(e.message()), "C05のカードが選ばれていません");
    }
}

TEST(Team, ApplyingBothDeckLinesNamesTheSideThatFails) {
    const CardCatalogue cards = catalogue();
    const DeckSource good{"V001C001C002C003C004C005C006C007C008:000", "deck0.dat:1"};
    const DeckSource bad{"V001C001CxyzC003C004C005C006C007C008:000", "deck1.dat:4"};
    const Teams teams = applyDeckLines(cards, good, {"V001C008C007C006C005C004C003C002C001", "b"});
    EXPECT_EQ(teams.side[1].characters[0], 8);
    EXPECT_EQ(teams.side[0].characters[0], 1);
    auto failure = [&](const DeckSource& top, const DeckSource& bottom) {
        std::vector<int> sides;
        try {
            applyDeckLines(top, bottom, [&](int side, std::string_view line) {
                sides.push_back(side);
                SideSelection s;
                applyDeckLine(line, s, cards);
            });
        } catch (const MorvaneError& e) {
            return e.where() + " after " + std::to_string(sides.size());
        }
        return std::string("none");
    };
    EXPECT_EQ(failure(good, bad), "deck1.dat:4 after 2");
    // Of two bad lines, the top one is named.
    EXPECT_EQ(failure({bad.line, "deck0.dat:2"}, bad), "deck0.dat:2 after 1");
    EXPECT_EQ(failure({"", "top deck line"}, good), "top deck line after 1");
    EXPECT_EQ(failure(good, good), "none");
}
