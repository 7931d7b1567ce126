#include "stats/ResultText.h"

#include <charconv>

namespace morvane {

std::string fixedText(double value, int decimals) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals).ptr;
    return std::string(buffer, end);
}

std::string percentText(double share) {
    return fixedText(share * 100.0, 2) + "%";
}

std::string intervalText(const Interval& interval) {
    return percentText(interval.low) + " to " + percentText(interval.high);
}

std::string shellWord(std::string_view word) {
    bool plain = !word.empty();
    for (const char c : word)
        plain = plain && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          std::string_view("-_./:=@%+,").find(c) != std::string_view::npos);
    if (plain)
        return std::string(word);
    std::string out = "'";
    for (const char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

namespace {

std::string commandWith(std::string command, const ReplayOptions& options, uint32_t seed) {
    const std::pair<const char*, const std::optional<std::string>*> given[] = {
        {"--cards", &options.cards}, {"--top", &options.top}, {"--bottom", &options.bottom}};
    for (const auto& [name, value] : given)
        if (*value)
            command += std::string(" ") + name + " " + shellWord(**value);
    command += " --seed " + std::to_string(seed);
    if (options.maxTurns != DefaultMaxTurns)
        command += " --max-turns " + std::to_string(options.maxTurns);
    return command;
}

} // namespace

std::string battleReplayCommand(const ReplayOptions& options, uint32_t seed) {
    return commandWith("morvane-cli battle", options, seed);
}

std::string statsReplayCommand(const ReplayOptions& options, uint32_t seed, uint64_t battles) {
    return commandWith("morvane-cli stats", options, seed) + " --battles " + std::to_string(battles);
}

} // namespace morvane
