#pragma once
// The teams the optimizer may build: the cards the catalogue offers, limited by the
// user's rules. The team editor shows a side's size total against its vehicle's deck
// size but lets any team fight; the optimizer by default holds every team to it, and
// to the slots the user keeps, one copy of a character (--unique) and the copies the
// user owns. Every team the search visits comes out of this class as a legal team or
// as a move from one, so no rule needs checking anywhere else.

#include "cards/Deck.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

class CardCatalogue;
class Random;

// Slot indexes of a team: 0-7 the characters of slots 1 to 8, 8 the vehicle.
inline constexpr int VehicleSlot = 8;
using KeptSlots = std::array<bool, 9>;

// "V,C03,C07": the vehicle and slots 3 and 7 (blanks around names allowed, any case).
// Nothing for text that names anything else, or nothing at all.
std::optional<KeptSlots> parseKeptSlots(std::string_view text);

// How many copies of each card the user owns, by card id; a card not listed is not
// owned. The file holds one card a line, "C012 2" or "V003 1" (the count may be left
// out for 1); ";" or "#" starts a comment line; a card listed twice adds up.
struct OwnedCards {
    std::vector<int> characters; // by id
    std::vector<int> vehicles;   // by id

    int character(int32_t id) const;
    int vehicle(int32_t id) const;
};
// Reads owned cards from code page 932 text. A line that is not a card and a count,
// or that names a card the catalogue does not offer, throws InputError with name and
// line in its location.
OwnedCards parseOwnedCards(std::string_view bytes, const std::string& name, const CardCatalogue& catalogue);
// Reads the file as above; one larger than a deck file may be throws IoError.
OwnedCards readOwnedCards(const std::filesystem::path& path, const CardCatalogue& catalogue);

struct TeamRules {
    KeptSlots kept{};
    bool unique = false;  // at most one copy of each character
    bool sizeRule = true; // the characters' size total at most the vehicle's deck size
    std::optional<OwnedCards> owned;
};

// One step from a team to a neighbour.
struct TeamMove {
    enum Kind : uint8_t { Vehicle, Character, Swap };
    Kind kind = Vehicle;
    int slot = 0;   // the slot replaced, or the first of two swapped
    int other = 0;  // the second slot swapped
    int32_t id = 0; // the new card of a replacement
};
SideSelection applyMove(SideSelection team, const TeamMove& move);

class TeamSpace {
public:
    // base gives the cards of the kept slots.
    TeamSpace(const CardCatalogue& catalogue, TeamRules rules, const SideSelection& base);

    const TeamRules& rules() const { return rules_; }

    // Throws InputError (code page 932 message, where left empty) when team breaks a
    // rule: a card the catalogue does not offer, a kept slot changed, the size total
    // over the deck size, a repeated character under --unique, more copies than owned.
    void check(const SideSelection& team) const;
    bool legal(const SideSelection& team) const;

    // Every legal move from a legal team, in a fixed order: vehicles, then slot by slot
    // each character in id order, then the swaps of two slots holding different cards.
    std::vector<TeamMove> moves(const SideSelection& team) const;
    // A random legal team with base's kept slots; nothing when a few hundred tries find
    // none (rules so tight that hardly any team is legal).
    std::optional<SideSelection> randomTeam(Random& random) const;

    int64_t sizeTotal(const SideSelection& team) const;
    int32_t deckSize(const SideSelection& team) const;

private:
    int copies(const SideSelection& team, int32_t id, int skipSlot) const;
    bool fits(int64_t total, int32_t deckSize) const { return !rules_.sizeRule || total <= deckSize; }
    int ownedCharacter(int32_t id) const;
    int ownedVehicle(int32_t id) const;

    const CardCatalogue& catalogue_;
    TeamRules rules_;
    SideSelection base_;
    std::vector<int32_t> vehicles_;   // offered ids
    std::vector<int32_t> characters_; // offered ids
};

} // namespace morvane
