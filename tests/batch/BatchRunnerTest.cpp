// The batch runner driven step by step, as the window's timer and the command line
// tool's loop drive it, without timers or waits.

#include "batch/BatchRunner.h"
#include "cards/CardCatalogue.h"
#include "common/AtomicFile.h"
#include "common/Clock.h"
#include "common/Errors.h"
#include "common/Messages.h"
#include "common/Random.h"

#include "batch/BatchTesting.h"

#include <ctime>
#include <deque>
#include <map>
#include <sstream>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace morvane::test {
namespace {

class BatchRunnerTest : public BatchFolderTest {
protected:
    void SetUp() override {
        BatchFolderTest::SetUp();
        catalogue.load(cards);
    }

    // Steps until a scan has finished or the run stopped; one word per step.
    static std::vector<std::string> runScan(BatchRunner& runner, BatchEvent* last = nullptr) {
        static const char* const words[] = {"applied", "started", "turn",    "stored",
                                            "skipped", "scan",    "stopped", "held"};
        std::vector<std::string> trace;
        for (int i = 0; i < 100000; ++i) {
            const BatchEvent event = runner.step();
            trace.push_back((event.folder ? event.folder->name() + " " : std::string()) + words[event.kind]);
            if (last)
                *last = event;
            if (event.kind == BatchEvent::ScanFinished || event.kind == BatchEvent::Stopped)
                break;
        }
        return trace;
    }

    bool hasClaim(int n) const { return fs::exists(folder(n) / ".morvane-claim"); }

    CardCatalogue catalogue;
    FixedClock clock{"12:00:00", 0, std::chrono::system_clock::now()};
};

// Turns of one folder's battle, each a step of its own, folded into one word.
std::vector<std::string> folded(const std::vector<std::string>& trace, std::map<std::string, int>* turns = nullptr) {
    std::vector<std::string> out;
    for (const std::string& word : trace) {
        if (word.size() > 5 && word.compare(word.size() - 4, 4, "turn") == 0) {
            if (turns)
                ++(*turns)[word.substr(0, 4)];
            continue;
        }
        out.push_back(word);
    }
    return out;
}

TEST_F(BatchRunnerTest, EachStepDoesOneThingAndEveryReadyFolderGetsItsOwnBattlesReport) {
    dropDecks(0, TopDeck, BottomDeck);
    dropDecks(2, OtherTopDeck, OtherBottomDeck);
    writeAll(folder(2) / ".battle.html.99.tmp", "left by a runner that was killed");
    Random random(7);
    EngineBatchHost host(catalogue, random, rootText(), 2, 50);
    host.battle().report().setClock(clock);
    BatchRunner runner(host, clock);

    std::map<std::string, int> turns;
    const std::vector<std::string> trace = folded(runScan(runner), &turns);
    EXPECT_EQ(trace, (std::vector<std::string>{"0000 applied", "0000 started", "0000 stored", "0002 applied",
                                               "0002 started", "0002 stored", "scan"}));
    EXPECT_EQ(runner.scanned(), 3);
    EXPECT_FALSE(runner.busy());

    // The same battles from one generator, one after the other; the last turn of each
    // is the step that stores it.
    Random replay(7);
    for (int n : {0, 2}) {
        MemoryReportSink sink;
        Battle battle(catalogue, replay, &sink);
        battle.report().setClock(clock);
        Teams teams;
        Deck0Set(n == 0 ? TopDeck : OtherTopDeck, teams, catalogue);
        Deck1Set(n == 0 ? BottomDeck : OtherBottomDeck, teams, catalogue);
        const BattleOutcome outcome = battle.play(teams, 50);
        EXPECT_EQ(turns[batchName(n)], outcome.turns - 1) << "folder " << n;
        EXPECT_EQ(report(n), sink.text()) << "folder " << n;
        EXPECT_FALSE(hasClaim(n)) << "the claim goes with the stored report";
    }
    EXPECT_EQ(filesIn(2), 2u) << "the killed runner's temporary file is gone";
    EXPECT_EQ(folded(runScan(runner)), std::vector<std::string>{"scan"}) << "done folders are left alone";
}

// A host that plays no real battle: each call does what the test scripted.
struct ScriptedHost : BatchHost {
    std::string rootText;
    std::function<void()> apply = [] {};
    int turnsToPlay = 2;
    BattleStatus end = BattleStatus::Ended;
    std::function<std::string()> report = [] { return std::string("<html>\r\n"); };
    int played = 0;

