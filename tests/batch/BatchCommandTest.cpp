// morvane-cli batch, run as the built program on a temporary root.

#include "battle/Battle.h"
#include "battle/PlayBattle.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Random.h"
#include "report/ReportSink.h"

#include "batch/BatchTesting.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace morvane::test {
namespace {

struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

class BatchCommandTest : public BatchFolderTest {
protected:
    // Starts morvane-cli with stdout and stderr going to files of the temporary folder.
    pid_t start(std::vector<std::string> args) {
        args.insert(args.begin(), {std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli", "batch"});
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, (base / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, (base / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&files);
        return pid;
    }
    Ran finish(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readAll(base / "out"),
                readAll(base / "err")};
    }
    Ran run(std::vector<std::string> args) { return finish(start(std::move(args))); }
    // The usual arguments: the root, the test catalogue, a fixed seed and time.
    std::vector<std::string> batch(std::vector<std::string> more = {}) {
        std::vector<std::string> args{root.string(), "--cards", cards.string(), "--seed", "7", "--time", "12:00:00"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    if (start < text.size())
        out.push_back(text.substr(start));
    return out;
}

TEST_F(BatchCommandTest, PlaysReadyFoldersOnceAndAgainWhenTheirReportIsDeleted) {
    Ran first = run(batch());
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "");
    EXPECT_EQ(first.err, "") << "no progress line when stderr is not a terminal";
    EXPECT_TRUE(fs::is_directory(folder(0)));
    EXPECT_TRUE(fs::is_directory(folder(1)));

    dropDecks(0, TopDeck, BottomDeck);
    dropDecks(2, OtherTopDeck, OtherBottomDeck);
    Ran second = run(batch({"--last", "2"}));
    EXPECT_EQ(second.status, 0) << second.err;
    const std::vector<std::string> played = lines(second.out);
    ASSERT_EQ(played.size(), 2u) << second.out;
    const std::regex line("(\\d{4}) winner=(top|bottom) turns=[1-9]\\d*");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(played[0], m, line)) << played[0];
    EXPECT_EQ(m[1], "0000");
    ASSERT_TRUE(std::regex_match(played[1], m, line)) << played[1];
    EXPECT_EQ(m[1], "0002");
    const std::string report0 = report(0);
    EXPECT_EQ(report0.rfind("<html>\r\n", 0), 0u);
    EXPECT_NE(report0.find("12:00:00"), std::string::npos);
    EXPECT_FALSE(hasReport(1));
    for (const auto& entry : fs::directory_iterator(folder(0)))
        EXPECT_TRUE(entry.path().filename() == "deck.dat" || entry.path().filename() == "battle.html")
            << "left behind: " << entry.path();

    Ran third = run(batch({"--last", "2", "--seed", "99"}));
    EXPECT_EQ(third.status, 0);
    EXPECT_EQ(third.out, "") << "done folders are left alone";
    EXPECT_EQ(report(0), report0);

    fs::remove(folder(2) / "battle.html");
    Ran fourth = run(batch({"--last", "2"}));
    EXPECT_EQ(fourth.status, 0);
    ASSERT_EQ(lines(fourth.out).size(), 1u) << fourth.out;
    EXPECT_EQ(fourth.out.substr(0, 5), "0002 ") << "only the folder whose report was deleted is played";
    EXPECT_TRUE(hasReport(2));
}

TEST_F(BatchCommandTest, OneGeneratorServesTheBattlesInFolderOrder) {
    dropDecks(0, TopDeck, BottomDeck);
    dropDecks(1, OtherTopDeck, OtherBottomDeck);
    Ran result = run(batch({"--max-turns", "50"}));
    ASSERT_EQ(result.status, 0) << result.err;

    // The same two battles played one after the other from one generator, by hand.
    CardCatalogue catalogue;
    catalogue.load(cards);
    Random random(7);
    std::string expectedOut;
    for (int n = 0; n < 2; ++n) {
        MemoryReportSink sink;
        Battle battle(catalogue, random, &sink);
        battle.report().setClock([] { return std::string("12:00:00"); });
        Teams teams;
        Deck0Set(n == 0 ? TopDeck : OtherTopDeck, teams, catalogue);
        Deck1Set(n == 0 ? BottomDeck : OtherBottomDeck, teams, catalogue);
        const BattleOutcome outcome = playBattle(battle, teams, 50);
        EXPECT_EQ(report(n), sink.text()) << "folder " << n;
        expectedOut += "000" + std::to_string(n) + " winner=" +
                       (outcome.winner == 0   ? "top"
                        : outcome.winner == 1 ? "bottom"
                                              : "none") +
                       " turns=" + std::to_string(outcome.turns) + "\n";
    }
    EXPECT_EQ(result.out, expectedOut);
    EXPECT_NE(report(0), report(1));
}

TEST_F(BatchCommandTest, TurnCapKeepsTheReportAsItStandsAndTheScanGoesOn) {
    dropDecks(0, TopDeck, BottomDeck);
    dropDecks(1, OtherTopDeck, OtherBottomDeck);
    Ran result = run(batch({"--max-turns", "1"}));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "0000 winner=none turns=1\n0001 winner=none turns=1\n");
    EXPECT_TRUE(hasReport(0));
    EXPECT_TRUE(hasReport(1));
    EXPECT_EQ(report(1).find("<a name=\"end\">"), std::string::npos) << "an unfinished battle has no result lines";
}

TEST_F(BatchCommandTest, FirstBadFolderStopsTheRunWithOneLineNamingIt) {
    struct Case {
        const char* what;
        std::string top;
        std::string bottom;
        std::string named;
    };
    const Case cases[] = {
        {"one-line deck.dat", OtherTopDeck, "", "0001/deck.dat"},
        {"battle cannot start", EmptySlotDeck, BottomDeck, "0001/"},
        {"battle halts", HaltingDeck, BottomDeck, "0001/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root);
        dropDecks(0, TopDeck, BottomDeck);
        writeAll(folder(1) / "deck.dat", c.top + "\r\n" + (c.bottom.empty() ? "" : c.bottom + "\r\n"));
        dropDecks(2, TopDeck, BottomDeck);
        Ran result = run(batch({"--last", "2"}));
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(lines(result.out).size(), 1u) << result.out;
        EXPECT_EQ(result.out.rfind("0000 ", 0), 0u) << result.out;
        ASSERT_EQ(lines(result.err).size(), 1u) << result.err;
        EXPECT_EQ(result.err.rfind("morvane-cli: " + folder(1).string(), 0), 0u) << result.err;
        EXPECT_NE(result.err.find(c.named), std::string::npos) << result.err;
        EXPECT_TRUE(hasReport(0));
        EXPECT_FALSE(hasReport(1));
        EXPECT_FALSE(hasReport(2)) << "the run stops at the bad folder";
        EXPECT_EQ(std::distance(fs::directory_iterator(folder(1)), fs::directory_iterator()), 1);
    }
}

TEST_F(BatchCommandTest, UsageMistakesAreRefused) {
    Ran help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: morvane-cli batch ROOT", 0), 0u) << help.out;

    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run(batch({"--last", "-1"})).status, 2);
    EXPECT_EQ(run(batch({"--last", "10000"})).status, 2);
    EXPECT_EQ(run(batch({"extra"})).status, 2);
    Ran empty = run({"", "--cards", cards.string()});
    EXPECT_EQ(empty.status, 2) << "an empty root is refused, never taken as /";
    EXPECT_EQ(lines(empty.err).size(), 1u) << empty.err;
}

TEST_F(BatchCommandTest, WatchPlaysNewDecksAndEndsCleanlyOnInterrupt) {
    dropDecks(0, TopDeck, BottomDeck);
    const pid_t pid = start(batch({"--watch"}));
    auto waitFor = [&](auto done) {
        for (int i = 0; i < 100 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return done();
    };
    ASSERT_TRUE(waitFor([&] { return hasReport(0); }));
    dropDecks(1, OtherTopDeck, OtherBottomDeck);
    EXPECT_TRUE(waitFor([&] { return hasReport(1); })) << "a later scan finds the new deck pair";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid, SIGINT);
    const auto interruptedAt = std::chrono::steady_clock::now();
    Ran result = finish(pid);
    EXPECT_LT(std::chrono::steady_clock::now() - interruptedAt, std::chrono::seconds(2));
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> played = lines(result.out);
    ASSERT_EQ(played.size(), 2u) << result.out;
    EXPECT_EQ(played[0].substr(0, 5), "0000 ");
    EXPECT_EQ(played[1].substr(0, 5), "0001 ");
}

} // namespace
} // namespace morvane::test
