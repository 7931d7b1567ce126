#pragma once
// The fields of a card line: where each stands (columns and width in bytes), what it
// may hold, and who reads it. The catalogue editor, the checker and the card table all
// go through this one table, so a field is cut out of a line and written back into
// it in one way only, and the view of a card never counts bytes itself.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace morvane {

class CatalogueDocument;

enum class FieldType : uint8_t {
    Id,             // columns 2-4, a number: the row of the card's table
    Number,         // a number by the number rule
    OptionalNumber, // a number, or the none mark "＿"
    Mark,           // a two-byte mark from a short list
    Letter,         // one byte: "e", "a" or anything else
    Name,           // column 67 to the end of the line
    Unread,         // bytes nobody reads, kept as they stand
};

// Who reads a field: the catalogue load (a bad number stops start-up), the battle
// (a bad number halts the battle that reads it), or nobody.
enum class FieldReader : uint8_t { Load, Battle, Nobody };

struct CardField {
    std::string_view name; // as the program names it; also the card table's column
    int column = 0;        // first column, counted from 1
    int width = 0;         // bytes; 0 for the name, which runs to the end of the line
    FieldType type = FieldType::Unread;
    FieldReader reader = FieldReader::Nobody;
    // The marks or letters the program gives a meaning, for Mark and Letter fields; the
    // none mark among them where the field may lack its property.
    std::span<const std::string_view> choices;
};

// Longest name the editor makes: a selector of the team editor shows about this much
// beside the size, and a longer name is cut off there. The file itself has no limit,
// so a longer name read from a file is kept as it is.
inline constexpr int MaxNameBytes = 32;

// The fields of a character ('C') or vehicle ('V') line in column order, the name last;
// together they cover every byte after the kind letter. Empty for any other kind.
std::span<const CardField> cardFields(char kind);
const CardField* findCardField(char kind, std::string_view name);

// The kind of a line: 'C' or 'V' by its exact first byte, 0 for a comment or blank line.
char lineKind(std::string_view line);

// The field's bytes in line: shorter or empty where the line ends inside or before it.
std::string_view fieldBytes(std::string_view line, const CardField& field);
// line with the field's bytes replaced. A line that ends before the field is first
// filled with blanks up to it; bytes must fill a fixed field exactly.
std::string withFieldBytes(std::string_view line, const CardField& field, std::string_view bytes);

// The whole numbers a numeric field can hold and the program accepts: ids the tables
// have rows for, otherwise what the columns hold written in decimal ("-9" to "99").
struct NumberRange {
    int32_t min = 0;
    int32_t max = 0;
};
NumberRange numberRange(char kind, const CardField& field);
// A value as its columns hold it: ids zero-padded ("007"), other numbers right-aligned
// after blanks (" 7"), as the bundled catalogue and the deck lines write them.
std::string formatNumber(const CardField& field, int32_t value);
// The number a numeric field holds by the number rule; nothing for the none mark or
// anything else.
std::optional<int32_t> fieldNumber(std::string_view line, const CardField& field);

// The line of a new card with every property left out: a size-5 ground character
// with HP 10, AP 3 and SP 5, or a vehicle with deck size 40 and HP 80.
std::string newCardLine(char kind, int32_t id, std::string_view name);
// The id for a new card of a kind: the next one after the highest in use, or the
// lowest free one when that is past what the selectors offer; nothing when every
// offered id is taken.
std::optional<int32_t> freeCardId(const CatalogueDocument& document, char kind);

} // namespace morvane
