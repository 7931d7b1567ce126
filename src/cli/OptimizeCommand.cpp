#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/ProgressLine.h"
#include "cli/RunResults.h"
#include "cli/StatsText.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/TextLines.h"
#include "optimize/Optimizer.h"
#include "stats/PartialResult.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace morvane::cli {

const char* const OptimizeUsage =
    R"(usage: morvane-cli optimize [--cards FILE] [--deck DECKLINE] --field FILE [--side top|bottom|both]
                            [--budget BATTLES] [--threads T] [--seed S] [--keep SLOTS] [--owned FILE]
                            [--unique] [--ignore-size] [--max-turns N] [--final-battles N] [--json]
                            [--save FILE] [--measure] [--shard K/N]

Searches for the team that wins most often against a field of decks, starting from a
deck line, and prints the best team found with its win rate on fresh seeds beside the
start team's. With --measure it plays no search and measures the team of --deck alone.

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
  --measure            no search: measure the team of --deck (such as the best line of a
                       search) on the battles the final measurement of a search plays, and
                       print its win rates as the search prints its best team's
  --shard K/N          measure, playing only the battles i with i mod N = K (K from 0 to N-1)
                       of the measurement, and print their counts and lengths as one line of
                       JSON; 'morvane-cli merge' puts the N shards together into what
                       --measure prints (needs --seed)

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
so 'morvane-cli battle --seed <that seed>' with the two deck lines replays it. A team
measured with --measure and the same --seed, --field, --side, --max-turns and
--final-battles plays the very battles the search's best team played, and gets the same
win rates; --budget, --keep, --owned, --unique, --ignore-size and --save belong to the
search and are refused with it.

On a terminal, stderr shows the progress. Ctrl-C ends the search and reports the best
team so far (a second Ctrl-C ends the program at once); it ends a measurement at once.
Exit status: 0 done (also when interrupted), 2 bad input (catalogue, deck line, field
file, owned-cards file, a start team that breaks a rule, option, or a card column that a
battle cannot read; one line names the file and line), 1 anything else (--save failed).
)";

