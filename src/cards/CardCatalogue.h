#pragma once
// The card catalogue: the character and vehicle tables read from "card.dat", indexed
// by card id. Rows keep their whole card line; the battle's properties are cut out
// of it by column. For speed each row's battle columns are also decoded once, but a
// column that does not hold a number is only reported when the battle asks for it.

#include "cards/CardFields.h"
#include "common/Errors.h"
#include "common/FileNames.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

struct cardRecordType {
    std::string name;
    int32_t size = 0;
    int32_t hp = 0;
    int32_t sp = 0;
    std::string line;
    int32_t id = 0;

    bool defined() const { return !line.empty(); }
};

// A numeric column decoded at load. get() gives the value or throws the conversion
// error the battle would raise on reading it; the battle reads these on every attack,
// so the common case stays inline and the failure out of line.
struct NumberField {
    bool valid = false;
    int32_t value = 0;
    std::string text; // the column's bytes, for the error message
    int column = 0;   // first column, for where the error came from

    int32_t get(char kind, int32_t id) const { return valid ? value : fail(kind, id); }
    void decode(std::string_view line, const CardField& field);

private:
    [[noreturn]] int32_t fail(char kind, int32_t id) const;
};

// A numeric column that may hold the none mark "＿".
struct OptionalNumberField {
    bool none = true;
    NumberField number;
};

enum class AttackKind : uint8_t { Physical = 0, Magic = 1, Third = 2, None = 3 };
enum class LockMark : uint8_t { None, Enemy, Own };
enum class SpreadMark : uint8_t { None, AllFront, AllFrontAndVehicle, Other };

// Everything the battle reads from a card line by column, decoded once.
struct CardTraits {
    // What nearly every action reads comes first, within one cache line: with new
    // teams every battle, each card's traits are fetched anew.
    //
    // Any of the five abilities of an action: deck lock, self heal, vehicle heal,
    // magic seal, instant kill. Most cards have none.
    bool hasAbility = false;
    // One attack on the opposite card and nothing else: no ability, no magic to be
    // sealed, one blow, no spread, no random target. Most actions are of this kind,
    // and one flag lets the battle take them without asking each question in turn.
    bool plainAction = false;
    // The columns an attack's outcome depends on, packed. attackBits, the card as
    // attacker: reach ('e' 1, 'a' 2, else 0), 4 piercing, kind above them.
    // defenceBits, the card as defender: 1 flight, 2 << kind blocks, 16 << kind
    // absorbs. With teams that change every battle each question asked apart is a
    // branch the processor cannot learn; together they index one table.
    uint8_t attackBits = 0;
    uint8_t defenceBits = 0;
    AttackKind kind = AttackKind::None;
    bool airborne = false;
    bool randomTargets = false; // randomMark holds "ラ"
    bool randomNone = true;     // randomMark holds "＿"
    SpreadMark spread = SpreadMark::None;
    bool pierces = false;
    char reach = 0;                // column 65
    char vehicleReach = 0;         // column 66
    NumberField power;             // columns 13-14
    std::array<bool, 3> blocks{};  // by AttackKind
    std::array<bool, 3> absorbs{}; // by AttackKind
    bool seals = false;
    LockMark lock = LockMark::None;
    OptionalNumberField heal;
    OptionalNumberField vehicleHeal;
    OptionalNumberField killChance;
    OptionalNumberField attackCount;

    // Spread and random marks both "＿": a fallen target sends the attack to the vehicle.
    bool singleTarget() const { return spread == SpreadMark::None && randomNone; }

    static CardTraits decode(std::string_view line);
};

// The speeds the turn loop gives a turn to, fastest first: a character whose SP lies
// outside them stands in front but never acts.
inline constexpr int32_t SlowestSpeed = 1;
inline constexpr int32_t FastestSpeed = 20;

// One entry of a card selector: the card it stands for and the text it shows.
struct SelectorEntry {
    int32_t id = 0;
    std::string text; // name + "(" + size + ")"
};

// The load's failure for an id column outside the tables: "'%s' カード番号が範囲外です".
InputError cardIdOutOfRange(std::string_view columnText, std::string where = {});

class CardCatalogue {
public:
    static constexpr int32_t CharacterRows = 126; // ids 1-126 may be filled
    static constexpr int32_t VehicleRows = 26;    // ids 1-26 may be filled
    static constexpr int32_t OfferedCharacters = 125;
    static constexpr int32_t OfferedVehicles = 25;
    // Largest card.dat read. 151 card lines of some 80 bytes fill every row; with a
    // few thousand lines of comments besides, a catalogue stays well below 1 MB, and
    // this is four times that.
    static constexpr std::uintmax_t MaxFileBytes = std::uintmax_t{4} << 20;

    CardCatalogue();

    // Reads card.dat. Rows filled before a failing line stay filled; the failure is
    // FileNotFoundError, IoError (also for a file that is no regular file or is
    // larger than MaxFileBytes), ConversionError or InputError (id out of range),
    // each naming the file and line.
    void load(const std::filesystem::path& path);
    // The same from bytes already read; name is used in error locations.
    void loadBytes(std::string_view bytes, const std::string& name = std::string(file::Catalogue));

    // Row of an id, or an undefined row for any id outside the table.
    const cardRecordType& character(int32_t id) const { return characterRow(id).record; }
    const cardRecordType& vehicle(int32_t id) const { return vehicleRow(id).record; }
    const CardTraits& characterTraits(int32_t id) const { return characterRow(id).traits; }
    const CardTraits& vehicleTraits(int32_t id) const { return vehicleRow(id).traits; }

    // Entries of the selectors: defined ids 1-125 / 1-25 in rising order.
    std::vector<SelectorEntry> characterEntries() const;
    std::vector<SelectorEntry> vehicleEntries() const;
    bool offersCharacter(int32_t id) const { return id >= 1 && id <= OfferedCharacters && character(id).defined(); }
    bool offersVehicle(int32_t id) const { return id >= 1 && id <= OfferedVehicles && vehicle(id).defined(); }

    // Every non-empty line of the file, comments included, in file order.
    const std::vector<std::string>& cardLines() const { return cardLines_; }

private:
    struct Row {
        cardRecordType record;
        CardTraits traits;
    };
    const Row& characterRow(int32_t id) const {
        return id >= 0 && id <= CharacterRows ? characters_[static_cast<size_t>(id)] : undefined_;
    }
    const Row& vehicleRow(int32_t id) const {
        return id >= 0 && id <= VehicleRows ? vehicles_[static_cast<size_t>(id)] : undefined_;
    }
    std::vector<Row> characters_; // index = id, 0..126
    std::vector<Row> vehicles_;   // index = id, 0..26
    std::vector<std::string> cardLines_;
    Row undefined_;
};

} // namespace morvane
