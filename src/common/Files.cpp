#include "common/Files.h"

#include "common/Errors.h"
#include "common/Messages.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace morvane {

namespace {

[[noreturn]] void notRead(const fs::path& path, const FileReason& why) {
    throw IoError(std::string(msg::FileNotRead), path.string(), why);
}

FileReason kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return {FileReason::Folder};
    if (S_ISFIFO(mode))
        return {FileReason::Fifo};
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return {FileReason::Device};
    return {FileReason::NotRegular};
}

// Closes a descriptor however the function that opened it ends.
struct Descriptor {
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd;
};

} // namespace

std::string readFileBytes(const fs::path& path, std::uintmax_t maxBytes) {
    // Looked at before opening, so that no device is ever opened; the opened
    // descriptor is looked at again, since the name may change in between.
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            throw FileNotFoundError(path.string());
        notRead(path, FileReason::ofErrno(error));
    }
    if (!S_ISREG(named.st_mode))
        notRead(path, kindOf(named.st_mode));
    // Without O_NONBLOCK a FIFO put in the file's place would wait for a writer.
    const Descriptor in(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (in.fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            throw FileNotFoundError(path.string());
        notRead(path, FileReason::ofErrno(error));
    }
    struct stat opened {};
    if (::fstat(in.fd, &opened) != 0) {
        const int error = errno;
        notRead(path, FileReason::ofErrno(error));
    }
    if (!S_ISREG(opened.st_mode))
        notRead(path, kindOf(opened.st_mode));
    const FileReason tooLarge{FileReason::TooLarge, 0, maxBytes};
    if (static_cast<std::uintmax_t>(opened.st_size) > maxBytes)
        notRead(path, tooLarge);

    std::string bytes;
    bytes.reserve(static_cast<size_t>(opened.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in.fd, buffer, sizeof buffer);
        const int error = errno;
        if (n < 0 && error == EINTR)
            continue;
        if (n < 0)
            notRead(path, FileReason::ofErrno(error));
        if (n == 0)
            break;
        // The file may have grown since it was looked at.
        if (bytes.size() + static_cast<size_t>(n) > maxBytes)
            notRead(path, tooLarge);
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

fs::path folderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

bool syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool synced = ::fsync(fd) == 0 || errno != EIO;
    ::close(fd);
    return synced;
}

fs::path findFileNoCase(const fs::path& folder, std::string_view name) {
    auto lower = [](std::string_view s) {
        std::string out(s);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return out;
    };
    fs::path exact = folder / std::string(name);
    std::error_code ec;
    if (fs::exists(exact, ec))
        return exact;
    const std::string wanted = lower(name);
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (lower(it->path().filename().string()) == wanted)
            return folder / it->path().filename();
    }
    return exact;
}

} // namespace morvane
