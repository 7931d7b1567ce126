// morvane-cli battle, run as users and other tools run it: its one stdout line, its
// report, its exit statuses and its one-line errors.

#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/AtomicFile.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "common/Files.h"
#include "common/Random.h"
#include "report/ReportSink.h"
#include "support/Process.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace morvane;
using namespace morvane::test;
namespace fs = std::filesystem;

namespace {

const std::string Cli = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";
const std::string Top = "V001C001C002C003C001C002C003C001C002:000";
const std::string Bottom = "V002C003C002C001C003C002C001C003C002:000";

std::string catalogueBytes() {
    return cardFile({Card{.id = 1, .hp = "12", .power = " 4", .sp = " 6", .name = "剣"}.line(),
                     Card{.id = 2, .hp = " 9", .power = " 3", .sp = " 8", .spread = "Ａ", .name = "嵐"}.line(),
                     Card{.id = 3, .hp = "15", .power = " 2", .sp = " 6", .kill = "10", .name = "影"}.line(),
                     Card{.id = 4, .power = "zz", .name = "壊"}.line(), Vehicle{.id = 1, .name = "甲車"}.line(),
                     Vehicle{.id = 2, .name = "乙車"}.line()});
}

class BattleCommand : public ::testing::Test {
protected:
    void SetUp() override { writeFileAtomic(cards(), catalogueBytes()); }
    fs::path cards() const { return dir / "card.dat"; }
    ProgramRun battle(std::vector<std::string> extra) {
        std::vector<std::string> args{"battle", "--cards", cards().string(), "--time", "12:00:00"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runProgram(Cli, args);
    }
    TempFolder dir;
};

} // namespace

TEST_F(BattleCommand, PlaysTheSameBattleAsTheEngineAndPrintsOneLine) {
    const fs::path report = dir / "out.html";
    const ProgramRun run = battle({"--top", Top, "--bottom", Bottom, "--seed", "4242", "-o", report.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    CardCatalogue catalogue;
    catalogue.loadBytes(catalogueBytes());
    Teams teams;
    Deck0Set(Top, teams, catalogue);
    Deck1Set(Bottom, teams, catalogue);
    Random random(4242);
    MemoryReportSink sink;
    Battle engine(catalogue, random, &sink);
    const FixedClock clock("12:00:00");
    engine.report().setClock(clock);
    const BattleOutcome outcome = engine.play(teams, 10000);

    EXPECT_EQ(run.out, std::string("winner=") + (outcome.winner == 0 ? "top" : "bottom") +
                           " turns=" + std::to_string(outcome.turns) + " report=" + report.string() + "\n");
    EXPECT_EQ(readFileBytes(report), sink.text());
    EXPECT_NE(sink.text().find("make time[12:00:00]<hr>\r\n"), std::string::npos);

    // Same seed, same bytes; another seed, another battle.
    const fs::path again = dir / "again.html";
    battle({"--top", Top, "--bottom", Bottom, "--seed", "4242", "-o", again.string()});
    EXPECT_EQ(readFileBytes(again), readFileBytes(report));
    battle({"--top", Top, "--bottom", Bottom, "--seed", "4243", "-o", again.string()});
    EXPECT_NE(readFileBytes(again), readFileBytes(report));
}

TEST_F(BattleCommand, DefaultsComeFromTheFolderOfTheCatalogueAndTheProgram) {
    writeFileAtomic(dir / "Deck0.dat", Top + "\r\n" + Bottom + "\r\n");
    writeFileAtomic(dir / "deck1.dat", "\n" + Bottom + "\n");
    const ProgramRun run = battle({"--seed", "1", "--time", "午後 3:04:05"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(" report=" + (dir / "battle.html").string() + "\n"), std::string::npos) << run.out;
    EXPECT_NE(readFileBytes(dir / "battle.html").find(utf8ToCp932("make time[午後 3:04:05]")), std::string::npos);

    // Without --cards the program folder's card.dat is used: copy the program there.
    fs::copy_file(Cli, dir / "morvane-cli");
    fs::remove(dir / "battle.html");
    const ProgramRun own = runProgram((dir / "morvane-cli").string(), {"battle", "--seed", "2"});
    ASSERT_EQ(own.status, 0) << own.err;
    EXPECT_TRUE(fs::exists(dir / "battle.html"));
    EXPECT_EQ(own.out.rfind("winner=", 0), 0u);

    // A folder the window plays from may spell it Card.dat: the command line finds the
    // same file the window does.
    fs::rename(dir / "card.dat", dir / "Card.dat");
    const ProgramRun spelled = runProgram((dir / "morvane-cli").string(), {"battle", "--seed", "2"});
    ASSERT_EQ(spelled.status, 0) << spelled.err;
    EXPECT_EQ(spelled.out, own.out);
}

TEST_F(BattleCommand, BadInputExitsWithTwoAndOneLineNamingWhereItCameFrom) {
    const fs::path out = (dir / "x.html");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"--top", "V001CxyzC002", "--bottom", Bottom}, "--top deck line: 'xyz' は整数ではありません"},
        {{"--top", Top, "--bottom", "V002C001C001C001C001C001C001C001C009:000"}, "C18のカードが選ばれていません"},
        {{"--top", Top, "--bottom", Bottom, "--seed", "4294967296"}, "--seed"},
        {{"--top", Top, "--bottom", Bottom, "--max-turns", "0"}, "--max-turns"},
        {{"--top", Top, "--bottom", Bottom, "--frobnicate"}, "unknown option --frobnicate"},
        {{"--bottom", Bottom}, "deck0.dat: ﾌｧｲﾙが見つかりません"},
        {{"--top", Top, "--bottom", "V001C004C004C004C004C004C004C004C004"},
         "card C004, columns 13-14: 'zz' は整数ではありません"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", out.string()});
        const ProgramRun run = battle(args);
        EXPECT_EQ(run.status, 2) << c.err;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(run.err.rfind("morvane-cli: ", 0), 0u);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }

    writeFileAtomic(cards(), catalogueBytes() + utf8ToCp932("C009物地5 10 3 5\r\n"));
    const ProgramRun bad = battle({"--top", Top, "--bottom", Bottom});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("card.dat:7: '5 ' は整数ではありません"), std::string::npos) << bad.err;

    const ProgramRun missing = runProgram(Cli, {"battle", "--cards", (dir / "none.dat").string()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("ﾌｧｲﾙが見つかりません"), std::string::npos);
}

TEST_F(BattleCommand, TheTurnCapClosesTheReportAsItStandsAndUnwritableReportsExitOne) {
    // Spread attackers of "Ｘ" attack nobody, so this battle never ends.
    writeFileAtomic(cards(), cardFile({Card{.id = 1, .spread = "Ｘ"}.line(), Vehicle{.id = 1}.line()}));
    const std::string line = "V001C001C001C001C001C001C001C001C001:000";
    const fs::path report = dir / "capped.html";
    const ProgramRun run = battle({"--top", line, "--bottom", line, "--max-turns", "7", "-o", report.string()});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "winner=none turns=7 report=" + report.string() + "\n");
    const std::string text = readFileBytes(report);
    EXPECT_NE(text.find(utf8ToCp932("<b>7ターン</b>")), std::string::npos);
    EXPECT_EQ(text.find("<a name=\"end\">"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 23), "</table></center><br>\r\n");

    const ProgramRun unwritable = battle({"--top", line, "--bottom", line, "-o", (dir / "no" / "x.html").string()});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("ﾌｧｲﾙを作成できません"), std::string::npos) << unwritable.err;
}

TEST(Cli, HelpDescribesEveryOptionAndUnknownCommandsFail) {
    const ProgramRun help = runProgram(Cli, {"battle", "--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--cards", "--top", "--bottom", "--seed", "--time", "-o", "--max-turns", "winner="})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_EQ(runProgram(Cli, {"nonsense"}).status, 2);
    EXPECT_EQ(runProgram(Cli, {}).status, 2);
    EXPECT_EQ(runProgram(Cli, {"--help"}).status, 0);
}
