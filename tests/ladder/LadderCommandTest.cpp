// Ladder work played by 'morvane-cli batch --watch' processes sharing a root, one of
// them killed mid-unit, and a battle of a match replayed by 'morvane-cli battle'.

#include "cards/CardCatalogue.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "ladder/LadderWork.h"

#include "batch/BatchTesting.h"
#include "support/Process.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace morvane::test {
namespace {

const std::string Cli = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";

class LadderCommandTest : public BatchFolderTest {
protected:
    void SetUp() override {
        BatchFolderTest::SetUp();
        catalogue.load(cards);
    }

    // Starts 'morvane-cli batch ROOT --watch' with stdout and stderr going to files.
    pid_t startWatch(const std::string& name, const std::vector<std::string>& more = {}) {
        std::vector<std::string> args{Cli,       "batch",  root.string(), "--cards", cards.string(),
                                      "--watch", "--seed", "7",           "--time",  "12:00:00"};
        args.insert(args.end(), more.begin(), more.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        const fs::path out = base / (name + "out"), err = base / (name + "err");
        posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&files);
        return pid;
    }
    // Ends a watch with Ctrl-C; its exit status.
    int interrupt(pid_t pid) {
        ::kill(pid, SIGINT);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string outOf(const std::string& name) const { return readAll(base / (name + "out")); }
    std::string errOf(const std::string& name) const { return readAll(base / (name + "err")); }

    fs::path unitFolder(const std::string& id) const { return root / "ladder" / "work" / id; }
    bool answered(const std::string& id) const { return fs::exists(unitFolder(id) / "answer.dat"); }
    template <class Done> static bool waitFor(Done done, int seconds = 60) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    CardCatalogue catalogue;
};

MatchOrder order(const std::string& a, const std::string& b, unsigned battles, uint32_t seed) {
    return {deckLineIds(a), deckLineIds(b), battles, seed};
}

std::vector<MatchOrder> matchesFor(unsigned unit, size_t count, unsigned battles) {
    const std::string decks[] = {TopDeck, BottomDeck, OtherTopDeck, OtherBottomDeck};
    std::vector<MatchOrder> matches;
    for (size_t i = 0; i < count; ++i)
        matches.push_back(order(decks[(unit + i) % 4], decks[(unit + 2 * i + 1) % 4], battles,
                                unit * 1000 + static_cast<uint32_t>(i)));
    return matches;
}

TEST_F(LadderCommandTest, TwoWatchingRunsAnswerEveryUnitOnceBesideTheBattleFolders) {
    constexpr unsigned Units = 30;
    std::map<std::string, std::string> expected;
    for (unsigned u = 0; u < Units; ++u) {
        const std::vector<MatchOrder> matches = matchesFor(u, 1 + u % 5, 1 + u % 7);
        const std::string id = "u" + std::to_string(u);
        submitWork(root, {id, WorkKind::Matches, formatMatchOrders(matches)});
        expected[id] = formatMatchCounts(playMatches(catalogue, matches, 1));
    }
    dropDecks(0, TopDeck, BottomDeck);
    dropDecks(1, OtherTopDeck, OtherBottomDeck);
    const pid_t a = startWatch("a", {"--threads", "1"});
    const pid_t b = startWatch("b", {"--threads", "2"});
    ASSERT_TRUE(waitFor([&] {
        for (const auto& [id, answer] : expected)
            if (!answered(id))
                return false;
        return hasReport(0) && hasReport(1);
    }));
    EXPECT_EQ(interrupt(a), 0) << errOf("a");
    EXPECT_EQ(interrupt(b), 0) << errOf("b");

    std::map<std::string, int> printed;
    int battles = 0;
    for (const std::string& out : {outOf("a"), outOf("b")}) {
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("ladder ", 0) == 0)
                ++printed[line.substr(7, line.find(' ', 7) - 7)];
            else
                ++battles;
        }
    }
    EXPECT_EQ(battles, 2) << "each battle folder played once";
    EXPECT_EQ(printed.size(), Units);
    for (const auto& [id, answer] : expected) {
        EXPECT_EQ(printed[id], 1) << id;
        EXPECT_EQ(readAll(unitFolder(id) / "answer.dat"), answer) << id;
        EXPECT_FALSE(fs::exists(unitFolder(id) / ".morvane-claim")) << id;
    }
}

