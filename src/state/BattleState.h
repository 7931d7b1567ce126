#pragma once
// The state of the battle being played: which card fights in which slot with how many
// hit points, who stands in front this turn, the deck rotation locks, the magic seals,
// the turn number and the two flags of a running battle and an open report.
//
// Slot = 10 * side + k: k 1-8 the side's characters, k 9 its vehicle; slots 10 and 20
// exist but are never used. Front positions 1-3 are side 0's, 4-6 side 1's; 1/4, 2/5
// and 3/6 face each other.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvane {

struct CardTraits;

struct BattleSlot {
    int32_t hp = 0;
    int32_t cardId = 0;

    bool operator==(const BattleSlot&) const = default;
};
using BcardRecordType = BattleSlot;

// A slot's card as the battle reads it, looked up in the catalogue once when the
// battle starts: a card's columns cannot change while it runs, and a turn then never
// searches the catalogue. The traits still hold a column that is not a number as
// such, so the battle raises its error when it first reads it, not before.
struct SlotCard {
    const CardTraits* traits = nullptr;
    int32_t hp = 0; // the catalogue HP: the ceiling of healing and absorbing
    int32_t sp = 0;
};

// Who acts against whom in an action: slots and the card ids in them.
struct ActionSlots {
    int32_t actorSlot = 0;
    int32_t actorCardId = 0;
    int32_t actorVehicleCardId = 0;
    int32_t targetSlot = 0;
    int32_t targetCardId = 0;
    int32_t targetVehicleSlot = 0;
    int32_t targetVehicleCardId = 0;
};

// The action under way. Names are coloured names, held as views of the battle's
// table of names, which lives as long as the battle.
struct ActionContext : ActionSlots {
    std::string_view actorName;
    std::string_view targetName;
    std::string_view actorVehicleName;
    std::string_view targetVehicleName;
};

// DeckLock value of a side that draws a fresh formation next turn.
inline constexpr int32_t DeckLockFree = 9;

struct BattleState {
    std::array<BattleSlot, 21> slots{}; // index = slot number; 0 unused
    std::array<int32_t, 7> Front{};     // index = front position 1-6; 0 unused
    std::array<int32_t, 2> DeckLock{};
    std::array<bool, 2> MagicSealed{};
    int32_t TurnNo = 0;
    bool BattleRunning = false;
    bool ReportOpen = false;
    ActionContext context;
    std::array<SlotCard, 21> cards{}; // index = slot number, set with slots by the battle start
    // Every slot's AP column holds a number: the checks made of it when no report is
    // written can never fail and are skipped.
    bool powersReadable = false;
};

inline constexpr int sideOfSlot(int32_t slot) {
    return slot / 10;
}
inline constexpr int32_t vehicleSlotOf(int side) {
    return 10 * side + 9;
}

} // namespace morvane
