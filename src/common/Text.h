#pragma once
// Byte-level text handling shared by every file the program reads or writes: the
// line rules of its code page 932 text files, safe replacement of a stored file,
// and conversion to and from UTF-8 for terminals and window toolkits.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// Splits file bytes into lines: a line ends at CR, at CR LF or at a lone LF; a byte
// 26 ends the text; empty lines are dropped. Each line keeps its 1-based line
// number in the file, for error messages.
struct TextLine {
    std::string text;
    int number = 0;
};
std::vector<TextLine> splitTextLines(std::string_view bytes);

// Largest file read where the caller names no limit of its own. The report of a
// battle stopped at the 10,000-turn cap runs to about 9 MB when nobody acts, more
// with actions; this leaves room for many times that and still fits in memory.
inline constexpr std::uintmax_t DefaultMaxFileBytes = std::uintmax_t{256} << 20;

// Reads a whole regular file of at most maxBytes. Only regular files are read, and
// without blocking: a FIFO, a device or a folder named like a data file, or one past
// the limit, throws IoError ("ﾌｧｲﾙを読み込めません") naming the file and why, rather
// than hanging or filling memory. Nothing there throws FileNotFoundError.
std::string readFileBytes(const std::filesystem::path& path, std::uintmax_t maxBytes = DefaultMaxFileBytes);
// Reads a text file by the rules of splitTextLines.
std::vector<TextLine> readTextLines(const std::filesystem::path& path, std::uintmax_t maxBytes = DefaultMaxFileBytes);

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

// Replaces path with bytes through a FileReplacement. Throws IoError and leaves the
// old file as it was.
void writeFileAtomic(const std::filesystem::path& path, std::string_view bytes);

// The entry of folder whose name equals name without regard to ASCII case, or
// folder / name when there is none. "deck0.dat" and "Deck0.dat" thus name one file.
std::filesystem::path findFileNoCase(const std::filesystem::path& folder, std::string_view name);

// Converts text from one encoding to another through the system's iconv. A
// character that cannot be converted becomes the replacement text (one per
// character for UTF-8 input). An encoding pair the system cannot convert throws at
// construction: text must never pass through unconverted, or UTF-8 bytes would land
// in a code page 932 file. An object converts on one thread at a time.
class TextConverter {
public:
    TextConverter(const char* to, const char* from, std::string_view replacement);
    ~TextConverter();
    TextConverter(const TextConverter&) = delete;
    TextConverter& operator=(const TextConverter&) = delete;

    std::string operator()(std::string_view in);

private:
    void* cd_;
    bool fromUtf8_;
    std::string replacement_;
};

// Code page 932 to UTF-8 and back. Bytes that cannot be converted become U+FFFD
// (or "?" the other way). They throw only when the system has no converter at all.
std::string cp932ToUtf8(std::string_view cp932);
std::string utf8ToCp932(std::string_view utf8);

// Decimal text of a signed number, as the report and labels write it.
std::string decimal(long long value);

} // namespace morvane
