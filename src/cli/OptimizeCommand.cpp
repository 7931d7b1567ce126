#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/StatsText.h"
#include "common/Clock.h"
#include "common/Errors.h"
#include "common/Text.h"
#include "optimize/Optimizer.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace morvane::cli {

const char* const OptimizeUsage =
    R"(usage: morvane-cli optimize [--cards FILE] [--deck DECKLINE] --field FILE [--side top|bottom|both]
                            [--budget BATTLES] [--threads T] [--seed S] [--keep SLOTS] [--owned FILE]
                            [--unique] [--ignore-size] [--max-turns N] [--final-battles N] [--json]
                            [--save FILE]

Searches for the team that wins most often against a field of decks, starting from a
deck line, and prints the best team found with its win rate on fresh seeds beside the
start team's.

  --cards FILE         the card catalogue (default: card.dat in the program folder)
  --deck DECKLINE      the start team (default: the first line of deck0.dat beside the
                       catalogue, or of deck1.dat with --side bottom)
  --field FILE         the opponents: every line of FILE is a deck line, as in deck0.dat
  --side SIDE          where the team plays: top (against every field deck below it),
                       bottom (against every field deck above it) or both, equally
                       weighted (default both)
  --budget BATTLES     battles the search may play, 1 to 2000000000 (default 1000000)
  --threads T          worker threads (default: one per core); the result does not depend on it
  --seed S             seed of the search, 0 to 4294967295 (default: the milliseconds of the time of day)
  --keep SLOTS         slots that keep the start team's cards, e.g. V,C03,C07 (V the vehicle,
                       C01 to C08 the characters of slots 1 to 8)
  --owned FILE         the cards you own: no team uses more copies of a card than FILE lists
  --unique             no team uses a character twice
  --ignore-size        allow teams whose characters' size total exceeds the vehicle's deck
                       size (by default no team does)
  --max-turns N        a battle still running after N turns is undecided and counts as not
                       won (default 10000)
  --final-battles N    battles per field deck and side of the final measurement (default 1000)
  --json               print the result as one JSON object
  --save FILE          append the best team to the deck file FILE (created when missing) with
                       the next list number

The search changes one thing at a time (the vehicle, the character of one slot, or the
order of two slots, which decides who stands in front) and keeps a change only when it
wins significantly more often than the team it changes, on the same battles. The start
team must keep the rules it is held to (--keep, --owned, --unique, the size total).

The owned-cards file is code page 932 text with one card a line: C or V, the card id and
the number of copies, e.g. "C012 2" or "V003 1" (a missing count means 1). Lines that
start with ";" or "#" are comments; a card listed twice adds up; a card not listed is not
owned, vehicles included.

The final measurement plays N battles of each field deck and side with seeds the search
never used: battle i (from 0) plays field deck and side number i mod P (P of them, in
the order of FILE, the team on top first) with the seed
  mix(S xor mix(2147483648 + i)), with mix(x) on 32 bits: x ^= x >> 16; x *= 0x7FEB352D;
  x ^= x >> 15; x *= 0x846CA68B; x ^= x >> 16
so 'morvane-cli battle --seed <that seed>' with the two deck lines replays it.

On a terminal, stderr shows the progress. Ctrl-C ends the search and reports the best
team so far (a second Ctrl-C ends the program at once).
Exit status: 0 done (also when interrupted), 2 bad input (catalogue, deck line, field
file, owned-cards file, a start team that breaks a rule, option, or a card column that a
battle cannot read; one line names the file and line), 1 anything else (--save failed).
)";

namespace {

// Ctrl-C stops the search; the flag is the search's own cancel flag.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onOptimizeInterrupt(int) {
    interrupted.store(true, std::memory_order_relaxed);
}

void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onOptimizeInterrupt;
    sigemptyset(&action.sa_mask);
    // A second Ctrl-C ends the program at once, the measurement included.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

struct FieldDeck {
    std::string line;
    std::string where;
};

