#pragma once
// Where the program keeps its files. A portable copy (the build folder among them)
// keeps them beside the program file, so it can be moved as a whole; an installed
// copy, whose folder the user cannot write to, keeps them in the user's data folder,
// seeded on first start from the files installed with it. The byte-level path helpers
// scan single bytes, so a second byte 0x5C of a double-byte character counts as a
// separator: paths are code page 932 bytes to them, not characters.

#include "common/FileNames.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace morvane {

// The directory part of path, up to and including its last "\" or "/"; empty when
// there is none. Bytes after a zero byte are not looked at.
std::string GetFilePassName(std::string_view path);
// The part of path after GetFilePassName(path).
std::string GetFileName(std::string_view path);

// Full path of the running executable; empty when it cannot be found.
std::string ProgramFile();

// Everything the program folder depends on, so that tests can stand in for the
// machine.
struct ProgramSite {
    // The running program file; empty when it cannot be found.
    std::filesystem::path executable;
    // $XDG_DATA_HOME and $HOME as set; empty when unset.
    std::string dataHome;
    std::string home;
    // The files an installed copy seeds the user's folder with: <prefix>/share/morvane/.
    std::filesystem::path installedData;
};

// The machine as it is: /proc/self/exe, the environment (the password database when
// HOME is unset) and the data folder installed beside the executable's folder.
ProgramSite thisProgramSite();

// The program folder, ending with a separator:
// - the executable's folder, when it holds card.dat and the user can write there
//   (a portable copy, the build folder among them);
// - the executable's folder too when it lacks card.dat (or holds something else by
//   that name) and no data was installed with it: a portable copy whose catalogue
//   the user has to put back, which the catalogue load then names;
// - otherwise the user's data folder, $XDG_DATA_HOME/morvane/ (by default
//   ~/.local/share/morvane/), created when missing; each of card.dat, deck0.dat and
//   deck1.dat that it lacks is copied from the installed data folder (or, for a
//   read-only portable copy, from the executable's folder). A file already there is
//   never replaced.
// Throws FileNotFoundError when the executable cannot be found or a file to seed is
// missing, FolderError when the data folder cannot be created, IoError when a copy
// fails; each names the file or folder.
std::string ProgramFolder(const ProgramSite& site);
std::string ProgramFolder();

// Marks a program folder as in use by this copy of the desktop program for as long as
// the object lives, and tells whether another copy was using it already. Two copies
// on one folder each keep their own deck lists, so the second is told at its start
// (the saves themselves refuse to overwrite what the other stored). The mark is a
// shared lock on ".morvane.lock" in the folder, which ends with the process however
// it ends; a folder where no lock can be made is not marked and counts as unshared.
class FolderUse {
public:
    explicit FolderUse(const std::filesystem::path& folder);
    ~FolderUse();
    FolderUse(const FolderUse&) = delete;
    FolderUse& operator=(const FolderUse&) = delete;

    // Another copy held the folder when this one came.
    bool shared() const { return shared_; }

private:
    int fd_ = -1;
    bool shared_ = false;
};

// The user can write into folder. A folder without any write bit counts as read-only
// even for root, who could write there anyway: a copy that was made read-only on
// purpose is not to be changed.
bool writableFolder(const std::filesystem::path& folder);

} // namespace morvane
