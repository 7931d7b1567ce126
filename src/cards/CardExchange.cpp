#include "cards/CardExchange.h"

#include "cards/CardCatalogue.h"
#include "cards/CardFields.h"
#include "cards/CatalogueCheck.h"
#include "cards/NumberRule.h"
#include "common/Codec.h"
#include "common/Json.h"
#include "common/Messages.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

namespace morvane {

namespace {

using std::string;
using std::string_view;

constexpr string_view Bom = "\xef\xbb\xbf";

// The table's columns: what a designer edits first, the columns nobody reads and the
// line's shape last.
constexpr std::array<string_view, 31> Columns{"kind",         "id",
                                              "name",         "kindMark",
                                              "airMark",      "size",
                                              "hp",           "power",
                                              "sp",           "blockMarks1",
                                              "blockMarks2",  "blockMarks3",
                                              "absorbMarks1", "absorbMarks2",
                                              "absorbMarks3", "sealMark",
                                              "healAmount",   "vehicleHealAmount",
                                              "lockMark",     "killChance",
                                              "randomMark",   "spreadMark",
                                              "pierceMark",   "attackCount",
                                              "reachLetter",  "vehicleReachLetter",
                                              "unread5",      "unread17",
                                              "unread47",     "end",
                                              "text"};

struct LineEnd {
    string_view cell;
    string_view bytes;
};
constexpr std::array<LineEnd, 4> LineEnds{{{"", "\r\n"}, {"LF", "\n"}, {"CR", "\r"}, {"none", ""}}};

bool leadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc);
}
bool trailByte(unsigned char c) {
    return (c >= 0x40 && c <= 0x7e) || (c >= 0x80 && c <= 0xfc);
}

void escapeByte(string& out, unsigned char c) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    out.append("\\x").push_back(Hex[c >> 4]);
    out.push_back(Hex[c & 0xf]);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One row of a table as read: its number and its cells by column.
struct Row {
    size_t number = 0;
    std::map<string, string, std::less<>> cells;

    string_view cell(string_view column) const {
        const auto it = cells.find(column);
        return it == cells.end() ? string_view() : string_view(it->second);
    }
    bool empty() const {
        return std::all_of(cells.begin(), cells.end(), [](const auto& c) { return c.second.empty(); });
    }
};

// The cells of a document line in the table's columns.
std::map<string, string, std::less<>> cellsOf(const DocumentLine& line) {
    std::map<string, string, std::less<>> cells;
    const char kind = lineKind(line.text);
    if (kind != 0) {
        cells["kind"] = string(1, kind);
        for (const CardField& field : cardFields(kind))
            cells[string(field.name)] = cellText(fieldBytes(line.text, field));
    } else {
        cells["kind"] = "comment";
        cells["text"] = cellText(line.text);
    }
    for (const LineEnd& end : LineEnds)
        if (end.bytes == line.end)
            cells["end"] = string(end.cell);
    return cells;
}

// A spreadsheet runs a cell that starts with one of these as a formula. Such a cell is
// written after a quote, which spreadsheets take as "text, not a formula", and so is a
// cell that starts with a quote before one of them, so that import can tell the two apart.
bool formulaStart(string_view text) {
    return !text.empty() && string_view("=+-@").find(text.front()) != string_view::npos;
}
bool neutralised(string_view text) {
    return text.size() > 1 && text.front() == '\'' && (formulaStart(text.substr(1)) || text[1] == '\'');
}

string csvCell(string_view text) {
    const bool guard = formulaStart(text) || neutralised(text);
    const bool quote = guard || text.find_first_of(",\"\r\n") != string_view::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote)
        return string(text);
    string out = guard ? "\"'" : "\"";
    for (const char c : text) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    return out + "\"";
}

string quotedCell(string_view utf8) {
    return "'" + utf8ToCp932(utf8) + "' ";
}