    std::string root() override { return rootText; }
    int lastFolder() override { return 1; }
    void applyDecks(const DeckPair&) override { apply(); }
    void startBattle() override { played = 0; }
    BattleOutcome advanceBattle() override {
        BattleOutcome state;
        state.turns = ++played;
        if (played >= turnsToPlay) {
            state.status = end;
            state.winner = end == BattleStatus::Ended ? 0 : -1;
        }
        return state;
    }
    std::string finishedReport() override { return report(); }
};

TEST_F(BatchRunnerTest, AFailingFolderStopsTheRunOnceAndGivesUpItsClaim) {
    dropDecks(0, TopDeck, BottomDeck);
    dropDecks(1, TopDeck, BottomDeck);
    ScriptedHost host;
    host.rootText = rootText();
    BatchRunner runner(host, clock);

    // A report that cannot be stored: said once, and the run ends there.
    host.report = [this]() -> std::string { throw IoError(std::string(msg::FileNotWritten), root.string()); };
    BatchEvent last;
    EXPECT_EQ(runScan(runner, &last),
              (std::vector<std::string>{"0000 applied", "0000 started", "0000 turn", "0000 stopped"}));
    EXPECT_EQ(last.failure, BatchEvent::StoreFailed);
    EXPECT_THROW(std::rethrow_exception(last.error), IoError);
    EXPECT_FALSE(hasReport(0));
    EXPECT_FALSE(hasClaim(0));
    EXPECT_FALSE(runner.busy());

    // A battle the front end saw halt has been reported by it: no error to show again.
    host.report = [] { return std::string("<html>\r\n"); };
    host.end = BattleStatus::Halted;
    EXPECT_EQ(folded(runScan(runner, &last)),
              (std::vector<std::string>{"0000 applied", "0000 started", "0000 stopped"}));
    EXPECT_EQ(last.failure, BatchEvent::BadFolder);
    EXPECT_EQ(last.error, nullptr);
    EXPECT_FALSE(hasClaim(0));

    // Decks that cannot be applied, then a capped battle, which is stored as it stands.
    host.end = BattleStatus::Capped;
    host.apply = [] { throw ConversionError("xyz"); };
    EXPECT_EQ(runScan(runner, &last), std::vector<std::string>{"0000 stopped"});
    EXPECT_EQ(last.failure, BatchEvent::BadFolder);
    host.apply = [] {};
    const std::vector<std::string> capped = folded(runScan(runner, &last));
    EXPECT_EQ(capped.back(), "scan");
    EXPECT_EQ(capped[2], "0000 stored");
    EXPECT_EQ(report(0), "<html>\r\n");
    EXPECT_EQ(report(1), "<html>\r\n");
}

TEST_F(BatchRunnerTest, ARootThatIsNoFolderStopsTheToolButTheWindowPassesItsFoldersOver) {
    writeAll(base / "plain", "a file");
    Random random(1);
    EngineBatchHost host(catalogue, random, (base / "plain").string() + "/", 1, 50);

    BatchRunner tool(host, clock);
    BatchEvent last;
    EXPECT_EQ(runScan(tool, &last), std::vector<std::string>{"stopped"});
    EXPECT_EQ(last.failure, BatchEvent::BadRoot);
    EXPECT_THROW(std::rethrow_exception(last.error), FolderError);

    BatchOptions quiet;
    quiet.stopOnBadRoot = false;
    BatchRunner window(host, clock, quiet);
    EXPECT_EQ(runScan(window), (std::vector<std::string>{"0000 skipped", "0001 skipped", "scan"}));
}

std::string claimText(const std::string& host, long long pid) {
    return host + " " + std::to_string(pid) + " 1\n";
}

// The numbers of the folders whose reports were stored, and of those passed over as held.
struct ScanResult {
    std::vector<int> stored;
    std::map<int, ClaimHolder> held;
};

ScanResult scanOnce(BatchRunner& runner) {
    ScanResult result;
    for (int i = 0; i < 100000; ++i) {
        BatchEvent event = runner.step();
        if (event.kind == BatchEvent::ReportStored)
            result.stored.push_back(event.folder->number);
        if (event.kind == BatchEvent::FolderHeld)
            result.held[event.folder->number] = *event.holder;
        if (event.kind == BatchEvent::ScanFinished || event.kind == BatchEvent::Stopped)
            break;
    }
    return result;
}

TEST_F(BatchRunnerTest, ClaimsOfLiveRunnersAreRespectedAndThoseOfDeadOnesTakenOver) {
    for (int n = 0; n < 10; ++n)
        dropDecks(n, TopDeck, BottomDeck);
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    const std::string goneStart = startTimeOf(gone);
    ::waitpid(gone, nullptr, 0);
    const pid_t zombie = zombieChild();
    const std::string self = startTimeOf(::getpid());
    const std::string otherBoot = "00000000-0000-4000-8000-000000000000";

    writeAll(folder(0) / ".morvane-claim", claimOf(::getpid(), self));                       // alive
    writeAll(folder(1) / ".morvane-claim", claimOf(gone, goneStart));                        // its process is gone
    writeAll(folder(2) / ".morvane-claim", claimOf(zombie, startTimeOf(zombie)));            // a zombie
    writeAll(folder(3) / ".morvane-claim", claimOf(::getpid(), self + "1"));                 // its pid given to another
    writeAll(folder(4) / ".morvane-claim", claimOf(gone, goneStart, otherBoot));             // same host name elsewhere
    writeAll(folder(5) / ".morvane-claim", claimOf(gone, goneStart, thisBoot(), "pid:[1]")); // a container
    writeAll(folder(6) / ".morvane-claim", claimText(thisHost(), gone)); // an older runner's: by its time only
    writeAll(folder(7) / ".morvane-claim", claimText("elsewhere", 1));   // another machine, fresh
    writeAll(folder(8) / ".morvane-claim", claimText("elsewhere", 1));   // another machine, silent
    const timeval hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimes((folder(8) / ".morvane-claim").c_str(), hourAgo), 0);
    writeAll(folder(0) / ".battle.html.5.tmp", "the live runner's own temporary file");
    writeAll(folder(9) / "..morvane-claim.77.tmp", "a claim whose runner was killed before placing it");

