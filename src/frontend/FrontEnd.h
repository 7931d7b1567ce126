#pragma once
// What the front ends share: the window, morvane-cli and morvane-server read their
// command lines alike (options, counts, seeds, the catalogue), refuse a mistake on it
// alike, and end with the same exit statuses. Nothing here prints.

#include "cards/CardCatalogue.h"
#include "common/Errors.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::front {

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

// A failure as a front end writes it on one line, UTF-8, "where: message", with the
// exit status it calls for: bad input (an InputError, a UsageError) 2, anything else 1.
struct Failure {
    std::string text;
    int status = ExitFailure;
};
Failure describeFailure(const std::exception& error);

// Control bytes (a NUL from a bad card column, a line feed in a path) as \xNN, so that
// an error stays one line of text.
std::string escapeControls(std::string_view text);

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

// A file a run reads and what it is to the run ("the catalogue").
struct RunInput {
    std::string what;
    std::filesystem::path path;
};
// Refuses (UsageError) an output that is one of the run's inputs, the same file by any
// name (a symbolic or hard link too): writing it would replace what the run read.
void refuseOutputOverInput(const std::string& outputOption, const std::filesystem::path& output,
                           const std::vector<RunInput>& inputs);
// Before a run that ends in writing output: refuses it over an input as above, and
// throws the IoError its writer would throw where it cannot be written (checkReplaceable),
// so that neither comes after the battles.
void checkRunOutput(const std::string& outputOption, const std::filesystem::path& output,
                    const std::vector<RunInput>& inputs);

} // namespace morvane::front
