// morvane-cli stats and league as a user runs them: the built program with the
// bundled data of its folder.

#include "common/Codec.h"
#include "common/TextLines.h"
#include "stats/Statistics.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace morvane {
namespace {

const std::string Program = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";

using CommandRun = test::ProgramRun;

// Arguments as a shell would split them, since some tests quote deck lines.
CommandRun run(const std::string& arguments) {
    return test::runProgram("/bin/sh", {"-c", Program + " " + arguments});
}

// The number after "key": at or after from; the search moves past it.
double number(const std::string& json, const std::string& key, size_t* from = nullptr) {
    size_t start = from ? *from : 0;
    const size_t at = json.find("\"" + key + "\": ", start);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no " << key << " in " << json;
        return -1;
    }
    const size_t value = at + key.size() + 4;
    if (from)
        *from = value;
    return std::stod(json.substr(value, 32));
}

std::string firstDeckLine(int side) {
    return readTextLines(deckFilePath(MORVANE_PROGRAM_DIR, side)).front().text;
}

TEST(StatsCommand, JsonHoldsEveryFigureAndTheyAddUp) {
    const CommandRun r = run("stats --battles 200 --threads 2 --seed 5 --json");
    ASSERT_EQ(r.status, 0) << r.out;
    for (const char* key : {"battles", "top_wins", "bottom_wins", "undecided", "top_win_rate", "top_win_rate_ci",
                            "bottom_win_rate", "bottom_win_rate_ci", "turns_total", "turns_mean", "turns_median",
                            "turns_max", "threads", "seed", "seconds", "battles_per_second", "turns_per_second"})
        EXPECT_NE(r.out.find(std::string("\"").append(key) + "\": "), std::string::npos) << key;
    EXPECT_EQ(number(r.out, "battles"), 200);
    EXPECT_EQ(number(r.out, "top_wins") + number(r.out, "bottom_wins") + number(r.out, "undecided"), 200);
    EXPECT_DOUBLE_EQ(number(r.out, "top_win_rate"), number(r.out, "top_wins") / 200);
    EXPECT_DOUBLE_EQ(number(r.out, "turns_mean"), number(r.out, "turns_total") / 200);
    const size_t ci = r.out.find("\"top_win_rate_ci\": [");
    ASSERT_NE(ci, std::string::npos);
    const double low = std::stod(r.out.substr(ci + 20, 30));
    const double high = std::stod(r.out.substr(r.out.find(", ", ci + 20) + 2, 30));
    EXPECT_LT(low, number(r.out, "top_win_rate"));
    EXPECT_GT(high, number(r.out, "top_win_rate"));
    EXPECT_EQ(number(r.out, "seed"), 5);
    EXPECT_EQ(number(r.out, "threads"), 2);
}

TEST(StatsCommand, BattleSeedReplaysEachBattleOfTheRun) {
    // Battles 0 to 5 of seed 777, each replayed with its report by the battle command,
    // must add up to what stats counted; and battle 5 alone is the difference of runs
    // of 6 and 5 battles.
    const test::TempFolder folder;
    const std::string report = (folder / "replay.html").string();
    const int battles = 6;
    int topWins = 0, bottomWins = 0, turns = 0, lastWinner = -1, lastTurns = 0;
    for (int i = 0; i < battles; ++i) {
        const CommandRun seedOf = run("stats --seed 777 --seed-of " + std::to_string(i));
        ASSERT_NE(seedOf.out.find("--seed " + std::to_string(battleSeed(777, static_cast<uint64_t>(i)))),
                  std::string::npos)
            << seedOf.out;
        const CommandRun battle = run("battle --seed " + std::to_string(battleSeed(777, static_cast<uint64_t>(i))) +
                                      " -o " + report + " --time 00:00:00");
        ASSERT_EQ(battle.status, 0) << battle.out;
        const bool top = battle.out.rfind("winner=top turns=", 0) == 0;
        ASSERT_TRUE(top || battle.out.rfind("winner=bottom turns=", 0) == 0) << battle.out;
        lastWinner = top ? 0 : 1;
        lastTurns = std::stoi(battle.out.substr(battle.out.find("turns=") + 6));
        (lastWinner == 0 ? topWins : bottomWins) += 1;
        turns += lastTurns;
    }
    std::filesystem::remove(report);
    const CommandRun all = run("stats --battles 6 --seed 777 --threads 2 --json");
    EXPECT_EQ(number(all.out, "top_wins"), topWins);
    EXPECT_EQ(number(all.out, "bottom_wins"), bottomWins);
    EXPECT_EQ(number(all.out, "turns_total"), turns);
    const CommandRun fewer = run("stats --battles 5 --seed 777 --threads 1 --json");
    EXPECT_EQ(number(all.out, "top_wins") - number(fewer.out, "top_wins"), lastWinner == 0 ? 1 : 0);
    EXPECT_EQ(number(all.out, "turns_total") - number(fewer.out, "turns_total"), lastTurns);
}

