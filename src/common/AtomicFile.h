#pragma once
// Replacing a stored file in one step: new contents go to a temporary file beside it,
// which is synced and renamed over it, so the file is the old one or the new one and
// never a part of either.

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace morvane {

// New contents for a stored file, written to a temporary file beside it and renamed
// over it in one step, so that the file is the old one or the new one and never a
// part: a full disk or a crash leaves the old file as it was. The stored file's own
// settings are kept: one without write permission for this user, or without any
// write bit (read-only even for root), is refused and stays; a replaced file keeps
// its mode; a symbolic link is followed and the file it names is replaced, the link
// staying a link.
class FileReplacement {
public:
    // Checks the stored file and creates the temporary one. Throws IoError
    // ("ﾌｧｲﾙを作成できません") naming path.
    explicit FileReplacement(const std::filesystem::path& path);
    // Discards what was not committed.
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Appends bytes. A failed write discards the temporary file and throws IoError
    // ("ﾌｧｲﾙに書き込めません"); the stored file stays as it was.
    void write(std::string_view bytes);
    // Puts what was written so far in place of the stored file and goes on writing
    // there, for a report that must show as far as it got while it may still grow.
    // Throws IoError like write().
    void publish();
    // Writes everything out to the disk, renames it over the stored file and syncs the
    // folder so that the rename survives a crash. Throws IoError like write().
    void commit();
    // Removes the temporary file (a published one stays where it is).
    void discard() noexcept;

    // True from creation until commit() or discard(), or until a write failed.
    bool active() const { return file_ != nullptr; }
    // The file that is replaced: path with its symbolic links followed.
    const std::filesystem::path& target() const { return target_; }

private:
    [[noreturn]] void fail();

    std::string where_;
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::FILE* file_ = nullptr;
    bool published_ = false;
};

// The file path names once its symbolic links are followed, which is the file a
// FileReplacement replaces; path itself when it is no link, also when nothing is
// there yet. Throws IoError ("ﾌｧｲﾙを作成できません") for a loop of links.
std::filesystem::path followLinks(const std::filesystem::path& path);

// Throws the IoError a FileReplacement of path would throw on creation when the stored
// file refuses replacement (a folder, no regular file, read-only) or, where nothing is
// there yet, when its folder is missing, no folder, or not writable; creates nothing.
// A run that ends in writing a file looks first, so that a mistyped path is not what
// fails after minutes of battles.
void checkReplaceable(const std::filesystem::path& path);

// Replaces path with bytes through a FileReplacement. Throws IoError and leaves the
// old file as it was.
void writeFileAtomic(const std::filesystem::path& path, std::string_view bytes);

// Creates a temporary file beside target, "." + its name + "." + a number + ".tmp",
// exclusively, with mode less the umask, and locks it for as long as the returned
// descriptor stays open. The lock is what tells a writer's file from one that a killed
// writer left behind. Returns -1 with errno set when it cannot be created; temp then
// names the last name tried.
int createTemporaryFile(const std::filesystem::path& target, unsigned mode, std::filesystem::path& temp);
// The name of temporary file `number` of target.
std::filesystem::path temporaryPath(const std::filesystem::path& target, unsigned number);

// How far placeNewFile writes through to the disk before it returns.
enum class Durability {
    None,   // a file whose loss in a crash costs nothing (a runner's claim dies with it)
    File,   // the file's bytes are on the disk before its name appears
    Folder, // and so is its name: a placed file survives a power cut
};

// Puts bytes into place as target only when nothing is there yet: written in full to a
// locked temporary file beside it, then linked into place, so that no reader ever finds
// it cut short and no other writer's file is ever replaced. Where the file system has
// no links, a rename that replaces nothing, or else an exclusive create, stands in.
// Returns false, with nothing left behind, when target already exists. Throws IoError
// naming target with the system's reason when it cannot be written.
bool placeNewFile(const std::filesystem::path& target, std::string_view bytes, unsigned mode, Durability durability);

// Removes the temporary files of target whose writer is gone (killed before it could
// rename or remove them); those of a writer still at work are locked and stay. Where
// the file system has no locks, nothing is removed.
void removeAbandonedTemporaries(const std::filesystem::path& target);

} // namespace morvane
