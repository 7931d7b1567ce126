#include "batch/BatchScan.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Errors.h"

#include "batch/BatchTesting.h"

#include <vector>

namespace morvane::test {
namespace {

using BatchScanTest = BatchFolderTest;

std::vector<int> readyFolders(int last, const std::string& root) {
    BatchScan scan(last);
    std::vector<int> numbers;
    while (auto folder = scan.next(root))
        numbers.push_back(folder->number);
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

    writeAll(base / "battle.html", "<html>\r\n");
    copyBatchReport(base / "battle.html", {2, rootText() + "0002/"});
    EXPECT_EQ(report(2), "<html>\r\n");
    EXPECT_EQ(filesIn(2), 2u) << "no temporary file is left beside deck.dat and battle.html";
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

    writeAll(base / "plain-file", "not a folder");
    BatchScan blocked(1);
    EXPECT_FALSE(blocked.next((base / "plain-file").string() + "/")) << "uncreatable folders are passed over";
    EXPECT_TRUE(blocked.finished());
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
