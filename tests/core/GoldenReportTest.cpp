// Whole battles pinned byte for byte. A change to any rule, draw or literal shows up
// here as a differing report. After a deliberate change, rerun with
// MORVANE_UPDATE_GOLDEN=1 to rewrite the files, and review their diff.

#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/AtomicFile.h"
#include "common/Clock.h"
#include "common/Files.h"
#include "common/Random.h"
#include "report/ReportSink.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace morvane;

namespace {

const std::filesystem::path Golden = std::filesystem::path(MORVANE_SOURCE_DIR) / "tests" / "data" / "golden";

struct Case {
    const char* file;
    const char* top;
    const char* bottom;
    uint32_t seed;
    int winner;
    int32_t turns;
};

const Case Cases[] = {
    {"seed-1.html", "V001C003C011C012C007C021C019C020C005:000", "V004C018C016C024C022C025C039C044C002:000", 1, 0, 18},
    {"seed-7.html", "V001C003C011C012C007C021C019C020C005:000", "V004C018C016C024C022C025C039C044C002:000", 7, 0, 18},
    {"seed-max.html", "V001C003C011C012C007C021C019C020C005:000", "V004C018C016C024C022C025C039C044C002:000",
     4294967295u, 1, 31},
    {"pair-2-seed-99.html", "V002C030C038C023C043C027C036C026C014:001", "V005C002C003C042C015C008C012C019C011:003", 99,
     1, 27},
};

} // namespace

TEST(GoldenReport, WholeBattlesMatchTheirPinnedReportsByteForByte) {
    CardCatalogue catalogue;
    catalogue.load(Golden / "card.dat");
    const bool update =
        std::getenv("MORVANE_UPDATE_GOLDEN") != nullptr; // NOLINT(concurrency-mt-unsafe): no threads yet
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.file);
        Teams teams;
        Deck0Set(c.top, teams, catalogue);
        Deck1Set(c.bottom, teams, catalogue);
        Random random(c.seed);
        MemoryReportSink sink;
        Battle battle(catalogue, random, &sink);
        const FixedClock clock("00:00:00");
        battle.report().setClock(clock);
        const BattleOutcome outcome = battle.play(teams, 10000);
        ASSERT_FALSE(outcome.capped());
        const std::filesystem::path file = Golden / c.file;
        if (update)
            writeFileAtomic(file, sink.text());
        const std::string expected = readFileBytes(file);
        EXPECT_TRUE(sink.text() == expected) << "report differs from " << file;
        EXPECT_EQ(outcome.winner, c.winner);
        EXPECT_EQ(outcome.turns, c.turns);
        // The closing lines name the side whose vehicle survived.
        const std::string result = c.winner == 0 ? "<font color=\"Blue\">" : "<font color=\"Red\">";
        EXPECT_NE(expected.find("<a name=\"end\">\r\n" + result), std::string::npos);
        EXPECT_EQ(expected.substr(expected.size() - 6), "</a>\r\n");
    }
}

TEST(GoldenReport, TheSameSeedGivesTheSameReportWithOrWithoutText) {
    // The no-report path must make exactly the same draws and state changes.
    CardCatalogue catalogue;
    catalogue.load(Golden / "card.dat");
    for (uint32_t seed = 1; seed <= 50; ++seed) {
        Teams teams;
        Deck0Set(Cases[0].top, teams, catalogue);
        Deck1Set(Cases[0].bottom, teams, catalogue);
        Random withText(seed), withoutText(seed);
        MemoryReportSink sink;
        Battle a(catalogue, withText, &sink), b(catalogue, withoutText);
        const BattleOutcome ra = a.play(teams, 10000);
        const BattleOutcome rb = b.play(teams, 10000);
        EXPECT_EQ(ra.winner, rb.winner);
        EXPECT_EQ(ra.turns, rb.turns);
        EXPECT_EQ(withText.seed(), withoutText.seed());
        EXPECT_EQ(a.state().slots, b.state().slots);
    }
}
