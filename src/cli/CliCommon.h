#pragma once
// Pieces shared by the commands of morvane-cli: option parsing, exit statuses, the
// program's messages on the terminal, and the default files of the program folder.

#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Errors.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::cli {

enum ExitStatus : int {
    ExitOk = 0,
    ExitFailure = 1,  // anything else: a report that cannot be written...
    ExitBadInput = 2, // catalogue, deck line, missing selection, bad option
    ExitTurnCap = 3,  // a battle reached --max-turns
};

// A usage mistake on the command line; exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Options of one command: "--name value", "-o value" and "--flag".
class Options {
public:
    Options(const std::vector<std::string>& args, const std::vector<std::string>& valued,
            const std::vector<std::string>& flags);

    std::optional<std::string> value(const std::string& name) const;
    bool flag(const std::string& name) const;
    const std::vector<std::string>& positional() const { return positional_; }

private:
    std::vector<std::pair<std::string, std::string>> values_;
    std::vector<std::string> flags_;
    std::vector<std::string> positional_;
};

uint32_t parseSeed(const std::string& text);
// A whole number from min to max, or a UsageError naming the option.
long long parseCount(const std::string& option, const std::string& text, long long min, long long max);

// --seed, or one from the clock; --threads (1 to 1024), or one per core; --max-turns
// (1 to 2147483647), or DefaultMaxTurns.
uint32_t seedOption(const Options& options);
unsigned threadsOption(const Options& options);
long long maxTurnsOption(const Options& options);

// The first Ctrl-C (or SIGTERM, or SIGHUP) sets the returned flag and lets the command end in
// its own way; the handler is then gone, so a second one ends the program at once.
std::atomic<bool>& catchInterrupts();

// Prints "morvane-cli: where: message" on stderr in UTF-8 and returns the exit status
// that the failure calls for. Control bytes (a NUL from a bad card column, a line
// feed in a path) are written as \xNN, so the error stays one line of text.
int reportFailure(const std::exception& error);
std::string escapeControls(std::string_view text);
// Reports a failure kept back while the results were printed (a page or deck file that
// could not be written), after those results.
void reportKeptFailure(const std::exception_ptr& failure);

// Runs read, counting a file that cannot be read (IoError) as bad input: the files a
// command reads are the user's.
template <class Read> auto readInput(Read&& read) -> decltype(read()) {
    try {
        return read();
    } catch (const IoError& e) {
        throw InputError(e);
    }
}

// The catalogue from --cards, or card.dat in the program folder.
std::filesystem::path cardsPath(const Options& options);
// Loads the catalogue; digest, when given, receives the SHA-256 of the very bytes that
// were loaded, which tells the shards of one run apart from those of a run on other
// cards even when the file is replaced while a shard runs.
CardCatalogue loadCatalogue(const std::filesystem::path& path, std::string* digest = nullptr);

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
