#include "cards/CardCatalogue.h"

#include "cards/Marks.h"
#include "cards/NumberRule.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Messages.h"
#include "common/TextLines.h"

#include <cstdio>

namespace morvane {

int32_t NumberField::fail(char kind, int32_t id) const {
    char where[64];
    std::snprintf(where, sizeof where, "card %c%03d, columns %d-%d", kind, static_cast<int>(id), column, column + 1);
    throw ConversionError(text, where);
}

void NumberField::decode(std::string_view line, int firstColumn, int width) {
    const std::string_view columnText = cardColumn(line, firstColumn, width);
    const auto parsed = parseNumber(columnText);
    valid = parsed.has_value();
    value = parsed.value_or(0);
    text = std::string(columnText);
    column = firstColumn;
}

namespace {

void decodeOptional(OptionalNumberField& field, std::string_view line, int column) {
    field.none = cardColumn(line, column, 2) == mark::None;
    if (!field.none)
        field.number.decode(line, column, 2);
}

AttackKind kindOf(std::string_view column) {
    if (column == mark::Physical)
        return AttackKind::Physical;
    if (column == mark::Magic)
        return AttackKind::Magic;
    if (column == mark::Third)
        return AttackKind::Third;
    return AttackKind::None;
}

char letterAt(std::string_view line, int column) {
    const std::string_view text = cardColumn(line, column, 1);
    return text.empty() ? '\0' : text[0];
}

} // namespace

InputError cardIdOutOfRange(std::string_view columnText, std::string where) {
    // Appended piece by piece: GCC at -O3 warns (-Wrestrict) about the same string
    // built with operator+.
    std::string text = "'";
    text.append(columnText).append("' ").append(msg::CardIdOutOfRange);
    return InputError(std::move(text), std::move(where));
}

CardTraits CardTraits::decode(std::string_view line) {
    CardTraits t;
    t.kind = kindOf(cardColumn(line, 5, 2));
    t.airborne = cardColumn(line, 7, 2) == mark::Air;
    static constexpr std::string_view kindMarks[3] = {mark::Physical, mark::Magic, mark::Third};
    for (int k = 0; k < 3; ++k) {
        t.blocks[k] = cardColumn(line, 29 + 2 * k, 2) == kindMarks[k];
        t.absorbs[k] = cardColumn(line, 35 + 2 * k, 2) == kindMarks[k];
    }
    t.seals = cardColumn(line, 41, 2) == mark::Seal;
    decodeOptional(t.heal, line, 43);
    decodeOptional(t.vehicleHeal, line, 45);
    const std::string_view lock = cardColumn(line, 53, 2);
    t.lock = lock == mark::Enemy ? LockMark::Enemy : lock == mark::Own ? LockMark::Own : LockMark::None;
    decodeOptional(t.killChance, line, 55);
    const std::string_view random = cardColumn(line, 57, 2);
    t.randomTargets = random == mark::Random;
    t.randomNone = random == mark::None;
    const std::string_view spread = cardColumn(line, 59, 2);
    t.spread = spread == mark::None                 ? SpreadMark::None
               : spread == mark::AllFront           ? SpreadMark::AllFront
               : spread == mark::AllFrontAndVehicle ? SpreadMark::AllFrontAndVehicle
                                                    : SpreadMark::Other;
    t.pierces = cardColumn(line, 61, 2) == mark::Pierce;
    decodeOptional(t.attackCount, line, 63);
    t.reach = letterAt(line, 65);
    t.vehicleReach = letterAt(line, 66);
    t.power.decode(line, 13, 2);
    t.hasAbility = t.lock != LockMark::None || !t.heal.none || !t.vehicleHeal.none || t.seals || !t.killChance.none;
    return t;
}

CardCatalogue::CardCatalogue() : characters_(CharacterRows + 1), vehicles_(VehicleRows + 1) {}

void CardCatalogue::load(const std::filesystem::path& path) {
    loadBytes(readFileBytes(path, MaxFileBytes), path.string());
}

void CardCatalogue::loadBytes(std::string_view bytes, const std::string& name) {
    for (const TextLine& line : splitTextLines(bytes)) {
        const char kind = line.text[0];
        if (kind == 'C' || kind == 'V') {
            const std::string where = name + ":" + std::to_string(line.number);
            const int32_t id = readNumberColumn(line.text, 2, 3, where);
            const int32_t rows = kind == 'C' ? CharacterRows : VehicleRows;
            if (id < 1 || id > rows)
                throw cardIdOutOfRange(cardColumn(line.text, 2, 3), where);
            Row& row = (kind == 'C' ? characters_ : vehicles_)[static_cast<size_t>(id)];
            row.record.id = id;
            row.record.line = line.text;
            row.traits = CardTraits::decode(line.text);
            row.record.name = line.text.size() > 66 ? line.text.substr(66) : std::string();
            row.record.size = readNumberColumn(line.text, 9, 2, where);
            row.record.hp = readNumberColumn(line.text, 11, 2, where);
            row.record.sp = readNumberColumn(line.text, 15, 2, where);
        }
        cardLines_.push_back(line.text);
    }
}

namespace {
template <class Rows> std::vector<SelectorEntry> entriesOf(const Rows& rows, int32_t offered) {
    std::vector<SelectorEntry> entries;
    for (int32_t id = 1; id <= offered; ++id) {
        const cardRecordType& r = rows[static_cast<size_t>(id)].record;
        if (r.defined())
            entries.push_back({id, r.name + "(" + std::to_string(r.size) + ")"});
    }
    return entries;
}
} // namespace

std::vector<SelectorEntry> CardCatalogue::characterEntries() const {
    return entriesOf(characters_, OfferedCharacters);
}

std::vector<SelectorEntry> CardCatalogue::vehicleEntries() const {
    return entriesOf(vehicles_, OfferedVehicles);
}

} // namespace morvane
