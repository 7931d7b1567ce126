// Filling a root from outside the runners, and handing a runner the folders that have
// just become ready: the pieces a battle service and morvane-cli batch --watch use.

#include "batch/BatchSubmit.h"
#include "batch/BatchRunner.h"
#include "batch/BatchScan.h"
#include "batch/FolderWatch.h"
#include "cards/CardCatalogue.h"
#include "common/Clock.h"
#include "common/Errors.h"
#include "common/Random.h"

#include "batch/BatchTesting.h"

#include <cstdio>
#include <deque>
#include <set>
#include <thread>

namespace morvane::test {
namespace {

using BatchSubmitTest = BatchFolderTest;

TEST_F(BatchSubmitTest, FolderNamesHaveOneNumberEachAndNumbersGoPast9999) {
    EXPECT_EQ(batchFolderNumber("0000"), 0);
    EXPECT_EQ(batchFolderNumber("0042"), 42);
    EXPECT_EQ(batchFolderNumber("9999"), 9999);
    EXPECT_EQ(batchFolderNumber("10000"), 10000);
    EXPECT_EQ(batchFolderNumber("999999999"), 999999999);
    for (const char* other : {"42", "00042", "010000", "1e10", "0x12", "-001", "", "1000000000", "0001 ", ".."})
        EXPECT_EQ(batchFolderNumber(other), std::nullopt) << other;
    EXPECT_EQ(batchFolderName("r/", 10000), "r/10000/");
}

TEST_F(BatchSubmitTest, PairsGoIntoTheLowestFreeFoldersAndNeverOverAnotherPair) {
    // A runner's scan made 0000-0002 empty; 0001 was filled by hand meanwhile; 0004
    // holds something else; a submitter that died left its temporary file in 0002.
    for (int n : {0, 2, 3})
        fs::create_directories(folder(n));
    dropDecks(1, TopDeck, BottomDeck);
    writeAll(folder(4) / "notes.txt", "mine");
    writeAll(folder(2) / ".deck.dat.123.tmp", "V00");
    writeAll(root / "5", "a file named like a folder");

    BatchSubmitter submitter(rootText());
    EXPECT_EQ(submitter.submit(TopDeck, BottomDeck), 0);
    EXPECT_EQ(submitter.submit(OtherTopDeck, OtherBottomDeck), 2);
    EXPECT_EQ(submitter.submit(TopDeck, OtherBottomDeck), 3);
    EXPECT_EQ(submitter.submit(TopDeck, BottomDeck), 5);
    EXPECT_EQ(readAll(folder(2) / "deck.dat"), OtherTopDeck + "\r\n" + OtherBottomDeck + "\r\n");
    EXPECT_EQ(readAll(folder(4) / "notes.txt"), "mine");
    EXPECT_FALSE(fs::exists(folder(4) / "deck.dat"));
    // Only the dead submitter's temporary file is left, and the next scan sweeps it:
    // a live submitter's is locked.
    auto temporaries = [&] {
        size_t temporary = 0;
        for (int n : {0, 2, 3, 5})
            for (const auto& entry : fs::directory_iterator(folder(n)))
                temporary += entry.path().filename().string().find(".tmp") != std::string::npos;
        return temporary;
    };
    EXPECT_EQ(temporaries(), 1u);
    BatchScan scan(5);
    while (scan.next(rootText())) {
    }
    EXPECT_EQ(temporaries(), 0u);
    EXPECT_EQ(readAll(folder(2) / "deck.dat"), OtherTopDeck + "\r\n" + OtherBottomDeck + "\r\n");

    // A second submitter sharing the root starts past everything filled.
    EXPECT_EQ(BatchSubmitter(rootText()).submit(TopDeck, BottomDeck), 6);
}

TEST_F(BatchSubmitTest, ARefusedSubmissionLeavesNoFolderAndItsNumberIsTakenNext) {
    BatchSubmitter submitter(rootText());
    EXPECT_EQ(submitter.submit(TopDeck, BottomDeck), 0);
    {
        // A full disk: every pair is refused.
        FileSizeLimit full(16);
        for (int i = 0; i < 5; ++i)
            EXPECT_THROW(submitter.submit(TopDeck, BottomDeck), IoError);
    }
    EXPECT_FALSE(fs::exists(folder(1)));
    size_t folders = 0;
    for (const auto& entry : fs::directory_iterator(root))
        folders += entry.is_directory();
    EXPECT_EQ(folders, 1u) << "no empty folder left by a refusal";
    // Space again: the numbers go on from the last pair stored.
    EXPECT_EQ(submitter.submit(OtherTopDeck, OtherBottomDeck), 1);
    EXPECT_EQ(readAll(folder(1) / "deck.dat"), OtherTopDeck + "\r\n" + OtherBottomDeck + "\r\n");
    // A folder a runner's scan made and that a refusal found empty stays: not ours.
    fs::create_directories(folder(2));
    {
        FileSizeLimit full(16);
        EXPECT_THROW(submitter.submit(TopDeck, BottomDeck), IoError);
    }
    EXPECT_TRUE(fs::is_directory(folder(2)));
    EXPECT_EQ(submitter.submit(TopDeck, BottomDeck), 2);
}

TEST_F(BatchSubmitTest, SubmittersRacingOnOneRootEachGetFoldersOfTheirOwn) {
    BatchSubmitter first(rootText());
    BatchSubmitter second(rootText());
    std::vector<int> numbers[2];
    std::thread a([&] {
        for (int i = 0; i < 40; ++i)
            numbers[0].push_back(first.submit(TopDeck, BottomDeck));
    });
    std::thread b([&] {
        for (int i = 0; i < 40; ++i)
            numbers[1].push_back(second.submit(OtherTopDeck, OtherBottomDeck));
    });
    a.join();
    b.join();
    std::set<int> all(numbers[0].begin(), numbers[0].end());
    all.insert(numbers[1].begin(), numbers[1].end());
    EXPECT_EQ(all.size(), 80u);
    for (int side = 0; side < 2; ++side)
        for (int n : numbers[side])
            EXPECT_EQ(readAll(folder(n) / "deck.dat"), side == 0 ? TopDeck + "\r\n" + BottomDeck + "\r\n"
                                                                 : OtherTopDeck + "\r\n" + OtherBottomDeck + "\r\n");
}

// The engine's host with numbers offered from a list, as the service offers them.
TEST_F(BatchSubmitTest, ARunnerPlaysTheFoldersItIsHandedWhateverTheirNumber) {
    CardCatalogue catalogue;
    catalogue.load(cards);
    FixedClock clock{"12:00:00", 0, std::chrono::system_clock::now()};
    dropDecks(12345, TopDeck, BottomDeck);
    dropDecks(1, OtherTopDeck, OtherBottomDeck);
    fs::create_directories(folder(7)); // offered, but holds no pair
    Random random(3);
    EngineBatchHost host(catalogue, random, rootText(), 0, 50);
    std::deque<int> offered{7, 12345, 12345, 1};
    host.setReadyFolders([&]() -> std::optional<int> {
        if (offered.empty())
            return std::nullopt;
        const int n = offered.front();
        offered.pop_front();
        return n;
    });
    BatchRunner runner(host, clock);
    std::vector<int> stored;
    for (int i = 0; i < 10000; ++i) {
        const BatchEvent event = runner.step();
        if (event.kind == BatchEvent::ReportStored)
            stored.push_back(event.folder->number);
        if (event.kind == BatchEvent::ScanFinished || event.kind == BatchEvent::Stopped)
            break;
    }
    EXPECT_EQ(stored, (std::vector<int>{12345, 1})) << "offered once played, the second offer finds it done";
    EXPECT_TRUE(fs::exists(root / "12345" / "battle.html"));
    EXPECT_FALSE(hasReport(7));
    EXPECT_TRUE(fs::is_directory(folder(0))) << "the scan of 0..last still runs";
}

TEST_F(BatchSubmitTest, AWatchTellsOfFoldersThatBecomeReadyAndNotOfOthers) {
    fs::create_directories(root);
    dropDecks(3, TopDeck, BottomDeck); // ready before the watch
    dropDecks(4, TopDeck, BottomDeck); // done
    writeAll(folder(4) / "battle.html", "<html>\r\n");
    FolderWatch watch(rootText());
    ASSERT_TRUE(watch.active()) << "inotify on a local folder";
    EXPECT_EQ(watch.take(), 3);
    EXPECT_EQ(watch.take(), std::nullopt);
    writeAll(folder(3) / "battle.html", "<html>\r\n"); // played
    EXPECT_FALSE(watch.wait(std::chrono::milliseconds(20)));

    // A pair put in by a rename into a new folder past 9999, as a submitter does.
    const auto start = std::chrono::steady_clock::now();
    fs::create_directories(root / "20000");
    writeAll(root / "20000" / ".t", TopDeck + "\r\n" + BottomDeck + "\r\n");
    fs::rename(root / "20000" / ".t", root / "20000" / "deck.dat");
    EXPECT_TRUE(watch.wait(std::chrono::seconds(5)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900)) << "before any sweep";
    EXPECT_EQ(watch.take(), 20000);
    writeAll(root / "20000" / "battle.html", "<html>\r\n"); // played

    // Done folders are not told of again; their sweep finds nothing either.
    EXPECT_FALSE(watch.wait(std::chrono::milliseconds(1100)));
    EXPECT_EQ(watch.take(), std::nullopt);
    // The sweep finds a ready folder whatever the events said.
    writeAll(folder(5) / "deck.dat", TopDeck + "\r\n" + BottomDeck + "\r\n");
    watch.sweep();
    EXPECT_EQ(watch.take(), 5);
}

TEST_F(BatchSubmitTest, AWatchTellsOfAPairOnlyOnceItsWriterHasFinishedAndOfAFolderThatVanished) {
    using std::chrono::milliseconds;
    fs::create_directories(folder(0));
    FixedClock clock{"12:00:00", 0, std::chrono::system_clock::now()};
    FolderWatch watch(rootText(), clock, milliseconds(300));
    ASSERT_TRUE(watch.active()) << "inotify on a local folder";
    auto later = [&](milliseconds by) { clock.setNow(clock.now() + by); };

    // echo L0 > deck.dat; echo L1 >> deck.dat, the second line paused inside its last id.
    const fs::path decks = folder(0) / "deck.dat";
    writeAll(decks, TopDeck + "\r\n");
    EXPECT_FALSE(watch.wait(milliseconds(30))) << "written just now";
    later(milliseconds(400));
    EXPECT_FALSE(watch.wait(milliseconds(30))) << "quiet, but only one line";
    std::FILE* writer = std::fopen(decks.c_str(), "ab");
    ASSERT_NE(writer, nullptr);
    std::fputs(BottomDeck.substr(0, 35).c_str(), writer);
    std::fflush(writer);
    EXPECT_FALSE(watch.wait(milliseconds(30)));
    later(milliseconds(1000));
    EXPECT_FALSE(watch.wait(milliseconds(30))) << "open for writing, however long it pauses";
    std::fputs((BottomDeck.substr(35) + "\r\n").c_str(), writer);
    std::fclose(writer);
    EXPECT_FALSE(watch.wait(milliseconds(30))) << "closed just now";
    later(milliseconds(400));
    EXPECT_TRUE(watch.wait(milliseconds(30)));
    EXPECT_EQ(watch.take(), 0);
    EXPECT_EQ(watch.take(), std::nullopt);

    // Played, then deleted (rm -r): told of once it is gone, for the runner to pass over,
    // and not while its report is gone and its pair is still there.
    writeAll(folder(0) / "battle.html", "<html>\r\n");
    later(milliseconds(400));
    EXPECT_FALSE(watch.wait(milliseconds(30)));
    fs::remove(folder(0) / "battle.html");
    EXPECT_FALSE(watch.wait(milliseconds(30)));
    fs::remove_all(folder(0));
    EXPECT_FALSE(watch.wait(milliseconds(30)));
    later(milliseconds(400));
    EXPECT_TRUE(watch.wait(milliseconds(30)));
    EXPECT_EQ(watch.take(), 0);
    EXPECT_FALSE(fs::exists(folder(0))) << "never made again";
}

} // namespace
} // namespace morvane::test
