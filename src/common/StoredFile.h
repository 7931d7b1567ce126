#pragma once
// A stored file that several writers share: a deck list (two windows on one folder,
// morvane-cli optimize --save) or the catalogue (its editor). Every writer takes the
// file's lock and looks under it at what is stored now: one that adds to the file adds
// to that, and one that writes back what it read earlier (a window's list) refuses
// when another writer stored something in between, rather than drop what that one
// stored. Readers take no lock: a save replaces the file in one step.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace morvane {

// The advisory lock of a stored file, held from construction to destruction, that
// every writer of the file takes. It lives on a lock file beside the file,
// ".NAME.lock", and not on the file itself, which each save replaces by a rename: a
// writer that waited on the old file would otherwise go on with a lock nobody else
// looks at. The lock file stays, since removing it would let two writers lock two
// different files. The lock is one of the open file (not of the process), so two
// windows of one process exclude each other too, and it holds on network folders.
class FileLock {
public:
    // Writers hold the lock for one read and one rename; one that keeps it longer than
    // this has hung, and the save fails rather than hang the window with it.
    static constexpr std::chrono::milliseconds DefaultPatience{10000};

    // Waits for the lock of the file path names (its symbolic links followed, as a
    // save follows them). Throws IoError: "ﾌｧｲﾙを作成できません" with the reason when no
    // lock file can be made beside it, "ﾌｧｲﾙは使用中です" when another writer does not
    // let go within patience.
    explicit FileLock(const std::filesystem::path& path, std::chrono::milliseconds patience = DefaultPatience);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // The file the lock is for: path with its links followed.
    const std::filesystem::path& target() const { return target_; }

private:
    std::filesystem::path target_;
    int fd_ = -1;
};

// A stored file as this program read it: its bytes, or that it was missing, or that
// it was never read at all. save() writes new contents only while the file still is
// what was read.
class StoredFile {
public:
    // Nothing read: a save refuses to touch an existing file.
    StoredFile() = default;

    // Reads the file whole, at most maxBytes; throws FileNotFoundError or IoError as
    // readFileBytes does.
    static StoredFile read(const std::filesystem::path& path, std::uintmax_t maxBytes);
    // The same, but a missing file is read as missing rather than thrown.
    static StoredFile readIfThere(const std::filesystem::path& path, std::uintmax_t maxBytes);

    bool wasRead() const { return state_ != State::NotRead; }
    bool exists() const { return state_ == State::Read; }
    const std::filesystem::path& path() const { return path_; }
    // The bytes as read; empty for a missing file.
    const std::string& bytes() const { return bytes_; }
    // The same reading, for the same file under another name (another case, a link).
    StoredFile at(const std::filesystem::path& path) const;

    // Replaces the file with bytes, through a temporary file and a rename, under the
    // file's lock. Throws FileChangedError ("読み込んだ後に変更されたﾌｧｲﾙには記録できません")
    // when the file no longer holds what was read (or was missing and is there now;
    // one removed since is made afresh),
    // IoError ("読み込んでいないﾌｧｲﾙには記録できません") when nothing was read and a file
    // is there, and IoError when it cannot be written; the file stays as it was in
    // each case. Afterwards this is the file as saved.
    void save(std::string_view bytes);
    // The same for a writer that already holds the file's lock.
    void save(std::string_view bytes, const FileLock& lock);

private:
    enum class State { NotRead, Missing, Read };
    std::filesystem::path path_;
    std::string bytes_;
    State state_ = State::NotRead;
    std::uintmax_t maxBytes_ = 0;
};

} // namespace morvane
