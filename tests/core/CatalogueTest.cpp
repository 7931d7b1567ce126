// Loading card.dat: rows by id, selector entries, the card-line store, and the load's
// failures, which stop at the failing line and keep what was read before it.

#include "cards/CardCatalogue.h"
#include "common/Errors.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

using namespace morvane;
using test::Card;
using test::sjis;
using test::Vehicle;

namespace {
std::vector<std::string> entryTexts(const std::vector<SelectorEntry>& entries) {
    std::vector<std::string> texts;
    for (const auto& e : entries)
        texts.push_back(e.text);
    return texts;
}
} // namespace

TEST(Catalogue, EntriesComeInIdOrderAndTheStoreKeepsEveryNonEmptyLineInFileOrder) {
    Card third{.id = 3, .size = "12", .name = "三番"};
    Card first{.id = 1, .size = " 5", .name = "一番"};
    Card second{.id = 2, .size = "05", .name = "二番"};
    Vehicle ship{.id = 1, .air = "空", .size = "40", .name = "飛行船"};
    const std::string bytes = third.line() + "\r\n; comment\r\n\r\n" + first.line() + "\n" + ship.line() + "\r" +
                              "c004 lower case is a comment\r\n V005 so is a blank first\r\n" + second.line() + "\r\n";
    CardCatalogue catalogue;
    catalogue.loadBytes(bytes);

    EXPECT_EQ(entryTexts(catalogue.characterEntries()),
              (std::vector<std::string>{sjis("一番(5)"), sjis("二番(5)"), sjis("三番(12)")}));
    EXPECT_EQ(entryTexts(catalogue.vehicleEntries()), (std::vector<std::string>{sjis("飛行船(40)")}));
    ASSERT_EQ(catalogue.cardLines().size(), 7u);
    EXPECT_EQ(catalogue.cardLines()[1], "; comment");
    EXPECT_EQ(catalogue.cardLines()[6], second.line());

    const cardRecordType& row = catalogue.character(1);
    EXPECT_EQ(row.id, 1);
    EXPECT_EQ(row.size, 5);
    EXPECT_EQ(row.hp, 10);
    EXPECT_EQ(row.sp, 5);
    EXPECT_EQ(row.name, sjis("一番"));
    EXPECT_EQ(row.line, first.line());
    EXPECT_FALSE(catalogue.character(4).defined());
    EXPECT_FALSE(catalogue.vehicle(5).defined());
    EXPECT_TRUE(catalogue.vehicleTraits(1).airborne);
}

TEST(Catalogue, ShortLinesDuplicatesAndUnofferedIds) {
    Card dup1{.id = 3, .size = " 1", .name = "旧"};
    Card dup2{.id = 3, .size = " 9", .name = "新"};
    Card hidden{.id = 126, .name = "隠"};
    Vehicle hiddenVehicle{.id = 26};
    const std::string shortLine = "C002物地 7 8 1 2"; // ends before column 67: no name
    CardCatalogue catalogue;
    catalogue.loadBytes(
        test::cardFile({dup1.line(), dup2.line(), utf8ToCp932(shortLine), hidden.line(), hiddenVehicle.line()}));
    EXPECT_EQ(entryTexts(catalogue.characterEntries()), (std::vector<std::string>{"(7)", sjis("新(9)")}));
    EXPECT_TRUE(catalogue.character(126).defined());
    EXPECT_FALSE(catalogue.offersCharacter(126));
    EXPECT_TRUE(catalogue.vehicle(26).defined());
    EXPECT_TRUE(catalogue.vehicleEntries().empty());
    // Ids outside the tables read as undefined rows, never out of bounds.
    EXPECT_FALSE(catalogue.character(-1).defined());
    EXPECT_FALSE(catalogue.character(127).defined());
    EXPECT_FALSE(catalogue.vehicle(1000).defined());
}

