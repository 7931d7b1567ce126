// The card catalogue and decks that ship beside the program. A fresh install plays
// straight from them, so a typo in a column, a gap in the ids or a deck that cannot
// finish a battle would reach every user; these tests read the committed files.

#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Codec.h"
#include "common/Files.h"
#include "common/Random.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

using namespace morvane;

namespace {

const std::string DataDir = MORVANE_SOURCE_DIR "/data/";

const CardCatalogue& bundledCatalogue() {
    static const CardCatalogue catalogue = [] {
        CardCatalogue c;
        c.load(DataDir + "card.dat");
        return c;
    }();
    return catalogue;
}

Teams teamsOf(const std::string& topLine, const std::string& bottomLine) {
    Teams teams;
    Deck0Set(topLine, teams, bundledCatalogue());
    Deck1Set(bottomLine, teams, bundledCatalogue());
    return teams;
}

struct TurnSpread {
    int battles = 0;
    // Ended after 6 to 60 turns. The vehicles of the balanced set fall sooner than the
    // classic set's: two good teams take about ten turns, and the turn's formation
    // counts for more.
    int withinRange = 0;
    int topWins = 0;
    int bottomWins = 0;
    int capped = 0;
};

TurnSpread playSeeds(const Teams& teams, uint32_t seeds) {
    TurnSpread spread;
    for (uint32_t seed = 1; seed <= seeds; ++seed) {
        Random random(seed);
        Battle battle(bundledCatalogue(), random);
        const BattleOutcome outcome = battle.play(teams, 1000);
        ++spread.battles;
        spread.withinRange += outcome.turns >= 6 && outcome.turns <= 60;
        spread.topWins += outcome.winner == 0;
        spread.bottomWins += outcome.winner == 1;
        spread.capped += outcome.capped();
    }
    return spread;
}

} // namespace

TEST(BundledData, CardIdsRunFromOneWithoutGapsOrDuplicates) {
    const CardCatalogue& catalogue = bundledCatalogue();
    const auto characters = catalogue.characterEntries();
    const auto vehicles = catalogue.vehicleEntries();
    ASSERT_GE(characters.size(), 40u);
    ASSERT_GE(vehicles.size(), 8u);
    // Selector entry i stands for id i + 1, so any gap would shift every later card.
    for (size_t i = 0; i < characters.size(); ++i)
        EXPECT_EQ(characters[i].id, static_cast<int32_t>(i + 1));
    for (size_t i = 0; i < vehicles.size(); ++i)
        EXPECT_EQ(vehicles[i].id, static_cast<int32_t>(i + 1));
    EXPECT_FALSE(catalogue.character(static_cast<int32_t>(characters.size()) + 1).defined());
    EXPECT_FALSE(catalogue.vehicle(static_cast<int32_t>(vehicles.size()) + 1).defined());

    // A repeated id would silently replace the earlier card.
    size_t characterLines = 0, vehicleLines = 0;
    for (const std::string& line : catalogue.cardLines()) {
        characterLines += line[0] == 'C';
        vehicleLines += line[0] == 'V';
    }
    EXPECT_EQ(characterLines, characters.size());
    EXPECT_EQ(vehicleLines, vehicles.size());

    std::set<std::string> names;
    for (int32_t id = 1; id <= static_cast<int32_t>(characters.size()); ++id)
        names.insert(catalogue.character(id).name);
    for (int32_t id = 1; id <= static_cast<int32_t>(vehicles.size()); ++id)
        names.insert(catalogue.vehicle(id).name);
    EXPECT_EQ(names.size(), characters.size() + vehicles.size()) << "every card has its own name";
    for (const std::string& name : names) {
        EXPECT_FALSE(name.empty());
        EXPECT_EQ(cp932ToUtf8(name).find("\xEF\xBF\xBD"), std::string::npos) << "name is not code page 932";
    }
}