TEST_F(LadderCommandTest, ARunKilledMidUnitLosesNothingTheNextRunAnswersItAlike) {
    // Long enough that the kill finds it under way.
    const std::vector<MatchOrder> matches = matchesFor(1, 120, 1000);
    submitWork(root, {"long", WorkKind::Matches, formatMatchOrders(matches)});
    const pid_t killed = startWatch("k", {"--threads", "1"});
    ASSERT_TRUE(waitFor([&] { return fs::exists(unitFolder("long") / ".morvane-claim"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(killed, SIGKILL);
    int status = 0;
    ::waitpid(killed, &status, 0);
    ASSERT_FALSE(answered("long")) << "killed before its answer";
    EXPECT_TRUE(fs::exists(unitFolder("long") / ".morvane-claim")) << "its claim is left behind";

    // Its process is known to be gone on this machine: taken over at once.
    const pid_t next = startWatch("n", {"--threads", "2"});
    ASSERT_TRUE(waitFor([&] { return answered("long"); }, 300));
    EXPECT_EQ(interrupt(next), 0) << errOf("n");
    EXPECT_EQ(readAll(unitFolder("long") / "answer.dat"), formatMatchCounts(playMatches(catalogue, matches, 2)));
    EXPECT_EQ(outOf("n"), "ladder long battles=120000\n");
    EXPECT_FALSE(fs::exists(unitFolder("long") / ".morvane-claim"));
}

TEST_F(LadderCommandTest, ACutShortUnitIsAnsweredWithAnErrorAndTheRunGoesOn) {
    const std::string whole = formatWorkUnit({"x", WorkKind::Matches, formatMatchOrders(matchesFor(0, 3, 2))});
    writeAll(unitFolder("cut") / "unit.dat", whole.substr(0, whole.size() / 2));
    const std::vector<MatchOrder> good = matchesFor(2, 2, 3);
    submitWork(root, {"good", WorkKind::Matches, formatMatchOrders(good)});
    const pid_t run = startWatch("c");
    ASSERT_TRUE(waitFor([&] { return answered("cut") && answered("good"); }));
    EXPECT_EQ(interrupt(run), 0);
    EXPECT_TRUE(workError(readAll(unitFolder("cut") / "answer.dat")));
    EXPECT_EQ(readAll(unitFolder("good") / "answer.dat"), formatMatchCounts(playMatches(catalogue, good, 1)));
    EXPECT_NE(outOf("c").find("ladder cut error\n"), std::string::npos) << outOf("c");
    EXPECT_NE(errOf("c").find("cut short"), std::string::npos) << errOf("c");
}

TEST_F(LadderCommandTest, TheBattleCommandReplaysAnyBattleOfAMatchWithTheSameReport) {
    const MatchOrder match = order(OtherTopDeck, BottomDeck, 3, 31337);
    const FixedClock noon(utf8ToCp932("12:00:00"));
    unsigned winsA = 0;
    for (unsigned k = 0; k < match.battles; ++k) {
        std::istringstream words(matchBattleCommand(match, k));
        std::vector<std::string> args;
        for (std::string word; words >> word;)
            args.push_back(word);
        ASSERT_EQ(args.at(0), "morvane-cli");
        args.erase(args.begin());
        const fs::path report = base / ("battle" + std::to_string(k) + ".html");
        args.insert(args.end(), {"--cards", cards.string(), "--time", "12:00:00", "-o", report.string()});
        const ProgramRun run = runProgram(Cli, args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(readAll(report), matchBattleReport(catalogue, match, k, noon)) << k;
        winsA += run.out.find(k % 2 == 0 ? "winner=top" : "winner=bottom") == 0 ? 1 : 0;
    }
    EXPECT_EQ(winsA, playMatches(catalogue, {match}, 1)[0].winsA);
}

} // namespace
} // namespace morvane::test
