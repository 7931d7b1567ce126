#pragma once
// Byte-level text handling shared by every file the program reads or writes: the
// line rules of its code page 932 text files, safe replacement of a stored file,
// and conversion to and from UTF-8 for terminals and window toolkits.

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

// Reads a whole file; throws FileNotFoundError or IoError.
std::string readFileBytes(const std::filesystem::path& path);
// Reads a text file by the rules of splitTextLines.
std::vector<TextLine> readTextLines(const std::filesystem::path& path);

// Replaces path with bytes through a temporary file in the same folder and a rename,
// so a failed write never leaves a truncated file behind. Throws IoError.
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
