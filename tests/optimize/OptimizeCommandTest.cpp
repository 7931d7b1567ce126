// morvane-cli optimize as a user runs it: the built program with the bundled data of
// its folder, a field file, and the files it reads and writes.

#include "common/Codec.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace morvane {
namespace {

const std::string Program = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";

test::ProgramRun optimize(std::vector<std::string> args, const test::RunLimits& limits = {}) {
    args.insert(args.begin(), "optimize");
    return test::runProgram(Program, args, limits);
}

void write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text after "key": " up to the next quote.
std::string jsonText(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\": \"");
    if (at == std::string::npos)
        return "(no " + key + ")";
    const size_t from = at + key.size() + 5;
    return json.substr(from, json.find('"', from) - from);
}

double jsonNumber(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) {
        ADD_FAILURE() << "no " << key << " in " << json;
        return -1;
    }
    return std::stod(json.substr(at + key.size() + 4, 32));
}

std::string bundledField() {
    std::string bytes;
    for (const char* name : {"deck0.dat", "deck1.dat"})
        bytes += read(std::filesystem::path(MORVANE_PROGRAM_DIR) / name);
    return bytes;
}

TEST(OptimizeCommand, ReportsTheBestTeamTheSameOnAnyThreadCountAndAppendsItToADeckFile) {
    test::TempFolder folder;
    write(folder / "field.dat", bundledField());
    const std::string kept = utf8ToCp932("V002C002C002C002C002C002C002C002C002:001 控え");
    write(folder / "mine.dat", "V001C001C001C001C001C001C001C001C001:000\n" + kept + "\n");
    const std::vector<std::string> common{
        "--field", (folder / "field.dat").string(), "--budget", "3000", "--seed", "4", "--final-battles", "40",
        "--json"};
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--threads", "2", "--save", (folder / "mine.dat").string()});
    const test::ProgramRun two = optimize(args);
    ASSERT_EQ(two.status, 0) << two.err;
    args = common;
    args.insert(args.end(), {"--threads", "1"});
    const test::ProgramRun one = optimize(args);
    ASSERT_EQ(one.status, 0) << one.err;

    const std::string best = jsonText(two.out, "best");
    ASSERT_EQ(best.size(), 40u) << two.out;
    EXPECT_EQ(best.substr(36), ":000");
    EXPECT_EQ(best, jsonText(one.out, "best"));
    EXPECT_EQ(jsonNumber(two.out, "battles"), jsonNumber(one.out, "battles"));
    EXPECT_LE(jsonNumber(two.out, "battles"), 3000);
    EXPECT_EQ(jsonNumber(two.out, "threads"), 2);
    EXPECT_EQ(jsonText(two.out, "side"), "both");
    EXPECT_EQ(jsonText(two.out, "list_number"), "002");
    // Eight field decks on both sides, 40 battles each: 640 fresh battles per team.
    const size_t score = two.out.find("\"best_score\": ");
    EXPECT_EQ(jsonNumber(two.out.substr(score), "battles"), 640);
    EXPECT_EQ(jsonNumber(two.out.substr(two.out.find("\"start_score\": ")), "battles"), 640);

    // Appended by the deck file rules: CR LF lines, one more CR LF at the end, the list
    // number the line count.
    EXPECT_EQ(read(folder / "mine.dat"),
              "V001C001C001C001C001C001C001C001C001:000\r\n" + kept + "\r\n" + best.substr(0, 37) + "002\r\n\r\n");

    // A deck file that does not exist yet is made; the text output names the team.
    args = common;
    args.pop_back();
    args.insert(args.end(), {"--save", (folder / "new.dat").string()});
    const test::ProgramRun text = optimize(args);
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(read(folder / "new.dat"), best + "\r\n\r\n");
    EXPECT_NE(text.out.find("best:     " + best + "  Size "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  all   "), std::string::npos);
    EXPECT_NE(text.out.find("  #8 below  "), std::string::npos);
    EXPECT_TRUE(text.err.empty()) << "no progress line off a terminal: " << text.err;

    // A folder where the file should be is refused before the search: nothing printed.
    std::filesystem::create_directory(folder / "folder.dat");
    args = common;
    args.pop_back();
    args.insert(args.end(), {"--save", (folder / "folder.dat").string()});
    const test::ProgramRun refused = optimize(args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("folder.dat (a folder)"), std::string::npos) << refused.err;

    // A save the disk refuses only when it is written (a file size limit, as a full disk
    // would) loses no result: it is printed first, then the failure, with exit 1; in
    // JSON "saved" is null.
    test::RunLimits full;
    full.fileSizeLimit = 10;
    args.back() = (folder / "full.dat").string();
    const test::ProgramRun failed = optimize(args, full);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.out.find("best:     " + best + "  Size "), std::string::npos) << failed.out;
    EXPECT_EQ(failed.out.find("saved:"), std::string::npos);
    EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;
    EXPECT_FALSE(std::filesystem::exists(folder / "full.dat"));
    args.emplace_back("--json");
    const test::ProgramRun failedJson = optimize(args, full);
    EXPECT_EQ(failedJson.status, 1);
    EXPECT_EQ(jsonText(failedJson.out, "best"), best);
    EXPECT_NE(failedJson.out.find("\"saved\": null}"), std::string::npos) << failedJson.out;
}

TEST(OptimizeCommand, BadFieldOwnedAndKeepGiveStatus2AndOneLineNamingFileAndLine) {
    test::TempFolder folder;
    const std::string field = (folder / "field.dat").string();
    const std::string owned = (folder / "owned.txt").string();
    write(field, bundledField());
    write(folder / "bad-field.dat", "V001C003C011C012C007C021C019C020C005:000\r\nV002C030Cx38C023C043C027C036:001\r\n");
    write(folder / "empty.dat", "\r\n");
    write(owned, utf8ToCp932("; 持ち札\r\nC003 2\r\nC011 two\r\n"));
    // Every vehicle but only one character: the start team (the first line of deck0.dat)
    // owns too few of its first character, unless that is the one owned.
    const std::string start = read(std::filesystem::path(MORVANE_PROGRAM_DIR) / "deck0.dat").substr(0, 37);
    const std::string first = start.substr(4, 4);
    std::string poor = first == "C001" ? "C002 8\r\n" : "C001 8\r\n";
    for (int v = 1; v <= 8; ++v)
        poor += "V00" + std::to_string(v) + " 1\r\n";
    write(folder / "poor.txt", poor);

    const struct {
        std::vector<std::string> args;
        std::string said; // in the one line on stderr
    } cases[] = {
        {{"--field", (folder / "missing.dat").string()}, (folder / "missing.dat").string() + ": ﾌｧｲﾙが見つかりません"},
        {{"--field", (folder / "bad-field.dat").string()}, "bad-field.dat:2: 'x38' は整数ではありません"},
        {{"--field", (folder / "empty.dat").string()}, "empty.dat holds no deck line"},
        {{"--field", folder.path().string()}, "(a folder): ﾌｧｲﾙを読み込めません"},
        {{"--field", field, "--owned", owned}, "owned.txt:3: 'C011 two' は所持カードの行ではありません"},
        {{"--field", field, "--owned", (folder / "none.txt").string()}, "none.txt: ﾌｧｲﾙが見つかりません"},
        {{"--field", field, "--owned", (folder / "poor.txt").string()},
         "deck0.dat:1: '" + first + "' の所持数を超えています"},
        {{"--field", field, "--keep", "V,C09"}, "--keep wants slot names"},
        {{"--field", field, "--keep", ""}, "--keep wants slot names"},
        {{"--field", field, "--side", "left"}, "--side wants top, bottom or both"},
        {{"--field", field, "--budget", "0"}, "--budget wants a whole number from 1"},
        {{"--field", field, "--deck", "V001C001C001C001C001C001C001C001C000:000"}, "--deck deck line: C08のカード"},
        {{"--budget", "5"}, "optimize needs --field FILE"},
    };
    for (const auto& c : cases) {
        const test::ProgramRun run = optimize(c.args);
        EXPECT_EQ(run.status, 2) << c.said << "\n" << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind("morvane-cli: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }

    const test::ProgramRun help = optimize({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--owned FILE"), std::string::npos);
}

// Whether the process has a handler for SIGINT yet (Linux: the SigCgt mask of its status).
bool catchesInterrupt(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (SIGINT - 1)) & 1;
    return false;
}

TEST(OptimizeCommand, CtrlCEndsTheSearchAndStillReportsAndMeasuresTheBestTeamSoFar) {
    test::TempFolder folder;
    write(folder / "field.dat", bundledField());
    std::vector<std::string> args{Program, "optimize", "--field", (folder / "field.dat").string()};
    args.insert(args.end(), {"--budget", "2000000000", "--seed", "8", "--final-battles", "20", "--json"});
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, (folder / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, (folder / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    for (int i = 0; i < 600 && !catchesInterrupt(pid); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let the search get under way
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);

    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal";
    EXPECT_EQ(WEXITSTATUS(status), 0) << read(folder / "err");
    const std::string out = read(folder / "out");
    EXPECT_NE(out.find("\"interrupted\": true"), std::string::npos) << out;
    EXPECT_LT(jsonNumber(out, "battles"), 2000000000);
    EXPECT_EQ(jsonText(out, "best").size(), 40u);
    EXPECT_EQ(jsonNumber(out.substr(out.find("\"best_score\": ")), "battles"), 320);
}

} // namespace
} // namespace morvane
