#pragma once
// Number and JSON text for the stats and league commands. Numbers go through
// std::to_chars so that the user's locale (set for the report's time of day) never
// turns a decimal point into a comma in JSON or in the tables.

#include "stats/Statistics.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvane::cli {

// value with `decimals` digits after the point.
inline std::string fixedText(double value, int decimals) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals).ptr;
    return std::string(buffer, end);
}

inline std::string percentText(double share) {
    return fixedText(share * 100.0, 2) + "%";
}

// The shortest text that reads back as the same double; null for what JSON cannot hold.
inline std::string jsonNumber(double value) {
    if (!std::isfinite(value))
        return "null";
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

inline std::string jsonNumber(uint64_t value) {
    return std::to_string(value);
}

// A JSON string from UTF-8 text.
inline std::string jsonString(std::string_view utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

inline std::string jsonInterval(const Interval& interval) {
    return "[" + jsonNumber(interval.low) + ", " + jsonNumber(interval.high) + "]";
}

// A word for a POSIX shell: in single quotes unless it is plainly safe.
inline std::string shellWord(std::string_view word) {
    bool plain = !word.empty();
    for (const char c : word)
        plain = plain && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          std::string_view("-_./:=@%+,").find(c) != std::string_view::npos);
    if (plain)
        return std::string(word);
    std::string out = "'";
    for (const char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace morvane::cli
