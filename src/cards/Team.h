#pragma once
// A team as the rules of the game see it, whatever front end shows it: which selector
// feeds which battle slot and in which order the keyboard visits them, a side's size
// total against its vehicle's deck size, both sides' deck lines applied as one step,
// and whether two teams can start a battle. The window, the battle service, the
// command line tool, the optimizer and the batch runner all ask here.

#include "cards/Deck.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace morvane {

class CardCatalogue;

// A side's nine selectors by index: 0-7 the characters of slots 1-8, then the vehicle.
inline constexpr int VehicleSelector = 8;
// The battle slot that selector index feeds on a side: 1-8 and 9 on the top side,
// 11-18 and 19 on the bottom side.
constexpr int32_t selectorSlot(int side, int index) {
    return 10 * side + (index == VehicleSelector ? 9 : index + 1);
}
// The order in which the keyboard visits a side's selectors, by index: the grid column
// by column, slots 1-3, then slot 4, the vehicle and slot 5, then slots 6-8.
inline constexpr std::array<int, 9> KeyboardOrder{0, 1, 2, 3, VehicleSelector, 4, 5, 6, 7};

// The name of the selector that feeds a slot: C01-C08, V00, C11-C18, V10. Messages,
// the window's components and the service's form all use these names.
std::string selectorName(int32_t slot);

// The sizes of a side's eight characters added up (an empty slot adds nothing), and
// its vehicle's deck size (0 without a vehicle). Only shown: a team over its deck
// size plays like any other unless the optimizer's size rule says otherwise.
int64_t sizeTotal(const CardCatalogue& catalogue, const SideSelection& team);
int32_t deckSize(const CardCatalogue& catalogue, const SideSelection& team);
// "Size 45(50)": the total, then the deck size in brackets.
std::string sizeText(const CardCatalogue& catalogue, const SideSelection& team);

// Throws InputError "C03のカードが選ばれていません" (where left empty) for the first
// selector, top side first and each side's characters before its vehicle, whose card
// no selector offers: such teams cannot start a battle. Nothing is played.
void checkPlayable(const CardCatalogue& catalogue, const Teams& teams);
// The same for a team on either side, named by the top side's selectors.
void checkPlayable(const CardCatalogue& catalogue, const SideSelection& team);

// Applies the top deck line, then the bottom one, through set (side 0 top, 1 bottom).
// A failure carries where its line came from, so it names the side that fails; of
// two bad lines the top one is named. What set changed before it stays changed.
void applyDeckLines(const DeckSource& top, const DeckSource& bottom,
                    const std::function<void(int side, std::string_view line)>& set);
// The same into two teams of their own, as a battle starts from them.
Teams applyDeckLines(const CardCatalogue& catalogue, const DeckSource& top, const DeckSource& bottom);

} // namespace morvane
