// morvane-cli cards check / export / import, run as a designer runs them: the problem
// lines and exit statuses, tables that come back as the same file, and files that a
// failed import leaves alone.

#include "common/AtomicFile.h"
#include "common/Files.h"
#include "common/Json.h"
#include "support/Process.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace morvane;
using namespace morvane::test;
namespace fs = std::filesystem;

namespace {

const std::string Cli = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";

ProgramRun cards(const std::vector<std::string>& args) {
    std::vector<std::string> all{"cards"};
    all.insert(all.end(), args.begin(), args.end());
    RunLimits limits;
    limits.watchdogSeconds = 60;
    return runProgram(Cli, all, limits);
}

} // namespace

TEST(CardsCommand, CheckPrintsEveryProblemOneLineEachAndExitsTwo) {
    TempFolder dir;
    const fs::path path = dir / "card.dat";
    writeFileAtomic(path, cardFile({Card{.id = 1, .size = "5 "}.line(), "; comment",
                                    Card{.id = 2, .power = "x\x01", .name = "壊"}.line(), Vehicle{.id = 27}.line()}));
    const ProgramRun run = cards({"check", path.string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, path.string() + ":1:9: size: '5 ' は整数ではありません\n" + path.string() +
                           ":3:13: power: 'x\\x01' は整数ではありません\n" + path.string() +
                           ":4:2: id: '027' カード番号が範囲外です\n");

    writeFileAtomic(path, cardFile({Card{}.line()}));
    EXPECT_EQ(cards({"check", path.string()}).status, 0);
    const ProgramRun missing = cards({"check", (dir / "none.dat").string()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("ﾌｧｲﾙが見つかりません"), std::string::npos) << missing.err;
    EXPECT_EQ(cards({}).status, 2);
    EXPECT_EQ(cards({"export", "--csv", "--json"}).status, 2);
    EXPECT_EQ(cards({"import", path.string()}).status, 2); // no -o
}

TEST(CardsCommand, ImportWritesTheExportedFileBackOrNothingAtAll) {
    TempFolder dir;
    const fs::path original = dir / "card.dat";
    const std::string bytes = "; odd names\r\n" + Card{.id = 1}.line().substr(0, 66) + sjis("名前,\"引用\" \\") + "\n" +
                              Card{.id = 2}.line().substr(0, 66) + "\xb6\x81\r\n" + Vehicle{}.line() + "\x1a" + "x";
    writeFileAtomic(original, bytes);
    for (const char* format : {"--csv", "--json"}) {
        const ProgramRun exported = cards({"export", original.string(), format});
        ASSERT_EQ(exported.status, 0) << exported.err;
        writeFileAtomic(dir / "table", exported.out);
        const ProgramRun imported = cards({"import", (dir / "table").string(), "-o", (dir / "copy.dat").string()});
        ASSERT_EQ(imported.status, 0) << imported.err;
        EXPECT_EQ(readFileBytes(dir / "copy.dat"), bytes) << format;
    }

    // A bad cell names its row and column, and the catalogue is not written.
    writeFileAtomic(dir / "bad.csv", "kind,id,unread5,airMark,size,name,text\nV,1,＿,地,123\n");
    const ProgramRun bad = cards({"import", (dir / "bad.csv").string(), "-o", (dir / "copy.dat").string()});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "morvane-cli: " + (dir / "bad.csv").string() + ": row 2, column size: '123' は桁に合いません\n");
    EXPECT_EQ(readFileBytes(dir / "copy.dat"), bytes);

    // A catalogue that cannot be replaced stays as it was.
    ::chmod((dir / "copy.dat").c_str(), 0444);
    const ProgramRun readOnly = cards({"import", (dir / "table").string(), "-o", (dir / "copy.dat").string()});
    EXPECT_EQ(readOnly.status, 1);
    EXPECT_EQ(readFileBytes(dir / "copy.dat"), bytes);
}

TEST(CardsCommand, EveryCatalogueOfTheFuzzCorpusGoesThroughAllThree) {
    TempFolder dir;
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(std::string(MORVANE_SOURCE_DIR) + "/fuzz/corpus/catalogue")) {
        ++files;
        const std::string file = entry.path().string();
        const ProgramRun check = cards({"check", file});
        ASSERT_TRUE(check.status == 0 || check.status == 2) << file << check.err;
        const ProgramRun exported = cards({"export", file, "--json"});
        ASSERT_EQ(exported.status, 0) << file << exported.err;
        writeFileAtomic(dir / "table.json", exported.out);
        const fs::path copy = dir / ("copy-" + entry.path().filename().string());
        const ProgramRun imported = cards({"import", (dir / "table.json").string(), "-o", copy.string()});
        // A catalogue with problems is refused with them; any other comes back whole.
        EXPECT_EQ(imported.status, check.status) << file << imported.err;
        if (check.status == 0) {
            EXPECT_EQ(readFileBytes(copy), readFileBytes(entry.path())) << file;
        }
    }
    EXPECT_GE(files, 3u);
}