// Whether the header names known columns, each once, among them those no table may lack.
bool headerUsable(const std::vector<string>& header, size_t row, std::vector<TableProblem>& problems) {
    bool usable = true;
    for (size_t k = 0; k < header.size(); ++k) {
        if (std::find(Columns.begin(), Columns.end(), header[k]) == Columns.end()) {
            problems.push_back({row, header[k], quotedCell(header[k]) + string(msg::UnknownColumn), {}});
            usable = false;
        } else if (std::find(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(k), header[k]) !=
                   header.begin() + static_cast<std::ptrdiff_t>(k)) {
            problems.push_back({row, header[k], string(msg::TableNotRead), "the column is there twice"});
            usable = false;
        }
    }
    // The fields a header leaves out end each card's line, which is a spreadsheet's way;
    // but without a name or text column every name or comment would be blanked.
    for (const string_view column : {string_view("kind"), string_view("name"), string_view("text")})
        if (std::find(header.begin(), header.end(), column) == header.end()) {
            problems.push_back(
                {row, {}, string(msg::TableNotRead), "the header has no column '" + string(column) + "'"});
            usable = false;
        }
    return usable;
}

// Reads CSV records: cells separated by commas, records by CR LF, LF or CR, quoted
// cells with doubled quotes inside. Blank records are passed over.
std::vector<Row> readCsv(string_view text, std::vector<TableProblem>& problems) {
    std::vector<std::vector<string>> records;
    std::vector<size_t> numbers;
    std::vector<string> record;
    string cell;
    size_t number = 1;
    bool recordStarted = false;
    bool atCellStart = true;
    auto endRecord = [&] {
        if (recordStarted) {
            record.push_back(std::move(cell));
            records.push_back(std::move(record));
            numbers.push_back(number);
        }
        record.clear();
        cell.clear();
        recordStarted = false;
        atCellStart = true;
        ++number;
    };
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"' && atCellStart) {
            size_t j = i + 1;
            for (;; ++j) {
                if (j >= text.size()) {
                    problems.push_back({number, {}, string(msg::TableNotRead), "a quoted cell is not closed"});
                    return {};
                }
                if (text[j] == '"' && j + 1 < text.size() && text[j + 1] == '"') {
                    cell.push_back('"');
                    ++j;
                } else if (text[j] == '"') {
                    break;
                } else {
                    cell.push_back(text[j]);
                }
            }
            i = j + 1;
            if (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
                problems.push_back({number, {}, string(msg::TableNotRead), "text after a closing quote"});
                return {};
            }
            recordStarted = true;
            atCellStart = false;
        } else if (c == ',') {
            record.push_back(std::move(cell));
            cell.clear();
            recordStarted = true;
            atCellStart = true;
            ++i;
        } else if (c == '\r' || c == '\n') {
            i += c == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
            endRecord();
        } else {
            cell.push_back(c);
            recordStarted = true;
            atCellStart = false;
            ++i;
        }
    }
    endRecord();

    std::vector<Row> rows;
    if (records.empty())
        return rows;
    const std::vector<string>& header = records.front();
    if (!headerUsable(header, numbers.front(), problems))
        return rows;
    for (size_t r = 1; r < records.size(); ++r) {
        Row row{numbers[r], {}};
        for (size_t k = 0; k < records[r].size(); ++k) {
            if (k < header.size())
                row.cells[header[k]] = neutralised(records[r][k]) ? records[r][k].substr(1) : records[r][k];
            else if (!records[r][k].empty())
                problems.push_back(
                    {numbers[r], {}, string(msg::TableNotRead), "more cells than the header has columns"});
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// Parses the JSON table, with a problem for a column a row holds twice: the parser
// would silently keep the last one, as no CSV header may.
Json parseJsonTable(string_view text, std::vector<TableProblem>& problems) {
    std::vector<std::set<string>> keys; // one per open object; empty sets for arrays
    std::vector<bool> isObject;
    size_t row = 0;
    const Json::parser_callback_t onEvent = [&](int, Json::parse_event_t event, Json& parsed) {
        switch (event) {
        case Json::parse_event_t::object_start:
            if (isObject.size() == 1)
                ++row;
            [[fallthrough]];
        case Json::parse_event_t::array_start:
            isObject.push_back(event == Json::parse_event_t::object_start);
            keys.emplace_back();
            break;
        case Json::parse_event_t::object_end:
        case Json::parse_event_t::array_end:
            if (!keys.empty()) {
                keys.pop_back();
                isObject.pop_back();
            }
            break;
        case Json::parse_event_t::key:
            if (isObject.size() == 2 && !keys.back().insert(parsed.get<string>()).second)
                problems.push_back({row, parsed.get<string>(), string(msg::TableNotRead), "the column is there twice"});
            break;
        case Json::parse_event_t::value:
            break;
        }
        return true;
    };
    return Json::parse(text, onEvent);
}

// The column a row of its kind keeps its text in, which no row may leave out, as the
// header of a CSV table may not.
string_view requiredColumn(string_view kind) {
    if (kind == "C" || kind == "V")
        return "name";
    if (kind == "comment" || kind == "eof")
        return "text";
    return {};
}

std::vector<Row> readJson(string_view text, std::vector<TableProblem>& problems) {
    Json table;
    try {
        table = parseJsonTable(text, problems);
    } catch (const Json::exception& e) {
        problems.push_back({0, {}, string(msg::TableNotRead), e.what()});
        return {};
    }
    if (!table.is_array()) {
        problems.push_back({0, {}, string(msg::TableNotRead), "the table is no JSON array"});
        return {};
    }
    std::vector<Row> rows;
    for (size_t r = 0; r < table.size(); ++r) {
        const Json& object = table[r];
        if (!object.is_object()) {
            problems.push_back({r + 1, {}, string(msg::TableNotRead), "the row is no JSON object"});
            continue;
        }
        Row row{r + 1, {}};
        for (const auto& [key, value] : object.items()) {
            if (std::find(Columns.begin(), Columns.end(), key) == Columns.end()) {
                problems.push_back({r + 1, key, quotedCell(key) + string(msg::UnknownColumn), {}});
                continue;
            }
            if (value.is_string())
                row.cells[key] = value.get<string>();
            else if (value.is_number_integer())
                row.cells[key] = value.dump();
            else if (!value.is_null())
                problems.push_back({r + 1, key, string(msg::TableNotRead), "neither text nor a whole number"});
        }
        if (const string_view column = requiredColumn(row.cell("kind")); !column.empty() && !object.contains(column))
            problems.push_back({r + 1, string(column), string(msg::TableNotRead), "the row has no such column"});
        rows.push_back(std::move(row));
    }
    return rows;
}

// A number shorter than its columns, as the file writes numbers.
string padNumber(const CardField& field, const string& bytes) {
    const bool digits = std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= '0' && c <= '9'; });
    const char fill = field.type == FieldType::Id && digits ? '0' : ' ';
    return string(static_cast<size_t>(field.width) - bytes.size(), fill) + bytes;
}

