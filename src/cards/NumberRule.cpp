#include "cards/NumberRule.h"

#include "common/Errors.h"

namespace morvane {

std::string_view cardColumn(std::string_view line, int column, int width) {
    if (column < 1 || width <= 0 || static_cast<size_t>(column) > line.size())
        return {};
    return line.substr(static_cast<size_t>(column - 1), static_cast<size_t>(width));
}

std::optional<int32_t> parseNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i == text.size())
        return std::nullopt;
    int64_t value = 0;
    auto inRange = [](int64_t v) { return v <= 0xFFFFFFFFll; };
    if (text[i] == '$') {
        ++i;
        if (i == text.size())
            return std::nullopt;
        for (; i < text.size(); ++i) {
            const char c = text[i];
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                return std::nullopt;
            value = value * 16 + digit;
            if (!inRange(value))
                return std::nullopt;
        }
        // Hexadecimal text stands for the 32-bit pattern, as "$FFFFFFFF" is -1.
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > (negative ? 2147483648ll : 2147483647ll))
            return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

int32_t readNumberColumn(std::string_view line, int column, int width, std::string where) {
    const std::string_view text = cardColumn(line, column, width);
    if (auto value = parseNumber(text))
        return *value;
    throw ConversionError(std::string(text), std::move(where));
}

} // namespace morvane
