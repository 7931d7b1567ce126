// The program's files on disk: what may be read (regular files within a size limit),
// and how a stored file or a report is replaced (whole or not at all, keeping the
// file's permission, mode and links, never leaving a temporary file behind).

#include "common/Files.h"
#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/AtomicFile.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Random.h"
#include "report/ReportSink.h"
#include "support/Process.h"
#include "support/TestCards.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>

using namespace morvane;
using namespace morvane::test;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder))
        out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

fs::perms permsOf(const fs::path& file) {
    return fs::status(file).permissions();
}

// The message and location of what reading path throws.
std::pair<std::string, std::string> readFailure(const fs::path& path, std::uintmax_t limit = DefaultMaxFileBytes) {
    try {
        readFileBytes(path, limit);
    } catch (const FileNotFoundError& e) {
        return {std::string("not found: ").append(cp932ToUtf8(e.message())), e.where()};
    } catch (const IoError& e) {
        return {cp932ToUtf8(e.message()), e.where()};
    }
    return {"read", ""};
}

// Files of this process can grow to limit bytes only, as on a nearly full disk.
class DiskFillsAt {
public:
    explicit DiskFillsAt(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~DiskFillsAt() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    DiskFillsAt(const DiskFillsAt&) = delete;
    DiskFillsAt& operator=(const DiskFillsAt&) = delete;

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

} // namespace

TEST(ReadFile, TakesRegularFilesUpToTheLimitAndNamesWhatElseItFinds) {
    TempFolder dir;
    writeFileAtomic(dir / "ten.dat", "0123456789");
    EXPECT_EQ(readFileBytes(dir / "ten.dat", 10), "0123456789");
    EXPECT_EQ(readFailure(dir / "ten.dat", 9), std::make_pair(std::string("ﾌｧｲﾙを読み込めません"),
                                                              (dir / "ten.dat").string() + " (larger than 9 bytes)"));

    // A folder is there, so it is no missing file.
    fs::create_directory(dir / "card.dat");
    EXPECT_EQ(readFailure(dir / "card.dat"),
              std::make_pair(std::string("ﾌｧｲﾙを読み込めません"), (dir / "card.dat").string() + " (a folder)"));
    // Missing, also behind a link to nothing.
    fs::create_symlink(dir / "gone.dat", dir / "link.dat");
    EXPECT_EQ(readFailure(dir / "link.dat"),
              std::make_pair(std::string("not found: ﾌｧｲﾙが見つかりません"), (dir / "link.dat").string()));
    EXPECT_EQ(readFailure(dir / "ten.dat" / "x").first, "not found: ﾌｧｲﾙが見つかりません");
}

TEST(FileReplacement, RefusesReadOnlyFilesKeepsTheModeAndWritesThroughLinks) {
    TempFolder dir;
    // No write bit at all: read-only for everyone, root included.
    writeFileAtomic(dir / "locked.dat", "old\r\n");
    fs::permissions(dir / "locked.dat", fs::perms::owner_read | fs::perms::group_read);
    try {
        writeFileAtomic(dir / "locked.dat", "new\r\n");
        ADD_FAILURE() << "a read-only file was replaced";
    } catch (const IoError& e) {
        EXPECT_EQ(cp932ToUtf8(e.message()), "ﾌｧｲﾙを作成できません");
        // The reason travels as data; the command line says it after the file.
        EXPECT_EQ(e.location(), (dir / "locked.dat").string());
        EXPECT_EQ(e.reason().kind, FileReason::ReadOnly);
        EXPECT_EQ(e.where(), (dir / "locked.dat").string() + " (read-only)");
    }
    EXPECT_EQ(readFileBytes(dir / "locked.dat"), "old\r\n");
    EXPECT_EQ(permsOf(dir / "locked.dat"), fs::perms::owner_read | fs::perms::group_read);

    // A mode the user chose survives the save, whatever the umask would give.
    const fs::perms chosen = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    writeFileAtomic(dir / "deck0.dat", "old\r\n");
    fs::permissions(dir / "deck0.dat", chosen);
    writeFileAtomic(dir / "deck0.dat", "new\r\n");
    EXPECT_EQ(readFileBytes(dir / "deck0.dat"), "new\r\n");
    EXPECT_EQ(permsOf(dir / "deck0.dat"), chosen);

    // A link (relative, through a second link) stays a link; the file it names is saved.
    fs::create_directory(dir / "store");
    writeFileAtomic(dir / "store" / "real.dat", "old\r\n");
    fs::create_symlink("real.dat", dir / "store" / "alias.dat");
    fs::create_symlink("store/alias.dat", dir / "deck1.dat");
    writeFileAtomic(dir / "deck1.dat", "new\r\n");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "deck1.dat")));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "store" / "alias.dat")));
    EXPECT_EQ(readFileBytes(dir / "store" / "real.dat"), "new\r\n");
    // A link to a missing file creates that file.
    fs::create_symlink("store/later.dat", dir / "later.dat");
    writeFileAtomic(dir / "later.dat", "made\r\n");
    EXPECT_EQ(readFileBytes(dir / "store" / "later.dat"), "made\r\n");
    // Links in a circle name no file.
    fs::create_symlink("b.dat", dir / "a.dat");
    fs::create_symlink("a.dat", dir / "b.dat");
    EXPECT_THROW(writeFileAtomic(dir / "a.dat", "x"), IoError);

    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"a.dat", "b.dat", "deck0.dat", "deck1.dat", "later.dat",
                                                           "locked.dat", "store"}));
    EXPECT_EQ(names(dir / "store"), (std::vector<std::string>{"alias.dat", "later.dat", "real.dat"}));
}

