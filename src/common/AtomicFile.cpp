#include "common/AtomicFile.h"

#include "common/Errors.h"
#include "common/Files.h"
#include "common/Messages.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace morvane {

// A link to a missing file thus creates that file.
fs::path followLinks(const fs::path& path) {
    fs::path current = path;
    // As many links as the system itself follows in one lookup.
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat link {};
        if (::lstat(current.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
            return current;
        std::error_code ec;
        const fs::path to = fs::read_symlink(current, ec);
        if (ec)
            break;
        current = to.is_absolute() ? to : current.parent_path() / to;
    }
    throw IoError(std::string(msg::FileNotCreated), path.string(), {FileReason::System, ELOOP, 0});
}

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether name is "." + target's name + "." + digits + ".tmp".
bool isTemporaryName(const std::string& name, const std::string& targetName) {
    const std::string prefix = "." + targetName + ".";
    const std::string_view suffix = ".tmp";
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    for (size_t i = prefix.size(); i < name.size() - suffix.size(); ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    return true;
}

} // namespace

fs::path temporaryPath(const fs::path& target, unsigned number) {
    return folderOf(target) / std::string(".")
                                  .append(target.filename().string())
                                  .append(".")
                                  .append(std::to_string(number))
                                  .append(".tmp");
}

int createTemporaryFile(const fs::path& target, unsigned mode, fs::path& temp) {
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temp = temporaryPath(target, entropy());
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        // A sweep may have opened the new file before it was locked: then it is
        // removed, or about to be, and another name is taken. A file system without
        // locks keeps the file unlocked, and its sweeps remove nothing.
        struct stat opened {};
        struct stat named {};
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        const bool lockless = !locked && errno != EWOULDBLOCK;
        if ((locked || lockless) && ::fstat(fd, &opened) == 0 && ::lstat(temp.c_str(), &named) == 0 &&
            sameFile(opened, named))
            return fd;
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
}

void removeAbandonedTemporaries(const fs::path& target) {
    const fs::path folder = folderOf(target);
    const std::string targetName = target.filename().string();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path path = it->path();
        if (!isTemporaryName(path.filename().string(), targetName))
            continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Locked here, the file is nobody's; it is removed only while it is still the
        // file that was locked.
        struct stat opened {};
        struct stat named {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
            ::lstat(path.c_str(), &named) == 0 && sameFile(opened, named))
            ::unlink(path.c_str());
        ::close(fd);
    }
}

namespace {

bool linkUnsupported(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL;
}

bool writeAll(int fd, std::string_view bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

// The written temporary file into target's place unless target exists. True when
// placed (temp cleared when the file itself became target); false with errno.
bool linkIntoPlace(fs::path& temp, const fs::path& target, std::string_view bytes, unsigned mode) {
    if (::link(temp.c_str(), target.c_str()) == 0)
        return true;
    if (!linkUnsupported(errno))
        return false;
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        temp.clear();
        return true;
    }
    if (!linkUnsupported(errno))
        return false;
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, bytes);
    const int error = errno;
    ::close(fd);
    if (written)
        return true;
    ::unlink(target.c_str());
    errno = error;
    return false;
}

} // namespace

bool placeNewFile(const fs::path& target, std::string_view bytes, unsigned mode, Durability durability) {
    fs::path temp;
    const int fd = createTemporaryFile(target, mode, temp);
    if (fd < 0)
        throw IoError(std::string(msg::FileNotCreated), target.string(), FileReason::ofErrno(errno));
    // Removed while still locked, so that no sweep takes it for a dead writer's.
    struct Temporary {
        int fd;
        fs::path& path;
        ~Temporary() {
            if (!path.empty())
                ::unlink(path.c_str());
            ::close(fd);
        }
    } const cleanup{fd, temp};
    if (!writeAll(fd, bytes) || (durability != Durability::None && ::fsync(fd) != 0))
        throw IoError(std::string(msg::FileNotWritten), target.string(), FileReason::ofErrno(errno));
    if (!linkIntoPlace(temp, target, bytes, mode)) {
        if (errno == EEXIST)
            return false;
        throw IoError(std::string(msg::FileNotCreated), target.string(), FileReason::ofErrno(errno));
    }
    if (durability == Durability::Folder && !syncFolder(folderOf(target)))
        throw IoError(std::string(msg::FileNotWritten), target.string(), FileReason::ofErrno(errno));
    return true;
}

