#pragma once
// Blocks of card cells as a spreadsheet moves them: a rectangle of fields of some card
// lines as tab-separated text (UTF-8, one line a row), and such text put back at a
// place, each cell checked as the editor checks a typed value. Numbers travel as they
// read, without the blanks that align them in the file; other fields as the card table
// export writes their cells, so that copying a block and pasting it back changes no
// byte.

#include "cards/CardFields.h"
#include "cards/CatalogueDocument.h"

#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// A field's cell of a card line as the sheet shows and copies it.
std::string sheetCellText(std::string_view line, const CardField& field);

// The line with a cell's text put into its field, or the reason it cannot be (UTF-8,
// Japanese): a number out of the field's range, a name too long or with a character
// code page 932 lacks, a mark of the wrong width.
struct CellWrite {
    std::string line;
    std::string refusal; // empty when line holds the value
};
CellWrite writeSheetCell(char kind, std::string_view line, const CardField& field, std::string_view text);

// The block of rows (document line indexes) and fields as tab-separated text.
std::string copyBlock(const CatalogueDocument& document, const std::vector<size_t>& lines,
                      const std::vector<const CardField*>& fields);

// Text pasted with its first cell at rows[firstRow], columns[firstColumn]: one edit a
// changed line (none for a cell that already holds the value), and every cell refused
// with why. Cells past the last row or column are refused as such.
struct RefusedCell {
    size_t line = 0;                  // the card's document line; past the table: its last
    const CardField* field = nullptr; // null for cells past the table
    std::string reason;               // UTF-8, Japanese
};
struct BlockPaste {
    std::vector<LineEdit> edits;
    std::vector<RefusedCell> refused;
};
BlockPaste pasteBlock(const CatalogueDocument& document, char kind, const std::vector<size_t>& rows, size_t firstRow,
                      const std::vector<const CardField*>& columns, size_t firstColumn, std::string_view text);

// Tab-separated text as rows of cells; a last line end adds no row, CR LF counts as one.
std::vector<std::vector<std::string>> splitBlock(std::string_view text);

} // namespace morvane