namespace {

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

std::string sizeText(const CardCatalogue& catalogue, const SideSelection& team) {
    int64_t total = 0;
    for (const int32_t id : team.characters)
        total += catalogue.character(id).size;
    return std::string("Size ").append(std::to_string(total)) + "(" +
           std::to_string(catalogue.vehicle(team.vehicle).size) + ")";
}

// The vehicle, then slots 1 to 8, by name.
std::vector<std::string> cardNames(const CardCatalogue& catalogue, const SideSelection& team) {
    std::vector<std::string> names{cp932ToUtf8(catalogue.vehicle(team.vehicle).name)};
    for (const int32_t id : team.characters)
        names.push_back(cp932ToUtf8(catalogue.character(id).name));
    return names;
}

// The search's progress line on a terminal, redrawn in place at most ten times a second.
class SearchProgressLine {
public:
    explicit SearchProgressLine(bool shown) : shown_(shown) {}
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

// "#3 on top" or "#3 below", padded to the width of the label column.
std::string pairingLabel(const Field& field, size_t pairing) {
    std::string label = std::string("#").append(std::to_string(field.deckOf(pairing) + 1)) +
                        (field.teamSideOf(pairing) == 0 ? " on top" : " below");
    label.resize(14, ' ');
    return label;
}

// The field by number, below a result table.
void printFieldLegend(const std::vector<std::string>& lines, const std::vector<std::string>& sources) {
    std::cout << "\n(#N on top: the team on top against field deck N below it; #N below: the other way round)\n";
    for (size_t d = 0; d < lines.size(); ++d)
        std::cout << "  #" << d + 1 << "  " << lines[d] << "  " << sources[d] << "\n";
}

// Which side of which field deck each pairing is; Field needs only the deck count.
Field fieldLayout(size_t decks, PlaySide side) {
    Field field;
    field.decks.resize(decks);
    field.side = side;
    return field;
}

// The options that steer the search, which a measurement alone would silently ignore.
void refuseSearchOptions(const Options& options) {
    for (const char* name : {"--budget", "--keep", "--owned", "--save"})
        if (options.value(name))
            throw UsageError(std::string("--measure plays no search: ") + name + " is an option of the search");
    for (const char* name : {"--unique", "--ignore-size"})
        if (options.flag(name))
            throw UsageError(std::string("--measure plays no search: ") + name + " is an option of the search");
}

struct MeasureSetup {
    const CardCatalogue& catalogue;
    std::filesystem::path cards;
    const Options& options;
    const OptimizeRequest& request; // start, field, threads, seed, turn cap
    const std::vector<FieldDeck>& field;
    std::filesystem::path fieldPath;
    uint64_t finalBattles = 0;
    std::optional<Shard> shard;
};

// --measure and --shard: the team's battles of the final measurement, or a shard's.
int measureOnly(const MeasureSetup& m) {
    const OptimizeRequest& request = m.request;
    const Shard shard = m.shard.value_or(Shard{});
    const uint64_t total = m.finalBattles * request.field.pairings();
    ProgressLine progress;
    const uint64_t mine = shardBattles(total, shard.index, shard.count);
    std::function<void(uint64_t)> onProgress;
    if (progress.shown())
        onProgress = [&](uint64_t done) {
            progress.update([&] { return battlesProgressText("measure", done, mine, progress.seconds()); });
        };
    const auto start = std::chrono::steady_clock::now();
    BattleRunner runner(m.catalogue, request.field, request.threads, request.maxTurns);
    const FieldScore score =
        measureTeam(runner, request.start, request.seed, shard.index, total, shard.count, onProgress);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress.wipe();

    MeasureRun run;
    run.team = cp932ToUtf8(formatDeckLine(request.start, 0));
    run.teamSize = sizeText(m.catalogue, request.start);
    run.teamCards = cardNames(m.catalogue, request.start);
    for (const FieldDeck& deck : m.field) {
        run.field.push_back(cp932ToUtf8(deck.line));
        run.sources.push_back(deck.where);
    }
    run.fieldFile = m.fieldPath.string();
    run.side = request.field.side;
    run.finalBattles = m.finalBattles;
    run.seed = request.seed;
    run.maxTurns = request.maxTurns;
    run.pairings = score.pairings;
    for (const TurnHistogram& lengths : score.lengths)
        run.lengths.merge(lengths);
    run.turnsTotal = run.lengths.turns();
    run.threads = runner.threads();
    run.seconds = seconds;

    if (!m.shard) {
        printMeasurement(run, m.options.flag("--json"));
        return ExitOk;
    }
    PartialResult partial;
    partial.run.command = "optimize";
    partial.run.battles = m.finalBattles;
    partial.run.seed = request.seed;
    partial.run.maxTurns = request.maxTurns;
    partial.run.catalogue = catalogueDigestOf(m.cards);
    partial.run.decks.push_back(run.team);
    partial.run.decks.insert(partial.run.decks.end(), run.field.begin(), run.field.end());
    partial.run.shards = shard.count;
    partial.run.side = sideName(run.side);
    partial.shard = shard.index;
    partial.cardsOption = m.options.value("--cards");
    partial.decksFile = run.fieldFile;
    for (size_t p = 0; p < score.pairings.size(); ++p) {
        const ScoreTally& t = score.pairings[p];
        partial.pairings.push_back({t.battles, t.wins, t.battles - t.wins - t.undecided, t.undecided,
                                    score.lengths[p].turns(), score.lengths[p]});
    }
    partial.threads = run.threads;
    partial.seconds = run.seconds;
    partial.sources = run.sources;
    partial.teamSize = run.teamSize;
    partial.teamCards = run.teamCards;
    std::cout << partialJson(partial) << std::endl;
    return ExitOk;
}

} // namespace

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

void printMeasurement(const MeasureRun& run, bool json) {
    const Field layout = fieldLayout(run.field.size(), run.side);
    ScoreTally total;
    uint64_t battles = 0;
    for (const ScoreTally& t : run.pairings) {
        total.merge(t);
        battles += t.battles;
    }
    const double battlesPerSecond = run.seconds > 0 ? double(battles) / run.seconds : 0.0;
    const double turnsMean = battles ? double(run.turnsTotal) / double(battles) : 0.0;

    if (json) {
        std::string names;
        for (const std::string& name : run.teamCards)
            names += (names.empty() ? "" : ", ") + jsonString(name);
        std::string decks;
        for (size_t d = 0; d < run.field.size(); ++d) {
            decks += std::string(d ? ", " : "") + "{\"deck\": " + std::to_string(d + 1) +
                     ", \"line\": " + jsonString(run.field[d]) + ", \"source\": " + jsonString(run.sources[d]);
            for (size_t p = 0; p < run.pairings.size(); ++p)
                if (layout.deckOf(p) == d)
                    decks += std::string(", \"") + (layout.teamSideOf(p) == 0 ? "top" : "bottom") +
                             "\": " + jsonTally(run.pairings[p]);
            decks += "}";
        }
        std::cout << "{\"team\": " << jsonString(run.team) << ", \"team_cards\": [" << names << "]"
                  << ", \"score\": " << jsonTally(total) << ", \"field\": [" << decks << "]"
                  << R"(, "side": ")" << sideName(run.side) << R"(", "final_battles": )" << run.finalBattles
                  << ", \"battles\": " << battles << ", \"turns_total\": " << run.turnsTotal
                  << ", \"turns_mean\": " << jsonNumber(turnsMean)
                  << ", \"turns_median\": " << jsonNumber(run.lengths.median())
                  << ", \"turns_max\": " << run.lengths.max() << ", \"threads\": " << run.threads
                  << ", \"seed\": " << run.seed << ", \"max_turns\": " << run.maxTurns
                  << ", \"seconds\": " << jsonNumber(run.seconds)
                  << ", \"battles_per_second\": " << jsonNumber(battlesPerSecond) << "}" << std::endl;
        return;
    }

    std::string names;
    for (const std::string& name : run.teamCards)
        names += (names.empty() ? "" : " / ") + name;
    std::cout << "measure:  " << run.field.size() << " field decks from " << run.fieldFile << ", side "
              << sideName(run.side) << ", seed " << run.seed << ", " << run.threads
              << (run.threads == 1 ? " thread" : " threads") << "\n"
              << "team:     " << run.team << "  " << run.teamSize << "\n"
              << "          " << names << "\n"
              << "measured: " << battles << " battles, " << fixedText(run.seconds, 1) << " s ("
              << fixedText(battlesPerSecond, 0) << " battles/s)\n"
              << "turns:    mean " << fixedText(turnsMean, 2) << ", median " << fixedText(run.lengths.median(), 1)
              << ", longest " << run.lengths.max() << "\n\n"
              << "win rate on fresh seeds, " << run.finalBattles << " battles per field deck and side:\n"
              << "                  team\n"
              << "  all             " << scoreColumn(total) << "\n";
    for (size_t p = 0; p < run.pairings.size(); ++p)
        std::cout << "  " << pairingLabel(layout, p) << "  " << scoreColumn(run.pairings[p]) << "\n";
    printFieldLegend(run.field, run.sources);
}

int runOptimize(const std::vector<std::string>& args) {
    const Options options(args,
                          {"--cards", "--deck", "--field", "--side", "--budget", "--threads", "--seed", "--keep",
                           "--owned", "--max-turns", "--final-battles", "--save", "--shard"},
                          {"--unique", "--ignore-size", "--json", "--measure", "--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << OptimizeUsage;
        return ExitOk;
    }
    if (!options.positional().empty())
        throw UsageError("unexpected argument '" + options.positional().front() + "'");
    if (!options.value("--field"))
        throw UsageError("optimize needs --field FILE (morvane-cli optimize --help)");
    const std::optional<Shard> shard = shardOption(options);
    const bool measure = shard || options.flag("--measure");
    if (measure)
        refuseSearchOptions(options);

    OptimizeRequest request;
    request.field.side = options.value("--side") ? parseSide(*options.value("--side")) : PlaySide::Both;
    if (auto value = options.value("--budget"))
        request.budget = static_cast<uint64_t>(parseCount("--budget", *value, 1, 2000000000));
    request.threads = threadsOption(options);
    request.seed = seedOption(options);
    request.maxTurns = maxTurnsOption(options);
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
    if (measure)
        return measureOnly({catalogue, cards, options, request, field, fieldPath, finalBattles, shard});
    try {
        TeamSpace(catalogue, request.rules, request.start).check(request.start);
    } catch (MorvaneError& e) {
        e.setWhere(start.where);
        throw;
    }

    // Ctrl-C ends the search, whose best team is still measured; a second one ends the
    // program at once.
    std::atomic<bool>& interrupted = catchInterrupts();
    SearchProgressLine progress(::isatty(STDERR_FILENO) == 1);
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
    if (auto save = options.value("--save"))
        savedEntry = listNumberText(appendToDeckFile(*save, result.best));

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
    for (size_t p = 0; p < pairings; ++p)
        std::cout << "  " << pairingLabel(request.field, p) << "  " << scoreColumn(best.pairings[p], 32) << "  "
                  << scoreColumn(initial.pairings[p]) << "\n";
    std::vector<std::string> lines;
    std::vector<std::string> sources;
    for (const FieldDeck& deck : field) {
        lines.push_back(cp932ToUtf8(deck.line));
        sources.push_back(deck.where);
    }
    printFieldLegend(lines, sources);
    if (savedEntry)
        std::cout << "saved:    " << *options.value("--save") << ", list number " << *savedEntry << "\n";
    return ExitOk;
}

} // namespace morvane::cli