TEST(FileReplacement, CheckingFirstRefusesWhatTheWriterWouldAndCreatesNothing) {
    TempFolder dir;
    writeFileAtomic(dir / "deck0.dat", "old\r\n");
    fs::create_directory(dir / "sub");
    // What a write would take: a stored file, a new one beside it, a link to a new one.
    checkReplaceable(dir / "deck0.dat");
    checkReplaceable(dir / "new.html");
    fs::create_symlink("sub/later.html", dir / "later.html");
    checkReplaceable(dir / "later.html");
    // And what it would refuse, each for the reason the writer would give.
    const auto refusal = [](const fs::path& path) {
        try {
            checkReplaceable(path);
        } catch (const IoError& e) {
            EXPECT_EQ(cp932ToUtf8(e.message()), "ﾌｧｲﾙを作成できません") << path;
            EXPECT_EQ(e.location(), path.string());
            return e.where();
        }
        ADD_FAILURE() << path << " was taken";
        return std::string();
    };
    EXPECT_EQ(refusal(dir / "sub"), (dir / "sub").string() + " (a folder)");
    EXPECT_NE(refusal(dir / "missing" / "x.html").find("No such file or directory"), std::string::npos);
    EXPECT_NE(refusal(dir / "deck0.dat" / "x.html").find("Not a directory"), std::string::npos);
    fs::permissions(dir / "deck0.dat", fs::perms::owner_read);
    EXPECT_EQ(refusal(dir / "deck0.dat"), (dir / "deck0.dat").string() + " (read-only)");
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"deck0.dat", "later.html", "sub"}));
    EXPECT_TRUE(fs::is_empty(dir / "sub"));
}

TEST(FileReportSink, PutsAReportInPlaceWhenClosedOrHaltedAndNeverAPartOfOne) {
    TempFolder dir;
    const fs::path file = dir / "battle.html";
    writeFileAtomic(file, "previous\r\n");
    {
        // Unfinished when the program ends: the previous report stays.
        FileReportSink sink(file);
        sink.open();
        sink.writeLine("<html>");
        EXPECT_EQ(readFileBytes(file), "previous\r\n");
    }
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"battle.html"});
    {
        // The disk fills up: the write fails and the previous report stays.
        FileReportSink sink(file);
        sink.open();
        const DiskFillsAt full(4096);
        const auto fill = [&sink] {
            for (int i = 0; i < 10; ++i)
                sink.writeLine(std::string(1000, 'x'));
        };
        EXPECT_THROW(fill(), IoError);
        EXPECT_FALSE(sink.halt()) << "nothing to go on with";
    }
    EXPECT_EQ(readFileBytes(file), "previous\r\n");
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"battle.html"});

    FileReportSink sink(file);
    sink.open();
    sink.writeLine("<html>");
    // A halted battle shows its report as far as it got, and a resumed one goes on.
    EXPECT_TRUE(sink.halt());
    EXPECT_EQ(readFileBytes(file), "<html>\r\n");
    sink.writeLine("turn");
    sink.close();
    EXPECT_EQ(readFileBytes(file), "<html>\r\nturn\r\n");
    sink.open();
    sink.writeLine("next");
    sink.close();
    EXPECT_EQ(readFileBytes(file), "next\r\n");
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"battle.html"});
}

TEST(FileReportSink, ABattleHaltedByACardColumnLeavesItsReportAsItStood) {
    TempFolder dir;
    const fs::path file = dir / "battle.html";
    writeFileAtomic(file, "previous\r\n");
    CardCatalogue catalogue;
    catalogue.loadBytes(cardFile({Card{.id = 1}.line(), Card{.id = 2, .power = "zz"}.line(), Vehicle{.id = 1}.line()}));
    Random random(1);
    FileReportSink sink(file);
    const FixedClock clock("12:00:00");
    Battle battle(catalogue, random, &sink);
    battle.report().setClock(clock);
    Teams teams;
    Deck0Set("V001C001C001C001C001C001C001C001C001", teams, catalogue);
    Deck1Set("V001C002C002C002C002C002C002C002C002", teams, catalogue);
    battle.start(teams);
    EXPECT_THROW(battle.playTurn(), ConversionError);
    // The head, up to the roster line that failed.
    const std::string report = readFileBytes(file);
    EXPECT_EQ(report.rfind("<html>\r\n<center>", 0), 0u);
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 2);
    EXPECT_TRUE(battle.state().ReportOpen);
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"battle.html"});
}
