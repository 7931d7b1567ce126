#include "cards/CardFields.h"

#include "cards/CardCatalogue.h"
#include "cards/CatalogueDocument.h"
#include "cards/Marks.h"
#include "cards/NumberRule.h"
#include "common/Codec.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

namespace morvane {

namespace {

using std::string_view;

// The air mark: anything but "空" is the ground; "地" is how the bundled cards say it.
inline constexpr string_view Ground = "\x92n"; // 地

constexpr std::array<string_view, 3> KindMarks{mark::Physical, mark::Magic, mark::Third};
constexpr std::array<string_view, 2> AirMarks{mark::Air, Ground};
constexpr std::array<string_view, 2> PhysicalOrNone{mark::Physical, mark::None};
constexpr std::array<string_view, 2> MagicOrNone{mark::Magic, mark::None};
constexpr std::array<string_view, 2> ThirdOrNone{mark::Third, mark::None};
constexpr std::array<string_view, 2> SealOrNone{mark::Seal, mark::None};
constexpr std::array<string_view, 3> LockMarks{mark::Enemy, mark::Own, mark::None};
constexpr std::array<string_view, 2> RandomOrNone{mark::Random, mark::None};
constexpr std::array<string_view, 3> SpreadMarks{mark::AllFront, mark::AllFrontAndVehicle, mark::None};
constexpr std::array<string_view, 2> PierceOrNone{mark::Pierce, mark::None};
// "-" is what the bundled cards write for "no restriction"; any other byte says the same.
constexpr std::array<string_view, 3> ReachLetters{"e", "a", "-"};

using T = FieldType;
using R = FieldReader;

constexpr std::array<CardField, 27> CharacterFields{{
    {"id", 2, 3, T::Id, R::Load, {}},
    {"kindMark", 5, 2, T::Mark, R::Battle, KindMarks},
    {"airMark", 7, 2, T::Mark, R::Battle, AirMarks},
    {"size", 9, 2, T::Number, R::Load, {}},
    {"hp", 11, 2, T::Number, R::Load, {}},
    {"power", 13, 2, T::Number, R::Battle, {}},
    {"sp", 15, 2, T::Number, R::Load, {}},
    {"unread17", 17, 12, T::Unread, R::Nobody, {}},
    {"blockMarks1", 29, 2, T::Mark, R::Battle, PhysicalOrNone},
    {"blockMarks2", 31, 2, T::Mark, R::Battle, MagicOrNone},
    {"blockMarks3", 33, 2, T::Mark, R::Battle, ThirdOrNone},
    {"absorbMarks1", 35, 2, T::Mark, R::Battle, PhysicalOrNone},
    {"absorbMarks2", 37, 2, T::Mark, R::Battle, MagicOrNone},
    {"absorbMarks3", 39, 2, T::Mark, R::Battle, ThirdOrNone},
    {"sealMark", 41, 2, T::Mark, R::Battle, SealOrNone},
    {"healAmount", 43, 2, T::OptionalNumber, R::Battle, {}},
    {"vehicleHealAmount", 45, 2, T::OptionalNumber, R::Battle, {}},
    {"unread47", 47, 6, T::Unread, R::Nobody, {}},
    {"lockMark", 53, 2, T::Mark, R::Battle, LockMarks},
    {"killChance", 55, 2, T::OptionalNumber, R::Battle, {}},
    {"randomMark", 57, 2, T::Mark, R::Battle, RandomOrNone},
    {"spreadMark", 59, 2, T::Mark, R::Battle, SpreadMarks},
    {"pierceMark", 61, 2, T::Mark, R::Battle, PierceOrNone},
    {"attackCount", 63, 2, T::OptionalNumber, R::Battle, {}},
    {"reachLetter", 65, 1, T::Letter, R::Battle, ReachLetters},
    {"vehicleReachLetter", 66, 1, T::Letter, R::Battle, ReachLetters},
    {"name", 67, 0, T::Name, R::Load, {}},
}};

constexpr std::array<CardField, 9> VehicleFields{{
    {"id", 2, 3, T::Id, R::Load, {}},
    {"unread5", 5, 2, T::Unread, R::Nobody, {}},
    {"airMark", 7, 2, T::Mark, R::Battle, AirMarks},
    {"size", 9, 2, T::Number, R::Load, {}},
    {"hp", 11, 2, T::Number, R::Load, {}},
    // Shown only, but the report reads it and stops on a column that is no number.
    {"power", 13, 2, T::Number, R::Battle, {}},
    {"sp", 15, 2, T::Number, R::Load, {}},
    {"unread17", 17, 50, T::Unread, R::Nobody, {}},
    {"name", 67, 0, T::Name, R::Load, {}},
}};

} // namespace

std::span<const CardField> cardFields(char kind) {
    if (kind == 'C')
        return CharacterFields;
    if (kind == 'V')
        return VehicleFields;
    return {};
}

const CardField* findCardField(char kind, std::string_view name) {
    for (const CardField& field : cardFields(kind))
        if (field.name == name)
            return &field;
    return nullptr;
}

bool isNumeric(const CardField& field) {
    return field.type == FieldType::Id || field.type == FieldType::Number || field.type == FieldType::OptionalNumber;
}

char lineKind(std::string_view line) {
    return !line.empty() && (line[0] == 'C' || line[0] == 'V') ? line[0] : '\0';
}

std::string_view fieldBytes(std::string_view line, const CardField& field) {
    if (field.width == 0)
        return static_cast<size_t>(field.column) <= line.size() ? line.substr(static_cast<size_t>(field.column - 1))
                                                                : std::string_view();
    return cardColumn(line, field.column, field.width);
}

bool endsCardLine(std::string_view bytes) {
    return bytes.find_first_of("\r\n\x1a") != std::string_view::npos;
}

bool fitsField(const CardField& field, std::string_view bytes) {
    return (field.width == 0 || bytes.size() == static_cast<size_t>(field.width)) && !endsCardLine(bytes);
}

std::string withFieldBytes(std::string_view line, const CardField& field, std::string_view bytes) {
    const auto start = static_cast<size_t>(field.column - 1);
    std::string out(line);
    if (out.size() < start)
        out.resize(start, ' ');
    const size_t old = field.width == 0 ? out.size() - start : std::min(out.size() - start, size_t(field.width));
    out.replace(start, old, bytes);
    return out;
}

NumberRange numberRange(char kind, const CardField& field) {
    if (field.type == FieldType::Id)
        return {1, kind == 'V' ? CardCatalogue::VehicleRows : CardCatalogue::CharacterRows};
    int32_t max = 9;
    for (int i = 1; i < field.width; ++i)
        max = max * 10 + 9;
    int32_t min = -9;
    for (int i = 2; i < field.width; ++i)
        min = min * 10 - 9;
    return {field.width > 1 ? min : 0, max};
}

std::string formatNumber(const CardField& field, int32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, field.type == FieldType::Id ? "%0*d" : "%*d", field.width,
                  static_cast<int>(value));
    return buffer;
}

