// morvane-cli balance as a designer runs it: a catalogue file and a field file, the
// results on the terminal or as JSON, and the page written beside them.

#include "BalanceCards.h"

#include "support/Process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

namespace morvane {
namespace {

namespace fs = std::filesystem;
const std::string Program = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";

struct Folder {
    Folder() : path(fs::temp_directory_path() / ("morvane-balance-" + std::to_string(::getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
        write("card.dat", test::lopsidedCatalogue());
        write("field.dat", std::string(test::LopsidedDeck0) + "\r\n" + test::LopsidedDeck1 + "\r\n");
    }
    ~Folder() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, ec);
        fs::remove_all(path, ec);
    }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path / name, std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> args(std::vector<std::string> more) const {
        std::vector<std::string> all{"balance",
                                     "--cards",
                                     (path / "card.dat").string(),
                                     "--searches",
                                     "3",
                                     "--max-searches",
                                     "8",
                                     "--budget",
                                     "100000",
                                     "--final-battles",
                                     "40",
                                     "--seed",
                                     "7",
                                     "--threads",
                                     "2"};
        all.insert(all.end(), more.begin(), more.end());
        return all;
    }
    fs::path path;
};

TEST(BalanceCommand, NamesTheDominantAndTheUselessCardInJsonTextAndPage) {
    const Folder folder;
    // Without --field the deck lines of both deck files beside the catalogue are the field.
    folder.write("deck0.dat", std::string(test::LopsidedDeck0) + "\r\n");
    folder.write("deck1.dat", std::string(test::LopsidedDeck1) + "\r\n");
    const test::ProgramRun json =
        test::runProgram(Program, folder.args({"--json", "--html", (folder.path / "b.html").string()}));
    ASSERT_EQ(json.status, 0) << json.err;
    const auto out = nlohmann::json::parse(json.out);
    const auto& decisive = out["decide_too_much"];
    EXPECT_NE(std::find(decisive.begin(), decisive.end(), "C001"), decisive.end()) << decisive;
    EXPECT_EQ(std::find(decisive.begin(), decisive.end(), "C002"), decisive.end()) << decisive;
    // Passed over by eight teams, the useless card is open on the unplayed line, with
    // the searches that would settle it.
    EXPECT_NE(std::find(out["uncertain"].begin(), out["uncertain"].end(), "C002"), out["uncertain"].end());
    EXPECT_EQ(out["card_list"][1]["verdict"]["question"], "rare");
    EXPECT_GT(out["card_list"][1]["verdict"]["searches_to_settle"].get<int>(), 8);
    EXPECT_EQ(out["card_list"][0]["verdict"]["verdict"], "decides_too_much");
    EXPECT_GT(out["card_list"][0]["use_ci"][0].get<double>(), 0.5);
    EXPECT_EQ(out["extra_searches"], 5);
    EXPECT_EQ(out["field"].size(), 2u);
    EXPECT_EQ(out["field"][1]["source"], (folder.path / "deck1.dat").string() + ":1");
    ASSERT_EQ(out["teams"].size(), 8u);
    EXPECT_EQ(out["teams"][0]["score"]["battles"], 40 * 4);
    EXPECT_EQ(out["card_list"][0]["card"], "C001");
    EXPECT_EQ(out["card_list"][0]["name"], "強すぎる剣士");
    EXPECT_GT(out["card_list"][0]["loss"].get<double>(), 0.2);
    EXPECT_EQ(out["card_list"][1]["loss"], nullptr);
    EXPECT_EQ(out["html"], (folder.path / "b.html").string());
    const std::string page = folder.read("b.html");
    EXPECT_NE(page.find("強すぎる剣士"), std::string::npos);
    EXPECT_NE(page.find("--seed 7"), std::string::npos);

    // The text names them too, and gives the same teams for the same seed.
    const test::ProgramRun text =
        test::runProgram(Program, folder.args({"--field", (folder.path / "field.dat").string()}));
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("decide too much: C001 強すぎる剣士 (8 of 8 teams"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("fewer than one team in six uses it?   C002 "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(out["teams"][2]["best"].get<std::string>()), std::string::npos);
}

TEST(BalanceCommand, SuggestsMeasuredChangesAsJsonTextAndPage) {
    const Folder folder;
    folder.write("deck0.dat", std::string(test::LopsidedDeck0) + "\r\n");
    folder.write("deck1.dat", std::string(test::LopsidedDeck1) + "\r\n");
    const std::vector<std::string> suggest{"--suggest", "2", "--candidates", "3", "--budget", "20000"};
    std::vector<std::string> json = suggest;
    json.insert(json.end(), {"--json", "--html", (folder.path / "s.html").string()});
    const test::ProgramRun run = test::runProgram(Program, folder.args(json));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto out = nlohmann::json::parse(run.out);
    ASSERT_EQ(out["rounds"].size(), 1u);
    const auto& best = out["rounds"][0]["proposals"][0];
    EXPECT_EQ(best["card"], "C001");
    EXPECT_NE(best["before"], best["after"]);
    EXPECT_LE(best["figures"]["objective"].get<double>(),
              out["rounds"][0]["proposals"][1]["figures"]["objective"].get<double>());
    const std::string page = folder.read("s.html");
    EXPECT_NE(page.find("ラウンド 1"), std::string::npos);
    EXPECT_NE(page.find("--suggest 2 --rounds 1 --candidates 3"), std::string::npos);

    const test::ProgramRun text = test::runProgram(Program, folder.args(suggest));
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("round 1, before: objective "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  1. C001 "), std::string::npos) << text.out;

    const test::ProgramRun alone = test::runProgram(Program, folder.args({"--rounds", "2"}));
    EXPECT_EQ(alone.status, 2);
    EXPECT_NE(alone.err.find("--rounds goes with --suggest"), std::string::npos) << alone.err;
}

TEST(BalanceCommand, AChecksSeedGivesItsFiguresAgainInAPlainRun) {
    const Folder folder;
    folder.write("card.dat", test::evenCatalogue());
    std::string field;
    for (const char* line : test::EvenField)
        field += std::string(line) + "\r\n";
    folder.write("field.dat", field);
    auto args = [&](std::vector<std::string> more) {
        std::vector<std::string> all{"balance",
                                     "--cards",
                                     (folder.path / "card.dat").string(),
                                     "--field",
                                     (folder.path / "field.dat").string(),
                                     "--searches",
                                     "8",
                                     "--max-searches",
                                     "10",
                                     "--budget",
                                     "100",
                                     "--final-battles",
                                     "40",
                                     "--threads",
                                     "2",
                                     "--prefer-variety"};
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const test::ProgramRun run =
        test::runProgram(Program, args({"--seed", "5", "--suggest", "1", "--candidates", "1", "--check", "--json",
                                        "--html", (folder.path / "s.html").string()}));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto out = nlohmann::json::parse(run.out);
    EXPECT_EQ(out["check"], true);
    const auto& check = out["rounds"][0]["check"];
    ASSERT_TRUE(check.is_object()) << out; // the even set is on target by the chain's measure
    EXPECT_EQ(check["holds"], check["figures"]["objective"].get<double>() == 0);
    // The page's command repeats the run, the check's further searches too.
    EXPECT_NE(folder.read("s.html").find("--max-searches 10 "), std::string::npos);

    const std::string seed = std::to_string(check["seed"].get<uint32_t>());
    const test::ProgramRun plain = test::runProgram(Program, args({"--seed", seed, "--json"}));
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(nlohmann::json::parse(plain.out)["strongest"], check["figures"]["strongest"]);

    const test::ProgramRun text =
        test::runProgram(Program, args({"--seed", "5", "--suggest", "1", "--candidates", "1", "--check"}));
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("check on fresh seeds ('balance --seed " + seed + "', "), std::string::npos) << text.out;
    const test::ProgramRun alone = test::runProgram(Program, args({"--check"}));
    EXPECT_EQ(alone.status, 2);
    EXPECT_NE(alone.err.find("--check goes with --suggest"), std::string::npos) << alone.err;
}

TEST(BalanceCommand, RefusesBadInputAndKeepsTheResultsWhenThePageCannotBeWritten) {
    const Folder folder;
    const std::string field = (folder.path / "field.dat").string();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--field", field, "--searches", "0"}, "--searches"},
        {{"--field", field, "--searches", "65"}, "--searches"},
        {{"--field", field, "--max-searches", "65"}, "--max-searches"},
        {{"--field", field, "--final-battles", "0"}, "--final-battles"},
        {{"--field", (folder.path / "missing.dat").string()}, "ﾌｧｲﾙが見つかりません"},
        {{"--field", field, "extra"}, "unexpected argument"},
    };
    for (const Case& c : cases) {
        const test::ProgramRun run = test::runProgram(Program, folder.args(c.args));
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    folder.write("bad-field.dat", "V001C003C004C005C006C003C004C005C009:000\r\n");
    const test::ProgramRun bad =
        test::runProgram(Program, folder.args({"--field", (folder.path / "bad-field.dat").string()}));
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad-field.dat:1"), std::string::npos) << bad.err;

    // A page where a folder stands is refused before the searches: nothing printed.
    fs::create_directories(folder.path / "folder.html");
    const test::ProgramRun folderPage = test::runProgram(
        Program, folder.args({"--field", field, "--json", "--html", (folder.path / "folder.html").string()}));
    EXPECT_EQ(folderPage.status, 1);
    EXPECT_EQ(folderPage.out, "");
    EXPECT_NE(folderPage.err.find("folder.html (a folder)"), std::string::npos) << folderPage.err;
    EXPECT_TRUE(fs::is_directory(folder.path / "folder.html"));

    // A page the disk refuses only when it is written (here a file size limit, as a
    // full disk would): the analysis is printed all the same, exit 1.
    test::RunLimits full;
    full.fileSizeLimit = 100;
    const test::ProgramRun page = test::runProgram(
        Program, folder.args({"--field", field, "--json", "--html", (folder.path / "page.html").string()}), full);
    EXPECT_EQ(page.status, 1);
    EXPECT_NE(page.out.find("\"decide_too_much\": [\"C001\""), std::string::npos) << page.out;
    EXPECT_NE(page.out.find("\"html\": null"), std::string::npos);
    EXPECT_NE(page.err.find("page.html"), std::string::npos) << page.err;
    EXPECT_FALSE(fs::exists(folder.path / "page.html"));
}

} // namespace
} // namespace morvane
