#pragma once
// JSON text for the stats and league commands. Numbers go through std::to_chars so
// that the user's locale (set for the report's time of day) never turns a decimal
// point into a comma.

#include "stats/ResultText.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvane::cli {

// The shortest text that reads back as the same double; null for what JSON cannot hold.
inline std::string jsonNumber(double value) {
    if (!std::isfinite(value))
        return "null";
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return {buffer, end};
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
    return std::string("[").append(jsonNumber(interval.low)).append(", ").append(jsonNumber(interval.high)) + "]";
}

} // namespace morvane::cli
