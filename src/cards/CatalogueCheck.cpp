#include "cards/CatalogueCheck.h"

#include "cards/CardCatalogue.h"
#include "cards/CatalogueDocument.h"
#include "cards/Marks.h"
#include "common/Errors.h"
#include "common/Messages.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>

namespace morvane {

namespace {

// Values the load accepts that a battle or the team editor cannot use, bounded by the
// battle's rules:
// - a character's SP outside SlowestSpeed to FastestSpeed: the turn loop never gives
//   it a turn;
// - a character's HP of 0 or less: it starts the battle fallen and never acts;
// - a vehicle's HP of 0 or less: the first attack on it, hit or miss, ends the battle;
// - an instant-kill chance outside 0 to 100: it is a percentage, drawn against 0-99;
// - an id past what the selectors offer (C126, V026): the table has its row, but no
//   team can pick it.
// A vehicle's AP and SP are only shown, and any number does there.
struct PlayBound {
    char kind;
    std::string_view field;
    int32_t min;
    int32_t max;
    std::string_view why;
};

constexpr PlayBound PlayBounds[] = {
    {'C', "id", 1, CardCatalogue::OfferedCharacters, msg::IdNotOffered},
    {'V', "id", 1, CardCatalogue::OfferedVehicles, msg::IdNotOffered},
    {'C', "hp", 1, INT32_MAX, msg::CharacterStartsDown},
    {'V', "hp", 1, INT32_MAX, msg::VehicleLosesAtOnce},
    {'C', "sp", SlowestSpeed, FastestSpeed, msg::SpeedNeverActs},
    {'C', "killChance", 0, 100, msg::KillChanceIsPercent},
};

// "'25' は範囲外です (1-20): この速さのキャラクターは行動しません", the upper bound no more
// than the columns hold.
std::optional<std::string> outsidePlay(char kind, const CardField& field, std::string_view bytes, int32_t value) {
    for (const PlayBound& bound : PlayBounds) {
        if (bound.kind != kind || bound.field != field.name || (value >= bound.min && value <= bound.max))
            continue;
        const int32_t max = std::min(bound.max, numberRange(kind, field).max);
        std::string text = "'";
        text.append(bytes).append("' ").append(msg::OutsidePlayRange);
        text.append(" (" + std::to_string(bound.min) + "-" + std::to_string(max) + "): ");
        return text.append(bound.why);
    }
    return std::nullopt;
}

} // namespace

std::vector<CatalogueProblem> checkCatalogue(const CatalogueDocument& document) {
    std::vector<CatalogueProblem> problems;
    std::map<std::pair<char, int32_t>, std::vector<size_t>> linesOfId;
    const std::vector<DocumentLine>& lines = document.lines();
    for (size_t index = 0; index < lines.size(); ++index) {
        const std::string& text = lines[index].text;
        const char kind = lineKind(text);
        for (const CardField& field : cardFields(kind)) {
            if (!isNumeric(field) || field.reader == FieldReader::Nobody)
                continue;
            const std::string_view bytes = fieldBytes(text, field);
            if (field.type == FieldType::OptionalNumber && bytes == mark::None)
                continue;
            const std::optional<int32_t> value = fieldNumber(text, field);
            if (!value) {
                problems.push_back({index, &field, ConversionError(std::string(bytes)).message()});
                continue;
            }
            if (field.type == FieldType::Id) {
                const NumberRange rows = numberRange(kind, field);
                if (*value < rows.min || *value > rows.max) {
                    problems.push_back({index, &field, cardIdOutOfRange(bytes).message()});
                    continue;
                }
                linesOfId[{kind, *value}].push_back(index);
            }
            if (std::optional<std::string> unusable = outsidePlay(kind, field, bytes, *value))
                problems.push_back({index, &field, std::move(*unusable)});
        }
    }
    for (const auto& [card, indexes] : linesOfId) {
        if (indexes.size() < 2)
            continue;
        char name[16];
        std::snprintf(name, sizeof name, "'%c%03d' ", card.first, static_cast<int>(card.second));
        for (const size_t index : indexes)
            problems.push_back({index, &cardFields(card.first).front(), name + std::string(msg::CardRepeated)});
    }
    std::stable_sort(problems.begin(), problems.end(), [](const CatalogueProblem& a, const CatalogueProblem& b) {
        return a.line != b.line ? a.line < b.line : a.field->column < b.field->column;
    });
    return problems;
}

} // namespace morvane