    Random random(3);
    EngineBatchHost host(catalogue, random, rootText(), 9, 50);
    BatchRunner runner(host, clock);
    const ScanResult scan = scanOnce(runner);
    ::waitpid(zombie, nullptr, 0);
    EXPECT_EQ(scan.stored, (std::vector<int>{1, 2, 3, 8, 9}));
    std::vector<int> held;
    for (const auto& [n, holder] : scan.held)
        held.push_back(n);
    EXPECT_EQ(held, (std::vector<int>{0, 4, 5, 6, 7}));
    EXPECT_EQ(scan.held.at(0).host, thisHost());
    EXPECT_EQ(scan.held.at(0).pid, ::getpid());
    EXPECT_EQ(scan.held.at(0).since, Clock::TimePoint(std::chrono::seconds(1699000000)));
    EXPECT_EQ(scan.held.at(7).host, "elsewhere");
    for (int n : {1, 2, 3, 8, 9})
        EXPECT_EQ(filesIn(n), 2u) << "deck.dat and battle.html, no claim nor its temporary file: " << n;
    EXPECT_EQ(readAll(folder(0) / ".morvane-claim"), claimOf(::getpid(), self));
    EXPECT_TRUE(fs::exists(folder(0) / ".battle.html.5.tmp")) << "a held folder is not touched";
}

