#include "batch/BatchScan.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Errors.h"

#include "batch/BatchTesting.h"

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
    removeStaleReportFiles({2, rootText() + "0002/"});
    EXPECT_EQ(filesIn(2), 2u) << "only the report's temporary files go";
    storeBatchReport({2, rootText() + "0002/"}, "<html>\r\n");
    EXPECT_EQ(report(2), "<html>\r\n");
    EXPECT_EQ(filesIn(2), 3u) << "no temporary file is left beside deck.dat and battle.html";
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
