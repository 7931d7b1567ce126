#pragma once
// A card catalogue as a table a spreadsheet can edit, and back: UTF-8, one row a line
// of card.dat, one named column a field (the names of CardFields). Rows of kind "C"
// and "V" are cards; "comment" rows hold a comment or blank line in their "text"; a
// last "eof" row holds what follows a byte 26. The "end" column names a line end other
// than CR LF ("LF", "CR", or "none" for a last line without one).
//
// Cells hold the columns' bytes exactly, so importing an exported table gives the file
// back byte for byte. Bytes that are no code page 932 character of their own (half of
// a character cut by a column, a control byte) are written "\xNN", and a backslash
// "\\". Where a spreadsheet has turned " 5" into 5 or "007" into 7, the number goes back
// into its columns as the file writes numbers.

#include "cards/CatalogueDocument.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

enum class TableFormat { Csv, Json };

// CSV (RFC 4180, CR LF, with a byte order mark so that spreadsheets read it as UTF-8)
// or a JSON array with one object a row, each on a line of its own.
std::string exportCardTable(const CatalogueDocument& document, TableFormat format);

// What is wrong with a cell, or with a card that a row makes. Rows are counted as the
// format shows them: in CSV the header is row 1, in JSON the first object is.
struct TableProblem {
    size_t row = 0;      // 0: the table as a whole
    std::string column;  // empty: the row as a whole
    std::string message; // the program's own, code page 932
    std::string detail;  // what a parser said, English; usually empty
};

struct TableImport {
    CatalogueDocument document;
    std::vector<TableProblem> problems;
};

// Reads a table written by exportCardTable, or edited since (the format is told by its
// first character). Cells that cannot stand in their columns are problems; so is every
// problem checkCatalogue finds in the catalogue the rows make, named by row and column.
// The document is only meant to be written when there are none.
TableImport importCardTable(std::string_view table);

// A field's bytes as a cell, and back (nothing when the text holds a character code
// page 932 does not have).
std::string cellText(std::string_view bytes);
std::optional<std::string> cellBytes(std::string_view text);

} // namespace morvane