TEST_F(BatchRunnerTest, ClaimsThatAreNoClaimsOrDatedAheadExpireTenMinutesAfterTheyWereFirstSeen) {
    for (int n = 0; n < 4; ++n)
        dropDecks(n, TopDeck, BottomDeck);
    writeAll(folder(0) / ".morvane-claim", "");          // its runner killed between create and write
    writeAll(folder(1) / ".morvane-claim", "garbage\n"); // not a runner's at all
    writeAll(folder(2) / ".morvane-claim", claimText("elsewhere", 1));
    const timeval hourAhead[2] = {{::time(nullptr) + 3600, 0}, {::time(nullptr) + 3600, 0}};
    ASSERT_EQ(::utimes((folder(2) / ".morvane-claim").c_str(), hourAhead), 0);

    Random random(3);
    EngineBatchHost host(catalogue, random, rootText(), 3, 50);
    BatchRunner runner(host, clock);
    ScanResult scan = scanOnce(runner);
    EXPECT_EQ(scan.stored, std::vector<int>{3});
    ASSERT_EQ(scan.held.size(), 3u);
    EXPECT_FALSE(scan.held[0].readable());
    EXPECT_FALSE(scan.held[1].readable());
    EXPECT_TRUE(scan.held[2].readable());

    const Clock::TimePoint seen = clock.now();
    clock.setNow(seen + std::chrono::minutes(9));
    EXPECT_EQ(scanOnce(runner).held.size(), 3u) << "not yet";
    clock.setNow(seen + std::chrono::minutes(11));
    scan = scanOnce(runner);
    EXPECT_EQ(scan.stored, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(scan.held.empty());
}

TEST_F(BatchRunnerTest, AClaimIsWholeFromItsFirstMomentAndNoneStaysInADoneFolder) {
    dropDecks(0, TopDeck, BottomDeck);
    // A claim being placed by a live runner: its temporary file is locked.
    fs::path live;
    const int liveFd = createTemporaryFile(folder(0) / ".morvane-claim", 0644, live);
    ASSERT_GE(liveFd, 0);
    writeAll(folder(0) / "..morvane-claim.12.tmp", "a killed runner's");
    Random random(3);
    EngineBatchHost host(catalogue, random, rootText(), 2, 50);
    BatchRunner runner(host, clock);
    ASSERT_EQ(runner.step().kind, BatchEvent::DecksApplied);
    const std::string claim = readAll(folder(0) / ".morvane-claim");
    // Whole from the start; its own number (word 3), and the time by the runner's clock.
    const size_t number = claim.find(' ', thisHost().size() + 1);
    const size_t boot = claim.find(" boot="), since = claim.find(" since=");
    ASSERT_NE(since, std::string::npos) << claim;
    EXPECT_EQ(claim.substr(0, number) + " 1" + claim.substr(boot, since - boot) + " since=1699000000\n",
              claimOf(::getpid(), startTimeOf(::getpid())));
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(clock.now().time_since_epoch());
    EXPECT_EQ(claim.substr(since), " since=" + std::to_string(seconds.count()) + "\n");
    EXPECT_FALSE(fs::exists(folder(0) / "..morvane-claim.12.tmp"));
    EXPECT_TRUE(fs::exists(live)) << "a live runner's claim in the making stays";
    ::unlink(live.c_str());
    ::close(liveFd);

    // Runners stopped between storing a report and giving up their claim.
    dropDecks(1, TopDeck, BottomDeck);
    writeAll(folder(1) / "battle.html", "stored");
    dropDecks(2, TopDeck, BottomDeck);
    writeAll(folder(2) / "battle.html", "stored");
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    const std::string goneStart = startTimeOf(gone);
    ::waitpid(gone, nullptr, 0);
    writeAll(folder(1) / ".morvane-claim", claimOf(gone, goneStart));
    writeAll(folder(2) / ".morvane-claim", claimOf(::getpid(), startTimeOf(::getpid())));
    EXPECT_EQ(scanOnce(runner).stored, std::vector<int>{0});
    EXPECT_EQ(filesIn(0), 2u);
    EXPECT_EQ(filesIn(1), 2u) << "the dead runner's claim is gone";
    EXPECT_EQ(filesIn(2), 3u) << "a live runner gives up its own";
}

TEST_F(BatchRunnerTest, TwoRunnersOnOneRootPlayEveryFolderOnceAndAClaimTakenAwayIsNotStored) {
    for (int n = 0; n < 8; ++n)
        dropDecks(n, n % 2 ? TopDeck : OtherTopDeck, BottomDeck);
    Random randomA(1), randomB(2);
    EngineBatchHost hostA(catalogue, randomA, rootText(), 7, 50), hostB(catalogue, randomB, rootText(), 7, 50);
    BatchRunner a(hostA, clock), b(hostB, clock);
    std::map<int, int> storedBy[2];
    bool doneA = false, doneB = false;
    for (int i = 0; i < 100000 && !(doneA && doneB); ++i) {
        for (int r = 0; r < 2; ++r) {
            bool& done = r == 0 ? doneA : doneB;
            if (done)
                continue;
            const BatchEvent event = (r == 0 ? a : b).step();
            if (event.kind == BatchEvent::ReportStored)
                ++storedBy[r][event.folder->number];
            done = event.kind == BatchEvent::ScanFinished;
        }
    }
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(storedBy[0][n] + storedBy[1][n], 1) << "folder " << n;
        EXPECT_TRUE(hasReport(n));
        EXPECT_FALSE(hasClaim(n));
    }
    EXPECT_FALSE(storedBy[0].empty() || storedBy[1].empty()) << "both runners got work";

    // A runner that was judged dead while it played: the one that took the folder over
    // stores the report, not this one.
    dropDecks(8, TopDeck, BottomDeck);
    EngineBatchHost late(catalogue, randomA, rootText(), 8, 50);
    BatchRunner slow(late, clock);
    EXPECT_EQ(slow.step().kind, BatchEvent::DecksApplied);
    writeAll(folder(8) / ".morvane-claim", claimText("elsewhere", 1));
    EXPECT_EQ(folded(runScan(slow)), (std::vector<std::string>{"0008 started", "scan"}));
    EXPECT_FALSE(hasReport(8));
    EXPECT_EQ(readAll(folder(8) / ".morvane-claim"), claimText("elsewhere", 1));
}