std::vector<FieldDeck> readField(const std::filesystem::path& path) {
    std::vector<TextLine> lines;
    try {
        lines = readDeckFile(path);
    } catch (const IoError& e) {
        throw InputError(e.message(), e.where());
    }
    std::vector<FieldDeck> decks;
    decks.reserve(lines.size());
    for (const TextLine& line : lines)
        decks.push_back({line.text, path.string() + ":" + std::to_string(line.number)});
    if (decks.empty())
        throw UsageError(path.string() + " holds no deck line; --field wants one opponent per line");
    return decks;
}

SideSelection applyWithWhere(const CardCatalogue& catalogue, const std::string& line, const std::string& where) {
    SideSelection team;
    try {
        applyDeckLine(line, team, catalogue);
        checkPlayable(catalogue, team);
    } catch (MorvaneError& e) {
        e.setWhere(where);
        throw;
    }
    return team;
}

PlaySide parseSide(const std::string& text) {
    if (text == "top")
        return PlaySide::Top;
    if (text == "bottom")
        return PlaySide::Bottom;
    if (text == "both")
        return PlaySide::Both;
    throw UsageError("--side wants top, bottom or both, not '" + text + "'");
}

const char* sideName(PlaySide side) {
    return side == PlaySide::Top ? "top" : side == PlaySide::Bottom ? "bottom" : "both";
}

std::string sizeText(const CardCatalogue& catalogue, const SideSelection& team) {
    int64_t total = 0;
    for (const int32_t id : team.characters)
        total += catalogue.character(id).size;
    return std::string("Size ").append(decimal(total)) + "(" + decimal(catalogue.vehicle(team.vehicle).size) + ")";
}

// The vehicle, then slots 1 to 8, by name.
std::vector<std::string> cardNames(const CardCatalogue& catalogue, const SideSelection& team) {
    std::vector<std::string> names{cp932ToUtf8(catalogue.vehicle(team.vehicle).name)};
    for (const int32_t id : team.characters)
        names.push_back(cp932ToUtf8(catalogue.character(id).name));
    return names;
}

// The progress line on a terminal, redrawn in place at most ten times a second.
class ProgressLine {
public:
    explicit ProgressLine(bool shown) : shown_(shown) {}
    void draw(const OptimizeProgress& p) {
        if (!shown_)
            return;
        const std::string best = p.bestTally.battles ? percentText(p.bestTally.winRate()) : std::string("-");
        std::fprintf(stderr, "\r\033[Koptimize: %llu of %llu battles, best so far %s (on %llu battles), %.1f s",
                     static_cast<unsigned long long>(p.battles), static_cast<unsigned long long>(p.budget),
                     best.c_str(), static_cast<unsigned long long>(p.bestTally.battles), p.seconds);
        std::fflush(stderr);
        drawn_ = true;
    }
    void measuring() {
        if (!shown_)
            return;
        std::fputs("\r\033[Koptimize: measuring on fresh seeds...", stderr);
        std::fflush(stderr);
        drawn_ = true;
    }
    void wipe() {
        if (drawn_)
            std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }

private:
    bool shown_;
    bool drawn_ = false;
};

std::string jsonTally(const ScoreTally& t) {
    return std::string(R"({"wins": )").append(jsonNumber(t.wins)) + ", \"battles\": " + jsonNumber(t.battles) +
           ", \"undecided\": " + jsonNumber(t.undecided) + ", \"win_rate\": " + jsonNumber(t.winRate()) +
           ", \"win_rate_ci\": " + jsonInterval(t.interval()) + "}";
}

// "  97.99%  97.76% to 98.20%", padded to width when one follows.
std::string scoreColumn(const ScoreTally& t, size_t width = 0) {
    std::string rate = percentText(t.winRate());
    rate.insert(0, rate.size() < 7 ? 7 - rate.size() : 0, ' ');
    std::string text = rate + "  " + intervalText(t.interval());
    if (text.size() < width)
        text.resize(width, ' ');
    return text;
}

} // namespace

