// morvane-cli beside other writers and in unusual copies: parallel optimize --save
// runs each keep their team under their own list number, a closed terminal or a kill
// ends a search as Ctrl-C does (measured and saved), and a portable copy without its
// catalogue names the file beside it rather than a data folder it never had.

#include "support/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

namespace morvane {
namespace {

namespace fs = std::filesystem;

const std::string Program = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";

std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string bundledField() {
    return read(fs::path(MORVANE_PROGRAM_DIR) / "deck0.dat") + read(fs::path(MORVANE_PROGRAM_DIR) / "deck1.dat");
}

// Starts program with args and exactly the environment given, its output going to
// files (so that many can run at once).
pid_t start(const std::string& program, std::vector<std::string> args, std::vector<std::string> environment,
            const fs::path& out, const fs::path& err) {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    posix_spawn(&pid, program.c_str(), &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

int exitStatus(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whether the process handles signal yet (Linux: the SigCgt mask of its status).
bool handles(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& set) {
    std::vector<std::string> environment{"PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    environment.insert(environment.end(), set.begin(), set.end());
    return environment;
}

} // namespace

TEST(SharedDeckFile, ParallelSavesEachKeepTheirTeamUnderTheirOwnNumber) {
    test::TempFolder folder;
    std::ofstream(folder / "field.dat", std::ios::binary) << bundledField();
    constexpr int Runs = 16;
    std::vector<pid_t> runs;
    for (int i = 0; i < Runs; ++i)
        runs.push_back(
            start(Program,
                  {"optimize", "--field", (folder / "field.dat").string(), "--budget", "1", "--final-battles", "1",
                   "--threads", "1", "--seed", std::to_string(i + 1), "--save", (folder / "found.dat").string()},
                  environmentWith({}), folder / ("out" + std::to_string(i)), folder / ("err" + std::to_string(i))));
    std::set<std::string> numbers;
    for (int i = 0; i < Runs; ++i) {
        EXPECT_EQ(exitStatus(runs[static_cast<size_t>(i)]), 0) << read(folder / ("err" + std::to_string(i)));
        const std::string out = read(folder / ("out" + std::to_string(i)));
        const size_t at = out.find("list number ");
        ASSERT_NE(at, std::string::npos) << out;
        numbers.insert(out.substr(at + 12, 3));
    }
    EXPECT_EQ(numbers.size(), size_t{Runs});
    const std::string file = read(folder / "found.dat");
    for (int n = 0; n < Runs; ++n) {
        char tail[16];
        std::snprintf(tail, sizeof tail, ":%.3d\r\n", n);
        EXPECT_NE(file.find(tail), std::string::npos) << "no line numbered " << n;
    }
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), Runs + 1);
}

TEST(OptimizeSignals, HangupAndTerminateEndTheSearchAsCtrlCDoes) {
    for (const int signal : {SIGHUP, SIGTERM}) {
        test::TempFolder folder;
        std::ofstream(folder / "field.dat", std::ios::binary) << bundledField();
        const pid_t pid =
            start(Program,
                  {"optimize", "--field", (folder / "field.dat").string(), "--budget", "2000000000", "--seed", "8",
                   "--final-battles", "20", "--json", "--save", (folder / "found.dat").string()},
                  environmentWith({}), folder / "out", folder / "err");
        for (int i = 0; i < 600 && !handles(pid, signal); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let the search get under way
        ::kill(pid, signal);
        EXPECT_EQ(exitStatus(pid), 0) << "signal " << signal << ": " << read(folder / "err");
        EXPECT_NE(read(folder / "out").find("\"interrupted\": true"), std::string::npos) << read(folder / "out");
        EXPECT_NE(read(folder / "found.dat").find(":000\r\n"), std::string::npos) << "signal " << signal;
    }
}

TEST(PortableCopy, WithoutItsCatalogueNamesTheFileBesideItAndMakesNoDataFolder) {
    test::TempFolder folder;
    // A copy of the program alone in a folder, no data installed beside it.
    fs::create_directories(folder / "copy");
    fs::copy_file(Program, folder / "copy/morvane-cli");
    const std::vector<std::string> environment = environmentWith({"HOME=" + (folder / "home").string()});
    const pid_t missing = start((folder / "copy/morvane-cli").string(), {"battle", "--seed", "1"}, environment,
                                folder / "out", folder / "err");
    EXPECT_EQ(exitStatus(missing), 2);
    EXPECT_EQ(read(folder / "err"), "morvane-cli: " + (folder / "copy/card.dat").string() + ": ﾌｧｲﾙが見つかりません\n");

    // Something else in its place is named with what it is.
    fs::create_directory(folder / "copy/card.dat");
    const pid_t other = start((folder / "copy/morvane-cli").string(), {"battle", "--seed", "1"}, environment,
                              folder / "out", folder / "err");
    EXPECT_EQ(exitStatus(other), 2);
    EXPECT_NE(read(folder / "err").find((folder / "copy/card.dat").string() + " (a folder)"), std::string::npos)
        << read(folder / "err");
    EXPECT_FALSE(fs::exists(folder / "home"));
}

} // namespace morvane