TEST_F(BatchRunnerTest, ARunnerThatStalledPastItsClaimsAgeStoresNothingOverTheNewHolders) {
    dropDecks(0, TopDeck, BottomDeck);
    ScriptedHost frozen, other;
    frozen.rootText = other.rootText = rootText();
    other.report = [] { return std::string("the new holder's\r\n"); };
    BatchRunner a(frozen, clock), b(other, clock);
    // A ends its battle, then stalls (stopped, swapped out) before its report is
    // placed; meanwhile its claim ages, and B takes the folder over and plays it.
    frozen.report = [&] {
        clock.setNow(clock.now() + std::chrono::minutes(11));
        EXPECT_EQ(folded(runScan(b)),
                  (std::vector<std::string>{"0000 applied", "0000 started", "0000 stored", "scan"}));
        return std::string("the stalled runner's\r\n");
    };
    EXPECT_EQ(folded(runScan(a)), (std::vector<std::string>{"0000 applied", "0000 started", "scan"}));
    EXPECT_EQ(report(0), "the new holder's\r\n");
    EXPECT_EQ(filesIn(0), 2u) << "deck.dat and B's report: no claim, no temporary file";

    // B stored and gave its claim up before A looked: the folder is done either way.
    dropDecks(1, TopDeck, BottomDeck);
    frozen.report = [&] {
        writeAll(folder(1) / "battle.html", "stored meanwhile\r\n");
        return std::string("late\r\n");
    };
    EXPECT_EQ(folded(runScan(a)), (std::vector<std::string>{"0001 applied", "0001 started", "scan"}));
    EXPECT_EQ(report(1), "stored meanwhile\r\n");
}

TEST_F(BatchRunnerTest, AWatchingRunnerWaitsForAWholePairAndASingleRunFailsOnIt) {
    writeAll(folder(0) / "deck.dat", TopDeck + "\r\n");
    writeAll(folder(1) / "deck.dat", TopDeck + "\r\n" + BottomDeck.substr(0, 34));
    Random random(3);
    EngineBatchHost host(catalogue, random, rootText(), 1, 50);
    BatchOptions watching;
    watching.waitForWholePairs = true;
    BatchRunner patient(host, clock, watching);
    EXPECT_EQ(runScan(patient), std::vector<std::string>{"scan"}) << "passed over in silence, not failed";
    EXPECT_EQ(filesIn(0), 1u);
    EXPECT_EQ(filesIn(1), 1u);

    writeAll(folder(1) / "deck.dat", TopDeck + "\r\n" + BottomDeck + "\r\n");
    EXPECT_EQ(folded(runScan(patient)),
              (std::vector<std::string>{"0001 applied", "0001 started", "0001 stored", "scan"}));

    BatchRunner single(host, clock);
    BatchEvent last;
    EXPECT_EQ(runScan(single, &last), std::vector<std::string>{"0000 stopped"});
    EXPECT_EQ(last.failure, BatchEvent::BadFolder);
}

