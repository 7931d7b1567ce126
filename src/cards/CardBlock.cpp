#include "cards/CardBlock.h"

#include "cards/CardExchange.h"
#include "cards/Marks.h"
#include "common/Codec.h"
#include "common/TextLines.h"

#include <charconv>

namespace morvane {

namespace {

std::string numberRefusal(const NumberRange& range) {
    return std::to_string(range.min) + " から " + std::to_string(range.max) + " までの数ではありません";
}

// The bytes a numeric cell takes from its text.
CellWrite numberCell(char kind, std::string_view line, const CardField& field, std::string_view text) {
    const std::string_view value = trimmed(text);
    if (field.type == FieldType::OptionalNumber && (value.empty() || value == cp932ToUtf8(mark::None)))
        return {withFieldBytes(line, field, mark::None), {}};
    const NumberRange range = numberRange(kind, field);
    int32_t number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size() || number < range.min || number > range.max)
        return {{}, std::string("「").append(text).append("」は ").append(numberRefusal(range))};
    // The same number keeps the text the file has for it ("05", "$A").
    if (fieldNumber(line, field) == number && fieldBytes(line, field) != mark::None)
        return {std::string(line), {}};
    return {withFieldBytes(line, field, formatNumber(field, number)), {}};
}

} // namespace

std::string sheetCellText(std::string_view line, const CardField& field) {
    std::string_view bytes = fieldBytes(line, field);
    if (isNumeric(field))
        while (!bytes.empty() && bytes.front() == ' ')
            bytes.remove_prefix(1);
    return cellText(bytes);
}

CellWrite writeSheetCell(char kind, std::string_view line, const CardField& field, std::string_view text) {
    if (isNumeric(field))
        return numberCell(kind, line, field, text);
    const std::optional<std::string> bytes = cellBytes(text);
    if (!bytes)
        return {{}, std::string("「").append(text).append("」にはシフトJISにない文字があります")};
    if (field.type == FieldType::Name && bytes->size() > static_cast<size_t>(MaxNameBytes))
        return {{}, "名前は " + std::to_string(MaxNameBytes) + " バイトまでです"};
    if (!fitsField(field, *bytes))
        return {{},
                std::string("「")
                    .append(text)
                    .append("」はこの欄の ")
                    .append(std::to_string(field.width))
                    .append(" バイトに合いません")};
    return {withFieldBytes(line, field, *bytes), {}};
}

std::string copyBlock(const CatalogueDocument& document, const std::vector<size_t>& lines,
                      const std::vector<const CardField*>& fields) {
    std::string text;
    for (const size_t line : lines) {
        for (size_t c = 0; c < fields.size(); ++c)
            text.append(c ? "\t" : "").append(sheetCellText(document.lines()[line].text, *fields[c]));
        text += '\n';
    }
    return text;
}

std::vector<std::vector<std::string>> splitBlock(std::string_view text) {
    std::vector<std::vector<std::string>> rows;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view row = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!row.empty() && row.back() == '\r')
            row.remove_suffix(1);
        std::vector<std::string> cells;
        for (size_t tab; (tab = row.find('\t')) != std::string_view::npos; row.remove_prefix(tab + 1))
            cells.emplace_back(row.substr(0, tab));
        cells.emplace_back(row);
        rows.push_back(std::move(cells));
    }
    return rows;
}

BlockPaste pasteBlock(const CatalogueDocument& document, char kind, const std::vector<size_t>& rows, size_t firstRow,
                      const std::vector<const CardField*>& columns, size_t firstColumn, std::string_view text) {
    BlockPaste paste;
    const std::vector<std::vector<std::string>> block = splitBlock(text);
    for (size_t r = 0; r < block.size(); ++r) {
        if (firstRow + r >= rows.size()) {
            paste.refused.push_back({rows.empty() ? 0 : rows.back(), nullptr,
                                     std::to_string(block.size() - r) + " 行は表の下にはみ出すので貼り付けません"});
            break;
        }
        const size_t index = rows[firstRow + r];
        const std::string& before = document.lines()[index].text;
        std::string line = before;
        for (size_t c = 0; c < block[r].size(); ++c) {
            if (firstColumn + c >= columns.size()) {
                paste.refused.push_back(
                    {index, nullptr,
                     "右にはみ出す " + std::to_string(block[r].size() - c) + " 個のセルは貼り付けません"});
                break;
            }
            const CardField& field = *columns[firstColumn + c];
            CellWrite cell = writeSheetCell(kind, line, field, block[r][c]);
            if (!cell.refusal.empty()) {
                paste.refused.push_back({index, &field, cell.refusal});
                continue;
            }
            line = std::move(cell.line);
        }
        if (line != before)
            paste.edits.push_back(document.replaceText(index, line));
    }
    return paste;
}

} // namespace morvane