class TableReader {
public:
    TableImport read(const std::vector<Row>& rows, std::vector<TableProblem> problems) {
        problems_ = std::move(problems);
        size_t lastLineRow = 0;
        size_t lastRow = 0;
        for (size_t r = 0; r < rows.size(); ++r) {
            if (rows[r].empty())
                continue;
            lastRow = r + 1;
            if (rows[r].cell("kind") != "eof")
                lastLineRow = r + 1;
        }
        for (size_t r = 0; r < rows.size(); ++r) {
            const Row& row = rows[r];
            if (row.empty())
                continue;
            const string_view kind = row.cell("kind");
            if (kind == "C" || kind == "V")
                cardRow(row, kind[0]);
            else if (kind == "comment")
                commentRow(row);
            else if (kind == "eof")
                eofRow(row, r + 1 == lastRow);
            else
                problem(row, "kind", quotedCell(kind) + string(msg::UnknownRowKind));
            if (kind != "eof" && row.cell("end") == "none" && r + 1 != lastLineRow)
                problem(row, "end", quotedCell("none") + string(msg::OnlyOnLastRow));
        }
        TableImport result;
        result.document.apply({0, 0, lines_});
        result.document.setTail(tail_);
        // What the program could not load is no catalogue to write: none of its cards,
        // or more bytes than a catalogue is read up to.
        if (problems_.empty() && result.document.cardLines('C').empty() && result.document.cardLines('V').empty())
            problems_.push_back({0, {}, string(msg::TableNotRead), "the table holds no card"});
        if (const size_t size = result.document.bytes().size(); problems_.empty() && size > CardCatalogue::MaxFileBytes)
            problems_.push_back({0,
                                 {},
                                 string(msg::TableNotRead),
                                 "the catalogue would be " + std::to_string(size) + " bytes, more than the " +
                                     std::to_string(CardCatalogue::MaxFileBytes) + " a catalogue is read up to"});
        if (problems_.empty())
            for (const CatalogueProblem& p : checkCatalogue(result.document))
                problems_.push_back({rowOfLine_[p.line], string(p.field->name), p.message, {}});
        result.problems = std::move(problems_);
        return result;
    }

private:
    void problem(const Row& row, string_view column, string message) {
        problems_.push_back({row.number, string(column), std::move(message), {}});
    }

