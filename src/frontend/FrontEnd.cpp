#include "frontend/FrontEnd.h"

#include "common/AtomicFile.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "common/FileNames.h"
#include "common/Files.h"
#include "common/Paths.h"
#include "runs/Shards.h"
#include "stats/Statistics.h"

#include <algorithm>
#include <system_error>

namespace morvane::front {

Options::Options(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                 const std::vector<std::string>& flags) {
    auto has = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (has(valued, arg)) {
            if (i + 1 >= args.size())
                throw UsageError("option " + arg + " needs a value");
            values_.emplace_back(arg, args[++i]);
        } else if (has(flags, arg)) {
            flags_.push_back(arg);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional_.push_back(arg);
        }
    }
}

std::optional<std::string> Options::value(const std::string& name) const {
    std::optional<std::string> found;
    for (const auto& [key, value] : values_)
        if (key == name)
            found = value; // the last one given wins
    return found;
}

bool Options::flag(const std::string& name) const {
    return std::find(flags_.begin(), flags_.end(), name) != flags_.end();
}

uint32_t parseSeed(const std::string& text) {
    return static_cast<uint32_t>(parseCount("--seed", text, 0, 4294967295ll));
}

long long parseCount(const std::string& option, const std::string& text, long long min, long long max) {
    if (text.empty() || text.size() > 12 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw UsageError(option + " wants a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                         ", not '" + text + "'");
    const long long value = std::stoll(text);
    if (value < min || value > max)
        throw UsageError(option + " wants a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                         ", not '" + text + "'");
    return value;
}

uint32_t seedOption(const Options& options) {
    const std::optional<std::string> seed = options.value("--seed");
    return seed ? parseSeed(*seed) : systemClock().timeSeed();
}

unsigned threadsOption(const Options& options) {
    const std::optional<std::string> threads = options.value("--threads");
    return threads ? static_cast<unsigned>(parseCount("--threads", *threads, 1, 1024)) : defaultThreadCount();
}

long long maxTurnsOption(const Options& options) {
    const std::optional<std::string> turns = options.value("--max-turns");
    return turns ? parseCount("--max-turns", *turns, 1, 2147483647) : DefaultMaxTurns;
}

Failure describeFailure(const std::exception& error) {
    if (const auto* e = dynamic_cast<const MorvaneError*>(&error))
        return {utf8Text(*e), dynamic_cast<const InputError*>(e) ? ExitBadInput : ExitFailure};
    if (dynamic_cast<const UsageError*>(&error))
        return {error.what(), ExitBadInput};
    return {error.what(), ExitFailure};
}

std::string escapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            static constexpr char Hex[] = "0123456789abcdef";
            out.append("\\x").push_back(Hex[byte >> 4]);
            out.push_back(Hex[byte & 0xf]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::filesystem::path cardsPath(const Options& options) {
    if (auto path = options.value("--cards"))
        return *path;
    // Found as every reader of the program folder finds its files, so a folder that
    // the window plays from (with a "Card.dat", say) serves the command line too.
    return findFileNoCase(ProgramFolder(), file::Catalogue);
}

CardCatalogue loadCatalogue(const std::filesystem::path& path, std::string* digest) {
    CardCatalogue catalogue;
    const std::string bytes = readInput([&] { return readFileBytes(path, CardCatalogue::MaxFileBytes); });
    if (digest)
        *digest = catalogueDigest(bytes);
    catalogue.loadBytes(bytes, path.string());
    return catalogue;
}

void refuseOutputOverInput(const std::string& outputOption, const std::filesystem::path& output,
                           const std::vector<RunInput>& inputs) {
    for (const RunInput& input : inputs) {
        // Only a file that exists can be one of the run's inputs by another name; one
        // that cannot be looked at is left to the writer to report.
        std::error_code ec;
        if (!std::filesystem::equivalent(output, input.path, ec) || ec)
            continue;
        throw UsageError(outputOption + " " + output.string() + " is " + input.path.string() + ", " + input.what +
                         " the run reads; write it elsewhere");
    }
}

void checkRunOutput(const std::string& outputOption, const std::filesystem::path& output,
                    const std::vector<RunInput>& inputs) {
    refuseOutputOverInput(outputOption, output, inputs);
    checkReplaceable(output);
}

} // namespace morvane::front
