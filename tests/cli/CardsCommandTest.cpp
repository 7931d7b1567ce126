// morvane-cli cards check / export / import, run as a designer runs them: the problem
// lines and exit statuses, tables that come back as the same file, and files that a
// failed import leaves alone.

#include "common/AtomicFile.h"
#include "common/Files.h"
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
    writeFileAtomic(dir / "bad.csv", "kind,id,unread5,airMark,size\nV,1,＿,地,123\n");
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