TEST(StatsCommand, RefusesEachBadOptionWithStatus2AndALineThatNamesIt) {
    // Each refused for its own reason, before a battle is played or a line printed.
    const std::pair<const char*, const char*> cases[] = {
        {"stats --battles 0", "--battles wants a whole number from 1 to 4294967296, not '0'"},
        {"stats --threads 0", "--threads wants a whole number from 1 to 1024, not '0'"},
        {"stats --seed -1", "--seed wants a whole number from 0 to 4294967295, not '-1'"},
        {"stats --max-turns x", "--max-turns wants a whole number from 1 to 2147483647, not 'x'"},
        {"stats --seed-of 3", "--seed-of needs the --seed of the run"},
        {"stats --top V001", "--top deck line: '' は整数ではありません"},
        {"league", "league needs --decks FILE"},
        {"league --decks /nonexistent/decks.dat", "/nonexistent/decks.dat: ﾌｧｲﾙが見つかりません"},
    };
    for (const auto& [args, message] : cases) {
        const CommandRun r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_EQ(r.err, std::string("morvane-cli: ") + message + "\n") << args;
    }
}

TEST(LeagueCommand, PlaysEveryPairBothWaysRoundAsStatsWould) {
    const std::string a = firstDeckLine(0), b = firstDeckLine(1);
    const std::string quotedA = std::string("'").append(cp932ToUtf8(a)) + "'";
    const std::string quotedB = std::string("'").append(cp932ToUtf8(b)) + "'";
    const test::TempFolder folder;
    const std::filesystem::path decks = folder / "league.dat";
    {
        std::ofstream out(decks, std::ios::binary);
        out << a << "\r\n" << b << "\r\n";
    }
    const CommandRun single = run("league --decks " + decks.string() + " --battles 1");
    const CommandRun league = run("league --decks " + decks.string() + " --battles 150 --seed 31 --threads 2 --json");
    ASSERT_EQ(league.status, 0) << league.out;
    const CommandRun ab = run("stats --top " + quotedA + " --bottom " + quotedB + " --battles 150 --seed 31 --json");
    const CommandRun ba = run("stats --top " + quotedB + " --bottom " + quotedA + " --battles 150 --seed 31 --json");

    // pairs come in order: #1 on top against #2, then #2 on top against #1
    size_t at = league.out.find("\"pairs\"");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(number(league.out, "top", &at), 1);
    EXPECT_EQ(number(league.out, "top_wins", &at), number(ab.out, "top_wins"));
    EXPECT_EQ(number(league.out, "bottom_wins", &at), number(ab.out, "bottom_wins"));
    EXPECT_EQ(number(league.out, "top", &at), 2);
    EXPECT_EQ(number(league.out, "top_wins", &at), number(ba.out, "top_wins"));
    EXPECT_EQ(number(league.out, "bottom_wins", &at), number(ba.out, "bottom_wins"));

    // Deck #1's wins: on top against #2, and below against #2 on top.
    const double wins1 = number(ab.out, "top_wins") + number(ba.out, "bottom_wins");
    size_t deck1 = league.out.find("\"deck\": 1,");
    EXPECT_EQ(number(league.out, "wins", &deck1), wins1);
    EXPECT_EQ(number(league.out, "battles", &deck1), 300);
    const size_t matrix = league.out.find("\"matrix\": [[null, ");
    ASSERT_NE(matrix, std::string::npos) << league.out;
    EXPECT_DOUBLE_EQ(std::stod(league.out.substr(matrix + 19, 30)), wins1 / 300); // #1 against #2

    // One deck line is no league.
    {
        std::ofstream out(decks, std::ios::binary);
        out << a << "\r\n";
    }
    EXPECT_EQ(single.status, 0);
    EXPECT_EQ(run("league --decks " + decks.string()).status, 2);
}

} // namespace
} // namespace morvane