TEST(Catalogue, CommentsOnlyGiveNoEntries) {
    CardCatalogue catalogue;
    catalogue.loadBytes("; nothing\r\n#\r\n");
    EXPECT_TRUE(catalogue.characterEntries().empty());
    EXPECT_TRUE(catalogue.vehicleEntries().empty());
    EXPECT_EQ(catalogue.cardLines().size(), 2u);
}

TEST(Catalogue, ABadNumberStopsTheLoadAtItsLineAndKeepsEarlierRows) {
    Card good{.id = 1, .size = " 5"};
    Card bad{.id = 2, .size = "5 "};
    Card after{.id = 3};
    CardCatalogue catalogue;
    try {
        catalogue.loadBytes(test::cardFile({good.line(), bad.line(), after.line()}), "card.dat");
        FAIL() << "'5 ' is no number";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.message(), "'5 ' " + sjis("は整数ではありません"));
        EXPECT_EQ(e.where(), "card.dat:2");
    }
    EXPECT_TRUE(catalogue.character(1).defined());
    EXPECT_FALSE(catalogue.character(3).defined());
    EXPECT_EQ(catalogue.cardLines().size(), 1u);
}

TEST(Catalogue, IdsOutsideTheTablesStopTheLoadNamingTheLine) {
    for (const std::string id : {"000", "-01", "127"}) {
        CardCatalogue catalogue;
        const std::string line = "C" + id + Card{}.line().substr(4);
        try {
            catalogue.loadBytes(test::cardFile({Card{}.line(), line}), "card.dat");
            FAIL() << id;
        } catch (const InputError& e) {
            EXPECT_EQ(e.where(), "card.dat:2");
            EXPECT_NE(e.message().find(id), std::string::npos);
        }
        EXPECT_TRUE(catalogue.character(1).defined());
    }
    CardCatalogue vehicles;
    EXPECT_THROW(vehicles.loadBytes(Vehicle{.id = 27}.line()), InputError);
    EXPECT_THROW(vehicles.loadBytes("Cabc"), ConversionError);
}

TEST(Catalogue, MissingFileIsAFileNotFoundError) {
    CardCatalogue catalogue;
    EXPECT_THROW(catalogue.load("/nonexistent/card.dat"), FileNotFoundError);
}

TEST(Catalogue, BattleColumnsAreDecodedButABadNumberOnlyFailsWhenAsked) {
    Card c{.id = 7,
           .kind = "魔",
           .air = "空",
           .power = "x1",
           .block = {"＿", "魔", "＿"},
           .absorb = {"物", "＿", "ブ"},
           .seal = "サ",
           .heal = " 4",
           .lock = "自",
           .kill = "oo",
           .random = "ラ",
           .spread = "Ａ",
           .pierce = "貫",
           .count = "＿",
           .reach = 'e',
           .vehicleReach = 'a'};
    CardCatalogue catalogue;
    catalogue.loadBytes(c.line());
    const CardTraits& t = catalogue.characterTraits(7);
    EXPECT_EQ(t.kind, AttackKind::Magic);
    EXPECT_TRUE(t.airborne);
    EXPECT_EQ(t.blocks, (std::array<bool, 3>{false, true, false}));
    EXPECT_EQ(t.absorbs, (std::array<bool, 3>{true, false, true}));
    EXPECT_TRUE(t.seals);
    EXPECT_FALSE(t.heal.none);
    EXPECT_EQ(t.heal.number.get('C', 7), 4);
    EXPECT_TRUE(t.vehicleHeal.none);
    EXPECT_EQ(t.lock, LockMark::Own);
    EXPECT_TRUE(t.randomTargets);
    EXPECT_EQ(t.spread, SpreadMark::AllFrontAndVehicle);
    EXPECT_TRUE(t.pierces);
    EXPECT_TRUE(t.attackCount.none);
    EXPECT_EQ(t.reach, 'e');
    EXPECT_EQ(t.vehicleReach, 'a');
    EXPECT_THROW(t.killChance.number.get('C', 7), ConversionError);
    try {
        t.power.get('C', 7);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.message(), "'x1' " + sjis("は整数ではありません"));
        EXPECT_EQ(e.where(), "card C007, columns 13-14");
    }
}
