// Deck lines and deck files: the fixed format, applying a line to a side's
// selections, and the round trip through a saved file.

#include "cards/Deck.h"
#include "cards/CardCatalogue.h"
#include "common/AtomicFile.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "support/Process.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace morvane;
using test::Card;
using test::Vehicle;

namespace {
CardCatalogue catalogueWithIds(const std::vector<int>& characters, const std::vector<int>& vehicles) {
    std::vector<std::string> lines;
    lines.reserve(characters.size() + vehicles.size());
    for (int id : characters)
        lines.push_back(Card{.id = id}.line());
    for (int id : vehicles)
        lines.push_back(Vehicle{.id = id}.line());
    CardCatalogue catalogue;
    catalogue.loadBytes(test::cardFile(lines));
    return catalogue;
}
} // namespace

TEST(DeckLine, FormatsFortyBytesWithZeroPaddedIds) {
    SideSelection s{1, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(formatDeckLine(s, 0), "V001C001C002C003C004C005C006C007C008:000");
    SideSelection empty;
    EXPECT_EQ(formatDeckLine(empty, 1234), "V000C000C000C000C000C000C000C000C000:1234");
    // Every digit place, and ids outside three digits spelled as before.
    EXPECT_EQ(formatDeckLine({999, {10, 99, 100, 909, 90, 9, 0, 555}}, 7), "V999C010C099C100C909C090C009C000C555:007");
    EXPECT_EQ(formatDeckLine({1000, {-1, 2, 3, 4, 5, 6, 7, 8}}, 0), "V1000C-001C002C003C004C005C006C007C008:000");
    EXPECT_EQ(deckEntryText("V001C001C002C003C004C005C006C007C008:012 note"), "012 note");
    EXPECT_EQ(deckEntryText("V001C001C002C003C004C005C006C007C008:"), "");
    EXPECT_EQ(deckEntryText("short"), "");
}

TEST(DeckLine, ApplySelectsByIdAndLeavesUnofferedIdsEmpty) {
    // Ids with a gap (no 4) and a row 126 that no selector offers.
    const CardCatalogue catalogue = catalogueWithIds({1, 2, 3, 5, 6, 7, 8, 9, 126}, {1, 2});
    SideSelection s;
    applyDeckLine("V002C001C005C009C004C000C126C999C003:000", s, catalogue);
    EXPECT_EQ(s.vehicle, 2);
    EXPECT_EQ(s.characters, (std::array<int32_t, 8>{1, 5, 9, 0, 0, 0, 0, 3}));
    applyDeckLine("V003C$01C 02C+03C005C006C007C008C009", s, catalogue);
    EXPECT_EQ(s.vehicle, 0);
    EXPECT_EQ(s.characters, (std::array<int32_t, 8>{1, 2, 3, 5, 6, 7, 8, 9}));
}

TEST(DeckLine, ABadColumnKeepsTheSelectionsSetBeforeIt) {
    const CardCatalogue catalogue = catalogueWithIds({1, 2, 3, 4, 5, 6, 7, 8}, {1, 2});
    SideSelection s{2, {8, 8, 8, 8, 8, 8, 8, 8}};
    try {
        applyDeckLine("V001C001C002CxyzC004C005C006C007C008:000", s, catalogue);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.columnText(), "xyz");
    }
    EXPECT_EQ(s.vehicle, 1);
    EXPECT_EQ(s.characters, (std::array<int32_t, 8>{1, 2, 8, 8, 8, 8, 8, 8}));
    // An empty line fails on its first column, with an empty column text.
    try {
        Teams teams;
        Deck1Set("", teams, catalogue);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.message(), "'' " + test::sjis("は整数ではありません"));
    }
}

