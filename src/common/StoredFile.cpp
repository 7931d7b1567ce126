#include "common/StoredFile.h"

#include "common/AtomicFile.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Messages.h"

#include <cerrno>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace morvane {

namespace {

// The whole lock file, for writing. An open-file lock: it belongs to this open file,
// so it conflicts with every other open file, in this process too.
bool tryLock(int fd) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &whole) == 0;
}

} // namespace

FileLock::FileLock(const fs::path& path, std::chrono::milliseconds patience) : target_(followLinks(path)) {
    const fs::path lockFile = folderOf(target_) / std::string(".").append(target_.filename().string()).append(".lock");
    fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd_ < 0)
        throw IoError(std::string(msg::FileNotCreated), path.string(), FileReason::ofErrno(errno));
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!tryLock(fd_)) {
        const int error = errno;
        if ((error != EAGAIN && error != EACCES && error != EINTR) || std::chrono::steady_clock::now() >= deadline) {
            ::close(fd_);
            fd_ = -1;
            if (error == EAGAIN || error == EACCES || error == EINTR)
                throw IoError(std::string(msg::FileBusy), path.string());
            throw IoError(std::string(msg::FileNotCreated), path.string(), FileReason::ofErrno(error));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

StoredFile StoredFile::read(const fs::path& path, std::uintmax_t maxBytes) {
    StoredFile file;
    file.path_ = path;
    file.maxBytes_ = maxBytes;
    file.bytes_ = readFileBytes(path, maxBytes);
    file.state_ = State::Read;
    return file;
}

StoredFile StoredFile::readIfThere(const fs::path& path, std::uintmax_t maxBytes) {
    try {
        return read(path, maxBytes);
    } catch (const FileNotFoundError&) {
        StoredFile file;
        file.path_ = path;
        file.maxBytes_ = maxBytes;
        file.state_ = State::Missing;
        return file;
    }
}

StoredFile StoredFile::at(const fs::path& path) const {
    StoredFile file = *this;
    file.path_ = path;
    return file;
}

void StoredFile::save(std::string_view bytes) {
    const FileLock lock(path_);
    save(bytes, lock);
}

void StoredFile::save(std::string_view bytes, const FileLock&) {
    // What is there now, read under the lock: no other writer can change it until the
    // rename below has put the new contents in place.
    const StoredFile now = readIfThere(path_, maxBytes_ ? maxBytes_ : DefaultMaxFileBytes);
    if (state_ == State::NotRead && now.exists())
        throw IoError(std::string(msg::ListNotRead), path_.string());
    // A file removed since holds nothing another writer stored: it is made afresh.
    if (now.exists() && (!exists() || now.bytes_ != bytes_))
        throw FileChangedError(path_.string());
    writeFileAtomic(path_, bytes);
    bytes_.assign(bytes);
    state_ = State::Read;
}

} // namespace morvane
