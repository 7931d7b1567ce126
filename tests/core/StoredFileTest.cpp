// Stored files that several writers share: a save never drops what another writer
// stored since this one read the file (tests/cli has many processes appending at
// once), a writer waits for another's lock and gives up on one that hangs, and
// the bytes after a byte 26 survive a save. The program folder's mark tells a second
// copy of the window that a first one uses the folder.

#include "common/StoredFile.h"
#include "cards/Deck.h"
#include "common/AtomicFile.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Paths.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;
namespace fs = std::filesystem;

namespace {

const SideSelection TeamA{1, {1, 1, 1, 1, 1, 1, 1, 1}};
const SideSelection TeamB{2, {2, 2, 2, 2, 2, 2, 2, 2}};

std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const MorvaneError& e) {
        return cp932ToUtf8(e.message());
    }
    return "(nothing thrown)";
}

} // namespace

TEST(StoredFile, ASaveRefusesAFileAnotherWriterChangedAndKeepsWhatThatWriterStored) {
    TempFolder dir;
    const fs::path deck = dir / "deck0.dat";
    writeFileAtomic(deck, "V001C001C001C001C001C001C001C001C001:000\r\n");
    // Two writers read the same file. (A deck list goes on to merge: DeckFile tests.)
    StoredFile first = StoredFile::read(deck, MaxDeckFileBytes);
    DeckList second = DeckList::load(deck);
    second.add(TeamB);
    second.save(deck);
    const std::string stored = readFileBytes(deck);

    EXPECT_EQ(messageOf([&] { first.save("V009:000\r\n"); }), "読み込んだ後に変更されたﾌｧｲﾙには記録できません");
    EXPECT_EQ(readFileBytes(deck), stored);
    // The writer that saved goes on saving: its own save is what it read now.
    second.add(TeamA);
    EXPECT_FALSE(second.save(deck).merged);
    EXPECT_EQ(DeckList::load(deck).lines().size(), 3u);

    // A file that appeared since a list found it missing is not overwritten either; one
    // removed since is made afresh, there being nothing in it to lose.
    const fs::path other = dir / "deck1.dat";
    StoredFile missing = StoredFile::readIfThere(other, MaxDeckFileBytes);
    EXPECT_FALSE(missing.exists());
    writeFileAtomic(other, "theirs\r\n");
    EXPECT_THROW(missing.save("mine\r\n"), FileChangedError);
    EXPECT_EQ(readFileBytes(other), "theirs\r\n");
    StoredFile read = StoredFile::read(other, MaxDeckFileBytes);
    fs::remove(other);
    read.save("mine\r\n");
    EXPECT_EQ(readFileBytes(other), "mine\r\n");
}

TEST(StoredFile, WritersWaitForTheLockAndGiveUpOnOneThatHangs) {
    TempFolder dir;
    const fs::path deck = dir / "deck0.dat";
    {
        const FileLock held(deck);
        EXPECT_EQ(messageOf([&] { FileLock(deck, std::chrono::milliseconds(100)); }), "ﾌｧｲﾙは使用中です");
    }
    // Another process holds it for a moment: the append waits, then adds to what that
    // process stored.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const FileLock held(deck);
        writeFileAtomic(deck, "V003C003C003C003C003C003C003C003C003:000\r\n");
        [[maybe_unused]] const ssize_t told = ::write(ready[1], "x", 1);
        ::usleep(300000);
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(appendToDeckFile(deck, TeamA), 1);
    int status = -1;
    ::waitpid(pid, &status, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(DeckList::load(deck).lines().size(), 2u);
    EXPECT_TRUE(fs::exists(dir / ".deck0.dat.lock"));

    // A link is locked where its file is, the one the save replaces.
    fs::create_directory(dir / "store");
    fs::create_symlink("store/real.dat", dir / "link.dat");
    EXPECT_EQ(FileLock(dir / "link.dat").target(), dir / "store/real.dat");
    EXPECT_TRUE(fs::exists(dir / "store/.real.dat.lock"));
    // No folder to put the lock in: the save is refused, naming the file.
    EXPECT_EQ(messageOf([&] { FileLock(dir / "none/deck0.dat"); }), "ﾌｧｲﾙを作成できません");
}

TEST(StoredFile, BytesAfterAByte26SurviveASaveAndAnAppend) {
    TempFolder dir;
    const fs::path deck = dir / "deck0.dat";
    const std::string hidden = std::string("\x1a") + "V009C009C009C009C009C009C009C009C009:001\r\n";
    writeFileAtomic(deck, "V001C001C001C001C001C001C001C001C001:000\r\n" + hidden);
    DeckList list = DeckList::load(deck);
    ASSERT_EQ(list.lines().size(), 1u);
    list.add(TeamB);
    list.save(deck);
    EXPECT_EQ(readFileBytes(deck), "V001C001C001C001C001C001C001C001C001:000\r\n"
                                   "V002C002C002C002C002C002C002C002C002:001\r\n\r\n" +
                                       hidden);
    EXPECT_EQ(appendToDeckFile(deck, TeamA), 2);
    const std::string bytes = readFileBytes(deck);
    EXPECT_EQ(bytes.substr(bytes.size() - hidden.size()), hidden);
    EXPECT_EQ(DeckList::load(deck).lines().size(), 3u);
}

TEST(FolderUse, TellsASecondCopyThatTheFolderIsInUseUntilEveryCopyHasLeft) {
    TempFolder dir;
    {
        const FolderUse first(dir.path());
        EXPECT_FALSE(first.shared());
        {
            const FolderUse second(dir.path());
            EXPECT_TRUE(second.shared());
        }
        const auto third = std::make_unique<FolderUse>(dir.path());
        EXPECT_TRUE(third->shared());
    }
    EXPECT_FALSE(FolderUse(dir.path()).shared());
    // A folder where no mark can be made is not in use.
    EXPECT_FALSE(FolderUse(dir / "missing").shared());
}
