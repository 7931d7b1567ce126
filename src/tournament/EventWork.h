#pragma once
// A whole tournament as one unit of work for the batch root's runners: the event's
// request as text in, its result as text out. The seed in the request decides every
// battle, so an event played twice, anywhere, answers the same.

#include "tournament/Tournament.h"

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

class CardCatalogue;

// An event as it is handed out: the request, and each entrant's display name (UTF-8,
// one line, no control characters; may be empty) in the entrants' order.
struct EventOrder {
    TournamentRequest request;
    std::vector<std::string> names;
};

// The text of an order and of a result, and back. Each text states how many lines it
// holds and ends with a closing line, so a file cut short anywhere is refused: the
// parsers throw InputError for anything they cannot read whole, for numbers out of
// range and for entrant numbers the event does not have. The request's threads are
// the runner's business and are not written.
std::string formatEventOrder(const EventOrder& order);
EventOrder parseEventOrder(std::string_view text);
std::string formatTournamentResult(const TournamentResult& result, size_t entrants);
// entrants: the number of the event's entrants, which every entrant number is checked
// against.
TournamentResult parseTournamentResult(std::string_view text, size_t entrants);

// Plays the event whose request is body; the result's text, or nothing when cancel
// stopped it. Throws InputError for a body it cannot read.
std::optional<std::string> answerEventWork(const CardCatalogue& catalogue, std::string_view body, unsigned threads,
                                           const std::atomic<bool>* cancel = nullptr);

} // namespace morvane
