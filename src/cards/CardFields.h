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
#include <vector>

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

// Whether a field holds a number (an id, a number, or a number or the none mark).
bool isNumeric(const CardField& field);

// The fields of a character ('C') or vehicle ('V') line in column order, the name last;
// together they cover every byte after the kind letter. Empty for any other kind.
std::span<const CardField> cardFields(char kind);
const CardField* findCardField(char kind, std::string_view name);

// The kind of a line: 'C' or 'V' by its exact first byte, 0 for a comment or blank line.
char lineKind(std::string_view line);

// The field's bytes in line: shorter or empty where the line ends inside or before it.
std::string_view fieldBytes(std::string_view line, const CardField& field);
// Whether bytes can stand in a field as they are: a fixed field takes exactly its width,
// and no field takes a line end or a byte 26, which would end the card's line.
bool fitsField(const CardField& field, std::string_view bytes);
// Whether bytes hold a CR, an LF or a byte 26: the end of a card line in the file.
bool endsCardLine(std::string_view bytes);
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

// A card's stat text, "HP:" hp " AP:" power " SP:" sp, each the bytes its columns hold
// (blanks and leading zeros kept, nothing converted), as the team editor shows it
// under a selector. Character and vehicle lines hold these three in the same columns;
// an undefined row's empty line gives "HP: AP: SP:".
std::string cardStatText(std::string_view line);

// The line of a new card with every property left out: a size-5 ground character
// with HP 10, AP 3 and SP 5, or a vehicle with deck size 40 and HP 80.
std::string newCardLine(char kind, int32_t id, std::string_view name);
// The id for a new card of a kind: the next one after the highest in use, or the
// lowest free one when that is past what the selectors offer; nothing when every
// offered id is taken.
std::optional<int32_t> freeCardId(const CatalogueDocument& document, char kind);

// A card of a document: its kind, id, and the index of its line.
struct CardRef {
    char kind = 0;
    int32_t id = 0;
    size_t line = 0;
};
// The cards of before that after no longer has, by kind ('C' first) and in before's
// line order, each id once (at its first line): what replacing before with after
// takes away from whoever picks cards by id.
std::vector<CardRef> cardsRemoved(const CatalogueDocument& before, const CatalogueDocument& after);

// How a card differs from one document to another, by its id: there only after, there
// only before, or its line changed (the first line of an id stands for it).
enum class CardChange : uint8_t { Added, Removed, Changed };
struct CardDifference {
    char kind = 0;
    int32_t id = 0;
    CardChange change = CardChange::Changed;
    std::string name; // code page 932: after's, or before's for a card taken away
};
// Every card that differs, characters first, each kind by id; comments and blank lines
// are no cards and never differ.
std::vector<CardDifference> cardDifferences(const CatalogueDocument& before, const CatalogueDocument& after);

// The name of a copy of the card named name (code page 932): the name and "のコピー",
// then 2, 3 ... where a card of the kind already has that name, the name cut on a
// character to keep the whole within MaxNameBytes.
std::string copiedCardName(const CatalogueDocument& document, char kind, std::string_view name);

} // namespace morvane
