#pragma once
// How win rates, intervals and replay commands read, for every front end that shows
// them: the command line tool and the windows print the same figures the same way.
// Numbers go through std::to_chars, so the user's locale (set for the report's time
// of day) never turns a decimal point into a comma.

#include "stats/Statistics.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// value with `decimals` digits after the point.
std::string fixedText(double value, int decimals);
// A share from 0 to 1 as a percentage with two decimals: "52.80%".
std::string percentText(double share);
// "51.20% to 54.30%".
std::string intervalText(const Interval& interval);

// A word for a POSIX shell: in single quotes unless it is plainly safe.
std::string shellWord(std::string_view word);

// What a replay needs besides the seed: the options given to the run, as typed
// (UTF-8); a missing one stands for its default and is left out.
struct ReplayOptions {
    std::optional<std::string> cards;
    std::optional<std::string> top;
    std::optional<std::string> bottom;
    long long maxTurns = DefaultMaxTurns;
};
// The battle command that replays one battle with its report.
std::string battleReplayCommand(const ReplayOptions& options, uint32_t seed);
// The stats command that plays a whole run again.
std::string statsReplayCommand(const ReplayOptions& options, uint32_t seed, uint64_t battles);

} // namespace morvane