    // The bytes of a cell; a cell that cannot be written gives a problem and nothing.
    std::optional<string> bytesOf(const Row& row, string_view column, bool lineBreaksAllowed = false) {
        const string_view text = row.cell(column);
        std::optional<string> bytes = cellBytes(text);
        if (!bytes) {
            problem(row, column, quotedCell(text) + string(msg::CellNotCp932));
        } else if (!lineBreaksAllowed && endsCardLine(*bytes)) {
            problem(row, column, quotedCell(text) + string(msg::CellLineBreak));
            bytes.reset();
        }
        return bytes;
    }

    // Cells in columns this kind of row does not have.
    void unusedCells(const Row& row, std::initializer_list<string_view> used, char kind = 0) {
        for (const auto& [column, text] : row.cells) {
            const bool isUsed = std::find(used.begin(), used.end(), column) != used.end() ||
                                (kind != 0 && findCardField(kind, column) != nullptr);
            if (!isUsed && !text.empty())
                problem(row, column, quotedCell(text) + string(msg::CellNotUsed));
        }
    }

    std::optional<string> endOf(const Row& row) {
        for (const LineEnd& end : LineEnds)
            if (row.cell("end") == end.cell)
                return string(end.bytes);
        problem(row, "end", quotedCell(row.cell("end")) + string(msg::NotALineEnd));
        return std::nullopt;
    }

    void addLine(const Row& row, string text) {
        if (const std::optional<string> end = endOf(row)) {
            lines_.push_back({std::move(text), *end});
            rowOfLine_.push_back(row.number);
        }
    }

    void cardRow(const Row& row, char kind) {
        unusedCells(row, {"kind", "end"}, kind);
        const std::span<const CardField> fields = cardFields(kind);
        std::vector<std::optional<string>> bytes;
        size_t last = 0; // one past the last field with a cell
        for (size_t i = 0; i < fields.size(); ++i) {
            bytes.push_back(bytesOf(row, fields[i].name));
            if (!row.cell(fields[i].name).empty())
                last = i + 1;
        }
        string line(1, kind);
        bool usable = true;
        for (size_t i = 0; i < last; ++i) {
            const CardField& field = fields[i];
            if (!bytes[i]) {
                usable = false;
                continue;
            }
            const string& b = *bytes[i];
            const auto width = static_cast<size_t>(field.width);
            // The last cell may stop short: the line ends inside its columns.
            if (field.width == 0 || b.size() == width || (b.size() < width && i + 1 == last)) {
                line += b;
            } else if (b.size() < width && !b.empty() && isNumeric(field) && parseNumber(b)) {
                line += padNumber(field, b);
            } else {
                problem(row, field.name, quotedCell(row.cell(field.name)) + string(msg::CellDoesNotFit));
                usable = false;
            }
        }
        if (usable)
            addLine(row, std::move(line));
    }

