#include "cli/CliCommon.h"

#include "cards/Team.h"
#include "cli/ProgressLine.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Paths.h"
#include "common/TextLines.h"
#include "runs/Shards.h"
#include "stats/Statistics.h"

#include <algorithm>
#include <csignal>
#include <iostream>

namespace morvane::cli {

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

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onInterrupt(int) {
    interrupted.store(true, std::memory_order_relaxed);
}

} // namespace

std::atomic<bool>& catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    // A closed terminal (SIGHUP) and a polite kill (SIGTERM) end a command as Ctrl-C
    // does: a search keeps, measures and saves what it found.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    return interrupted;
}

int reportFailure(const std::exception& error) {
    std::string text;
    int status = ExitFailure;
    if (const auto* e = dynamic_cast<const MorvaneError*>(&error)) {
        text = e->where().empty() ? cp932ToUtf8(e->message()) : e->where() + ": " + cp932ToUtf8(e->message());
        if (dynamic_cast<const InputError*>(e))
            status = ExitBadInput;
    } else if (dynamic_cast<const UsageError*>(&error)) {
        text = error.what();
        status = ExitBadInput;
    } else {
        text = error.what();
    }
    std::cerr << "morvane-cli: " << escapeControls(text) << std::endl;
    return status;
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

void reportKeptFailure(const std::exception_ptr& failure) {
    std::cout.flush();
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        reportFailure(e);
    }
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

DeckSource deckLine(const Options& options, const std::string& option, const std::filesystem::path& folder, int side) {
    if (auto line = options.value(option))
        return {utf8ToCp932(*line), option + " deck line"};
    const std::filesystem::path path = deckFilePath(folder, side);
    const std::vector<DeckSource> lines = readDeckFileOption(path);
    // An empty deck file applies an empty line, which fails like any bad deck line.
    if (lines.empty())
        return {std::string(), path.string() + " (no deck line)"};
    return lines.front();
}

std::vector<std::string> cardNames(const CardCatalogue& catalogue, const SideSelection& team) {
    std::vector<std::string> names{cp932ToUtf8(catalogue.vehicle(team.vehicle).name)};
    for (const int32_t id : team.characters)
        names.push_back(cp932ToUtf8(catalogue.character(id).name));
    return names;
}

std::vector<DeckSource> readDeckFileOption(const std::filesystem::path& path) {
    return readInput([&] { return readDeckSources(path); });
}

Teams teamsFrom(const CardCatalogue& catalogue, const DeckSource& top, const DeckSource& bottom) {
    return applyDeckLines(catalogue, top, bottom);
}

std::optional<Shard> shardOption(const Options& options) {
    const std::optional<std::string> text = options.value("--shard");
    if (!text)
        return std::nullopt;
    const size_t slash = text->find('/');
    if (slash == std::string::npos)
        throw UsageError("--shard wants K/N, shard K (from 0) of N, not '" + *text + "'");
    Shard shard;
    shard.count = static_cast<uint64_t>(parseCount("--shard N", text->substr(slash + 1), 1, 1000000));
    shard.index = static_cast<uint64_t>(
        parseCount("--shard K", text->substr(0, slash), 0, static_cast<long long>(shard.count) - 1));
    if (!options.value("--seed"))
        throw UsageError("--shard needs the --seed of the run, the same for every shard");
    return shard;
}

std::string battlesProgressText(const char* command, uint64_t done, uint64_t total, double seconds) {
    char buffer[160];
    if (done == 0 || done >= total)
        std::snprintf(buffer, sizeof buffer, "%s: %llu of %llu battles, %.1f s", command,
                      static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), seconds);
    else
        std::snprintf(buffer, sizeof buffer, "%s: %llu of %llu battles, %.1f s, about %.0f s left", command,
                      static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), seconds,
                      seconds * double(total - done) / double(done));
    return buffer;
}

} // namespace morvane::cli
