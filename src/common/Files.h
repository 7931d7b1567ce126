#pragma once
// Reading the program's files safely: only regular files, without waiting on them,
// up to a size; the lookup that makes "deck0.dat" and "Deck0.dat" one file; and the
// folder of a path.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace morvane {

// Largest file read where the caller names no limit of its own. The report of a
// battle stopped at the 10,000-turn cap runs to about 9 MB when nobody acts, more
// with actions; this leaves room for many times that and still fits in memory.
inline constexpr std::uintmax_t DefaultMaxFileBytes = std::uintmax_t{256} << 20;

// Reads a whole regular file of at most maxBytes. Only regular files are read, and
// without blocking: a FIFO, a device or a folder named like a data file, or one past
// the limit, throws IoError ("ﾌｧｲﾙを読み込めません") naming the file and why, rather
// than hanging or filling memory. Nothing there throws FileNotFoundError.
std::string readFileBytes(const std::filesystem::path& path, std::uintmax_t maxBytes = DefaultMaxFileBytes);
// The entry of folder whose name equals name without regard to ASCII case, or
// folder / name when there is none. "deck0.dat" and "Deck0.dat" thus name one file.
std::filesystem::path findFileNoCase(const std::filesystem::path& folder, std::string_view name);

// The folder of a file path: its parent, or "." for a bare name.
std::filesystem::path folderOf(const std::filesystem::path& file);

// Makes a rename in folder survive a crash. False only when the disk itself failed:
// some file systems cannot sync a folder at all, and the rename is done then.
bool syncFolder(const std::filesystem::path& folder);

} // namespace morvane
