#include "cards/CatalogueCheck.h"

#include "cards/CardCatalogue.h"
#include "cards/CatalogueDocument.h"
#include "cards/Marks.h"
#include "common/Errors.h"
#include "common/Messages.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace morvane {

std::vector<CatalogueProblem> checkCatalogue(const CatalogueDocument& document) {
    std::vector<CatalogueProblem> problems;
    std::map<std::pair<char, int32_t>, std::vector<size_t>> linesOfId;
    const std::vector<DocumentLine>& lines = document.lines();
    for (size_t index = 0; index < lines.size(); ++index) {
        const std::string& text = lines[index].text;
        const char kind = lineKind(text);
        for (const CardField& field : cardFields(kind)) {
            const bool numeric = field.type == FieldType::Id || field.type == FieldType::Number ||
                                 field.type == FieldType::OptionalNumber;
            if (!numeric || field.reader == FieldReader::Nobody)
                continue;
            const std::string_view bytes = fieldBytes(text, field);
            if (field.type == FieldType::OptionalNumber && bytes == mark::None)
                continue;
            const std::optional<int32_t> value = fieldNumber(text, field);
            if (!value) {
                problems.push_back({index, &field, ConversionError(std::string(bytes)).message()});
            } else if (field.type == FieldType::Id) {
                const NumberRange rows = numberRange(kind, field);
                if (*value < rows.min || *value > rows.max)
                    problems.push_back({index, &field, cardIdOutOfRange(bytes).message()});
                else
                    linesOfId[{kind, *value}].push_back(index);
            }
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
