#pragma once

#include <array>
#include <string_view>

namespace morvane {

// The files of the program folder and of a batch folder, as the program spells them.
// Readers find them without regard to case (findFileNoCase), so "Card.dat" and
// "Deck0.dat" are the same files.
namespace file {
inline constexpr std::string_view Catalogue = "card.dat";
inline constexpr std::array<std::string_view, 2> Decks{"deck0.dat", "deck1.dat"};
inline constexpr std::string_view Report = "battle.html";
// The page of the latest balance analysis of the catalogue.
inline constexpr std::string_view BalancePage = "balance.html";
// The page of the latest balance analysis of the catalogue as the card editor holds it,
// saved or not: its own file, so that neither analysis replaces the other's page.
inline constexpr std::string_view EditedBalancePage = "balance-edited.html";
// A batch folder's deck pair; its report is a Report.
inline constexpr std::string_view BatchDecks = "deck.dat";
} // namespace file

} // namespace morvane
