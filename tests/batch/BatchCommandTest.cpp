// morvane-cli batch, run as the built program on a temporary root.

#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Clock.h"
#include "common/Random.h"
#include "report/ReportSink.h"

#include "batch/BatchTesting.h"
#include "support/Process.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
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
    // and stderr going to files named after `name`.
    pid_t start(std::vector<std::string> more = {}, const std::string& name = "") {
        std::vector<std::string> args{std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli", "batch", root.string()};
        args.insert(args.end(), {"--cards", cards.string(), "--seed", "7", "--time", "12:00:00"});
        args.insert(args.end(), more.begin(), more.end());
        return spawn(std::move(args), name);
    }
    // Starts args[0] with the rest as its arguments, its output as start's.
    pid_t spawn(std::vector<std::string> args, const std::string& name = "") {
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
    Ran finish(pid_t pid, const std::string& name = "") {
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readAll(base / (name + "out")),
                readAll(base / (name + "err"))};
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
        const FixedClock clock("12:00:00");
        battle.report().setClock(clock);
        Teams teams;
        Deck0Set(n == 0 ? TopDeck : OtherTopDeck, teams, catalogue);
        Deck1Set(n == 0 ? BottomDeck : OtherBottomDeck, teams, catalogue);
        const BattleOutcome outcome = battle.play(teams, 50);
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

TEST_F(BatchCommandTest, TwoRunsOnOneRootPlayEveryFolderOnceAndPrintTheBattleTheyStored) {
    constexpr int Folders = 60;
    for (int n = 0; n < Folders; ++n)
        dropDecks(n, n % 2 ? TopDeck : OtherTopDeck, n % 3 ? BottomDeck : OtherBottomDeck);
    const std::vector<std::string> options{"--last", std::to_string(Folders - 1)};
    const pid_t first = start(options, "a");
    const pid_t second = start(options, "b");
    const Ran a = finish(first, "a"), b = finish(second, "b");
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;

    std::map<std::string, int> printed;
    const std::string turnHeading = "\x83^\x81[\x83\x93</b>"; // ターン</b>, once per turn
    for (const std::string& out : {a.out, b.out}) {
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            const std::string name = line.substr(0, 4);
            ++printed[name];
            const std::string html = report(std::stoi(name));
            size_t headings = 0;
            for (size_t at = html.find(turnHeading); at != std::string::npos; at = html.find(turnHeading, at + 1))
                ++headings;
            EXPECT_EQ(line.substr(line.find("turns=")), "turns=" + std::to_string(headings))
                << "the line agrees with the report that stayed";
        }
    }
    for (int n = 0; n < Folders; ++n) {
        EXPECT_EQ(printed[batchName(n)], 1) << "folder " << n;
        EXPECT_EQ(filesIn(n), 2u) << "deck.dat and battle.html, no claim left";
    }
}

TEST_F(BatchCommandTest, RootsAndFoldersThatCannotBeUsedAreSaidNotPassedOverInSilence) {
    writeAll(base / "plain", "a file");
    for (const fs::path& bad : {base / "plain", base / "plain" / "below"}) {
        root = bad;
        const Ran refused = run();
        EXPECT_EQ(refused.status, 2) << bad;
        EXPECT_EQ(refused.err.rfind("morvane-cli: " + bad.string(), 0), 0u) << refused.err;
        EXPECT_EQ(refused.err.find('\n'), refused.err.size() - 1) << "one line";
    }

    root = base / "runs";
    dropDecks(0, TopDeck, BottomDeck);
    writeAll(folder(1), "a file where folder 0001 belongs");
    fs::create_directories(folder(2));
    fs::create_symlink("deck.dat", folder(2) / "deck.dat");
    dropDecks(3, TopDeck, BottomDeck);
    const Ran passed = run({"--last", "3"});
    EXPECT_EQ(passed.status, 0) << passed.err;
    EXPECT_EQ(passed.out.substr(0, 5), "0000 ");
    EXPECT_NE(passed.out.find("\n0003 "), std::string::npos) << passed.out;
    EXPECT_NE(passed.err.find("morvane-cli: " + folder(1).string()), std::string::npos) << passed.err;
    EXPECT_NE(passed.err.find("morvane-cli: " + (folder(2) / "deck.dat").string()), std::string::npos) << passed.err;
    EXPECT_EQ(std::count(passed.err.begin(), passed.err.end(), '\n'), 2) << "one line for each";
}

TEST_F(BatchCommandTest, FoldersPassedOverForAClaimAreSaidOnceWithWhoHoldsThem) {
    for (int n = 0; n < 5; ++n)
        dropDecks(n, TopDeck, BottomDeck);
    const pid_t zombie = zombieChild();
    const std::string zombieStart = startTimeOf(zombie);
    writeAll(folder(0) / ".morvane-claim", "elsewhere 4242 1\n");
    writeAll(folder(1) / ".morvane-claim", "garbage\n");
    // A machine of the same name, whose pid means nothing here; a zombie here.
    writeAll(folder(2) / ".morvane-claim", claimOf(zombie, zombieStart, "00000000-0000-4000-8000-000000000000"));
    writeAll(folder(3) / ".morvane-claim", claimOf(zombie, zombieStart));

    // A file where folder 0005 belongs is said at every scan, which counts the scans.
    writeAll(folder(5), "a file where folder 0005 belongs");
    const std::string everyScan = "morvane-cli: " + folder(5).string();
    auto scans = [&] {
        const std::string err = readAll(base / "err");
        size_t count = 0;
        for (size_t at = 0; (at = err.find(everyScan, at)) != std::string::npos; at += everyScan.size())
            ++count;
        return count;
    };

    // Scanned every second: what is passed over is said once, not at every scan. Two
    // scans after the one that played 0003 and 0004 (whose own line for 0005 may still
    // be to come) would say it again.
    const pid_t pid = start({"--watch", "--last", "5"});
    size_t played = 0;
    for (int i = 0; i < 400 && (!played || scans() < played + 3); ++i) {
        if (!played && hasReport(3) && hasReport(4))
            played = std::max<size_t>(scans(), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GE(scans(), played + 3) << "the runner went on scanning";
    ::kill(pid, SIGINT);
    const Ran watched = finish(pid);
    ::waitpid(zombie, nullptr, 0);
    EXPECT_EQ(watched.status, 0) << watched.err;
    EXPECT_EQ(watched.out.substr(0, 5), "0003 ") << watched.out;
    EXPECT_EQ(watched.out.find("\n0004 "), watched.out.find('\n')) << watched.out;

    std::istringstream lines(watched.err);
    std::vector<std::string> said;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(everyScan, 0) != 0)
            said.push_back(line.substr(0, line.find(" since ")).substr(0, line.find(" (unchanged since ")));
    EXPECT_EQ(said, (std::vector<std::string>{
                        "morvane-cli: " + folder(0).string() + "/: passed over: claimed by pid 4242 on host elsewhere",
                        "morvane-cli: " + (folder(1) / ".morvane-claim").string() +
                            ": passed over: cannot be read as a claim",
                        "morvane-cli: " + folder(2).string() + "/: passed over: claimed by pid " +
                            std::to_string(zombie) + " on host " + thisHost(),
                    }));
    EXPECT_NE(watched.err.find(" since 2023-11-0"), std::string::npos) << "the claim's own time: " << watched.err;
    // What its age is counted from, which is the file's time here: written just now.
    const std::string today = watched.err.substr(watched.err.rfind(", unchanged since ") + 18, 10);
    char expected[16];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(expected, sizeof expected, "%Y-%m-%d", &local);
    EXPECT_EQ(today, expected) << watched.err;
}

TEST_F(BatchCommandTest, ARootWhereNoClaimCanBeMadeIsAnErrorNamingTheReason) {
    dropDecks(0, TopDeck, BottomDeck);
    // No file may grow: the claim cannot be written, as on a full disk.
    const test::ProgramRun full =
        test::runProgram("/bin/sh", {"-c", "ulimit -f 0; exec \"$0\" batch \"$1\" --cards \"$2\" --seed 7",
                                     std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli", root.string(), cards.string()});
    EXPECT_EQ(full.status, 1) << full.err;
    EXPECT_EQ(full.out, "");
    EXPECT_EQ(full.err.rfind("morvane-cli: " + (folder(0) / ".morvane-claim").string() + " (File too large): ", 0), 0u)
        << full.err;
    EXPECT_EQ(full.err.find('\n'), full.err.size() - 1) << "one line";
    EXPECT_EQ(filesIn(0), 1u) << "deck.dat alone";
}

TEST_F(BatchCommandTest, AReportThatCannotBeStoredStopsTheRunWithStatusOne) {
    dropDecks(0, TopDeck, BottomDeck);
    dropDecks(1, TopDeck, BottomDeck);
    // Files of at most 2 KB: the claim fits, the report does not. A process that may
    // write no more gets an error on the write, not the end of the program.
    const test::ProgramRun full = test::runProgram(
        "/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 4; exec \"$0\" batch \"$1\" --cards \"$2\" --seed 7",
                    std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli", root.string(), cards.string()});
    EXPECT_EQ(full.status, 1) << full.err;
    EXPECT_EQ(full.out, "");
    EXPECT_EQ(full.err.rfind("morvane-cli: " + folder(0).string(), 0), 0u) << full.err;
    EXPECT_NE(full.err.find("battle.html (File too large)"), std::string::npos) << "and why: " << full.err;
    EXPECT_EQ(full.err.find('\n'), full.err.size() - 1) << "said once";
    EXPECT_EQ(filesIn(0), 1u) << "no report, no temporary file, no claim";
    EXPECT_FALSE(hasReport(1)) << "the run stops at the folder";
}

TEST_F(BatchCommandTest, AWatchedRootWhoseDiskRefusesAReportGoesOnAndStoresItOnceThereIsRoom) {
    dropDecks(0, TopDeck, BottomDeck);
    // Files of at most 2 KB, as on a full disk, until the limit is lifted below; only
    // the soft limit, which the process's owner may raise again from outside.
    const std::string cli = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";
    const std::string script =
        "trap '' XFSZ; ulimit -S -f 4; exec \"$0\" batch \"$1\" --cards \"$2\" --seed 7 --watch --last 0";
    const pid_t pid = spawn({"/bin/sh", "-c", script, cli, root.string(), cards.string()});
    ASSERT_GT(pid, 0);
    const auto refusals = [this] {
        const std::string err = readAll(base / "err");
        size_t count = 0;
        for (size_t at = err.find("battle.html (File too large)"); at != std::string::npos;
             at = err.find("battle.html (File too large)", at + 1))
            ++count;
        return count;
    };

    // Tried at once and again a second later; the next try waits two more seconds,
    // so a run trying flat out would have said it many times by then.
    for (int i = 0; i < 200 && refusals() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the watch goes on: " << readAll(base / "err");
    EXPECT_GE(refusals(), 2u) << readAll(base / "err");
    EXPECT_LE(refusals(), 2u) << readAll(base / "err");
    EXPECT_FALSE(hasReport(0));
    EXPECT_EQ(filesIn(0), 1u) << "no claim kept while it waits";

    rlimit room{};
    ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, nullptr, &room), 0);
    room.rlim_cur = room.rlim_max;
    ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, &room, nullptr), 0);
    for (int i = 0; i < 200 && !hasReport(0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(pid, SIGINT);
    const Ran watched = finish(pid);
    EXPECT_EQ(watched.status, 0) << watched.err;
    EXPECT_EQ(watched.out.rfind("0000 winner=", 0), 0u) << watched.out;
    EXPECT_EQ(std::count(watched.out.begin(), watched.out.end(), '\n'), 1) << watched.out;
    EXPECT_EQ(filesIn(0), 2u) << "deck.dat and its report";
}

TEST_F(BatchCommandTest, WatchWaitsForAPairWrittenInGoesAndPassesOverAFolderDeletedMeanwhile) {
    const pid_t pid = start({"--watch", "--last", "0"});
    for (int i = 0; i < 100 && !fs::exists(folder(0)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // echo L0 > deck.dat; echo L1 >> deck.dat, the second line paused inside its last id.
    writeAll(folder(5) / "deck.dat", TopDeck + "\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    {
        std::ofstream second(folder(5) / "deck.dat", std::ios::binary | std::ios::app);
        second << OtherBottomDeck.substr(0, 35) << std::flush;
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        second << OtherBottomDeck.substr(35) << "\r\n";
    }
    for (int i = 0; i < 100 && !hasReport(5); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // A played folder deleted while watched is not played again, nor made again.
    dropDecks(6, TopDeck, BottomDeck);
    for (int i = 0; i < 100 && !hasReport(6); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    fs::remove_all(folder(6));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(pid, SIGINT);
    const Ran watched = finish(pid);
    EXPECT_EQ(watched.status, 0) << watched.err;
    EXPECT_EQ(watched.out.substr(0, 5), "0005 ") << watched.out;
    EXPECT_EQ(watched.out.find("\n0006 "), watched.out.find('\n')) << watched.out;
    EXPECT_EQ(std::count(watched.out.begin(), watched.out.end(), '\n'), 2) << "each played once: " << watched.out;
    EXPECT_FALSE(fs::exists(folder(6)));
    EXPECT_NE(watched.err.find("morvane-cli: " + folder(6).string() + "/"), std::string::npos) << watched.err;

    // The pair as it was finished, not as it stood after its first line.
    CardCatalogue catalogue;
    catalogue.load(cards);
    Random random(7);
    MemoryReportSink sink;
    Battle battle(catalogue, random, &sink);
    const FixedClock clock("12:00:00");
    battle.report().setClock(clock);
    Teams teams;
    Deck0Set(TopDeck, teams, catalogue);
    Deck1Set(OtherBottomDeck, teams, catalogue);
    battle.play(teams, DefaultMaxTurns);
    EXPECT_EQ(report(5), sink.text());
}

} // namespace
} // namespace morvane::test
