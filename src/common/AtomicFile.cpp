#include "common/AtomicFile.h"

#include "common/Errors.h"
#include "common/Files.h"
#include "common/Messages.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
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

FileReplacement::FileReplacement(const fs::path& path) : where_(path.string()) {
    target_ = followLinks(path);
    struct stat stored {};
    const bool exists = ::stat(target_.c_str(), &stored) == 0;
    if (exists) {
        // Only a regular file is replaced; a file the user made read-only stays, even
        // for root, who could write anything.
        if (S_ISDIR(stored.st_mode))
            throw IoError(std::string(msg::FileNotCreated), where_, {FileReason::Folder});
        if (!S_ISREG(stored.st_mode))
            throw IoError(std::string(msg::FileNotCreated), where_, {FileReason::NotRegular});
        if ((stored.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0)
            throw IoError(std::string(msg::FileNotCreated), where_, {FileReason::ReadOnly});
    }
    std::random_device entropy;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp_ = folderOf(target_) / std::string(".")
                                        .append(target_.filename().string())
                                        .append(".")
                                        .append(std::to_string(entropy()))
                                        .append(".tmp");
        fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        throw IoError(std::string(msg::FileNotCreated), where_, FileReason::ofErrno(errno));
    if (exists) {
        // The mode as the user set it (fchmod ignores the umask). The owner goes back
        // where this user may give it; where not, the file becomes this user's, as a
        // file written afresh would.
        const bool moded = ::fchmod(fd, stored.st_mode & 07777) == 0;
        if (stored.st_uid != ::geteuid() || stored.st_gid != ::getegid()) {
            [[maybe_unused]] const int owned = ::fchown(fd, stored.st_uid, stored.st_gid);
        }
        if (!moded) {
            ::close(fd);
            ::unlink(temp_.c_str());
            throw IoError(std::string(msg::FileNotCreated), where_);
        }
    }
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        ::unlink(temp_.c_str());
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
    const bool written = std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed || (!published_ && ::rename(temp_.c_str(), target_.c_str()) != 0))
        fail();
    published_ = true;
    if (!syncFolder(folderOf(target_)))
        throw IoError(std::string(msg::FileNotWritten), where_);
}

void FileReplacement::discard() noexcept {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!published_ && !temp_.empty())
        ::unlink(temp_.c_str());
    temp_.clear();
}

void writeFileAtomic(const fs::path& path, std::string_view bytes) {
    FileReplacement file(path);
    file.write(bytes);
    file.commit();
}

} // namespace morvane
