// card.dat as the designer's tools see it: the document that writes a file back byte
// for byte, the field table, the checker against the loader, and the card table's
// export and import.

#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "cards/CardExchange.h"
#include "cards/CatalogueCheck.h"
#include "cards/Deck.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Random.h"
#include "common/TextLines.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

using namespace morvane;
using test::Card;
using test::sjis;
using test::Vehicle;

namespace {

std::string bundled() {
    return readFileBytes(std::string(MORVANE_SOURCE_DIR) + "/data/card.dat");
}

// Every way a file can be shaped: each kind of line end, blank lines, comments, a
// name with a character cut in half by nothing, a last line without an end, a byte 26
// and what follows it.
std::string handMade() {
    return "; head\r\n\r\n" + Card{.id = 2, .name = "二番"}.line() + "\n" + Card{.id = 1, .name = "一番"}.line() +
           "\r" + "c003 lower case\r\n\n" + Vehicle{.id = 1, .name = "車"}.line() + "\r\n" +
           Card{.id = 3, .name = "三"}.line() + "\x1a" + "after\r\nthe end\xff";
}

// Odd names a spreadsheet and the escapes must carry: separators and quotes, a
// backslash, blanks at both ends, half-width katakana, an NEC special character, both
// codes of a character that code page 932 has twice, a lead byte with no trail,
// control bytes.
std::string oddNames() {
    std::vector<std::string> lines;
    const std::vector<std::string> names{
        sjis("カンマ,と\"引用\""), "back\\slash \\x41", "  blank  ",         "\xb6\xc5",  "\x87\x40",
        "\xed\x40\xfa\x5c",        "cut\x81",           "tab\there\x7f\x01", sjis("=1+1")};
    for (size_t i = 0; i < names.size(); ++i)
        lines.push_back(Card{.id = static_cast<int>(i) + 1}.line().substr(0, 66) + names[i]);
    return test::cardFile(lines);
}

std::string roundTrip(const std::string& bytes, TableFormat format) {
    const TableImport imported = importCardTable(exportCardTable(CatalogueDocument::parse(bytes), format));
    EXPECT_TRUE(imported.problems.empty()) << imported.problems.front().column;
    return imported.document.bytes();
}

// The message of the first problem the loader stops at.
std::string loaderMessage(const std::string& bytes) {
    CardCatalogue catalogue;
    try {
        catalogue.loadBytes(bytes);
    } catch (const MorvaneError& e) {
        return e.message();
    }
    return {};
}

} // namespace

TEST(CatalogueDocument, WritesEveryFileBackByteForByteAndCountsLinesAsTheLoader) {
    for (const std::string& bytes : {bundled(), handMade(), oddNames(), std::string(), std::string("\x1a"),
                                     std::string("\r\n\r"), std::string("C")}) {
        const CatalogueDocument document = CatalogueDocument::parse(bytes);
        EXPECT_EQ(document.bytes(), bytes);
        // The loader's line numbers name the same lines.
        for (const TextLine& line : splitTextLines(bytes))
            EXPECT_EQ(document.lines()[static_cast<size_t>(line.number - 1)].text, line.text);
    }
    const CatalogueDocument document = CatalogueDocument::parse(handMade());
    EXPECT_EQ(document.tail(), "\x1a"
                               "after\r\nthe end\xff");
    EXPECT_EQ(document.cardLines('C'), (std::vector<size_t>{2, 3, 7}));
}

TEST(CatalogueDocument, EditsPlaceNewCardsByKindAndUndoExactly) {
    CatalogueDocument document = CatalogueDocument::parse(handMade());
    const std::string before = document.bytes();
    // The last character stands last in a line without an end: it gets one, the new
    // line goes without, and the byte 26 stays after it.
    const LineEdit undo = document.apply(document.insertCard(Card{.id = 4}.line()));
    EXPECT_EQ(document.cardLines('C').back(), 8u);
    EXPECT_NE(document.bytes().find(Card{.id = 3, .name = "三"}.line() + "\r\n" + Card{.id = 4}.line()),
              std::string::npos);
    EXPECT_NE(document.bytes().find(Card{.id = 4}.line() + "\x1a"
                                                           "after"),
              std::string::npos);
    document.apply(undo);
    EXPECT_EQ(document.bytes(), before);

    // The first vehicle of a file without any follows its characters; the first
    // character of one with only vehicles goes before them.
    CatalogueDocument vehicles = CatalogueDocument::parse(test::cardFile({Vehicle{}.line()}));
    vehicles.apply(vehicles.insertCard(Card{}.line()));
    EXPECT_EQ(vehicles.bytes(), test::cardFile({Card{}.line(), Vehicle{}.line()}));
    vehicles.apply(vehicles.removeLine(1));
    vehicles.apply(vehicles.replaceText(0, Card{.id = 9}.line()));
    EXPECT_EQ(vehicles.bytes(), test::cardFile({Card{.id = 9}.line()}));
}

