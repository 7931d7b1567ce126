// The small rules everything else stands on: the number rule of card columns, the
// line rules of text files, the byte-level path helpers and the generator.

#include "cards/NumberRule.h"
#include "common/AtomicFile.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Html.h"
#include "common/Paths.h"
#include "common/Random.h"
#include "common/TextLines.h"
#include "support/Process.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace morvane;

TEST(NumberRule, AcceptsRightAlignedSignedAndHexadecimalColumns) {
    EXPECT_EQ(parseNumber(" 7"), 7);
    EXPECT_EQ(parseNumber("07"), 7);
    EXPECT_EQ(parseNumber("-5"), -5);
    EXPECT_EQ(parseNumber("+5"), 5);
    EXPECT_EQ(parseNumber(" -5"), -5);
    EXPECT_EQ(parseNumber("$A"), 10);
    EXPECT_EQ(parseNumber("$a"), 10);
    EXPECT_EQ(parseNumber(" $1f"), 31);
    EXPECT_EQ(parseNumber("5"), 5); // a line that ends inside the column
}

TEST(NumberRule, RejectsTrailingBytesBlanksAndEmptyColumns) {
    for (const char* bad : {"7 ", "", "  ", "-", "+", "$", "$G", "1-", "- 1", "7a", "$-1", "\x81Q"})
        EXPECT_FALSE(parseNumber(bad).has_value()) << "'" << bad << "'";
}

TEST(NumberRule, ColumnsCountBytesFromOneAndStopAtTheLineEnd) {
    const std::string line = "C012AB 7";
    EXPECT_EQ(cardColumn(line, 2, 3), "012");
    EXPECT_EQ(cardColumn(line, 7, 2), " 7");
    EXPECT_EQ(cardColumn(line, 8, 2), "7");
    EXPECT_EQ(cardColumn(line, 9, 2), "");
    EXPECT_EQ(readNumberColumn(line, 7, 2), 7);
    try {
        readNumberColumn(line, 5, 2, "card.dat:3");
        FAIL() << "AB is no number";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.message(), "'AB' " + test::sjis("は整数ではありません"));
        EXPECT_EQ(e.columnText(), "AB");
        EXPECT_EQ(e.where(), "card.dat:3");
    }
}

TEST(TextLines, EndAtCrCrLfOrLoneLfStopAtByte26AndSkipEmptyLines) {
    const auto lines = splitTextLines("a\r\nb\rc\nd\r\n\r\n\ne\x1a"
                                      "f\r\n");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].text, "a");
    EXPECT_EQ(lines[1].text, "b");
    EXPECT_EQ(lines[2].text, "c");
    EXPECT_EQ(lines[3].text, "d");
    EXPECT_EQ(lines[4].text, "e");
    // Line numbers count the empty lines too, so messages point at the right line.
    EXPECT_EQ(lines[4].number, 7);
    EXPECT_TRUE(splitTextLines("\x1a"
                               "abc")
                    .empty());
    EXPECT_EQ(splitTextLines("last line without end").size(), 1u);
}

TEST(TextFiles, AtomicWriteReplacesWholeAndFailsWithoutTouchingTheOldFile) {
    const test::TempFolder folder;
    const auto& dir = folder.path();
    const auto file = dir / "Deck0.dat";
    writeFileAtomic(file, "one\r\n");
    writeFileAtomic(file, "two\r\n");
    EXPECT_EQ(readFileBytes(file), "two\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    EXPECT_EQ(findFileNoCase(dir, "deck0.dat"), dir / "Deck0.dat");
    EXPECT_EQ(findFileNoCase(dir, "deck1.dat"), dir / "deck1.dat");
    EXPECT_THROW(writeFileAtomic(dir / "missing" / "x.dat", "x"), IoError);
    EXPECT_THROW(readFileBytes(dir / "nothing.dat"), FileNotFoundError);
    EXPECT_EQ(FileNotFoundError("x").message(), test::sjis("ﾌｧｲﾙが見つかりません"));
}

TEST(Cp932, ConvertsBothWaysAndNeverThrowsOnBrokenBytes) {
    EXPECT_EQ(cp932ToUtf8("\x95\xa8\x81@\x81"
                          "B"),
              "物　。");
    EXPECT_EQ(utf8ToCp932("物　。"), "\x95\xa8\x81@\x81"
                                     "B");
    EXPECT_EQ(cp932ToUtf8("ab\x81"), "ab\xef\xbf\xbd"); // a lead byte cut off at the end
    EXPECT_EQ(utf8ToCp932("é😀x"), "??x");               // one mark per character it lacks

    // A converter the system lacks fails at once, rather than pass text on unchanged.
    EXPECT_THROW(TextConverter("CP932", "NO-SUCH-ENCODING", "?"), std::runtime_error);
    TextConverter latin("UTF-8", "ISO-8859-1", "?");
    EXPECT_EQ(latin("caf\xe9"), "café");
    EXPECT_EQ(latin("\xe9t\xe9"), "été") << "each text starts afresh";
}

TEST(Html, EscapeKeepsUtf8AndLineBreaksAndReplacesWhatIsNot) {
    EXPECT_EQ(escapeHtml("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&#39;");
    EXPECT_EQ(escapeHtml("双剣 é 𝄞"), "双剣 é 𝄞");
    EXPECT_EQ(escapeHtml("a\tb\r\nc"), "a\tb\r\nc");
    const std::string bad = "\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80|\xE3\x81|\x01|\x7F";
    EXPECT_EQ(escapeHtml(bad), "\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|"
                               "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD|"
                               "\xEF\xBF\xBD|\xEF\xBF\xBD");
}

TEST(Paths, DirectoryPartEndsAtTheLastSeparatorByteEvenInsideADoubleByteCharacter) {
    EXPECT_EQ(GetFilePassName("C:\\game\\play.exe"), "C:\\game\\");
    EXPECT_EQ(GetFileName("C:\\game\\play.exe"), "play.exe");
    EXPECT_EQ(GetFilePassName("C:/game/play.exe"), "C:/game/");
    EXPECT_EQ(GetFilePassName("/usr/"), "/usr/");
    EXPECT_EQ(GetFileName("/usr/"), "");
    EXPECT_EQ(GetFilePassName("play.exe"), "");
    EXPECT_EQ(GetFileName("play.exe"), "play.exe");
    const std::string hyo = "C:\\\x95\x5c"; // C:\表: the second byte of 表 is 0x5C
    EXPECT_EQ(GetFilePassName(hyo), hyo);
    EXPECT_EQ(GetFileName(hyo), "");
    EXPECT_EQ(GetFilePassName(std::string("/a/b\0/c", 7)), "/a/");
    EXPECT_EQ(GetFileName(ProgramFile()), "morvane_core_tests");
}

TEST(Random, IsTheFixedLinearCongruentialSequence) {
    Random random(0);
    EXPECT_EQ(random(100), 0u);
    EXPECT_EQ(random.seed(), 1u);
    EXPECT_EQ(random(100), 3u);
    EXPECT_EQ(random(100), 86u);
    EXPECT_EQ(random(40), 8u);
    EXPECT_EQ(random(7), 1u);
    EXPECT_EQ(random(1000), 671u);
    EXPECT_EQ(random.seed(), 2884733762u);
    Random wide(12345);
    EXPECT_EQ(wide(4294967295u), 1655067933u);
    EXPECT_LT(systemClock().timeSeed(), 86400000u);
}
