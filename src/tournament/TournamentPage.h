#pragma once
// A tournament as one page for its players: standings with their tie-breaks, every
// round's matches with their seeds, and for a single elimination the bracket. A
// self-contained UTF-8 HTML document, no script and nothing fetched; every team is
// shown by its cards' names and stats, never as a deck line alone, and every text is
// escaped.

#include "tournament/Tournament.h"

#include <string>

namespace morvane {

class CardCatalogue;

struct TournamentSources {
    std::string decks;   // the deck file, UTF-8
    std::string command; // the command that plays the event again
    unsigned battles = 0;
    uint32_t seed = 0;
};

std::string tournamentPage(const TournamentResult& result, const std::vector<SideSelection>& entrants,
                           const CardCatalogue& catalogue, const TournamentSources& sources);

} // namespace morvane