TEST(CardFields, CoverEveryColumnAndHoldWhatTheColumnsHold) {
    for (const char kind : {'C', 'V'}) {
        int next = 2;
        for (const CardField& field : cardFields(kind)) {
            EXPECT_EQ(field.column, next) << field.name;
            next += field.width;
        }
        EXPECT_EQ(next, 67);
    }
    const CardField& id = *findCardField('C', "id");
    const CardField& size = *findCardField('C', "size");
    EXPECT_EQ(numberRange('C', id).max, 126);
    EXPECT_EQ(numberRange('V', *findCardField('V', "id")).max, 26);
    EXPECT_EQ(numberRange('C', size).min, -9);
    EXPECT_EQ(numberRange('C', size).max, 99);
    EXPECT_EQ(formatNumber(id, 7), "007");
    EXPECT_EQ(formatNumber(size, 7), " 7");
    EXPECT_EQ(formatNumber(size, -9), "-9");
    // A short line is filled with blanks up to the field written.
    EXPECT_EQ(withFieldBytes("C001", size, "12"), "C001    12");
    EXPECT_EQ(withFieldBytes("C001", *findCardField('C', "name"), "n"), "C001" + std::string(62, ' ') + "n");

    // The next id follows the highest.
    CatalogueDocument document = CatalogueDocument::parse(test::cardFile({Card{.id = 3}.line(), Card{.id = 1}.line()}));
    EXPECT_EQ(freeCardId(document, 'C'), 4);
    EXPECT_EQ(freeCardId(document, 'V'), 1);
    document.apply(document.insertCard(Card{.id = 125}.line()));
    EXPECT_EQ(freeCardId(document, 'C'), 2);
}

TEST(CardFields, NewCardsLoadPlayToAnEndAndPassTheChecker) {
    std::vector<std::string> lines{newCardLine('V', 1, "v")};
    for (int id = 1; id <= 8; ++id)
        lines.push_back(newCardLine('C', id, "c" + std::to_string(id)));
    const std::string bytes = test::cardFile(lines);
    EXPECT_TRUE(checkCatalogue(CatalogueDocument::parse(bytes)).empty());
    CardCatalogue catalogue;
    catalogue.loadBytes(bytes);
    EXPECT_EQ(catalogue.characterEntries().size(), 8u);
    EXPECT_EQ(catalogue.vehicleEntries().front().text, "v(40)");
    // Two teams of nothing but new cards fight until a vehicle falls.
    const SideSelection team{1, {1, 2, 3, 4, 5, 6, 7, 8}};
    Random random(7);
    Battle battle(catalogue, random);
    const BattleOutcome outcome = battle.play(Teams{{team, team}});
    EXPECT_EQ(outcome.status, BattleStatus::Ended);
    // A team of new cards keeps to a new vehicle's deck size.
    int32_t total = 0;
    for (const int32_t id : team.characters)
        total += catalogue.character(id).size;
    EXPECT_LE(total, catalogue.vehicle(1).size);
}