TEST(DeckLine, AnIdShortOfItsThreeDigitsRefusesTheWholeLine) {
    const CardCatalogue catalogue = catalogueWithIds({1, 2, 3, 4, 5, 6, 7, 8, 28}, {1, 2});
    auto refusal = [&](std::string_view line) {
        SideSelection s{2, {8, 8, 8, 8, 8, 8, 8, 8}};
        try {
            applyDeckLine(line, s, catalogue);
        } catch (const ConversionError& e) {
            return "conversion " + e.message();
        } catch (const InputError& e) {
            // Refused before anything changed.
            EXPECT_EQ(s, (SideSelection{2, {8, 8, 8, 8, 8, 8, 8, 8}})) << line;
            return e.message();
        }
        return std::string("accepted");
    };
    const std::string tooShort = test::sjis("はカード番号の桁が足りません");
    // The last id one digit short would have read as card 1.
    EXPECT_EQ(refusal("V001C001C002C003C004C005C006C028C01"), "'C01' " + tooShort);
    EXPECT_EQ(refusal("V001C001C002C003C004C005C006C028C0"), "'C0' " + tooShort);
    // Short in the middle: the next letter falls into the column.
    EXPECT_EQ(refusal("V001C001C02C003C004C005C006C007C008:000"), "'C02' " + tooShort);
    EXPECT_EQ(refusal("V01C001C002C003C004C005C006C007C008:000"), "'V01' " + tooShort);
    EXPECT_EQ(refusal("V001C001C002C003C004C005C006C007C08:000"), "'C08' " + tooShort);
    // What the number rule refuses keeps its own message.
    EXPECT_EQ(refusal("V001C001C002CxyC004C005C006C007C008:000"),
              "conversion 'xyC' " + test::sjis("は整数ではありません"));
    EXPECT_EQ(refusal("V001C001C002C003C004C005C006C007C"), "conversion '' " + test::sjis("は整数ではありません"));
    // Whole lines as stored files hold them: with or without a list number, with text
    // after it, with a CR left at the end, in hexadecimal or with blanks.
    for (const std::string_view line :
         {"V001C001C002C003C004C005C006C007C008", "V001C001C002C003C004C005C006C007C008:000",
          "V001C001C002C003C004C005C006C007C008:012 note", "V001C001C002C003C004C005C006C007C008\r",
          "V001C001C002C003C004C005C006C007C008:3\r", "V$01C  1C+02C003C004C005C006C007C008"})
        EXPECT_EQ(refusal(line), "accepted") << line;
}

TEST(DeckFile, AddSaveAndLoadGiveBackTheSameLinesAndEntries) {
    const test::TempFolder folder;
    const auto& dir = folder.path();
    // A file written on Linux with lone LF ends, and text after a list number.
    writeFileAtomic(dir / "deck0.dat", "V001C001C002C003C004C005C006C007C008:000 mine\n\nV002C001:001\n");
    DeckList list = DeckList::load(deckFilePath(dir, 0));
    ASSERT_EQ(list.lines().size(), 2u);
    EXPECT_EQ(list.entries(), (std::vector<std::string>{"000 mine", ""}));
    EXPECT_EQ(list.add(SideSelection{3, {1, 1, 1, 1, 1, 1, 1, 1}}), "002");
    EXPECT_EQ(list.lines().back(), "V003C001C001C001C001C001C001C001C001:002");
    EXPECT_EQ(list.fileBytes(), "V001C001C002C003C004C005C006C007C008:000 mine\r\nV002C001:001\r\n"
                                "V003C001C001C001C001C001C001C001C001:002\r\n\r\n");

    // Saving under the other case writes the very file that start-up reads.
    list.save(findFileNoCase(dir, "Deck0.dat"));
    EXPECT_FALSE(std::filesystem::exists(dir / "Deck0.dat"));
    const DeckList again = DeckList::load(deckFilePath(dir, 0));
    EXPECT_EQ(again.lines(), list.lines());
    EXPECT_EQ(again.entries(), list.entries());

    EXPECT_THROW(DeckList::load(deckFilePath(dir, 1)), FileNotFoundError);
}

TEST(DeckFile, EmptyListAddsEntryZeroThenOne) {
    DeckList list;
    EXPECT_EQ(list.add(SideSelection{}), "000");
    EXPECT_EQ(list.add(SideSelection{}), "001");
    EXPECT_EQ(list.lines()[0], "V000C000C000C000C000C000C000C000C000:000");
    EXPECT_EQ(DeckList().fileBytes(), "\r\n");
}