TEST(BundledData, EveryColumnTheBattleReadsIsWellFormed) {
    const CardCatalogue& catalogue = bundledCatalogue();
    const int32_t count = static_cast<int32_t>(catalogue.characterEntries().size());
    for (int32_t id = 1; id <= count; ++id) {
        SCOPED_TRACE("character " + std::to_string(id));
        const CardTraits& t = catalogue.characterTraits(id);
        const cardRecordType& row = catalogue.character(id);
        // A malformed number halts the battle the first time the card acts.
        EXPECT_TRUE(t.power.valid);
        EXPECT_TRUE(t.heal.none || t.heal.number.valid);
        EXPECT_TRUE(t.vehicleHeal.none || t.vehicleHeal.number.valid);
        EXPECT_TRUE(t.killChance.none || t.killChance.number.valid);
        EXPECT_TRUE(t.attackCount.none || t.attackCount.number.valid);
        // A misspelt mark is no error; the card would just quietly lose its ability.
        EXPECT_NE(t.kind, AttackKind::None);
        EXPECT_NE(t.spread, SpreadMark::Other);
        EXPECT_TRUE(t.randomTargets || t.randomNone);
        EXPECT_GE(row.sp, 1) << "a card outside SP 1-20 never acts";
        EXPECT_LE(row.sp, 20);
        EXPECT_GT(row.hp, 0);
        EXPECT_GT(row.size, 0);
    }
}

TEST(BundledData, EveryAbilityMarkAndReachLetterOccurs) {
    const CardCatalogue& catalogue = bundledCatalogue();
    std::set<std::string> seen;
    const int32_t characters = static_cast<int32_t>(catalogue.characterEntries().size());
    for (int32_t id = 1; id <= characters; ++id) {
        const CardTraits& t = catalogue.characterTraits(id);
        static const char* const kinds[] = {"physical", "magic", "breath"};
        if (t.kind != AttackKind::None)
            seen.insert(std::string("kind ") + kinds[static_cast<int>(t.kind)]);
        for (int k = 0; k < 3; ++k) {
            if (t.blocks[static_cast<size_t>(k)])
                seen.insert(std::string("block ") + kinds[k]);
            if (t.absorbs[static_cast<size_t>(k)])
                seen.insert(std::string("absorb ") + kinds[k]);
        }
        if (t.airborne)
            seen.insert("airborne character");
        if (t.seals)
            seen.insert("seal");
        if (!t.heal.none)
            seen.insert("heal");
        if (!t.vehicleHeal.none)
            seen.insert("vehicle heal");
        if (t.lock == LockMark::Enemy)
            seen.insert("lock enemy");
        if (t.lock == LockMark::Own)
            seen.insert("lock own");
        if (!t.killChance.none)
            seen.insert("kill chance");
        if (t.randomTargets)
            seen.insert("random");
        if (t.spread == SpreadMark::AllFront)
            seen.insert("spread front");
        if (t.spread == SpreadMark::AllFrontAndVehicle)
            seen.insert("spread front and vehicle");
        if (t.pierces)
            seen.insert("pierce");
        if (t.attackCount.none)
            seen.insert("count none");
        else if (t.attackCount.number.value >= 2)
            seen.insert("count several");
        for (char letter : {'e', 'a'}) {
            if (t.reach == letter)
                seen.insert(std::string("reach ") + letter);
            if (t.vehicleReach == letter)
                seen.insert(std::string("vehicle reach ") + letter);
        }
    }
    const int32_t vehicles = static_cast<int32_t>(catalogue.vehicleEntries().size());
    for (int32_t id = 1; id <= vehicles; ++id)
        seen.insert(catalogue.vehicleTraits(id).airborne ? "airborne vehicle" : "grounded vehicle");

    for (const char* expected : {"kind physical",
                                 "kind magic",
                                 "kind breath",
                                 "block physical",
                                 "block magic",
                                 "block breath",
                                 "absorb physical",
                                 "absorb magic",
                                 "absorb breath",
                                 "airborne character",
                                 "seal",
                                 "heal",
                                 "vehicle heal",
                                 "lock enemy",
                                 "lock own",
                                 "kill chance",
                                 "random",
                                 "spread front",
                                 "spread front and vehicle",
                                 "pierce",
                                 "count none",
                                 "count several",
                                 "reach e",
                                 "reach a",
                                 "vehicle reach e",
                                 "vehicle reach a",
                                 "airborne vehicle",
                                 "grounded vehicle"})
        EXPECT_TRUE(seen.count(expected)) << "no bundled card has: " << expected;
}

