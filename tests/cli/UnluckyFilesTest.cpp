// morvane-cli where it meets the file system at its worst: data files that are no
// regular files or are huge, a full disk under the report, a standard output that
// cannot be written, and error lines that must stay one line of text.

#include "common/AtomicFile.h"
#include "common/Files.h"
#include "support/Process.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;
namespace fs = std::filesystem;

namespace {

const std::string Cli = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";
const std::string Top = "V001C001C002C001C002C001C002C001C002:000";
const std::string Bottom = "V002C002C001C002C001C002C001C002C001:000";
// Every run has a watchdog, generous enough for a sanitizer build on a busy machine:
// only a hang reaches it.
RunLimits watched(long long fileSizeLimit = -1, std::string stdoutFile = {}) {
    RunLimits limits;
    limits.watchdogSeconds = 120;
    limits.fileSizeLimit = fileSizeLimit;
    limits.stdoutFile = std::move(stdoutFile);
    return limits;
}

std::string catalogueBytes() {
    return cardFile({Card{.id = 1, .hp = "12", .power = " 4", .sp = " 6", .name = "剣"}.line(),
                     Card{.id = 2, .hp = " 9", .power = " 3", .sp = " 8", .name = "嵐"}.line(),
                     Card{.id = 3, .power = "zz", .name = "壊"}.line(), Vehicle{.id = 1, .name = "甲車"}.line(),
                     Vehicle{.id = 2, .name = "乙車"}.line()});
}

// A program folder with a catalogue and both deck files.
struct Folder : TempFolder {
    Folder() {
        writeFileAtomic(*this / "card.dat", catalogueBytes());
        writeFileAtomic(*this / "deck0.dat", Top + "\r\n");
        writeFileAtomic(*this / "deck1.dat", Bottom + "\r\n");
    }
    std::vector<std::string> names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

ProgramRun battle(const Folder& folder, std::vector<std::string> extra, const RunLimits& limits = watched()) {
    std::vector<std::string> args{"battle", "--cards", (folder / "card.dat").string(), "--time", "12:00:00"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runProgram(Cli, args, limits);
}

void expectOneLine(const ProgramRun& run) {
    EXPECT_EQ(run.err.rfind("morvane-cli: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

// Puts something that is not a regular file where a data file belongs.
enum class Kind { Fifo, DevZero, Folder, Sparse3GB };
void replaceWith(const fs::path& file, Kind kind) {
    fs::remove(file);
    switch (kind) {
    case Kind::Fifo:
        ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
        break;
    case Kind::DevZero:
        fs::create_symlink("/dev/zero", file);
        break;
    case Kind::Folder:
        fs::create_directory(file);
        break;
    case Kind::Sparse3GB:
        writeFileAtomic(file, Top + "\r\n");
        fs::resize_file(file, std::uintmax_t{3} << 30);
        break;
    }
}

} // namespace

TEST(UnusualFiles, BattleReadsNoFifoDeviceFolderOrHugeFileAndSaysWhichAndWhy) {
    struct Case {
        const char* file;
        Kind kind;
        const char* why;
    };
    const Case cases[] = {
        {"card.dat", Kind::Fifo, "(a FIFO, not a regular file)"},
        {"deck0.dat", Kind::Fifo, "(a FIFO, not a regular file)"},
        {"deck1.dat", Kind::DevZero, "(a device, not a regular file)"},
        {"card.dat", Kind::DevZero, "(a device, not a regular file)"},
        {"card.dat", Kind::Folder, "(a folder)"},
        {"deck0.dat", Kind::Sparse3GB, "(larger than 1048576 bytes)"},
        {"card.dat", Kind::Sparse3GB, "(larger than 4194304 bytes)"},
    };
    for (const Case& c : cases) {
        Folder folder;
        replaceWith(folder / c.file, c.kind);
        const ProgramRun run = battle(folder, {"-o", (folder / "x.html").string()});
        EXPECT_FALSE(run.killed) << c.file << " " << c.why;
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find((folder / c.file).string() + " " + c.why + ": ﾌｧｲﾙを読み込めません"), std::string::npos)
            << run.err;
        expectOneLine(run);
        EXPECT_FALSE(fs::exists(folder / "x.html"));
    }
}

TEST(UnusualFiles, BatchStopsAtADeckFileThatIsAFifoOrADeviceWithoutWaiting) {
    for (const Kind kind : {Kind::Fifo, Kind::DevZero}) {
        Folder folder;
        const fs::path deck = folder / "root" / "0000" / "deck.dat";
        fs::create_directories(deck.parent_path());
        replaceWith(deck, kind);
        const ProgramRun run = runProgram(
            Cli, {"batch", (folder / "root").string(), "--last", "0", "--cards", (folder / "card.dat").string()},
            watched());
        EXPECT_FALSE(run.killed);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find(deck.string()), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("ﾌｧｲﾙを読み込めません"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(deck.parent_path() / "battle.html"));
    }
}

TEST(FullDisk, AReportThatCannotBeWrittenKeepsThePreviousOneAndNoTemporaryFile) {
    Folder folder;
    const fs::path report = folder / "battle.html";
    ASSERT_EQ(battle(folder, {"--seed", "1"}).status, 0);
    const std::string previous = readFileBytes(report);
    ASSERT_GT(previous.size(), 16384u);

    // Another battle on a disk that fills up after 8 KB.
    const ProgramRun full = battle(folder, {"--seed", "2"}, watched(8192));
    EXPECT_EQ(full.status, 1);
    // The system's reason stands after the file: here the size limit stands in for the disk.
    EXPECT_NE(full.err.find(report.string() + " (File too large): ﾌｧｲﾙに書き込めません"), std::string::npos)
        << full.err;
    expectOneLine(full);
    EXPECT_EQ(readFileBytes(report), previous);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"battle.html", "card.dat", "deck0.dat", "deck1.dat"}));

