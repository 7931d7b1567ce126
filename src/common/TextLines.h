#pragma once
// The line rules of the program's code page 932 text files (card.dat, deck files):
// a line ends at CR, CR LF or a lone LF, a byte 26 ends the text, empty lines are
// skipped, and each line keeps its number in the file for messages.

#include "common/Files.h"

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

// text without the blanks and tabs around it, as a typed or pasted value is read.
std::string_view trimmed(std::string_view text);

// Reads a text file by the rules of splitTextLines.
std::vector<TextLine> readTextLines(const std::filesystem::path& path, std::uintmax_t maxBytes = DefaultMaxFileBytes);

} // namespace morvane