int runOptimize(const std::vector<std::string>& args) {
    const Options options(args,
                          {"--cards", "--deck", "--field", "--side", "--budget", "--threads", "--seed", "--keep",
                           "--owned", "--max-turns", "--final-battles", "--save"},
                          {"--unique", "--ignore-size", "--json", "--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << OptimizeUsage;
        return ExitOk;
    }
    if (!options.positional().empty())
        throw UsageError("unexpected argument '" + options.positional().front() + "'");
    if (!options.value("--field"))
        throw UsageError("optimize needs --field FILE (morvane-cli optimize --help)");

    OptimizeRequest request;
    request.field.side = options.value("--side") ? parseSide(*options.value("--side")) : PlaySide::Both;
    if (auto value = options.value("--budget"))
        request.budget = static_cast<uint64_t>(parseCount("--budget", *value, 1, 2000000000));
    request.threads = options.value("--threads")
                          ? static_cast<unsigned>(parseCount("--threads", *options.value("--threads"), 1, 1024))
                          : defaultThreadCount();
    request.seed = options.value("--seed") ? parseSeed(*options.value("--seed")) : systemClock().timeSeed();
    if (auto value = options.value("--max-turns"))
        request.maxTurns = parseCount("--max-turns", *value, 1, 2147483647);
    const uint64_t finalBattles =
        options.value("--final-battles")
            ? static_cast<uint64_t>(parseCount("--final-battles", *options.value("--final-battles"), 1, 10000000))
            : 1000;
    if (auto value = options.value("--keep")) {
        const std::optional<KeptSlots> kept = parseKeptSlots(*value);
        if (!kept)
            throw UsageError("--keep wants slot names separated by commas (V, C01 to C08), not '" + *value + "'");
        request.rules.kept = *kept;
    }
    request.rules.unique = options.flag("--unique");
    request.rules.sizeRule = !options.flag("--ignore-size");

    const std::filesystem::path cards = cardsPath(options);
    const CardCatalogue catalogue = loadCatalogue(cards);
    const DeckSource start =
        deckLine(options, "--deck", folderOf(cards), request.field.side == PlaySide::Bottom ? 1 : 0);
    request.start = applyWithWhere(catalogue, start.line, start.where);
    const std::filesystem::path fieldPath = *options.value("--field");
    const std::vector<FieldDeck> field = readField(fieldPath);
    for (const FieldDeck& deck : field)
        request.field.decks.push_back(applyWithWhere(catalogue, deck.line, deck.where));
    if (auto owned = options.value("--owned")) {
        try {
            request.rules.owned = readOwnedCards(*owned, catalogue);
        } catch (const IoError& e) {
            throw InputError(e.message(), e.where());
        }
    }
    try {
        TeamSpace(catalogue, request.rules, request.start).check(request.start);
    } catch (MorvaneError& e) {
        e.setWhere(start.where);
        throw;
    }

    catchInterrupts();
    ProgressLine progress(::isatty(STDERR_FILENO) == 1);
    OptimizeControl control;
    control.cancel = &interrupted;
    control.progress = [&](const OptimizeProgress& p) { progress.draw(p); };
    const OptimizeResult result = optimizeTeam(catalogue, request, control);

    // The measurement runs to its end even after Ctrl-C: it is short, and the best
    // team so far is what the user asked for.
    progress.measuring();
    const auto measureStart = std::chrono::steady_clock::now();
    BattleRunner runner(catalogue, request.field, request.threads, request.maxTurns);
    const uint64_t measured = finalBattles * request.field.pairings();
    const FieldScore best = measureTeam(runner, result.best, request.seed, 0, measured);
    const FieldScore initial = measureTeam(runner, request.start, request.seed, 0, measured);
    const double measureSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - measureStart).count();
    progress.wipe();

    std::optional<std::string> savedEntry;
    if (auto save = options.value("--save")) {
        DeckList list;
        try {
            list = DeckList::load(*save);
        } catch (const FileNotFoundError&) {
            // A new deck file.
        }
        savedEntry = list.add(result.best);
        list.save(*save);
    }

    const std::string bestLine = cp932ToUtf8(formatDeckLine(result.best, 0));
    const std::string startLine = cp932ToUtf8(formatDeckLine(request.start, 0));
    const double battlesPerSecond = result.seconds > 0 ? double(result.battles) / result.seconds : 0.0;
    const size_t pairings = request.field.pairings();

    if (options.flag("--json")) {
        std::string names;
        for (const std::string& name : cardNames(catalogue, result.best))
            names += (names.empty() ? "" : ", ") + jsonString(name);
        std::string decks;
        for (size_t d = 0; d < field.size(); ++d) {
            decks += std::string(d ? ", " : "") + "{\"deck\": " + std::to_string(d + 1) +
                     ", \"line\": " + jsonString(cp932ToUtf8(field[d].line)) +
                     ", \"source\": " + jsonString(field[d].where);
            for (size_t p = 0; p < pairings; ++p) {
                if (request.field.deckOf(p) != d)
                    continue;
                decks += std::string(", \"") + (request.field.teamSideOf(p) == 0 ? "top" : "bottom") +
                         R"(": {"best": )" + jsonTally(best.pairings[p]) +
                         ", \"start\": " + jsonTally(initial.pairings[p]) + "}";
            }
            decks += "}";
        }
        std::cout << "{\"best\": " << jsonString(bestLine) << ", \"best_cards\": [" << names << "]"
                  << ", \"best_score\": " << jsonTally(best.total()) << ", \"start\": " << jsonString(startLine)
                  << ", \"start_score\": " << jsonTally(initial.total()) << ", \"field\": [" << decks << "]"
                  << R"(, "side": ")" << sideName(request.field.side) << R"(", "final_battles": )" << finalBattles
                  << ", \"budget\": " << request.budget << ", \"battles\": " << result.battles
                  << ", \"candidates\": " << result.candidates << ", \"accepted\": " << result.accepted
                  << ", \"restarts\": " << result.restarts
                  << ", \"interrupted\": " << (result.cancelled ? "true" : "false")
                  << ", \"threads\": " << result.threads << ", \"seed\": " << request.seed
                  << ", \"max_turns\": " << request.maxTurns << ", \"seconds\": " << jsonNumber(result.seconds)
                  << ", \"battles_per_second\": " << jsonNumber(battlesPerSecond)
                  << ", \"measure_seconds\": " << jsonNumber(measureSeconds) << ", \"saved\": "
                  << (savedEntry ? std::string(R"({"file": )").append(jsonString(*options.value("--save"))) +
                                       ", \"list_number\": " + jsonString(*savedEntry) + "}"
                                 : std::string("null"))
                  << "}" << std::endl;
        return ExitOk;
    }

    std::string names;
    for (const std::string& name : cardNames(catalogue, result.best))
        names += (names.empty() ? "" : " / ") + name;
    std::cout << "optimize: " << field.size() << " field decks from " << fieldPath.string() << ", side "
              << sideName(request.field.side) << ", seed " << request.seed << ", " << result.threads
              << (result.threads == 1 ? " thread" : " threads") << "\n"
              << "start:    " << startLine << "  " << sizeText(catalogue, request.start) << "\n"
              << "best:     " << bestLine << "  " << sizeText(catalogue, result.best) << "\n"
              << "          " << names << "\n"
              << "search:   " << (result.cancelled ? "interrupted after " : "") << result.battles << " of "
              << request.budget << " battles, " << result.candidates << " teams raced, " << result.accepted
              << " accepted, " << result.restarts << " restarts, " << fixedText(result.seconds, 1) << " s ("
              << fixedText(battlesPerSecond, 0) << " battles/s)\n\n"
              << "win rate on fresh seeds, " << finalBattles << " battles per field deck and side:\n"
              << "                  best                              start\n"
              << "  all             " << scoreColumn(best.total(), 32) << "  " << scoreColumn(initial.total()) << "\n";
    for (size_t p = 0; p < pairings; ++p) {
        std::string label = std::string("#").append(std::to_string(request.field.deckOf(p) + 1)) +
                            (request.field.teamSideOf(p) == 0 ? " on top" : " below");
        label.resize(14, ' ');
        std::cout << "  " << label << "  " << scoreColumn(best.pairings[p], 32) << "  "
                  << scoreColumn(initial.pairings[p]) << "\n";
    }
    std::cout << "\n(#N on top: the team on top against field deck N below it; #N below: the other way round)\n";
    for (size_t d = 0; d < field.size(); ++d)
        std::cout << "  #" << d + 1 << "  " << cp932ToUtf8(field[d].line) << "  " << field[d].where << "\n";
    if (savedEntry)
        std::cout << "saved:    " << *options.value("--save") << ", list number " << *savedEntry << "\n";
    return ExitOk;
}

} // namespace morvane::cli