TEST_F(BatchRunnerTest, AFolderThatVanishesIsPassedOverWithAWordAndNeverMadeAgain) {
    dropDecks(2, TopDeck, BottomDeck);
    dropDecks(3, TopDeck, BottomDeck);
    std::deque<int> offered{7, 2, 3};
    struct OfferingHost : ScriptedHost {
        std::deque<int>* offered = nullptr;
        int lastFolder() override { return -1; }
        std::optional<int> readyFolder() override {
            if (offered->empty())
                return std::nullopt;
            const int n = offered->front();
            offered->pop_front();
            return n;
        }
    } offering;
    offering.rootText = rootText();
    offering.offered = &offered;
    // Folder 2 goes while its battle runs (rm -r under way), 3 is played as usual.
    offering.report = [&]() -> std::string {
        if (fs::exists(folder(2)))
            fs::remove_all(folder(2));
        return "<html>\r\n";
    };
    BatchRunner runner(offering, clock);
    std::vector<std::string> trace;
    std::vector<std::exception_ptr> said;
    for (int i = 0; i < 100; ++i) {
        const BatchEvent event = runner.step();
        if (event.kind == BatchEvent::FolderSkipped) {
            trace.push_back(event.folder->name() + " skipped");
            said.push_back(event.error);
        } else if (event.kind == BatchEvent::ReportStored || event.kind == BatchEvent::Stopped) {
            trace.push_back(event.folder->name() + (event.kind == BatchEvent::Stopped ? " stopped" : " stored"));
        }
        if (event.kind == BatchEvent::ScanFinished || event.kind == BatchEvent::Stopped)
            break;
    }
    EXPECT_EQ(trace, (std::vector<std::string>{"0007 skipped", "0002 skipped", "0003 stored"}));
    ASSERT_EQ(said.size(), 2u);
    EXPECT_THROW(std::rethrow_exception(said[0]), FileNotFoundError);
    EXPECT_FALSE(fs::exists(folder(7)));
    EXPECT_FALSE(fs::exists(folder(2))) << "never made again";
    EXPECT_EQ(report(3), "<html>\r\n");
}

TEST_F(BatchRunnerTest, AHeldFolderSaysWhatItsClaimsAgeIsCountedFrom) {
    for (int n = 0; n < 2; ++n)
        dropDecks(n, TopDeck, BottomDeck);
    const std::time_t now = ::time(nullptr);
    clock.setNow(Clock::TimePoint(std::chrono::seconds(now)));
    // Claimed long ago, refreshed four minutes ago: the age runs from the refresh.
    writeAll(folder(0) / ".morvane-claim", claimText("elsewhere", 1));
    const timeval refreshed[2] = {{now - 240, 0}, {now - 240, 0}};
    ASSERT_EQ(::utimes((folder(0) / ".morvane-claim").c_str(), refreshed), 0);
    // Dated an hour ahead: it ages from when this runner first saw it.
    writeAll(folder(1) / ".morvane-claim", "garbage\n");
    const timeval ahead[2] = {{now + 3600, 0}, {now + 3600, 0}};
    ASSERT_EQ(::utimes((folder(1) / ".morvane-claim").c_str(), ahead), 0);

    Random random(3);
    EngineBatchHost host(catalogue, random, rootText(), 1, 50);
    BatchRunner runner(host, clock);
    ScanResult scan = scanOnce(runner);
    ASSERT_EQ(scan.held.size(), 2u);
    EXPECT_EQ(scan.held[0].unchangedSince, Clock::TimePoint(std::chrono::seconds(now - 240)));
    EXPECT_EQ(scan.held[1].unchangedSince, clock.now());

    clock.setNow(clock.now() + std::chrono::minutes(5));
    scan = scanOnce(runner);
    EXPECT_EQ(scan.held[1].unchangedSince, Clock::TimePoint(std::chrono::seconds(now))) << "the same while unchanged";
    clock.setNow(Clock::TimePoint(std::chrono::seconds(now - 240)) + std::chrono::seconds(601));
    EXPECT_EQ(scanOnce(runner).stored, std::vector<int>{0}) << "taken over when the age it showed runs out";
}

} // namespace
} // namespace morvane::test
