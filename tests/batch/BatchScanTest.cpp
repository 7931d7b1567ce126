#include "batch/BatchScan.h"
#include "batch/FolderState.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/AtomicFile.h"
#include "common/Errors.h"

#include "batch/BatchTesting.h"

#include <unistd.h>
#include <vector>

namespace morvane::test {
namespace {

using BatchScanTest = BatchFolderTest;

// Ready folders by number; a folder passed over for a problem counts as -1 - number.
std::vector<int> readyFolders(int last, const std::string& root) {
    BatchScan scan(last);
    std::vector<int> numbers;
    while (auto found = scan.next(root))
        numbers.push_back(found->problem ? -1 - found->folder.number : found->folder.number);
    EXPECT_EQ(scan.scanned(), last + 1);
    return numbers;
}

TEST_F(BatchScanTest, FirstScanCreatesTheFoldersAndLaterScansFindReadyOnesInOrder) {
    EXPECT_EQ(batchFolderName("x/", 1000), "x/1000/");
    EXPECT_EQ(batchFolderName("x", 7), "x0007/") << "the root text is taken as given";

    EXPECT_EQ(readyFolders(1, rootText()), std::vector<int>{});
    EXPECT_TRUE(fs::is_directory(folder(0)) && fs::is_directory(folder(1)));
    EXPECT_FALSE(fs::exists(folder(2)));

    dropDecks(3, TopDeck, BottomDeck);
    dropDecks(1, TopDeck, BottomDeck);
    dropDecks(2, TopDeck, BottomDeck);
    writeAll(folder(2) / "battle.html", "old report");
    writeAll(folder(4) / "battle.html", "report without decks");
    writeAll(folder(5) / "DECK.DAT", TopDeck + "\r\n" + BottomDeck + "\r\n");
    EXPECT_EQ(readyFolders(5, rootText()), (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(readAll(folder(2) / "battle.html"), "old report") << "a done folder is left alone";

    fs::remove(folder(2) / "battle.html");
    EXPECT_EQ(readyFolders(5, rootText()), (std::vector<int>{1, 2, 3, 5})) << "a deleted report is played again";

    writeAll(folder(2) / ".battle.html.12345.tmp", "left by a killed runner");
    writeAll(folder(2) / ".deck.dat.1.tmp", "someone else's");
    writeAll(folder(2) / ".deck.dat.tmp", "not a temporary file of ours");
    sweepBatchTemporaries(rootText() + "0002/");
    EXPECT_EQ(filesIn(2), 2u) << "only the temporary files of our own names go";
    EXPECT_TRUE(storeBatchReport({2, rootText() + "0002/"}, "<html>\r\n"));
    EXPECT_EQ(report(2), "<html>\r\n");
    EXPECT_EQ(filesIn(2), 3u) << "no temporary file is left beside deck.dat and battle.html";
    fs::remove(folder(2) / ".deck.dat.tmp");
    EXPECT_EQ(readyFolders(5, rootText()), (std::vector<int>{1, 3, 5}));
}

TEST_F(BatchScanTest, RootTextIsAskedPerFolderAndOnlyUnusableRootsStopTheScan) {
    BatchScan edited(1);
    int asked = 0;
    EXPECT_FALSE(edited.next([&] { return ++asked == 1 ? rootText() : (base / "edited").string() + "/"; }));
    EXPECT_TRUE(fs::is_directory(folder(0)) && fs::is_directory(base / "edited" / "0001"));

    BatchScan empty(1);
    EXPECT_THROW(empty.next(""), FolderError);
    EXPECT_EQ(empty.scanned(), 0);
    EXPECT_THROW(BatchScan(1).next("no-such-folder-for-morvane-tests/"), FolderError);
    EXPECT_FALSE(fs::exists("no-such-folder-for-morvane-tests"));

    // Folders that cannot be made or looked into are handed back with the reason, for
    // the caller to pass over.
    writeAll(base / "plain-file", "not a folder");
    EXPECT_EQ(readyFolders(1, (base / "plain-file").string() + "/"), (std::vector<int>{-1, -2}));
    dropDecks(1, TopDeck, BottomDeck);
    fs::remove_all(folder(0));
    writeAll(folder(0), "a file where folder 0000 belongs");
    fs::create_directories(folder(2));
    fs::create_symlink("deck.dat", folder(2) / "deck.dat");
    EXPECT_EQ(readyFolders(2, rootText()), (std::vector<int>{-1, 1, -3}));
    BatchScan looping(2);
    std::optional<ScannedFolder> found;
    while ((found = looping.next(rootText())) && found->folder.number != 2) {
    }
    ASSERT_TRUE(found && found->problem);
    EXPECT_THROW(std::rethrow_exception(found->problem), IoError) << "a link loop is not a missing deck pair";
}

TEST_F(BatchScanTest, EveryReaderSeesOneStateOfAFolder) {
    auto state = [&](int n) { return lookAtBatchFolder(rootText() + batchName(n) + "/").state; };
    EXPECT_EQ(state(0), FolderState::Missing);
    fs::create_directories(folder(0));
    writeAll(folder(0) / "battle.html", "a report without decks");
    EXPECT_EQ(state(0), FolderState::Empty);
    dropDecks(1, TopDeck, BottomDeck);
    EXPECT_EQ(state(1), FolderState::Ready);
    writeAll(folder(1) / ".morvane-claim", "elsewhere 1 1\n");
    EXPECT_EQ(state(1), FolderState::Claimed);
    writeAll(folder(1) / "Battle.HTML", "<html>\r\n");
    EXPECT_EQ(state(1), FolderState::Done);
    const FolderLook done = lookAtBatchFolder(rootText() + "0001/");
    EXPECT_TRUE(done.claimFile) << "a claim left in a done folder is seen";
    writeAll(folder(2) / "deck.dat", TopDeck + "\r\n");
    EXPECT_EQ(state(2), FolderState::Writing);
    fs::create_directories(folder(3));
    fs::create_symlink("deck.dat", folder(3) / "deck.dat");
    const FolderLook looping = lookAtBatchFolder(rootText() + "0003/");
    EXPECT_EQ(looping.state, FolderState::Failed);
    EXPECT_THROW(std::rethrow_exception(looping.problem), IoError);
    writeAll(root / "0004", "a file where a folder belongs");
    EXPECT_EQ(state(4), FolderState::Missing);
}

TEST_F(BatchScanTest, APairIsWholeOnceItsSecondLineEndedOrHoldsEveryId) {
    const std::string ids = BottomDeck.substr(0, 36);
    EXPECT_TRUE(wholeDeckPair(TopDeck + "\r\n" + BottomDeck + "\r\n"));
    EXPECT_TRUE(wholeDeckPair(TopDeck + "\n" + ids)) << "a hand-written file without its last line end";
    EXPECT_TRUE(wholeDeckPair(TopDeck + "\r" + BottomDeck + "\r"));
    EXPECT_TRUE(wholeDeckPair("\r\n\r\n")) << "whole, if wrong: its reader says why";
    EXPECT_FALSE(wholeDeckPair(""));
    EXPECT_FALSE(wholeDeckPair(TopDeck)) << "the first line under way";
    EXPECT_FALSE(wholeDeckPair(TopDeck + "\r\n")) << "echo L0 > deck.dat, before echo L1 >> deck.dat";
    EXPECT_FALSE(wholeDeckPair(TopDeck + "\r")) << "its LF may follow";
    EXPECT_FALSE(wholeDeckPair(TopDeck + "\r\n" + ids.substr(0, 35))) << "a pause inside the last id";
    EXPECT_FALSE(wholeDeckPair(TopDeck + "\r\n\x1a" + BottomDeck + "\r\n")) << "nothing after a byte 26";
}

TEST_F(BatchScanTest, TheScanSweepsWhatDeadWritersLeftInEmptyAndDoneFolders) {
    fs::create_directories(folder(0));
    writeAll(folder(0) / ".deck.dat.5.tmp", "V00");                // a submitter killed while writing
    writeAll(folder(0) / "..morvane-claim.7.tmp", "half a claim"); // a runner killed while claiming
    dropDecks(1, TopDeck, BottomDeck);
    writeAll(folder(1) / "battle.html", "<html>\r\n");
    writeAll(folder(1) / "..morvane-claim.3.tmp", "a runner killed after storing");
    writeAll(folder(1) / ".battle.html.4.tmp", "a report never renamed");
    writeAll(folder(1) / "notes.txt", "the user's own");
    // A writer at work holds a lock on its file, which keeps it.
    fs::path live;
    const int liveFd = createTemporaryFile(folder(1) / "deck.dat", 0644, live);
    ASSERT_GE(liveFd, 0);
    // A held folder is its holder's to clean.
    dropDecks(2, TopDeck, BottomDeck);
    writeAll(folder(2) / ".morvane-claim", "elsewhere 1 1\n");
    writeAll(folder(2) / ".battle.html.6.tmp", "the holder's report under way");

    BatchScan scan(2);
    while (scan.next(rootText())) {
    }
    EXPECT_EQ(filesIn(0), 0u);
    EXPECT_EQ(filesIn(1), 4u) << "deck.dat, battle.html, notes.txt and the live writer's file";
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(folder(2) / ".battle.html.6.tmp"));
    ::unlink(live.c_str());
    ::close(liveFd);
}

TEST_F(BatchScanTest, AReportIsPlacedOnlyWhereNoneIsAndItsFailuresSayWhy) {
    dropDecks(0, TopDeck, BottomDeck);
    EXPECT_TRUE(storeBatchReport({0, rootText() + "0000/"}, "first\r\n"));
    EXPECT_FALSE(storeBatchReport({0, rootText() + "0000/"}, "second\r\n"));
    EXPECT_EQ(report(0), "first\r\n") << "a late runner never replaces a stored report";
    EXPECT_EQ(filesIn(0), 2u);

    try {
        storeBatchReport({1, rootText() + "0001/"}, "<html>\r\n");
        FAIL() << "no folder to store into";
    } catch (const IoError& e) {
        EXPECT_EQ(e.where(), rootText() + "0001/battle.html (No such file or directory)");
    }
}

TEST_F(BatchScanTest, OneLineDeckFailsOnTheBottomSideAfterTheTopSideWasSet) {
    CardCatalogue catalogue;
    catalogue.load(cards);
    writeAll(folder(0) / "deck.dat", "\r\n" + OtherTopDeck + "\r\n");
    Teams teams;
    Deck0Set(TopDeck, teams, catalogue);
    Deck1Set(BottomDeck, teams, catalogue);
    const SideSelection bottomBefore = teams.side[1];
    try {
        applyDeckPair(readDeckPair({0, rootText() + "0000/"}), teams, catalogue);
        FAIL() << "an empty bottom line must not apply";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.columnText(), "");
        EXPECT_NE(e.where().find("0000/deck.dat"), std::string::npos) << e.where();
    }
    EXPECT_EQ(teams.side[0].vehicle, 2);
    EXPECT_EQ(teams.side[0].characters[7], 8);
    EXPECT_EQ(teams.side[1], bottomBefore);
}

} // namespace
} // namespace morvane::test