TEST(DeckFile, AListNotReadFromItsFileNeverEmptiesItButCreatesAMissingOne) {
    test::TempFolder dir;
    const std::string stored = "V001C001C002C003C004C005C006C007C008:000\r\n\r\n";
    writeFileAtomic(dir / "deck1.dat", stored);
    // Start-up stopped before this side's file was read: its list is empty.
    DeckList unread;
    try {
        unread.save(dir / "deck1.dat");
        ADD_FAILURE() << "an unread list was saved over its file";
    } catch (const IoError& e) {
        EXPECT_EQ(cp932ToUtf8(e.message()), "読み込んでいないﾌｧｲﾙには記録できません");
        EXPECT_EQ(e.where(), (dir / "deck1.dat").string());
    }
    EXPECT_EQ(readFileBytes(dir / "deck1.dat"), stored);

    unread.add(SideSelection{1, {1, 1, 1, 1, 1, 1, 1, 1}});
    unread.save(dir / "deck0.dat");
    EXPECT_EQ(readFileBytes(dir / "deck0.dat"), "V001C001C001C001C001C001C001C001C001:000\r\n\r\n");

    // A list that was read saves over its file as ever, an empty one too.
    DeckList read = DeckList::load(dir / "deck1.dat");
    read.add(SideSelection{});
    read.save(dir / "deck1.dat");
    EXPECT_EQ(DeckList::load(dir / "deck1.dat").lines().size(), 2u);
}

TEST(DeckFile, ASaveAfterAnotherWriterKeepsItsLinesAndRenumbersOnlyTheNewOnes) {
    test::TempFolder dir;
    const std::filesystem::path path = dir / "deck0.dat";
    writeFileAtomic(path, "V001C001C002C003C004C005C006C007C008:000 mine\r\n\r\n");
    DeckList list = DeckList::load(path);
    EXPECT_EQ(list.add(SideSelection{2, {2, 2, 2, 2, 2, 2, 2, 2}}), "001");
    EXPECT_EQ(list.add(SideSelection{3, {3, 3, 3, 3, 3, 3, 3, 3}}), "002");
    EXPECT_EQ(list.unsavedLines(), 2u);
    // Meanwhile another writer appends two teams (optimize --save, another window).
    EXPECT_EQ(appendToDeckFile(path, SideSelection{9, {9, 9, 9, 9, 9, 9, 9, 9}}), 1);
    EXPECT_EQ(appendToDeckFile(path, SideSelection{8, {8, 8, 8, 8, 8, 8, 8, 8}}), 2);

    const DeckSave outcome = list.save(path);
    EXPECT_TRUE(outcome.merged);
    EXPECT_EQ(outcome.newNumbers, (std::vector<int>{3, 4}));
    EXPECT_EQ(readFileBytes(path), "V001C001C002C003C004C005C006C007C008:000 mine\r\n"
                                   "V009C009C009C009C009C009C009C009C009:001\r\n"
                                   "V008C008C008C008C008C008C008C008C008:002\r\n"
                                   "V002C002C002C002C002C002C002C002C002:003\r\n"
                                   "V003C003C003C003C003C003C003C003C003:004\r\n\r\n");
    EXPECT_EQ(list.lines(), DeckList::load(path).lines());
    EXPECT_EQ(list.unsavedLines(), 0u);

    // Saved again with nothing new and nobody else writing: a plain save, no merge.
    EXPECT_FALSE(list.save(path).merged);
    // A file rewritten whole by another writer (lines gone, a byte 26 tail) is kept as
    // it is, the new line added after its lines and before the tail.
    writeFileAtomic(path, std::string("V005C005:000\r\n\x1a old"));
    list.add(SideSelection{});
    EXPECT_EQ(list.save(path).newNumbers, std::vector<int>{1});
    EXPECT_EQ(readFileBytes(path),
              std::string("V005C005:000\r\nV000C000C000C000C000C000C000C000C000:001\r\n\r\n\x1a old"));
}
