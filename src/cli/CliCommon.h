#pragma once
// Pieces shared by the commands of morvane-cli: the program's messages on the terminal,
// Ctrl-C, deck lines and shards; what the other front ends share too is in frontend/.

#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Errors.h"
#include "frontend/FrontEnd.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::cli {

// The pieces every front end shares, under the names the commands have always used.
using front::cardsPath;
using front::checkRunOutput;
using front::escapeControls;
using front::ExitBadInput;
using front::ExitFailure;
using front::ExitOk;
using front::ExitStatus;
using front::ExitTurnCap;
using front::loadCatalogue;
using front::maxTurnsOption;
using front::Options;
using front::parseCount;
using front::parseSeed;
using front::readInput;
using front::refuseOutputOverInput;
using front::RunInput;
using front::seedOption;
using front::threadsOption;
using front::UsageError;

// The first Ctrl-C (or SIGTERM, or SIGHUP) sets the returned flag and lets the command end in
// its own way; the handler is then gone, so a second one ends the program at once.
std::atomic<bool>& catchInterrupts();

// Prints "morvane-cli: where: message" on stderr in UTF-8 and returns the exit status
// that the failure calls for. Control bytes (a NUL from a bad card column, a line
// feed in a path) are written as \xNN, so the error stays one line of text.
int reportFailure(const std::exception& error);
// Reports a failure kept back while the results were printed (a page or deck file that
// could not be written), after those results.
void reportKeptFailure(const std::exception_ptr& failure);

// The deck line given by an option (UTF-8 on the terminal), or the first line of the
// side's deck file in folder; where names its origin for error messages.
DeckSource deckLine(const Options& options, const std::string& option, const std::filesystem::path& folder, int side);

// Applies both sides' deck lines, naming the failing one in the error.
Teams teamsFrom(const CardCatalogue& catalogue, const DeckSource& top, const DeckSource& bottom);

// --shard K/N of stats and league: shard K (from 0) of N. The shards of a run must
// agree on its seed, so --shard needs --seed.
struct Shard {
    uint64_t index = 0;
    uint64_t count = 1;
};
std::optional<Shard> shardOption(const Options& options);

// A team's cards by name (UTF-8): the vehicle, then slots 1 to 8.
std::vector<std::string> cardNames(const CardCatalogue& catalogue, const SideSelection& team);

// Every deck line of a deck file the user named, with its place.
std::vector<DeckSource> readDeckFileOption(const std::filesystem::path& path);

} // namespace morvane::cli