std::optional<int32_t> fieldNumber(std::string_view line, const CardField& field) {
    const std::string_view text = fieldBytes(line, field);
    if (field.type == FieldType::OptionalNumber && text == mark::None)
        return std::nullopt;
    return parseNumber(text);
}

std::string cardStatText(std::string_view line) {
    const char kind = lineKind(line) != 0 ? lineKind(line) : 'C';
    std::string text = "HP:";
    text.append(fieldBytes(line, *findCardField(kind, "hp"))).append(" AP:");
    text.append(fieldBytes(line, *findCardField(kind, "power"))).append(" SP:");
    return text.append(fieldBytes(line, *findCardField(kind, "sp")));
}

std::string newCardLine(char kind, int32_t id, std::string_view name) {
    std::string line(1, kind);
    for (const CardField& field : cardFields(kind)) {
        if (field.name == "id")
            line += formatNumber(field, id);
        else if (field.name == "kindMark")
            line += mark::Physical;
        else if (field.name == "airMark")
            line += Ground;
        else if (field.name == "size")
            line += formatNumber(field, kind == 'C' ? 5 : 40);
        else if (field.name == "hp")
            line += formatNumber(field, kind == 'C' ? 10 : 80);
        else if (field.name == "power")
            line += formatNumber(field, kind == 'C' ? 3 : 1);
        else if (field.name == "sp")
            line += formatNumber(field, kind == 'C' ? 5 : 1);
        else if (field.type == FieldType::Letter)
            line += "-";
        else if (field.type == FieldType::Name)
            line += name;
        else
            for (int i = 0; i < field.width; i += 2)
                line += mark::None;
    }
    return line;
}

