#pragma once
// The number rule of card and deck columns. A column holds an optionally signed
// decimal integer, or "$" and hexadecimal digits, filling the column to its right
// end after optional leading blanks. Everything else is not a number.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// Columns c to c+w-1 (1-based bytes) of line; shorter or empty where the line ends.
std::string_view cardColumn(std::string_view line, int column, int width);

// The value of a column's text by the number rule, or nothing.
std::optional<int32_t> parseNumber(std::string_view text);

// parseNumber of a column, throwing ConversionError with the column's text.
int32_t readNumberColumn(std::string_view line, int column, int width, std::string where = {});

} // namespace morvane
