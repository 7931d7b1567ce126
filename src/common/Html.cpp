#include "common/Html.h"

namespace morvane {

std::string escapeHtml(std::string_view utf8) {
    static constexpr const char* Replacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F)
                    out += Replacement;
                else
                    out.push_back(static_cast<char>(c));
            }
            ++i;
            continue;
        }
        // A well-formed sequence: its length, and the range of its second byte, which
        // rules out overlong forms, surrogates and code points past U+10FFFF.
        size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        }
        bool valid = length > 0 && i + length <= n && s[i + 1] >= low && s[i + 1] <= high;
        for (size_t j = 2; valid && j < length; ++j)
            valid = s[i + j] >= 0x80 && s[i + j] <= 0xBF;
        if (valid) {
            out.append(utf8.substr(i, length));
            i += length;
        } else {
            out += Replacement;
            ++i;
        }
    }
    return out;
}

} // namespace morvane
