// The service's index is a cache of the batch folders: it must say what they say,
// whoever wrote them, and be rebuilt from them whenever it cannot be trusted.

#include "server/BattleIndex.h"
#include "batch/StoredReport.h"

#include "batch/BatchTesting.h"

namespace morvane::test {
namespace {

const fs::path Golden = fs::path(MORVANE_SOURCE_DIR) / "tests" / "data" / "golden";

TEST(StoredReport, TheWinnerAndTurnsAreReadFromAReportsEnd) {
    struct Case {
        const char* file;
        int winner;
        int32_t turns;
    };
    for (const Case& c :
         {Case{"seed-1.html", 0, 18}, Case{"seed-max.html", 1, 31}, Case{"pair-2-seed-99.html", 1, 27}}) {
        const BattleOutcome outcome = outcomeOfReportFile(Golden / c.file);
        EXPECT_EQ(outcome.status, BattleStatus::Ended) << c.file;
        EXPECT_EQ(outcome.winner, c.winner) << c.file;
        EXPECT_EQ(outcome.turns, c.turns) << c.file;
    }
    // A report stopped at the turn cap: the last heading tells its turns, nobody won.
    const std::string whole = readAll(Golden / "seed-max.html");
    const std::string capped = whole.substr(0, whole.find("<hr><center><font size=+2><b>13")) + "x\r\n";
    const BattleOutcome outcome = outcomeOfReport(capped);
    EXPECT_EQ(outcome.status, BattleStatus::Capped);
    EXPECT_EQ(outcome.winner, -1);
    EXPECT_EQ(outcome.turns, 12);
    EXPECT_EQ(outcomeOfReport("").turns, 0);
    EXPECT_EQ(outcomeOfReport("\r\n<hr><center><font size=+2><b>99999999999").turns, 0);
}

class BattleIndexTest : public BatchFolderTest {
protected:
    fs::path indexFile() const { return base / "index.sqlite"; }
};

TEST_F(BattleIndexTest, TheIndexSaysWhatTheFoldersSayAndIsRebuiltWhenItCannotBeTrusted) {
    dropDecks(0, TopDeck, BottomDeck);
    fs::copy_file(Golden / "seed-1.html", folder(0) / "battle.html");
    dropDecks(1, OtherTopDeck, OtherBottomDeck);
    fs::create_directories(folder(2));              // made by a scan: no battle
    fs::create_directories(folder(3) / "deck.dat"); // a deck pair that cannot be read
    dropDecks(12345, TopDeck, OtherBottomDeck);     // past 9999
    fs::create_directories(root / "12");            // not a batch folder name

    {
        BattleIndex index(indexFile(), rootText());
        EXPECT_TRUE(index.rebuilt());
        EXPECT_EQ(index.refresh(true), (std::vector<int>{1, 12345}));
        EXPECT_EQ(index.count(), 4);
        const std::optional<BattleEntry> done = index.find(0);
        ASSERT_TRUE(done);
        EXPECT_EQ(done->state, BattleEntry::Done);
        EXPECT_EQ(done->top, TopDeck);
        EXPECT_EQ(done->bottom, BottomDeck);
        EXPECT_EQ(done->outcome.winner, 0);
        EXPECT_EQ(done->outcome.turns, 18);
        EXPECT_EQ(index.find(3)->state, BattleEntry::Failed);
        EXPECT_NE(index.find(3)->problem.find("deck.dat"), std::string::npos);
        EXPECT_FALSE(index.find(2));
        EXPECT_EQ(index.waitingBefore(12345), 1);

        // Another runner plays 0001: a look at its folder tells.
        fs::copy_file(Golden / "seed-max.html", folder(1) / "battle.html");
        EXPECT_EQ(index.reread(1)->outcome.winner, 1);
        EXPECT_EQ(index.waiting(), 1);
        std::vector<int> newest;
        for (const BattleEntry& e : index.newest(0, 3))
            newest.push_back(e.number);
        EXPECT_EQ(newest, (std::vector<int>{12345, 3, 1}));
        EXPECT_EQ(index.newest(3, 3).size(), 1u);
    }

    // While the service is down, a report is deleted (to play the pair again), a
    // folder goes and one is dropped by hand: the next start follows the folders.
    fs::remove(folder(1) / "battle.html");
    fs::remove_all(folder(12345));
    dropDecks(4, OtherTopDeck, BottomDeck);
    {
        BattleIndex index(indexFile(), rootText());
        EXPECT_FALSE(index.rebuilt());
        EXPECT_EQ(index.refresh(true), (std::vector<int>{1, 4}));
        EXPECT_FALSE(index.find(12345));
        EXPECT_EQ(index.find(0)->outcome.turns, 18) << "kept from before";
        // New folders only: a quick look that skips the known ones.
        dropDecks(5, TopDeck, BottomDeck);
        EXPECT_EQ(index.refresh(false), (std::vector<int>{1, 4, 5}));
    }

    // A damaged file, or one of another root, is made anew from the folders.
    writeAll(indexFile(), std::string(4096, 'x'));
    fs::remove(fs::path(indexFile().string() + "-wal"));
    {
        BattleIndex index(indexFile(), rootText());
        EXPECT_TRUE(index.rebuilt());
        EXPECT_EQ(index.refresh(true), (std::vector<int>{1, 4, 5}));
        EXPECT_EQ(index.find(0)->outcome.winner, 0);
    }
    fs::create_directories(base / "other");
    {
        BattleIndex index(indexFile(), (base / "other").string() + "/");
        EXPECT_TRUE(index.rebuilt());
        EXPECT_TRUE(index.refresh(true).empty());
        EXPECT_EQ(index.count(), 0);
    }
}

TEST_F(BattleIndexTest, AFileDamagedUnderTheRunningIndexIsMadeAnewFromTheFolders) {
    dropDecks(0, TopDeck, BottomDeck);
    fs::copy_file(Golden / "seed-1.html", folder(0) / "battle.html");
    dropDecks(1, OtherTopDeck, OtherBottomDeck);
    BattleIndex index(indexFile(), rootText());
    EXPECT_EQ(index.refresh(true), (std::vector<int>{1}));

    // Overwritten in place, log and shared memory too, as a careless copy would.
    const auto damage = [&] {
        for (const char* suffix : {"", "-wal", "-shm"})
            writeAll(indexFile().string() + suffix, std::string(65536, 'x'));
    };
    damage();
    EXPECT_EQ(index.count(), 2);
    EXPECT_EQ(index.find(0)->outcome.turns, 18);
    // Every kind of use goes on: a runner storing a result, a page listing, a
    // submission.
    damage();
    fs::copy_file(Golden / "seed-max.html", folder(1) / "battle.html");
    index.finish(1, outcomeOfReportFile(folder(1) / "battle.html"), 5);
    EXPECT_EQ(index.find(1)->state, BattleEntry::Done);
    damage();
    dropDecks(2, TopDeck, OtherBottomDeck);
    BattleEntry added;
    added.number = 2;
    added.top = TopDeck;
    added.bottom = OtherBottomDeck;
    index.add(added);
    EXPECT_EQ(index.newest(0, 5).size(), 3u);
    EXPECT_EQ(index.waitingNumbers(), (std::vector<int>{2}));
    // Removed altogether: made again where it was.
    fs::remove(indexFile());
    damage();
    EXPECT_EQ(index.waiting(), 1);
    EXPECT_EQ(index.waitingBefore(3), 1);
}

TEST_F(BattleIndexTest, NothingDoneToTheFilesBesideTheIndexEndsTheProcessAndASecondIndexKeepsItsOwn) {
    dropDecks(0, TopDeck, BottomDeck);
    BattleIndex first(indexFile(), rootText());
    EXPECT_EQ(first.refresh(true), (std::vector<int>{0}));
    // A -shm file cut short under a process that maps it ends that process with
    // SIGBUS; the index maps none.
    const std::string shm = indexFile().string() + "-shm";
    EXPECT_FALSE(fs::exists(shm));
    writeAll(shm, "");
    EXPECT_EQ(first.count(), 1);
    dropDecks(1, OtherTopDeck, OtherBottomDeck);
    EXPECT_EQ(first.refresh(true), (std::vector<int>{0, 1}));

    // A second service on the same root: it keeps an index of its own, and leaves the
    // first one's file be.
    BattleIndex second(indexFile(), rootText());
    EXPECT_EQ(second.refresh(true), (std::vector<int>{0, 1}));
    ASSERT_TRUE(second.find(1));
    EXPECT_EQ(second.find(1)->top, OtherTopDeck);
    EXPECT_TRUE(fs::exists(indexFile()));
    EXPECT_EQ(first.find(1)->top, OtherTopDeck);
    EXPECT_EQ(first.count(), 2);
}

} // namespace
} // namespace morvane::test
