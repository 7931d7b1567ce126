#pragma once
// The balance report of a card set as one page for its designer: a self-contained
// UTF-8 HTML document, with no script and nothing fetched from anywhere, whose tables
// and bar charts (inline SVG) read on a phone as well as on a desktop. Every card name,
// deck line and file name is escaped, so a catalogue can hold any text.

#include "balance/Balance.h"

#include <string>
#include <vector>

namespace morvane {

class CardCatalogue;

// What the page says about where the figures came from, UTF-8 (text that is not
// UTF-8 is shown with replacement characters).
struct BalanceSources {
    std::string cards;                     // the catalogue file
    std::vector<std::string> fieldSources; // "deck0.dat:1", by field deck
    std::string command;                   // the command that reproduces the run, if any
};

std::string balancePage(const BalanceReport& report, const CardCatalogue& catalogue, const BalanceSources& sources);

struct SuggestRound;
// The proposals of 'balance --suggest' as a page of the same kind: each round's figures
// before, and each change as the card's line before and after with the figures of the
// set that has it.
std::string suggestionsPage(const std::vector<SuggestRound>& rounds, const BalanceSources& sources);

} // namespace morvane
