#include "common/Text.h"

#include "common/Errors.h"
#include "common/Messages.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <iconv.h>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace morvane {

std::vector<TextLine> splitTextLines(std::string_view bytes) {
    std::vector<TextLine> lines;
    std::string current;
    int number = 1;
    auto finish = [&] {
        if (!current.empty())
            lines.push_back({std::move(current), number});
        current.clear();
        ++number;
    };
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\x1a')
            break;
        if (c == '\r') {
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            finish();
        } else if (c == '\n') {
            finish();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        lines.push_back({std::move(current), number});
    return lines;
}

namespace {

[[noreturn]] void notRead(const fs::path& path, const std::string& why) {
    throw IoError(std::string(msg::FileNotRead), path.string() + " (" + why + ")");
}

std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device, not a regular file";
    return "not a regular file";
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
        notRead(path, std::generic_category().message(error));
    }
    if (!S_ISREG(named.st_mode))
        notRead(path, kindOf(named.st_mode));
    // Without O_NONBLOCK a FIFO put in the file's place would wait for a writer.
    const Descriptor in(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (in.fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            throw FileNotFoundError(path.string());
        notRead(path, std::generic_category().message(error));
    }
    struct stat opened {};
    if (::fstat(in.fd, &opened) != 0) {
        const int error = errno;
        notRead(path, std::generic_category().message(error));
    }
    if (!S_ISREG(opened.st_mode))
        notRead(path, kindOf(opened.st_mode));
    // Built by appending: GCC 12 misreads "literal" + std::string&& as an overlap.
    const std::string tooLarge = std::string("larger than ").append(std::to_string(maxBytes)).append(" bytes");
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
            notRead(path, std::generic_category().message(error));
        if (n == 0)
            break;
        // The file may have grown since it was looked at.
        if (bytes.size() + static_cast<size_t>(n) > maxBytes)
            notRead(path, tooLarge);
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

std::vector<TextLine> readTextLines(const fs::path& path, std::uintmax_t maxBytes) {
    return splitTextLines(readFileBytes(path, maxBytes));
}

namespace {

// The file a path names once its symbolic links are followed; a path that is no link
// names itself, also when nothing is there yet (a link to a missing file thus creates
// that file). Throws for a loop of links.
fs::path followLinks(const fs::path& path, const std::string& where) {
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
    throw IoError(std::string(msg::FileNotCreated), where);
}

fs::path folderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// Makes a rename in folder survive a crash. Only a failure of the disk itself is
// reported: some file systems cannot sync a folder at all, and the rename is done.
bool syncFolder(const fs::path& folder) {
    const Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd < 0)
        return true;
    return ::fsync(dir.fd) == 0 || errno != EIO;
}

} // namespace

FileReplacement::FileReplacement(const fs::path& path) : where_(path.string()) {
    target_ = followLinks(path, where_);
    struct stat stored {};
    const bool exists = ::stat(target_.c_str(), &stored) == 0;
    if (exists) {
        // Only a regular file is replaced; a file the user made read-only stays, even
        // for root, who could write anything.
        if (!S_ISREG(stored.st_mode) || (stored.st_mode & 0222) == 0 ||
            ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0)
            throw IoError(std::string(msg::FileNotCreated), where_);
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
        throw IoError(std::string(msg::FileNotCreated), where_);
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
    discard();
    throw IoError(std::string(msg::FileNotWritten), where_);
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

TextConverter::TextConverter(const char* to, const char* from, std::string_view replacement)
    : cd_(iconv_open(to, from)), fromUtf8_(std::string_view(from) == "UTF-8"), replacement_(replacement) {
    // iconv_open says it failed with (iconv_t)-1.
    if (cd_ == reinterpret_cast<void*>(-1)) // NOLINT(performance-no-int-to-ptr)
        throw std::runtime_error(std::string("no text conversion from ") + from + " to " + to + " on this system");
}

TextConverter::~TextConverter() {
    iconv_close(static_cast<iconv_t>(cd_));
}

std::string TextConverter::operator()(std::string_view in) {
    const auto cd = static_cast<iconv_t>(cd_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr); // a fresh shift state for every text
    std::string out;
    out.reserve(in.size() * 2);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buffer[256];
    while (srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        const int error = errno;
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (r == static_cast<size_t>(-1) && error != E2BIG) {
            // An invalid or unconvertible character: replace it and go on. UTF-8 input
            // skips the whole character, so one character gives one replacement.
            size_t skip = 1;
            if (fromUtf8_) {
                const auto lead = static_cast<unsigned char>(*src);
                skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
                for (size_t i = 1; i < skip; ++i)
                    if (i >= srcLeft || (static_cast<unsigned char>(src[i]) & 0xC0) != 0x80)
                        skip = i;
            }
            out.append(replacement_);
            src += skip;
            srcLeft -= skip;
        }
    }
    return out;
}

namespace {

bool isAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

} // namespace

std::string cp932ToUtf8(std::string_view cp932) {
    if (isAscii(cp932))
        return std::string(cp932);
    // One converter per thread: iconv keeps state, and opening one per call costs.
    thread_local TextConverter convert("UTF-8", "CP932", "\xef\xbf\xbd");
    return convert(cp932);
}

std::string utf8ToCp932(std::string_view utf8) {
    if (isAscii(utf8))
        return std::string(utf8);
    thread_local TextConverter convert("CP932", "UTF-8", "?");
    return convert(utf8);
}

std::string decimal(long long value) {
    return std::to_string(value);
}

} // namespace morvane
