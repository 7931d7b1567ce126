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
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

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
    // Starts morvane-cli batch on the test root, catalogue, seed and time, with stdout
    // and stderr going to files.
    pid_t start(std::vector<std::string> more = {}) {
        std::vector<std::string> args{std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli", "batch", root.string()};
        args.insert(args.end(), {"--cards", cards.string(), "--seed", "7", "--time", "12:00:00"});
        args.insert(args.end(), more.begin(), more.end());
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
    Ran run(std::vector<std::string> more = {}) { return finish(start(std::move(more))); }
};

const char* winnerName(int winner) {
    return winner == 0 ? "top" : winner == 1 ? "bottom" : "none";
}

TEST_F(BatchCommandTest, BattlesShareOneGeneratorInFolderOrderAndEachFolderGetsItsOwnReport) {
    dropDecks(0, TopDeck, BottomDeck);
    dropDecks(2, OtherTopDeck, OtherBottomDeck);
    const Ran first = run({"--last", "2", "--max-turns", "50"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err, "") << "no progress line when stderr is not a terminal";

    // The same two battles, played one after the other from one generator.
    CardCatalogue catalogue;
    catalogue.load(cards);
    Random random(7);
    std::string expected;
    for (int n : {0, 2}) {
        MemoryReportSink sink;
        Battle battle(catalogue, random, &sink);
        battle.report().setClock([] { return std::string("12:00:00"); });
        Teams teams;
        Deck0Set(n == 0 ? TopDeck : OtherTopDeck, teams, catalogue);
        Deck1Set(n == 0 ? BottomDeck : OtherBottomDeck, teams, catalogue);
        const BattleOutcome outcome = playBattle(battle, teams, 50);
        EXPECT_EQ(report(n), sink.text()) << "folder " << n;
        expected +=
            batchName(n) + " winner=" + winnerName(outcome.winner) + " turns=" + std::to_string(outcome.turns) + "\n";
    }
    EXPECT_EQ(first.out, expected);
    EXPECT_FALSE(hasReport(1));

    const Ran again = run({"--last", "2"});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, "") << "done folders are left alone";
}

TEST_F(BatchCommandTest, TurnCapKeepsTheReportAsItStandsAndTheScanGoesOn) {
    dropDecks(0, TopDeck, BottomDeck);
    dropDecks(1, OtherTopDeck, OtherBottomDeck);
    const Ran capped = run({"--max-turns", "1"});
    EXPECT_EQ(capped.status, 0) << capped.err;
    EXPECT_EQ(capped.out, "0000 winner=none turns=1\n0001 winner=none turns=1\n");
    EXPECT_EQ(report(1).find("<a name=\"end\">"), std::string::npos) << "an unfinished battle has no result lines";
}

TEST_F(BatchCommandTest, FirstBadFolderStopsTheRunWithOneErrorLineNamingIt) {
    const std::pair<std::string, std::string> badDecks[] = {
        {OtherTopDeck, ""},          // one-line deck.dat
        {EmptySlotDeck, BottomDeck}, // the battle cannot start
        {HaltingDeck, BottomDeck},   // the battle halts on its first turn
    };
    for (const auto& [top, bottom] : badDecks) {
        SCOPED_TRACE(top);
        fs::remove_all(root);
        dropDecks(0, TopDeck, BottomDeck);
        writeAll(folder(1) / "deck.dat", top + "\r\n" + bottom);
        dropDecks(2, TopDeck, BottomDeck);
        const Ran stopped = run({"--last", "2"});
        EXPECT_EQ(stopped.status, 2);
        EXPECT_EQ(stopped.out.substr(0, 5), "0000 ");
        EXPECT_EQ(stopped.out.find("0001"), std::string::npos) << stopped.out;
        EXPECT_EQ(stopped.err.rfind("morvane-cli: " + folder(1).string() + "/", 0), 0u) << stopped.err;
        EXPECT_EQ(stopped.err.find('\n'), stopped.err.size() - 1) << "one line";
        EXPECT_EQ(filesIn(1), 1u) << "no report, whole or partial";
        EXPECT_FALSE(hasReport(2)) << "the run stops at the bad folder";
    }

    root = "";
    EXPECT_EQ(run().status, 2) << "an empty root is refused, never taken as /";
}

TEST_F(BatchCommandTest, WatchPlaysDecksDroppedLaterAndEndsCleanlyOnInterrupt) {
    dropDecks(0, TopDeck, BottomDeck);
    const pid_t pid = start({"--watch"});
    auto waitForReport = [&](int n) {
        for (int i = 0; i < 100 && !hasReport(n); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return hasReport(n);
    };
    EXPECT_TRUE(waitForReport(0));
    dropDecks(1, OtherTopDeck, OtherBottomDeck);
    EXPECT_TRUE(waitForReport(1)) << "a later scan finds the new deck pair";
    ::kill(pid, SIGINT);
    const Ran watched = finish(pid);
    EXPECT_EQ(watched.status, 0) << watched.err;
    EXPECT_EQ(watched.out.substr(0, 5), "0000 ");
    EXPECT_EQ(watched.out.find("\n0001 "), watched.out.find('\n')) << watched.out;
}

} // namespace
} // namespace morvane::test