TEST(CardsCommand, ImportRefusesTablesThatMakeNoCatalogueTheProgramReadsAndKeepsTheOldOne) {
    TempFolder dir;
    const fs::path catalogue = dir / "card.dat";
    const std::string kept = cardFile({Card{.id = 1}.line(), "; note", Vehicle{}.line()});
    writeFileAtomic(catalogue, kept);
    const std::string csv = cards({"export", catalogue.string()}).out;
    const std::string header = csv.substr(0, csv.find("\r\n") + 2);
    const Json json = Json::parse(cards({"export", catalogue.string(), "--json"}).out);
    auto without = [](Json table, size_t row, const char* column) {
        table[row].erase(column);
        return table.dump();
    };
    Json huge = json;
    huge[0]["name"] = std::string(size_t{5} << 20, 'a');
    std::string twice = json.dump();
    twice.replace(twice.find("{\"kind\":\"C\""), 1, "{\"name\":\"x\",");

    const std::vector<std::pair<std::string, std::string>> tables{
        {"", "表を読み込めません (the table holds no card)"},
        {"\xef\xbb\xbf", "表を読み込めません (the table holds no card)"},
        {header, "表を読み込めません (the table holds no card)"},
        {"[]", "表を読み込めません (the table holds no card)"},
        {"[\n]\n", "表を読み込めません (the table holds no card)"},
        // A column left out would blank that field of every row.
        {header.substr(0, header.rfind(",text")) + "\r\n" + csv.substr(header.size()),
         "row 1: 表を読み込めません (the header has no column 'text')"},
        {without(json, 0, "name"), "row 1, column name: 表を読み込めません (the row has no such column)"},
        {without(json, 1, "text"), "row 2, column text: 表を読み込めません (the row has no such column)"},
        {twice, "row 1, column name: 表を読み込めません (the column is there twice)"},
        // What cards check could not read, being past the size a catalogue is read up to.
        {huge.dump(), "表を読み込めません (the catalogue would be 524"},
    };
    for (const auto& [table, problem] : tables) {
        writeFileAtomic(dir / "table", table);
        const ProgramRun run = cards({"import", (dir / "table").string(), "-o", catalogue.string()});
        EXPECT_EQ(run.status, 2) << problem;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("morvane-cli: " + (dir / "table").string() + ": " + problem, 0), 0u)
            << table.substr(0, 200) << "\n"
            << run.err;
        EXPECT_EQ(readFileBytes(catalogue), kept);
    }
}

TEST(CardsCommand, CsvCellsASpreadsheetWouldRunAsFormulasAreQuotedAndComeBackAsTheSameBytes) {
    TempFolder dir;
    const fs::path catalogue = dir / "card.dat";
    std::vector<std::string> lines{Card{.id = 1, .name = "=HYPERLINK(\"x\")"}.line(), Vehicle{}.line()};
    for (const char* comment : {"=1+2", "+cmd", "-2", "@SUM(A1)", "'=x", "''", "'quote", "'", "a=b"})
        lines.emplace_back(comment);
    const std::string bytes = cardFile(lines);
    writeFileAtomic(catalogue, bytes);
    const ProgramRun exported = cards({"export", catalogue.string()});
    ASSERT_EQ(exported.status, 0) << exported.err;
    // A comment's text is its row's last cell; no cell starts a formula, and a quote
    // of the catalogue's own is doubled only where it could be taken for the guard.
    for (const char* cell : {",\"'=1+2\"\r\n", ",\"'+cmd\"\r\n", ",\"'-2\"\r\n", ",\"'@SUM(A1)\"\r\n", ",\"''=x\"\r\n",
                             ",\"'''\"\r\n", ",'quote\r\n", ",'\r\n", ",a=b\r\n", ",\"'=HYPERLINK(\"\"x\"\")\","})
        EXPECT_NE(exported.out.find(cell), std::string::npos) << cell << "\n" << exported.out;
    for (const char* start : {",=", ",+", ",-", ",@", "\n=", "\n+", "\n-", "\n@"})
        EXPECT_EQ(exported.out.find(start), std::string::npos) << start;

    writeFileAtomic(dir / "table.csv", exported.out);
    const ProgramRun imported = cards({"import", (dir / "table.csv").string(), "-o", (dir / "copy.dat").string()});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(readFileBytes(dir / "copy.dat"), bytes);
}