TEST(CardFields, StatTextShowsTheColumnsAsTheyStand) {
    EXPECT_EQ(cardStatText(Card{.hp = "05", .power = "12", .sp = " 3"}.line()), "HP:05 AP:12 SP: 3");
    EXPECT_EQ(cardStatText(Vehicle{.hp = "$A", .power = " 0", .sp = "-1"}.line()), "HP:$A AP: 0 SP:-1");
    // An undefined row, and a line cut inside the AP columns.
    EXPECT_EQ(cardStatText(""), "HP: AP: SP:");
    EXPECT_EQ(cardStatText(Card{.hp = "12", .power = "34"}.line().substr(0, 13)), "HP:12 AP:3 SP:");
    // Whether a cell fits its field, for the editor and the table import alike.
    const CardField& size = *findCardField('C', "size");
    const CardField& name = *findCardField('C', "name");
    EXPECT_TRUE(isNumeric(size));
    EXPECT_TRUE(isNumeric(*findCardField('C', "killChance")));
    EXPECT_FALSE(isNumeric(*findCardField('C', "kindMark")));
    EXPECT_FALSE(isNumeric(name));
    EXPECT_TRUE(fitsField(size, " 5"));
    EXPECT_FALSE(fitsField(size, "5"));
    EXPECT_FALSE(fitsField(size, "\r5"));
    EXPECT_TRUE(fitsField(name, "a long name of any length"));
    EXPECT_FALSE(fitsField(name, "two\nlines"));
    EXPECT_FALSE(fitsField(name, "end\x1a"));
}

TEST(CatalogueDocument, CardsRemovedNamesEachLostIdOnceAtItsFirstLine) {
    const CatalogueDocument before = CatalogueDocument::parse(
        test::cardFile({Card{.id = 1}.line(), Card{.id = 2}.line(), Card{.id = 2}.line(), Card{.id = 3}.line(),
                        Vehicle{.id = 1}.line(), Vehicle{.id = 2}.line()}));
    // Card 3 moved to another line and keeps its id; 1 and vehicle 2 went; of the two
    // lines of card 2 one went, which loses nothing.
    const CatalogueDocument after = CatalogueDocument::parse(
        test::cardFile({Card{.id = 2}.line(), Card{.id = 3, .name = "x"}.line(), Vehicle{.id = 1}.line()}));
    std::vector<std::string> removed;
    for (const CardRef& card : cardsRemoved(before, after))
        removed.push_back(card.kind + std::to_string(card.id) + "@" + std::to_string(card.line));
    EXPECT_EQ(removed, (std::vector<std::string>{"C1@0", "V2@5"}));
    EXPECT_TRUE(cardsRemoved(after, after).empty());
}

TEST(CatalogueDocument, CardDifferencesNameEachCardByIdWhateverItsLine) {
    const CatalogueDocument before = CatalogueDocument::parse(
        test::cardFile({Card{.id = 1}.line(), Card{.id = 2}.line(), Card{.id = 3}.line(), Vehicle{.id = 1}.line()}));
    // 2 went, 3 moved and changed its HP, 4 and vehicle 2 came; a comment is no card.
    const CatalogueDocument after = CatalogueDocument::parse(
        test::cardFile({"; new comment", Card{.id = 3, .hp = "20", .name = "新"}.line(), Card{.id = 1}.line(),
                        Card{.id = 4}.line(), Vehicle{.id = 2}.line(), Vehicle{.id = 1}.line()}));
    std::vector<std::string> seen;
    for (const CardDifference& d : cardDifferences(before, after))
        seen.push_back(d.kind + std::to_string(d.id) + "ARC"[static_cast<int>(d.change)] + cp932ToUtf8(d.name));
    EXPECT_EQ(seen, (std::vector<std::string>{"C2Rキャラ", "C3C新", "C4Aキャラ", "V2A車"}));
    EXPECT_TRUE(cardDifferences(after, after).empty());
}

TEST(CardFields, ACopiedNameSaysCopyIsNumberedWhenTakenAndFitsOnACharacter) {
    const CatalogueDocument document = CatalogueDocument::parse(
        test::cardFile({Card{.id = 1, .name = "兵士"}.line(), Card{.id = 2, .name = "兵士のコピー"}.line(),
                        Card{.id = 3, .name = "兵士のコピー2"}.line(), Vehicle{.id = 1, .name = "兵士"}.line()}));
    EXPECT_EQ(cp932ToUtf8(copiedCardName(document, 'C', utf8ToCp932("兵士"))), "兵士のコピー3");
    // Names are counted per kind: no vehicle is called so yet.
    EXPECT_EQ(cp932ToUtf8(copiedCardName(document, 'V', utf8ToCp932("兵士"))), "兵士のコピー");
    // 16 two-byte characters and an odd byte: the cut keeps whole characters only.
    const std::string longName = utf8ToCp932("a" + std::string("あいうえおかきくけこさしすせそた"));
    const std::string copy = copiedCardName(document, 'C', longName);
    EXPECT_LE(copy.size(), static_cast<size_t>(MaxNameBytes));
    EXPECT_EQ(cp932ToUtf8(copy), "aあいうえおかきくけこさのコピー");
    EXPECT_EQ(copy.size(), 31u);
}

