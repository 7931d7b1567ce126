#pragma once
// card.dat as a document to edit and write back. The loader keeps only what a battle
// needs; this keeps every byte: each line with its own line end, the blank lines and
// comments in their places, and a byte 26 with whatever follows it. A document read
// from a file and written again unchanged is that file byte for byte.
//
// Line numbers are those the loader counts (CR, CR LF and a lone LF each end a
// line), so a problem found here names the line that start-up would name.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

struct DocumentLine {
    std::string text; // without its line end
    std::string end;  // "\r\n", "\r", "\n", or "" for a last line that the file's end ends

    bool operator==(const DocumentLine&) const = default;
};

// Lines [index, index + removed) replaced by inserted: every change of a document is
// one, and applying one returns the edit that undoes it.
struct LineEdit {
    size_t index = 0;
    size_t removed = 0;
    std::vector<DocumentLine> inserted;
};

class CatalogueDocument {
public:
    CatalogueDocument() = default;
    static CatalogueDocument parse(std::string_view bytes);
    std::string bytes() const;

    const std::vector<DocumentLine>& lines() const { return lines_; }
    // The byte 26 that ends the text and everything after it; empty when there is none.
    const std::string& tail() const { return tail_; }
    void setTail(std::string tail) { tail_ = std::move(tail); }
    // The file's line number of line index.
    static int lineNumber(size_t index) { return static_cast<int>(index) + 1; }

    LineEdit apply(const LineEdit& edit);
    // The edit that puts a new card line of its kind after the last card of that kind
    // (characters before the vehicles when there is none yet), ended as most lines
    // of the file are.
    LineEdit insertCard(std::string text) const;
    // The edit that replaces the text of line index, keeping its end.
    LineEdit replaceText(size_t index, std::string text) const;
    // The edit that removes line index.
    LineEdit removeLine(size_t index) const;

    // Indexes of the lines of a kind ('C' or 'V'), in file order.
    std::vector<size_t> cardLines(char kind) const;

private:
    std::string usualEnd() const;

    std::vector<DocumentLine> lines_;
    std::string tail_;
};

} // namespace morvane