    void commentRow(const Row& row) {
        unusedCells(row, {"kind", "text", "end"});
        std::optional<string> text = bytesOf(row, "text");
        if (text && lineKind(*text) != 0) {
            problem(row, "text", quotedCell(row.cell("text")) + string(msg::NotAComment));
            text.reset();
        }
        if (text)
            addLine(row, std::move(*text));
    }

    void eofRow(const Row& row, bool last) {
        unusedCells(row, {"kind", "text"});
        if (!last) {
            problem(row, "kind", quotedCell("eof") + string(msg::OnlyOnLastRow));
            return;
        }
        if (const std::optional<string> text = bytesOf(row, "text", true))
            tail_ = "\x1a" + *text;
    }

    std::vector<TableProblem> problems_;
    std::vector<DocumentLine> lines_;
    std::vector<size_t> rowOfLine_;
    string tail_;
};

} // namespace

string cellText(string_view bytes) {
    string out;
    size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (c < 0x20 || c == 0x7f) {
            escapeByte(out, c);
            ++i;
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else {
            const size_t length =
                leadByte(c) && i + 1 < bytes.size() && trailByte(static_cast<unsigned char>(bytes[i + 1])) ? 2 : 1;
            const string_view character = bytes.substr(i, length);
            const string utf8 = cp932ToUtf8(character);
            // Only a character that comes back as the same bytes is written as itself.
            if (utf8ToCp932(utf8) == character) {
                out += utf8;
            } else {
                for (const char b : character)
                    escapeByte(out, static_cast<unsigned char>(b));
            }
            i += length;
        }
    }
    return out;
}

std::optional<string> cellBytes(string_view text) {
    string out;
    string run;
    auto flush = [&] {
        std::optional<string> bytes = utf8ToCp932Exact(run);
        run.clear();
        if (!bytes)
            return false;
        out += *bytes;
        return true;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            if (!flush())
                return std::nullopt;
            out.push_back('\\');
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hexDigit(text[i + 2]) >= 0 &&
                   hexDigit(text[i + 3]) >= 0) {
            if (!flush())
                return std::nullopt;
            out.push_back(static_cast<char>(hexDigit(text[i + 2]) * 16 + hexDigit(text[i + 3])));
            i += 3;
        } else {
            // Any other backslash is one the designer typed.
            run.push_back(text[i]);
        }
    }
    if (!flush())
        return std::nullopt;
    return out;
}

string exportCardTable(const CatalogueDocument& document, TableFormat format) {
    std::vector<std::map<string, string, std::less<>>> rows;
    for (const DocumentLine& line : document.lines())
        rows.push_back(cellsOf(line));
    if (!document.tail().empty())
        rows.push_back({{"kind", "eof"}, {"text", cellText(string_view(document.tail()).substr(1))}});

    string out;
    if (format == TableFormat::Csv) {
        out = Bom;
        for (size_t k = 0; k < Columns.size(); ++k)
            out.append(k ? "," : "").append(Columns[k]);
        out += "\r\n";
        for (const auto& cells : rows) {
            for (size_t k = 0; k < Columns.size(); ++k) {
                const auto it = cells.find(Columns[k]);
                out.append(k ? "," : "").append(it == cells.end() ? string() : csvCell(it->second));
            }
            out += "\r\n";
        }
        return out;
    }
    out = "[";
    for (size_t r = 0; r < rows.size(); ++r) {
        Json object = Json::object();
        for (const string_view column : Columns)
            if (const auto it = rows[r].find(column); it != rows[r].end())
                object[string(column)] = it->second;
        out.append(r ? ",\n" : "\n").append(jsonText(object));
    }
    return out + "\n]\n";
}

TableImport importCardTable(string_view table) {
    if (table.substr(0, Bom.size()) == Bom)
        table.remove_prefix(Bom.size());
    const size_t first = table.find_first_not_of(" \t\r\n");
    std::vector<TableProblem> problems;
    const std::vector<Row> rows =
        first != string_view::npos && table[first] == '[' ? readJson(table, problems) : readCsv(table, problems);
    return TableReader().read(rows, std::move(problems));
}

} // namespace morvane
