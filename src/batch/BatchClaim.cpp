#include "batch/BatchClaim.h"

#include "common/Errors.h"
#include "common/Messages.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "unknown-host";
    return name;
}

// "host pid number\n": who holds the claim, and a number that tells two claims of one
// process apart.
std::string newToken() {
    std::random_device entropy;
    return hostName() + " " + std::to_string(::getpid()) + " " + std::to_string(entropy()) + "\n";
}

// The claim file's text, or nothing when it is not there. A claim is a few dozen
// bytes; anything longer is not one of ours and is read only that far.
std::optional<std::string> readClaim(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            return std::nullopt;
        throw IoError(std::string(msg::FileNotRead), path);
    }
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    const int error = errno;
    ::close(fd);
    if (n < 0 && error != EAGAIN)
        throw IoError(std::string(msg::FileNotRead), path);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

bool processGone(const std::string& token) {
    std::istringstream in(token);
    std::string host;
    long long pid = 0;
    if (!(in >> host >> pid) || host != hostName() || pid <= 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

bool untouchedFor(const std::string& path, const Clock& clock, std::chrono::seconds staleAfter) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return false;
    const auto modified =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
    return clock.now() - modified > staleAfter;
}

} // namespace

std::optional<BatchClaim> BatchClaim::acquire(const std::string& folder, const Clock& clock,
                                              std::chrono::seconds staleAfter) {
    const std::string path = std::string(folder).append(FileName);
    const std::string token = newToken();
    // A few rounds: a stale claim is moved aside, then the folder is claimed afresh,
    // and another runner may win that race.
    for (int round = 0; round < 3; ++round) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            const bool written = ::write(fd, token.data(), token.size()) == static_cast<ssize_t>(token.size());
            const bool closed = ::close(fd) == 0;
            if (!written || !closed) {
                ::unlink(path.c_str());
                throw IoError(std::string(msg::FileNotWritten), path);
            }
            return BatchClaim(path, token);
        }
        const int error = errno;
        if (error != EEXIST)
            throw IoError(std::string(msg::FileNotCreated), path);

        const std::optional<std::string> holder = readClaim(path);
        if (!holder)
            continue; // given up meanwhile: try again
        if (!processGone(*holder) && !untouchedFor(path, clock, staleAfter))
            return std::nullopt;
        // Stale. Only one runner can move a given file aside; the one that did checks
        // that it moved the claim it judged, and puts back one that a quicker runner
        // made in the meantime.
        const std::string aside = path + "." + std::to_string(std::random_device()()) + ".stale";
        if (::rename(path.c_str(), aside.c_str()) != 0)
            continue;
        std::optional<std::string> moved;
        try {
            moved = readClaim(aside);
        } catch (const IoError&) {
        }
        if (moved != holder) {
            // Put it back. Should yet another runner have claimed the folder in the
            // meantime, the moved claim has lost the folder either way.
            ::link(aside.c_str(), path.c_str());
            ::unlink(aside.c_str());
            return std::nullopt;
        }
        ::unlink(aside.c_str());
    }
    return std::nullopt;
}

BatchClaim::BatchClaim(BatchClaim&& other) noexcept : path_(std::move(other.path_)), token_(std::move(other.token_)) {
    other.path_.clear();
}

BatchClaim& BatchClaim::operator=(BatchClaim&& other) noexcept {
    if (this != &other) {
        release();
        path_ = std::move(other.path_);
        token_ = std::move(other.token_);
        other.path_.clear();
    }
    return *this;
}

BatchClaim::~BatchClaim() {
    release();
}

bool BatchClaim::held() const {
    if (path_.empty())
        return false;
    try {
        return readClaim(path_) == token_;
    } catch (const IoError&) {
        return false;
    }
}

void BatchClaim::refresh() {
    if (!path_.empty())
        ::utimensat(AT_FDCWD, path_.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
}

void BatchClaim::release() {
    if (path_.empty())
        return;
    if (held())
        ::unlink(path_.c_str());
    path_.clear();
}

} // namespace morvane
