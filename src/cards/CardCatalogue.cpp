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

void NumberField::decode(std::string_view line, const CardField& field) {
    const std::string_view columnText = fieldBytes(line, field);
    const auto parsed = parseNumber(columnText);
    valid = parsed.has_value();
    value = parsed.value_or(0);
    text = std::string(columnText);
    column = field.column;
}

namespace {

// The fields the load and the battle read, looked up once by name in the field table,
// which alone knows where they stand.
struct ReadFields {
    explicit ReadFields(char kind)
        : id(find(kind, "id")), size(find(kind, "size")), hp(find(kind, "hp")), sp(find(kind, "sp")),
          name(find(kind, "name")) {}
    static const CardField& find(char kind, std::string_view name) { return *findCardField(kind, name); }

    const CardField& id;
    const CardField& size;
    const CardField& hp;
    const CardField& sp;
    const CardField& name;
};

const ReadFields& readFields(char kind) {
    static const ReadFields character('C');
    static const ReadFields vehicle('V');
    return kind == 'V' ? vehicle : character;
}

const CardField& characterField(std::string_view name) {
    return *findCardField('C', name);
}

void decodeOptional(OptionalNumberField& field, std::string_view line, std::string_view name) {
    const CardField& column = characterField(name);
    field.none = fieldBytes(line, column) == mark::None;
    if (!field.none)
        field.number.decode(line, column);
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

std::string_view bytesOf(std::string_view line, std::string_view name) {
    return fieldBytes(line, characterField(name));
}

char letterOf(std::string_view line, std::string_view name) {
    const std::string_view text = bytesOf(line, name);
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

// Vehicle lines are decoded with the character columns too: a vehicle's air mark
// and AP stand where a character's do, and its other battle columns are never asked.
CardTraits CardTraits::decode(std::string_view line) {
    CardTraits t;
    t.kind = kindOf(bytesOf(line, "kindMark"));
    t.airborne = bytesOf(line, "airMark") == mark::Air;
    static constexpr std::string_view kindMarks[3] = {mark::Physical, mark::Magic, mark::Third};
    static constexpr std::string_view blockFields[3] = {"blockMarks1", "blockMarks2", "blockMarks3"};
    static constexpr std::string_view absorbFields[3] = {"absorbMarks1", "absorbMarks2", "absorbMarks3"};
    for (size_t k = 0; k < 3; ++k) {
        t.blocks[k] = bytesOf(line, blockFields[k]) == kindMarks[k];
        t.absorbs[k] = bytesOf(line, absorbFields[k]) == kindMarks[k];
    }
    t.seals = bytesOf(line, "sealMark") == mark::Seal;
    decodeOptional(t.heal, line, "healAmount");
    decodeOptional(t.vehicleHeal, line, "vehicleHealAmount");
    const std::string_view lock = bytesOf(line, "lockMark");
    t.lock = lock == mark::Enemy ? LockMark::Enemy : lock == mark::Own ? LockMark::Own : LockMark::None;
    decodeOptional(t.killChance, line, "killChance");
    const std::string_view random = bytesOf(line, "randomMark");
    t.randomTargets = random == mark::Random;
    t.randomNone = random == mark::None;
    const std::string_view spread = bytesOf(line, "spreadMark");
    t.spread = spread == mark::None                 ? SpreadMark::None
               : spread == mark::AllFront           ? SpreadMark::AllFront
               : spread == mark::AllFrontAndVehicle ? SpreadMark::AllFrontAndVehicle
                                                    : SpreadMark::Other;
    t.pierces = bytesOf(line, "pierceMark") == mark::Pierce;
    decodeOptional(t.attackCount, line, "attackCount");
    t.reach = letterOf(line, "reachLetter");
    t.vehicleReach = letterOf(line, "vehicleReachLetter");
    t.power.decode(line, characterField("power"));
    t.hasAbility = t.lock != LockMark::None || !t.heal.none || !t.vehicleHeal.none || t.seals || !t.killChance.none;
    t.plainAction = !t.hasAbility && t.kind != AttackKind::Magic && t.attackCount.none &&
                    t.spread == SpreadMark::None && !t.randomTargets;
    const unsigned reach = t.reach == 'e' ? 1U : t.reach == 'a' ? 2U : 0U;
    t.attackBits = static_cast<uint8_t>(reach | (t.pierces ? 4U : 0U) | static_cast<unsigned>(t.kind) << 3);
    unsigned defence = t.airborne ? 1U : 0U;
    for (size_t k = 0; k < 3; ++k)
        defence |= (t.blocks[k] ? 2U << k : 0U) | (t.absorbs[k] ? 16U << k : 0U);
    t.defenceBits = static_cast<uint8_t>(defence);
    return t;
}

namespace {
int32_t readField(std::string_view line, const CardField& field, const std::string& where) {
    return readNumberColumn(line, field.column, field.width, where);
}
} // namespace

CardCatalogue::CardCatalogue() : characters_(CharacterRows + 1), vehicles_(VehicleRows + 1) {}

void CardCatalogue::load(const std::filesystem::path& path) {
    loadBytes(readFileBytes(path, MaxFileBytes), path.string());
}

void CardCatalogue::loadBytes(std::string_view bytes, const std::string& name) {
    for (const TextLine& line : splitTextLines(bytes)) {
        const char kind = lineKind(line.text);
        if (kind != 0) {
            const std::string where = name + ":" + std::to_string(line.number);
            const ReadFields& fields = readFields(kind);
            const int32_t id = readField(line.text, fields.id, where);
            const NumberRange rows = numberRange(kind, fields.id);
            if (id < rows.min || id > rows.max)
                throw cardIdOutOfRange(fieldBytes(line.text, fields.id), where);
            Row& row = (kind == 'C' ? characters_ : vehicles_)[static_cast<size_t>(id)];
            row.record.id = id;
            row.record.line = line.text;
            row.traits = CardTraits::decode(line.text);
            row.record.name = std::string(fieldBytes(line.text, fields.name));
            row.record.size = readField(line.text, fields.size, where);
            row.record.hp = readField(line.text, fields.hp, where);
            row.record.sp = readField(line.text, fields.sp, where);
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
