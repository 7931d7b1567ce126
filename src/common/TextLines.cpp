#include "common/TextLines.h"

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

std::vector<TextLine> readTextLines(const std::filesystem::path& path, std::uintmax_t maxBytes) {
    return splitTextLines(readFileBytes(path, maxBytes));
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace morvane