namespace {

// Only a regular file is replaced; a file the user made read-only stays, even for root,
// who could write anything. True when target is there to be replaced.
bool checkStored(const fs::path& target, const std::string& where, struct stat& stored) {
    if (::stat(target.c_str(), &stored) != 0)
        return false;
    if (S_ISDIR(stored.st_mode))
        throw IoError(std::string(msg::FileNotCreated), where, {FileReason::Folder});
    if (!S_ISREG(stored.st_mode))
        throw IoError(std::string(msg::FileNotCreated), where, {FileReason::NotRegular});
    if ((stored.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        throw IoError(std::string(msg::FileNotCreated), where, {FileReason::ReadOnly});
    return true;
}

} // namespace

void checkReplaceable(const fs::path& path) {
    const std::string where = path.string();
    const fs::path target = followLinks(path);
    struct stat stored {};
    if (checkStored(target, where, stored))
        return;
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    // errno is taken before the message is built: building it may allocate.
    struct stat parent {};
    const bool found = ::stat(folder.c_str(), &parent) == 0;
    int error = 0;
    if (found && !S_ISDIR(parent.st_mode))
        error = ENOTDIR;
    else if (!found || ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        error = errno;
    if (error != 0)
        throw IoError(std::string(msg::FileNotCreated), where, FileReason::ofErrno(error));
}

FileReplacement::FileReplacement(const fs::path& path) : where_(path.string()) {
    target_ = followLinks(path);
    struct stat stored {};
    const bool exists = checkStored(target_, where_, stored);
    const int fd = createTemporaryFile(target_, exists ? 0600 : 0666, temp_);
    if (fd < 0) {
        const int error = errno;
        temp_.clear();
        throw IoError(std::string(msg::FileNotCreated), where_, FileReason::ofErrno(error));
    }
    // Ours is locked, so only what killed writers left goes.
    removeAbandonedTemporaries(target_);
    if (exists) {
        // The mode as the user set it (fchmod ignores the umask). The owner goes back
        // where this user may give it; where not, the file becomes this user's, as a
        // file written afresh would.
        const bool moded = ::fchmod(fd, stored.st_mode & 07777) == 0;
        if (stored.st_uid != ::geteuid() || stored.st_gid != ::getegid()) {
            [[maybe_unused]] const int owned = ::fchown(fd, stored.st_uid, stored.st_gid);
        }
        if (!moded) {
            ::unlink(temp_.c_str());
            ::close(fd);
            throw IoError(std::string(msg::FileNotCreated), where_);
        }
    }
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        ::unlink(temp_.c_str());
        ::close(fd);
        throw IoError(std::string(msg::FileNotCreated), where_);
    }
}

FileReplacement::~FileReplacement() {
    discard();
}

void FileReplacement::fail() {
    const int error = errno;
    discard();
    throw IoError(std::string(msg::FileNotWritten), where_, error != 0 ? FileReason::ofErrno(error) : FileReason{});
}

void FileReplacement::write(std::string_view bytes) {
    if (!file_)
        throw IoError(std::string(msg::FileNotWritten), where_);
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        fail();
}

void FileReplacement::publish() {
    if (!file_)
        throw IoError(std::string(msg::FileNotWritten), where_);
    if (published_)
        return;
    if (std::fflush(file_) != 0 || ::rename(temp_.c_str(), target_.c_str()) != 0)
        fail();
    published_ = true;
}

void FileReplacement::commit() {
    if (!file_)
        throw IoError(std::string(msg::FileNotWritten), where_);
    // Renamed while still open: closing first would drop the lock, and another writer
    // of the same file would take the temporary file for one a killed writer left.
    if (std::fflush(file_) != 0 || ::fsync(::fileno(file_)) != 0 ||
        (!published_ && ::rename(temp_.c_str(), target_.c_str()) != 0))
        fail();
    published_ = true;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed)
        throw IoError(std::string(msg::FileNotWritten), where_);
    if (!syncFolder(folderOf(target_)))
        throw IoError(std::string(msg::FileNotWritten), where_);
}

void FileReplacement::discard() noexcept {
    // Removed while still locked, so no sweep takes it up in between.
    if (!published_ && !temp_.empty())
        ::unlink(temp_.c_str());
    temp_.clear();
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

void writeFileAtomic(const fs::path& path, std::string_view bytes) {
    FileReplacement file(path);
    file.write(bytes);
    file.commit();
}

} // namespace morvane