std::optional<int32_t> freeCardId(const CatalogueDocument& document, char kind) {
    const int32_t offered = kind == 'V' ? CardCatalogue::OfferedVehicles : CardCatalogue::OfferedCharacters;
    const CardField& idField = cardFields(kind).front();
    std::vector<bool> used(static_cast<size_t>(offered) + 1, false);
    int32_t highest = 0;
    for (const size_t index : document.cardLines(kind)) {
        const std::optional<int32_t> id = fieldNumber(document.lines()[index].text, idField);
        if (id && *id >= 1 && *id <= offered) {
            used[static_cast<size_t>(*id)] = true;
            highest = std::max(highest, *id);
        }
    }
    if (highest < offered)
        return highest + 1;
    for (int32_t id = 1; id <= offered; ++id)
        if (!used[static_cast<size_t>(id)])
            return id;
    return std::nullopt;
}

std::vector<CardRef> cardsRemoved(const CatalogueDocument& before, const CatalogueDocument& after) {
    std::vector<CardRef> removed;
    for (const char kind : {'C', 'V'}) {
        const CardField& idField = cardFields(kind).front();
        std::vector<int32_t> seen;
        for (const size_t line : after.cardLines(kind))
            if (const std::optional<int32_t> id = fieldNumber(after.lines()[line].text, idField))
                seen.push_back(*id);
        for (const size_t line : before.cardLines(kind)) {
            const std::optional<int32_t> id = fieldNumber(before.lines()[line].text, idField);
            if (!id || std::find(seen.begin(), seen.end(), *id) != seen.end())
                continue;
            seen.push_back(*id);
            removed.push_back({kind, *id, line});
        }
    }
    return removed;
}

namespace {

// The first line of each id of a kind, by id.
std::map<int32_t, size_t> cardsById(const CatalogueDocument& document, char kind) {
    const CardField& idField = cardFields(kind).front();
    std::map<int32_t, size_t> cards;
    for (const size_t line : document.cardLines(kind))
        if (const std::optional<int32_t> id = fieldNumber(document.lines()[line].text, idField))
            cards.emplace(*id, line);
    return cards;
}

// The bytes of name up to at most limit, never half a two-byte character.
std::string_view cutName(std::string_view name, size_t limit) {
    size_t end = 0;
    while (end < name.size()) {
        const auto lead = static_cast<unsigned char>(name[end]);
        const size_t width = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
        if (end + width > limit)
            break;
        end += width;
    }
    return name.substr(0, std::min(end, name.size()));
}

} // namespace

std::vector<CardDifference> cardDifferences(const CatalogueDocument& before, const CatalogueDocument& after) {
    std::vector<CardDifference> differences;
    for (const char kind : {'C', 'V'}) {
        const CardField& nameField = *findCardField(kind, "name");
        const std::map<int32_t, size_t> was = cardsById(before, kind);
        const std::map<int32_t, size_t> is = cardsById(after, kind);
        std::map<int32_t, CardDifference> found;
        for (const auto& [id, line] : is) {
            const auto old = was.find(id);
            if (old == was.end() || before.lines()[old->second].text != after.lines()[line].text)
                found[id] = {kind, id, old == was.end() ? CardChange::Added : CardChange::Changed,
                             std::string(fieldBytes(after.lines()[line].text, nameField))};
        }
        for (const auto& [id, line] : was)
            if (!is.count(id))
                found[id] = {kind, id, CardChange::Removed,
                             std::string(fieldBytes(before.lines()[line].text, nameField))};
        for (auto& entry : found)
            differences.push_back(std::move(entry.second));
    }
    return differences;
}

std::string copiedCardName(const CatalogueDocument& document, char kind, std::string_view name) {
    static const std::string Copy = utf8ToCp932("のコピー");
    const CardField& nameField = *findCardField(kind, "name");
    std::vector<std::string_view> taken;
    for (const size_t line : document.cardLines(kind))
        taken.push_back(fieldBytes(document.lines()[line].text, nameField));
    for (int n = 1;; ++n) {
        const std::string suffix = n == 1 ? Copy : Copy + std::to_string(n);
        std::string copy(cutName(name, static_cast<size_t>(MaxNameBytes) - suffix.size()));
        copy += suffix;
        if (std::find(taken.begin(), taken.end(), copy) == taken.end())
            return copy;
    }
}

} // namespace morvane
