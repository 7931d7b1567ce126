// Every command that writes a file refuses to write it over a file the same run reads:
// a report, a page or a deck line over the catalogue would destroy it and still end 0.

#include "common/AtomicFile.h"
#include "common/Files.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace morvane;
using namespace morvane::test;
namespace fs = std::filesystem;

namespace {

const std::string Cli = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";
const std::string Top = "V001C003C011C012C007C021C019C020C005:000";

// The bundled program folder's data, with a field file and two more names for the catalogue.
struct DataFolder : TempFolder {
    DataFolder() {
        for (const char* name : {"card.dat", "deck0.dat", "deck1.dat"})
            fs::copy_file(fs::path(MORVANE_PROGRAM_DIR) / name, *this / name);
        fs::copy_file(*this / "deck1.dat", *this / "field.dat");
        fs::create_hard_link(*this / "card.dat", *this / "hard.dat");
        fs::create_symlink("card.dat", *this / "soft.dat");
    }
    std::string at(const char* name) const { return (*this / name).string(); }
};

} // namespace

TEST(OutputOverInput, IsRefusedByEveryWritingCommandNamingBothAndNothingIsTouched) {
    DataFolder dir;
    const std::string catalogue = readFileBytes(dir / "card.dat");
    const std::string field = readFileBytes(dir / "field.dat");
    const std::string cards = dir.at("card.dat");
    writeFileAtomic(dir / "table.csv", "kind\r\n");
    struct Case {
        std::vector<std::string> args;
        std::string output; // as the option names it
        std::string input;  // as the run names it
    };
    const std::vector<Case> cases{
        {{"battle", "--cards", cards, "-o", cards}, cards, cards},
        // By any name: a symbolic link, a hard link, a path that goes round about.
        {{"battle", "--cards", cards, "-o", dir.at("soft.dat")}, dir.at("soft.dat"), cards},
        {{"battle", "--cards", cards, "-o", dir.at("hard.dat")}, dir.at("hard.dat"), cards},
        {{"battle", "--cards", cards, "-o", (dir / "." / "card.dat").string()},
         (dir / "." / "card.dat").string(),
         cards},
        // A deck file is an input only when the run reads it.
        {{"battle", "--cards", cards, "--top", Top, "-o", dir.at("deck1.dat")},
         dir.at("deck1.dat"),
         dir.at("deck1.dat")},
        {{"optimize", "--cards", cards, "--field", dir.at("field.dat"), "--save", dir.at("hard.dat")},
         dir.at("hard.dat"),
         cards},
        {{"balance", "--cards", cards, "--html", cards}, cards, cards},
        {{"balance", "--cards", cards, "--field", dir.at("field.dat"), "--html", dir.at("field.dat")},
         dir.at("field.dat"),
         dir.at("field.dat")},
        {{"balance", "--cards", cards, "--html", dir.at("deck0.dat")}, dir.at("deck0.dat"), dir.at("deck0.dat")},
        {{"cards", "import", dir.at("table.csv"), "-o", dir.at("table.csv")}, dir.at("table.csv"), dir.at("table.csv")},
    };
    for (const Case& c : cases) {
        const ProgramRun run = runProgram(Cli, c.args);
        const std::string what = c.args.front() + " " + c.output;
        EXPECT_EQ(run.status, 2) << what << run.err;
        EXPECT_EQ(run.out, "") << what;
        EXPECT_EQ(run.err.rfind("morvane-cli: ", 0), 0u) << what << run.err;
        EXPECT_NE(run.err.find(" " + c.output + " is " + c.input + ", "), std::string::npos) << what << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    }
    EXPECT_EQ(readFileBytes(dir / "card.dat"), catalogue);
    EXPECT_EQ(readFileBytes(dir / "field.dat"), field);
    EXPECT_EQ(readFileBytes(dir / "table.csv"), "kind\r\n");
    EXPECT_TRUE(fs::is_symlink(dir / "soft.dat"));

    // Other outputs are written as ever: a deck file the run does not read, a new file,
    // and a deck file the found team is added to.
    EXPECT_EQ(runProgram(Cli, {"battle", "--cards", cards, "--seed", "1", "-o", dir.at("new.html")}).status, 0);
    EXPECT_TRUE(fs::exists(dir / "new.html"));
    const ProgramRun saved =
        runProgram(Cli, {"optimize", "--cards", cards, "--field", dir.at("field.dat"), "--budget", "50",
                         "--final-battles", "1", "--threads", "1", "--seed", "3", "--save", dir.at("field.dat")});
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(readFileBytes(dir / "field.dat").substr(0, field.size()), field);
    EXPECT_GT(readFileBytes(dir / "field.dat").size(), field.size());
    EXPECT_EQ(runProgram(Cli, {"battle", "--cards", cards, "--top", Top, "--bottom", Top, "--seed", "1", "-o",
                               dir.at("deck0.dat")})
                  .status,
              0);
}
