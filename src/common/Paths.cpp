#include "common/Paths.h"

#include "common/AtomicFile.h"
#include "common/Errors.h"
#include "common/Files.h"

#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace morvane {

namespace {

std::string_view untilZero(std::string_view path) {
    const size_t zero = path.find('\0');
    return zero == std::string_view::npos ? path : path.substr(0, zero);
}

// The files a program folder starts with; the rest (the report, saved lists) the
// program writes itself.
constexpr std::array<std::string_view, 3> SeedFiles{file::Catalogue, file::Decks[0], file::Decks[1]};

bool holds(const fs::path& folder, std::string_view name) {
    std::error_code ec;
    return fs::is_regular_file(findFileNoCase(folder, name), ec);
}

std::string withSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// $XDG_DATA_HOME/morvane/, or ~/.local/share/morvane/. The XDG rules ignore a relative
// path in the variable.
std::string userDataFolder(const ProgramSite& site) {
    if (!site.dataHome.empty() && site.dataHome.front() == '/')
        return withSeparator(site.dataHome) + "morvane/";
    if (site.home.empty() || site.home.front() != '/')
        throw FolderError("$HOME/.local/share/morvane/");
    return withSeparator(site.home) + ".local/share/morvane/";
}

std::string getEnvironment(const char* name) {
    // Read once at start, before any thread of the program exists.
    const char* value = std::getenv(name); // NOLINT(concurrency-mt-unsafe)
    return value ? std::string(value) : std::string();
}

std::string homeFromPasswordDatabase() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
        return {};
    return found->pw_dir;
}

} // namespace

std::string GetFilePassName(std::string_view path) {
    const std::string_view text = untilZero(path);
    for (size_t i = text.size(); i > 0; --i) {
        if (text[i - 1] == '\\' || text[i - 1] == '/')
            return std::string(text.substr(0, i));
    }
    return {};
}

std::string GetFileName(std::string_view path) {
    const std::string_view text = untilZero(path);
    return std::string(text.substr(GetFilePassName(text).size()));
}

std::string ProgramFile() {
    std::error_code ec;
    const auto exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

ProgramSite thisProgramSite() {
    ProgramSite site;
    site.executable = ProgramFile();
    site.dataHome = getEnvironment("XDG_DATA_HOME");
    site.home = getEnvironment("HOME");
    if (site.home.empty())
        site.home = homeFromPasswordDatabase();
    if (!site.executable.empty())
        site.installedData = (site.executable.parent_path() / MORVANE_DATA_FROM_BIN).lexically_normal();
    return site;
}

bool writableFolder(const fs::path& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return false;
    if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return false;
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) == 0;
}

std::string ProgramFolder(const ProgramSite& site) {
    if (site.executable.empty())
        throw FileNotFoundError("/proc/self/exe");
    std::string programFolder = GetFilePassName(site.executable.string());
    const bool portable = holds(programFolder, file::Catalogue);
    if (portable && writableFolder(programFolder))
        return programFolder;
    // No data installed with this executable: a portable copy that lacks its catalogue
    // (or has something else in its place). It stays in its own folder, where the
    // catalogue load names the file the user has to put back; a data folder made now
    // would only be seeded from nowhere.
    std::error_code installed;
    if (!portable && (site.installedData.empty() || !fs::is_directory(site.installedData, installed)))
        return programFolder;

    std::string folder = userDataFolder(site);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec))
        throw FolderError(folder);
    // A read-only portable copy carries its own files; an installed one has them in
    // its data folder.
    const fs::path source =
        portable && !holds(site.installedData, file::Catalogue) ? fs::path(programFolder) : site.installedData;
    for (const std::string_view name : SeedFiles) {
        if (holds(folder, name))
            continue;
        // No installed folder at all must not make a bare name of the working folder.
        if (source.empty())
            throw FileNotFoundError(std::string(name));
        // Read whole and renamed into place: a failed copy leaves no partial card.dat
        // that later starts would keep.
        writeFileAtomic(fs::path(folder) / std::string(name), readFileBytes(findFileNoCase(source, name)));
    }
    return folder;
}

std::string ProgramFolder() {
    return ProgramFolder(thisProgramSite());
}

FolderUse::FolderUse(const fs::path& folder) {
    fd_ = ::open((folder / ".morvane.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd_ < 0)
        return;
    // Alone when the whole file can be locked for writing; that lock then becomes a
    // shared one in one step (open-file locks change kind atomically), so a copy
    // starting meanwhile never finds the folder free.
    struct flock lock {};
    lock.l_whence = SEEK_SET;
    lock.l_type = F_WRLCK;
    shared_ = ::fcntl(fd_, F_OFD_SETLK, &lock) != 0;
    lock.l_type = F_RDLCK;
    // A copy in the middle of the same test holds the write lock for an instant.
    for (int attempt = 0; attempt < 50 && ::fcntl(fd_, F_OFD_SETLK, &lock) != 0; ++attempt)
        ::usleep(10000);
}

FolderUse::~FolderUse() {
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace morvane
