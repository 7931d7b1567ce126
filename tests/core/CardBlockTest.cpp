// Blocks of cells between the card sheet and a spreadsheet: a block copied and pasted
// back changes no byte, a pasted block changes only its cells, and every cell the
// fields cannot hold is refused by name while the others go in.

#include "cards/CardBlock.h"
#include "common/Codec.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

struct Sheet {
    CatalogueDocument document;
    std::vector<size_t> rows;
    std::vector<const CardField*> columns;
};

Sheet threeCards() {
    Sheet s;
    s.document = CatalogueDocument::parse(test::cardFile({
        test::Card{.id = 1, .size = " 2", .hp = "30", .name = "剣士"}.line(),
        test::Card{.id = 2, .size = " 4", .hp = " 1", .heal = " 3", .name = "見習い"}.line(),
        test::Card{.id = 3, .size = "05", .hp = "10", .name = "兵士"}.line(),
        test::Vehicle{.id = 1}.line(),
    }));
    s.rows = s.document.cardLines('C');
    for (const CardField& f : cardFields('C'))
        s.columns.push_back(&f);
    return s;
}

size_t column(const Sheet& s, std::string_view name) {
    for (size_t c = 0; c < s.columns.size(); ++c)
        if (s.columns[c]->name == name)
            return c;
    return 0;
}

TEST(CardBlock, ABlockCopiedAndPastedBackChangesNoByte) {
    const Sheet s = threeCards();
    const std::string all = copyBlock(s.document, s.rows, s.columns);
    // Numbers as they read ("5", not "05" or " 5"), the none mark as itself.
    const auto rows = splitBlock(all);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2][column(s, "size")], "05");
    EXPECT_EQ(rows[0][column(s, "size")], "2");
    EXPECT_EQ(rows[0][column(s, "healAmount")], "＿");
    EXPECT_EQ(rows[1][column(s, "name")], "見習い");
    const BlockPaste back = pasteBlock(s.document, 'C', s.rows, 0, s.columns, 0, all);
    EXPECT_TRUE(back.edits.empty());
    EXPECT_TRUE(back.refused.empty());
}

TEST(CardBlock, APasteChangesItsCellsAndNamesEveryCellItRefuses) {
    Sheet s = threeCards();
    const size_t size = column(s, "size");
    // From a spreadsheet: CR LF rows, a good row, a row with a bad HP and a name too
    // long, and a row past the table.
    const std::string text = "3\t12\r\n4\tabc\r\n6\t99\t\r\n7\t1\r\n";
    const BlockPaste paste = pasteBlock(s.document, 'C', s.rows, 0, s.columns, size, text);
    ASSERT_EQ(paste.edits.size(), 2u); // the second card's only good cell holds its value already
    for (const LineEdit& edit : paste.edits)
        s.document.apply(edit);
    const auto& lines = s.document.lines();
    const CardField& sizeField = *s.columns[size];
    const CardField& hp = *s.columns[size + 1];
    EXPECT_EQ(fieldBytes(lines[s.rows[0]].text, sizeField), " 3");
    EXPECT_EQ(fieldBytes(lines[s.rows[0]].text, hp), "12");
    EXPECT_EQ(fieldBytes(lines[s.rows[1]].text, sizeField), " 4"); // the same number, as it was
    EXPECT_EQ(fieldBytes(lines[s.rows[1]].text, hp), " 1");        // refused, kept
    EXPECT_EQ(fieldBytes(lines[s.rows[2]].text, hp), "99");
    // An empty cell in a number column is refused too, and nothing else of the card moves.
    ASSERT_EQ(paste.refused.size(), 3u);
    EXPECT_EQ(paste.refused[0].line, s.rows[1]);
    EXPECT_EQ(paste.refused[0].field, &hp);
    EXPECT_NE(paste.refused[0].reason.find("「abc」"), std::string::npos);
    EXPECT_EQ(paste.refused[1].line, s.rows[2]);
    EXPECT_EQ(paste.refused[2].field, nullptr);
    EXPECT_NE(paste.refused[2].reason.find("1 行"), std::string::npos);
}

TEST(CardBlock, CellsAreCheckedAsTheEditorChecksATypedValue) {
    const Sheet s = threeCards();
    const std::string& line = s.document.lines()[s.rows[0]].text;
    auto field = [&](std::string_view name) { return *s.columns[column(s, name)]; };
    EXPECT_FALSE(writeSheetCell('C', line, field("hp"), "100").refusal.empty());
    EXPECT_FALSE(writeSheetCell('C', line, field("size"), "-10").refusal.empty());
    EXPECT_FALSE(writeSheetCell('C', line, field("name"), std::string(33, 'a')).refusal.empty());
    EXPECT_FALSE(writeSheetCell('C', line, field("name"), "\xF0\x9F\x98\x80").refusal.empty()); // no cp932
    EXPECT_FALSE(writeSheetCell('C', line, field("kindMark"), "ab c").refusal.empty());
    const CellWrite heal = writeSheetCell('C', line, field("healAmount"), " 4 ");
    ASSERT_TRUE(heal.refusal.empty()) << heal.refusal;
    EXPECT_EQ(fieldBytes(heal.line, field("healAmount")), " 4");
    const CellWrite none = writeSheetCell('C', heal.line, field("healAmount"), "");
    EXPECT_EQ(fieldBytes(none.line, field("healAmount")), utf8ToCp932("＿"));
    const CellWrite name = writeSheetCell('C', line, field("name"), "剣士のコピー");
    EXPECT_EQ(cp932ToUtf8(std::string(fieldBytes(name.line, field("name")))), "剣士のコピー");
}

} // namespace
} // namespace morvane