TEST(CatalogueCheck, NamesEveryValueABattleCannotUseWithItsBound) {
    const std::vector<std::string> lines{
        Card{.id = 1, .hp = " 1", .sp = " 1", .kill = " 0"}.line(), // every bound itself is fine
        Card{.id = 2, .sp = "20", .kill = "99"}.line(),
        Card{.id = 3, .sp = "25"}.line(),               // 3: never acts
        Card{.id = 4, .hp = " 0", .sp = " 0"}.line(),   // 4: starts fallen, never acts
        Card{.id = 5, .hp = "-3", .kill = "-5"}.line(), // 5: a chance that is no percentage
        Card{.id = 125}.line(),                         //
        Card{.id = 126}.line(),                         // 7: no selector offers it
        Vehicle{.id = 25, .sp = "25"}.line(),           // a vehicle's SP is only shown
        Vehicle{.id = 26, .hp = " 0"}.line(),           // 9: both
    };
    std::vector<std::string> found;
    for (const CatalogueProblem& p : checkCatalogue(CatalogueDocument::parse(test::cardFile(lines))))
        found.push_back(std::to_string(CatalogueDocument::lineNumber(p.line)) + " " + std::string(p.field->name) + " " +
                        p.message);
    const auto outside = [](const std::string& value, const std::string& range, const std::string& why) {
        return "'" + value + "' " + sjis("は範囲外です") + " (" + range + "): " + sjis(why);
    };
    const std::string neverActs = "この速さのキャラクターは行動しません";
    const std::string fallen = "HPが0以下のキャラクターは倒れたまま戦闘を始めます";
    EXPECT_EQ(found, (std::vector<std::string>{
                         "3 sp " + outside("25", "1-20", neverActs),
                         "4 hp " + outside(" 0", "1-99", fallen),
                         "4 sp " + outside(" 0", "1-20", neverActs),
                         "5 hp " + outside("-3", "1-99", fallen),
                         "5 killChance " + outside("-5", "0-99", "即死の確率は百分率です"),
                         "7 id " + outside("126", "1-125", "選択欄に出ないカード番号です"),
                         "9 id " + outside("026", "1-25", "選択欄に出ないカード番号です"),
                         "9 hp " + outside(" 0", "1-99", "HPが0以下の車両は最初の攻撃で負けます"),
                     }));
}

TEST(CatalogueCheck, FindsEveryProblemWithTheLoadersOwnMessage) {
    const std::vector<std::string> faults{
        Card{.id = 1, .size = "5 "}.line(),                // line 1: the load stops here
        "; fine\r\n" + Card{.id = 2, .hp = " x"}.line(),   // 2 and 3
        Card{.id = 3, .power = "zz", .kill = "- "}.line(), // 4: two columns only a battle reads
        "C127" + Card{}.line().substr(4),                  // 5: no row 127
        Vehicle{.id = 1, .power = "$G"}.line(),            // 6
        Card{.id = 4}.line(),
        Card{.id = 4, .sp = "--"}.line(), // 7, 8: the same id twice
    };
    const CatalogueDocument document = CatalogueDocument::parse(test::cardFile(faults));
    const std::vector<CatalogueProblem> problems = checkCatalogue(document);
    std::vector<std::string> found;
    for (const CatalogueProblem& p : problems)
        found.push_back(std::to_string(CatalogueDocument::lineNumber(p.line)) + " " + std::string(p.field->name) + " " +
                        p.message);
    const std::string notANumber = sjis("は整数ではありません");
    EXPECT_EQ(found, (std::vector<std::string>{"1 size '5 ' " + notANumber, "3 hp ' x' " + notANumber,
                                               "4 power 'zz' " + notANumber, "4 killChance '- ' " + notANumber,
                                               "5 id '127' " + sjis("カード番号が範囲外です"),
                                               "6 power '$G' " + notANumber, "7 id 'C004' " + sjis("が重複しています"),
                                               "8 id 'C004' " + sjis("が重複しています"), "8 sp '--' " + notANumber}));
    // Start-up shows the same text for the first of them.
    EXPECT_EQ(loaderMessage(document.bytes()), problems.front().message);
    EXPECT_EQ(loaderMessage(faults[3]), sjis("'127' カード番号が範囲外です"));
    EXPECT_TRUE(checkCatalogue(CatalogueDocument::parse(bundled())).empty());
}

