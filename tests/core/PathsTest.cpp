// The program folder: a writable portable copy keeps its files beside the executable;
// an installed copy (or a read-only portable one) uses the user's data folder, seeded
// once and never overwritten; and every way this can fail says so with the file or
// folder it concerns. The machine is a set of temporary folders; read-only means no
// write bit, which holds for root too.

#include "common/Paths.h"
#include "common/AtomicFile.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace morvane;
using namespace morvane::test;
namespace fs = std::filesystem;

namespace {

constexpr fs::perms ReadOnlyFolder = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;

// <root>/prefix/bin/morvane-cli with the data in <root>/prefix/share/morvane/, a home
// folder, and no XDG_DATA_HOME.
class ProgramFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(bin());
        fs::create_directories(installed());
        writeFileAtomic(installed() / "card.dat", "; installed cards\r\n");
        writeFileAtomic(installed() / "deck0.dat", "top decks\r\n");
        writeFileAtomic(installed() / "deck1.dat", "bottom decks\r\n");
        site.executable = bin() / "morvane-cli";
        site.home = (root / "home").string();
        site.installedData = installed();
    }
    void TearDown() override {
        // Write bits back, so that the folder can be removed.
        for (const fs::path& folder : {bin(), installed()})
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
    }
    fs::path bin() const { return root / "prefix/bin"; }
    fs::path installed() const { return root / "prefix/share/morvane"; }
    void makeReadOnly(const fs::path& folder) const { fs::permissions(folder, ReadOnlyFolder); }

    TempFolder root;
    ProgramSite site;
};

template <class Error> std::string whereOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& e) {
        return e.where();
    }
    return "(nothing thrown)";
}

} // namespace

TEST_F(ProgramFolderTest, AWritablePortableCopyKeepsItsFilesBesideTheExecutable) {
    writeFileAtomic(bin() / "Card.dat", "; portable cards\r\n"); // any case, as the window reads it
    writeFileAtomic(bin() / "deck0.dat", "portable top\r\n");
    writeFileAtomic(bin() / "deck1.dat", "portable bottom\r\n");
    EXPECT_EQ(ProgramFolder(site), bin().string() + "/");
    EXPECT_FALSE(fs::exists(root / "home"));

    // The same copy made read-only is used from the data folder, seeded from itself.
    fs::remove(installed() / "card.dat");
    makeReadOnly(bin());
    EXPECT_FALSE(writableFolder(bin()));
    const std::string data = (root / "home/.local/share/morvane/").string();
    EXPECT_EQ(ProgramFolder(site), data);
    EXPECT_EQ(readFileBytes(data + "card.dat"), "; portable cards\r\n");
    EXPECT_EQ(readFileBytes(data + "deck0.dat"), "portable top\r\n");
}

TEST_F(ProgramFolderTest, AnInstalledCopySeedsTheUsersDataFolderOnceAndNeverOverwritesIt) {
    makeReadOnly(installed());
    const std::string data = (root / "home/.local/share/morvane/").string();
    EXPECT_EQ(ProgramFolder(site), data);
    EXPECT_EQ(readFileBytes(data + "card.dat"), "; installed cards\r\n");
    EXPECT_EQ(readFileBytes(data + "deck0.dat"), "top decks\r\n");
    EXPECT_EQ(readFileBytes(data + "deck1.dat"), "bottom decks\r\n");
    // Even with card.dat beside it, a folder the user cannot write to is not the
    // program folder.
    writeFileAtomic(bin() / "card.dat", "; next to the executable\r\n");
    makeReadOnly(bin());

    // The user's own files stay; only a missing one comes back, and a deck list saved
    // as Deck1.dat is the same file.
    writeFileAtomic(data + "card.dat", "; my cards\r\n");
    fs::remove(data + "deck0.dat");
    fs::rename(data + "deck1.dat", data + "Deck1.dat");
    EXPECT_EQ(ProgramFolder(site), data);
    EXPECT_EQ(readFileBytes(data + "card.dat"), "; my cards\r\n");
    EXPECT_EQ(readFileBytes(data + "deck0.dat"), "top decks\r\n");
    EXPECT_FALSE(fs::exists(data + "deck1.dat"));

    // $XDG_DATA_HOME when it is an absolute path; a relative one is ignored.
    site.dataHome = (root / "xdg").string();
    EXPECT_EQ(ProgramFolder(site), (root / "xdg/morvane/").string());
    EXPECT_EQ(readFileBytes(root / "xdg/morvane/card.dat"), "; installed cards\r\n");
    site.dataHome = "relative/xdg";
    EXPECT_EQ(ProgramFolder(site), data);
}

TEST_F(ProgramFolderTest, EveryFailureNamesWhatIsMissing) {
    ProgramSite unknown = site;
    unknown.executable.clear();
    EXPECT_EQ(whereOf<FileNotFoundError>([&] { ProgramFolder(unknown); }), "/proc/self/exe");

    // A data folder that cannot be created: its parent is a file.
    writeFileAtomic(root / "file", "");
    site.dataHome = (root / "file").string();
    EXPECT_EQ(whereOf<FolderError>([&] { ProgramFolder(site); }), (root / "file/morvane/").string());
    site.dataHome.clear();
    site.home.clear();
    EXPECT_EQ(whereOf<FolderError>([&] { ProgramFolder(site); }), "$HOME/.local/share/morvane/");

    // An install without its decks: the files before the missing one are there, and the
    // next start completes the folder.
    site.home = (root / "home").string();
    fs::rename(installed() / "deck1.dat", root / "deck1.dat");
    EXPECT_EQ(whereOf<FileNotFoundError>([&] { ProgramFolder(site); }), (installed() / "deck1.dat").string());
    fs::rename(root / "deck1.dat", installed() / "deck1.dat");
    EXPECT_EQ(ProgramFolder(site), (root / "home/.local/share/morvane/").string());
    EXPECT_TRUE(fs::exists(root / "home/.local/share/morvane/deck1.dat"));

    // No installed folder at all: the copy is a portable one, never the working folder.
    site.installedData.clear();
    fs::remove(root / "home/.local/share/morvane/card.dat");
    EXPECT_EQ(ProgramFolder(site), bin().string() + "/");
}

TEST_F(ProgramFolderTest, APortableCopyWithoutItsCatalogueStaysInItsFolderAndMakesNoDataFolder) {
    // A copy of the build folder: no data installed beside it, card.dat removed.
    site.installedData = root / "prefix/share/nothing";
    writeFileAtomic(bin() / "deck0.dat", "portable top\r\n");
    EXPECT_EQ(ProgramFolder(site), bin().string() + "/");
    // Something else by the name: the catalogue load says what is there.
    fs::create_directory(bin() / "card.dat");
    EXPECT_EQ(ProgramFolder(site), bin().string() + "/");
    EXPECT_FALSE(fs::exists(root / "home"));
    // Made read-only, it still has nothing to seed a data folder with.
    makeReadOnly(bin());
    EXPECT_EQ(ProgramFolder(site), bin().string() + "/");
    EXPECT_FALSE(fs::exists(root / "home"));
}
