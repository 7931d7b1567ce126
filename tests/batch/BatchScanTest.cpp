#include "batch/BatchScan.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Errors.h"

#include "batch/BatchTesting.h"

namespace morvane::test {
namespace {

using BatchScanTest = BatchFolderTest;

std::vector<int> readyFolders(BatchScan& scan, const std::string& root) {
    std::vector<int> numbers;
    while (auto folder = scan.next(root))
        numbers.push_back(folder->number);
    return numbers;
}

TEST_F(BatchScanTest, FirstScanCreatesEveryFolderUpToLastEvenWithNothingToPlay) {
    EXPECT_EQ(batchFolderName("x/", 7), "x/0007/");
    EXPECT_EQ(batchFolderName("x", 1000), "x1000/") << "the root text is taken as given";
    EXPECT_EQ(batchFolderName("x/", 12345), "x/12345/");

    BatchScan scan(1);
    EXPECT_FALSE(scan.next(rootText()));
    EXPECT_TRUE(scan.finished());
    EXPECT_EQ(scan.scanned(), 2);
    EXPECT_TRUE(fs::is_directory(folder(0)));
    EXPECT_TRUE(fs::is_directory(folder(1)));
    EXPECT_FALSE(fs::exists(folder(2)));

    BatchScan wide(1000);
    EXPECT_FALSE(wide.next(rootText()));
    EXPECT_EQ(wide.scanned(), 1001);
    EXPECT_TRUE(fs::is_directory(folder(1000)));
    EXPECT_FALSE(fs::exists(folder(1001)));
}

TEST_F(BatchScanTest, OnlyFoldersWithDecksAndNoReportAreReadyInAscendingOrder) {
    dropDecks(3, TopDeck, BottomDeck);
    dropDecks(1, TopDeck, BottomDeck);
    dropDecks(2, TopDeck, BottomDeck);
    writeAll(folder(2) / "battle.html", "old report");
    writeAll(folder(4) / "battle.html", "report without decks");
    writeAll(folder(5) / "DECK.DAT", TopDeck + "\r\n" + BottomDeck + "\r\n");

    BatchScan scan(5);
    EXPECT_EQ(readyFolders(scan, rootText()), (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(readAll(folder(2) / "battle.html"), "old report") << "a done folder is left alone";

    fs::remove(folder(2) / "battle.html");
    BatchScan again(5);
    EXPECT_EQ(readyFolders(again, rootText()), (std::vector<int>{1, 2, 3, 5})) << "a deleted report is played again";
}

TEST_F(BatchScanTest, RootTextIsReadAfreshForEveryFolder) {
    fs::create_directories(base / "second");
    dropDecks(1, TopDeck, BottomDeck);
    int asked = 0;
    BatchScan scan(1);
    auto folder = scan.next([&] { return ++asked == 1 ? rootText() : (base / "second").string() + "/"; });
    EXPECT_FALSE(folder) << "folder 1 was looked for under the edited root";
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(fs::is_directory(base / "second" / "0001"));
    EXPECT_FALSE(fs::exists(base / "second" / "0000"));
}

TEST_F(BatchScanTest, UnusableRootsStopTheScanButUncreatableFoldersArePassedOver) {
    BatchScan empty(1);
    EXPECT_THROW(empty.next(""), FolderError);
    EXPECT_EQ(empty.scanned(), 0) << "the scan stays at the folder it could not make";

    BatchScan relative(1);
    EXPECT_THROW(relative.next("no-such-folder-for-morvane-tests/"), FolderError);
    EXPECT_FALSE(fs::exists("no-such-folder-for-morvane-tests"));

    writeAll(base / "plain-file", "not a folder");
    BatchScan blocked(1);
    EXPECT_FALSE(blocked.next((base / "plain-file").string() + "/"));
    EXPECT_TRUE(blocked.finished());
}

TEST_F(BatchScanTest, DeckPairIsTheFirstTwoLinesAndAMissingLineIsEmpty) {
    writeAll(folder(0) / "deck.dat", "\r\n" + TopDeck + "\r\n\r\n" + BottomDeck + "\n" + OtherTopDeck + "\r\n");
    const DeckPair pair = readDeckPair({0, rootText() + "0000/"});
    EXPECT_EQ(pair.top, TopDeck);
    EXPECT_EQ(pair.bottom, BottomDeck);
    EXPECT_NE(pair.bottomWhere.find("0000/deck.dat:4"), std::string::npos) << pair.bottomWhere;

    writeAll(folder(1) / "deck.dat", TopDeck + "\x1a" + BottomDeck);
    const DeckPair cut = readDeckPair({1, rootText() + "0001/"});
    EXPECT_EQ(cut.top, TopDeck);
    EXPECT_EQ(cut.bottom, "") << "byte 26 ends the file";

    try {
        readDeckPair({2, rootText() + "0002/"});
        FAIL() << "a missing deck.dat must throw";
    } catch (const FileNotFoundError& e) {
        EXPECT_NE(e.where().find("0002/deck.dat"), std::string::npos) << e.where();
    }
}

TEST_F(BatchScanTest, OneLineDeckFailsOnTheBottomSideAfterTheTopSideWasSet) {
    CardCatalogue catalogue;
    catalogue.load(cards);
    writeAll(folder(0) / "deck.dat", OtherTopDeck + "\r\n");
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
    EXPECT_EQ(teams.side[0].characters[1], 2);
    EXPECT_EQ(teams.side[0].characters[7], 8);
    EXPECT_EQ(teams.side[1], bottomBefore);
}

TEST_F(BatchScanTest, ReportsAreStoredWholeOrNotAtAll) {
    const BatchFolder target{0, rootText() + "0000/"};
    fs::create_directories(folder(0));
    storeBatchReport(target, "<html>\r\nfirst\r\n");
    writeAll(base / "program" / "battle.html", "<html>\r\nsecond\r\n");
    copyBatchReport(base / "program" / "battle.html", target);
    EXPECT_EQ(report(0), "<html>\r\nsecond\r\n") << "an existing report is replaced";
    EXPECT_EQ(std::distance(fs::directory_iterator(folder(0)), fs::directory_iterator()), 1)
        << "no temporary file is left behind";

    EXPECT_THROW(copyBatchReport(base / "program" / "missing.html", target), FileNotFoundError);
    EXPECT_EQ(report(0), "<html>\r\nsecond\r\n");

    EXPECT_THROW(storeBatchReport({1, rootText() + "0001/"}, "<html>\r\n"), IoError)
        << "a folder that could not be created cannot take a report";
    EXPECT_FALSE(hasReport(1));
}

} // namespace
} // namespace morvane::test