TEST(CardExchange, ImportingAnExportGivesTheFileBackByteForByte) {
    for (const TableFormat format : {TableFormat::Csv, TableFormat::Json})
        for (const std::string& bytes : {bundled(), handMade(), oddNames()})
            EXPECT_EQ(roundTrip(bytes, format), bytes);
    // A catalogue without a card is none the program could load: not written back.
    for (const TableFormat format : {TableFormat::Csv, TableFormat::Json})
        EXPECT_EQ(importCardTable(exportCardTable(CatalogueDocument::parse(""), format)).problems.size(), 1u);
    // Bytes that are no character of their own go as escapes; the rest as themselves.
    EXPECT_EQ(cellText("\x87\x40"), "①");
    EXPECT_EQ(cellText("\xed\x40"), "\\xED\\x40");
    EXPECT_EQ(cellText("a\\b\x81"), "a\\\\b\\x81");
    EXPECT_EQ(cellBytes("\\x41\\y\\\\"), "A\\y\\");
    EXPECT_EQ(cellBytes("😀"), std::nullopt);
}

TEST(CardExchange, TakesNumbersASpreadsheetRewroteAndNamesEveryBadCell) {
    const std::string header = "kind,id,name,size,hp,power,sp,airMark,kindMark,end,text\n";
    // A spreadsheet drops the zeros of an id and the blank before a number; the other
    // fields the row leaves out end the line.
    const TableImport ok =
        importCardTable("kind,id,unread5,airMark,size,hp,power,sp,name,text\nV,7,＿,地,5,12,3,\" 9\"\n");
    ASSERT_TRUE(ok.problems.empty());
    EXPECT_EQ(ok.document.bytes(), utf8ToCp932("V007＿地 512 3 9\r\n"));

    const TableImport bad =
        importCardTable(header + "C,7,,123,12,3,9,地,物\n" + "C,7,,5,,3,9,地,物\n" + "comment,,,,,,,,,,Cards\n" +
                        "C,8,,5,1,1,1,地,😀\n" + "X\n" + "comment,,,,,,,,,none,a\n" + "comment,1,,,,,,,,,\n" +
                        "C,1000,,5,1,1,1,空,物\n");
    std::vector<std::string> found;
    for (const TableProblem& p : bad.problems)
        found.push_back(std::to_string(p.row) + " " + p.column + " " + p.message);
    EXPECT_EQ(found, (std::vector<std::string>{
                         "2 size '123' " + sjis("は桁に合いません"), "3 hp '' " + sjis("は桁に合いません"),
                         "4 text 'Cards' " + sjis("はコメントになりません"),
                         "5 kindMark '?' " + sjis("はカードに書けない文字を含んでいます"),
                         "6 kind 'X' " + sjis("は行の種類ではありません"),
                         "7 end 'none' " + sjis("は表の最後の行にしか置けません"),
                         "8 id '1' " + sjis("はこの行では使えません"), "9 id '1000' " + sjis("は桁に合いません")}));

    // Cells that fit make a catalogue whose problems are named by row and column.
    const TableImport loaded = importCardTable("[{\"kind\": \"C\", \"id\": 200, \"kindMark\": \"物\", \"airMark\": "
                                               "\"空\", \"size\": \"5 \", \"name\": \"\"}]");
    ASSERT_GE(loaded.problems.size(), 2u);
    EXPECT_EQ(loaded.problems[0].row, 1u);
    EXPECT_EQ(loaded.problems[0].column, "id");
    EXPECT_EQ(loaded.problems[1].message, "'5 ' " + sjis("は整数ではありません"));
    EXPECT_EQ(importCardTable("kind,name\nC,\"open").problems.front().message, sjis("表を読み込めません"));
    EXPECT_EQ(importCardTable("[1,").problems.front().row, 0u);
    EXPECT_EQ(importCardTable("kind,colour\n").problems.front().column, "colour");
}
