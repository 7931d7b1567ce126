#pragma once
// A battle on a hand-made catalogue with its report in memory, for tests that play
// single actions, attacks and turns and read back the lines they wrote.

#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Clock.h"
#include "common/Random.h"
#include "report/ReportSink.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace morvane::test {

inline std::string blue(const std::string& name) {
    return "<font color=\"Blue\">" + name + "</font>";
}
inline std::string red(const std::string& name) {
    return "<font color=\"Red\">" + name + "</font>";
}

class Arena : public ::testing::Test {
protected:
    // Character 1 is a plain filler "兵"; vehicles 1 "甲車" and 2 "乙車" serve the top
    // and bottom sides unless a test says otherwise.
    void load(std::vector<Card> cards, std::vector<Vehicle> vehicles = {}) {
        std::vector<std::string> lines{Card{.id = 1, .name = "兵"}.line()};
        for (const Card& c : cards)
            lines.push_back(c.line());
        if (vehicles.empty())
            vehicles = {Vehicle{.id = 1, .name = "甲車"}, Vehicle{.id = 2, .name = "乙車"}};
        for (const Vehicle& v : vehicles)
            lines.push_back(v.line());
        catalogue.loadBytes(cardFile(lines));
        battle = std::make_unique<Battle>(catalogue, random, &sink);
        battle->report().setClock(clock);
    }

    // Starts a battle with the given cards by slot (others: filler, vehicles 1 and 2),
    // with formation 0 on both sides (Front = 3, 2, 1 / 11, 12, 13) and the report open
    // but without its head, so a test sees only the lines it causes.
    void stage(std::map<int, int> cardBySlot = {}) {
        Teams teams;
        for (int side = 0; side < 2; ++side) {
            teams.side[side].vehicle = side + 1;
            teams.side[side].characters.fill(1);
        }
        for (auto [slot, id] : cardBySlot) {
            if (slot % 10 == 9)
                teams.side[slot / 10].vehicle = id;
            else
                teams.side[slot / 10].characters[slot % 10 - 1] = id;
        }
        battle->start(teams);
        battle->ApplyFormation(0, 0);
        state().ReportOpen = true;
        sink.open();
    }

    BattleState& state() { return battle->state(); }
    int32_t& hp(int slot) { return state().slots[slot].hp; }

    // Report lines written since stage(), as UTF-8.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        const std::string& text = sink.text();
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            out.push_back(cp932ToUtf8(text.substr(start, end - start)));
        EXPECT_EQ(start, text.size()) << "every line ends with CR LF";
        return out;
    }

    FixedClock clock{"12:34:56"};
    CardCatalogue catalogue;
    Random random{1};
    MemoryReportSink sink;
    std::unique_ptr<Battle> battle;
};

using Lines = std::vector<std::string>;

} // namespace morvane::test