TEST(BundledData, FilesEndEveryLineWithCrLf) {
    for (const char* file : {"card.dat", "deck0.dat", "deck1.dat"}) {
        SCOPED_TRACE(file);
        const std::string bytes = readFileBytes(DataDir + file);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
        EXPECT_EQ(bytes.find('\x1a'), std::string::npos) << "byte 26 would end the file early";
        std::string withoutCrLf;
        for (size_t i = 0; i < bytes.size(); ++i)
            if (bytes.compare(i, 2, "\r\n") == 0)
                ++i;
            else
                withoutCrLf += bytes[i];
        EXPECT_EQ(withoutCrLf.find_first_of("\r\n"), std::string::npos) << "a lone CR or LF";
    }
}

TEST(BundledData, EveryDeckLineOffersNineCardsNearItsDeckSize) {
    const CardCatalogue& catalogue = bundledCatalogue();
    for (int side = 0; side < 2; ++side) {
        const DeckList list = DeckList::load(DataDir + "deck" + std::to_string(side) + ".dat");
        ASSERT_GE(list.lines().size(), 3u);
        for (size_t n = 0; n < list.lines().size(); ++n) {
            const std::string& line = list.lines()[n];
            SCOPED_TRACE(line);
            SideSelection selection;
            applyDeckLine(line, selection, catalogue);
            EXPECT_NE(selection.vehicle, 0);
            int32_t total = 0;
            for (int32_t id : selection.characters) {
                EXPECT_NE(id, 0);
                total += catalogue.character(id).size;
            }
            // The line is what the add button would have written at this place in the list.
            EXPECT_EQ(line, formatDeckLine(selection, static_cast<int>(n)));
            // The optimizer refuses a start team over its deck size, and the first lines are its default.
            const int32_t allowance = catalogue.vehicle(selection.vehicle).size;
            EXPECT_LE(total, allowance);
            EXPECT_GE(total, allowance - 8);
        }
    }
}

TEST(BundledData, NoDeckLineStacksACardOrHoldsOneThatCannotReachAVehicle) {
    const CardCatalogue& catalogue = bundledCatalogue();
    for (int side = 0; side < 2; ++side) {
        const DeckList list = DeckList::load(DataDir + "deck" + std::to_string(side) + ".dat");
        for (const std::string& line : list.lines()) {
            SCOPED_TRACE(line);
            SideSelection selection;
            applyDeckLine(line, selection, catalogue);
            std::map<int32_t, int> copies;
            for (int32_t id : selection.characters) {
                // The showcase decks of a balanced set should not lean on three copies of one card.
                EXPECT_LE(++copies[id], 2) << "character " << id;
                // Left last on the field against an airborne vehicle, such a card could never end the battle.
                EXPECT_NE(catalogue.characterTraits(id).vehicleReach, 'e') << "character " << id;
            }
        }
    }
}

TEST(BundledData, DefaultDecksMostlyFinishWithinSixToSixtyTurnsAndBothCanWin) {
    const DeckList top = DeckList::load(DataDir + "deck0.dat");
    const DeckList bottom = DeckList::load(DataDir + "deck1.dat");
    ASSERT_FALSE(top.lines().empty());
    ASSERT_FALSE(bottom.lines().empty());
    const TurnSpread spread = playSeeds(teamsOf(top.lines()[0], bottom.lines()[0]), 300);
    EXPECT_EQ(spread.capped, 0) << "a battle has no turn limit in the desktop program";
    EXPECT_GE(spread.withinRange * 4, spread.battles * 3);
    EXPECT_GE(spread.topWins * 5, spread.battles);
    EXPECT_GE(spread.bottomWins * 5, spread.battles);
}

TEST(BundledData, EveryPairOfBundledDecksMostlyFinishesWithinSixToSixtyTurns) {
    const DeckList top = DeckList::load(DataDir + "deck0.dat");
    const DeckList bottom = DeckList::load(DataDir + "deck1.dat");
    for (const std::string& topLine : top.lines()) {
        for (const std::string& bottomLine : bottom.lines()) {
            SCOPED_TRACE(topLine + " vs " + bottomLine);
            const TurnSpread spread = playSeeds(teamsOf(topLine, bottomLine), 100);
            EXPECT_EQ(spread.capped, 0);
            EXPECT_GE(spread.withinRange * 4, spread.battles * 3);
        }
    }
}
