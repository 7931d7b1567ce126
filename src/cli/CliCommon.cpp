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
    const front::Failure failure = front::describeFailure(error);
    std::cerr << "morvane-cli: " << escapeControls(failure.text) << std::endl;
    return failure.status;
}

void reportKeptFailure(const std::exception_ptr& failure) {
    std::cout.flush();
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        reportFailure(e);
    }
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