    // A turn cap closes the report as it stands, in place of the file.
    const ProgramRun capped = battle(folder, {"--seed", "2", "--max-turns", "2"});
    EXPECT_EQ(capped.status, 3);
    EXPECT_NE(readFileBytes(report).find(sjis("<b>2ターン</b>")), std::string::npos);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"battle.html", "card.dat", "deck0.dat", "deck1.dat"}));

    // A battle halted by a card column that holds no number leaves its report as far
    // as it got: the head, stopped at the roster line.
    const ProgramRun halted = battle(folder, {"--bottom", "V002C003C003C003C003C003C003C003C003:000"});
    EXPECT_EQ(halted.status, 2);
    const std::string stopped = readFileBytes(report);
    EXPECT_EQ(stopped.rfind("<html>\r\n<center><font size=+1><b>Morvane</b>", 0), 0u) << stopped.substr(0, 80);
    EXPECT_EQ(std::count(stopped.begin(), stopped.end(), '\n'), 2);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"battle.html", "card.dat", "deck0.dat", "deck1.dat"}));
}

TEST(FullDisk, PastTheFileSizeLimitAndAfterAKilledWriterNoTemporaryFileStays) {
    Folder folder;
    const fs::path report = folder / "battle.html";
    ASSERT_EQ(battle(folder, {"--seed", "1"}).status, 0);
    const std::string previous = readFileBytes(report);

    // As under a shell's ulimit -f, where the signal would end the program mid-write.
    RunLimits limited = watched(8192);
    limited.keepFileSizeSignal = true;
    const ProgramRun past = battle(folder, {"--seed", "2"}, limited);
    EXPECT_EQ(past.status, 1) << past.err;
    EXPECT_NE(past.err.find(report.string() + " (File too large): ﾌｧｲﾙに書き込めません"), std::string::npos)
        << past.err;
    expectOneLine(past);
    EXPECT_EQ(readFileBytes(report), previous);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"battle.html", "card.dat", "deck0.dat", "deck1.dat"}));

    // A writer killed mid-report leaves its temporary file; one still writing holds
    // its own, locked. The next run for the same report removes only the first.
    const pid_t killed = ::fork();
    if (killed == 0) {
        fs::path temp;
        createTemporaryFile(report, 0644, temp);
        ::raise(SIGKILL);
    }
    ::waitpid(killed, nullptr, 0);
    fs::path live;
    const int liveFd = createTemporaryFile(report, 0644, live);
    ASSERT_GE(liveFd, 0);
    writeFileAtomic(folder / ".battle.html.x.tmp", "not a temporary file of ours");
    ASSERT_EQ(folder.names().size(), 7u);
    ASSERT_EQ(battle(folder, {"--seed", "2"}).status, 0);
    std::vector<std::string> kept{
        ".battle.html.x.tmp", live.filename().string(), "battle.html", "card.dat", "deck0.dat", "deck1.dat"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(folder.names(), kept);
    ::close(liveFd);
}

TEST(StandardOutput, EveryCommandThatCannotWriteItExitsOne) {
    Folder folder;
    const std::string cards = (folder / "card.dat").string();
    writeFileAtomic(folder / "league.dat", Top + "\r\n" + Bottom + "\r\n");
    fs::create_directories(folder / "root" / "0000");
    writeFileAtomic(folder / "root" / "0000" / "deck.dat", Top + "\r\n" + Bottom + "\r\n");
    // Problems that never reach the terminal are no answer, and must not pass for one.
    writeFileAtomic(folder / "bad.dat", "C0xx\r\n");
    const std::vector<std::vector<std::string>> commands = {
        {"cards", "check", cards},
        {"cards", "check", (folder / "bad.dat").string()},
        {"cards", "export", cards},
        {"battle", "--cards", cards, "--seed", "1"},
        {"battle", "--help"},
        {"stats", "--cards", cards, "--battles", "20", "--threads", "1", "--seed", "1"},
        {"league", "--cards", cards, "--decks", (folder / "league.dat").string(), "--battles", "2", "--threads", "1"},
        {"batch", (folder / "root").string(), "--last", "0", "--cards", cards, "--seed", "1"},
        {"--help"},
    };
    for (const auto& args : commands) {
        const ProgramRun run = runProgram(Cli, args, watched(-1, "/dev/full"));
        EXPECT_EQ(run.status, 1) << args.front();
        EXPECT_NE(run.err.find("the standard output cannot be written"), std::string::npos) << run.err;
    }
    // Its work is done all the same: the report is in place.
    EXPECT_TRUE(fs::exists(folder / "battle.html"));
}

TEST(ErrorLine, NamesTheFirstMissingDeckFileAndEscapesControlBytes) {
    Folder folder;
    fs::remove(folder / "deck0.dat");
    fs::remove(folder / "deck1.dat");
    const ProgramRun missing = battle(folder, {});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find((folder / "deck0.dat").string() + ": ﾌｧｲﾙが見つかりません"), std::string::npos)
        << missing.err;

    // A NUL and a line feed in a column that should hold a number.
    writeFileAtomic(folder / "card.dat", cardFile({Card{.id = 1, .hp = std::string("\0\n", 2)}.line()}));
    const ProgramRun bad = battle(folder, {"--top", Top, "--bottom", Bottom});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find(R"('\x00' は整数ではありません)"), std::string::npos) << bad.err;
    expectOneLine(bad);
    EXPECT_TRUE(
        std::none_of(bad.err.begin(), bad.err.end() - 1, [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
}
