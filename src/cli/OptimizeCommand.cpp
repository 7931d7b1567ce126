#include "cards/Team.h"
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/ProgressLine.h"
#include "cli/RunResults.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Json.h"
#include "optimize/Optimization.h"
#include "runs/Shards.h"

#include <atomic>
#include <cstdio>
#include <iostream>

namespace morvane::cli {

const char* const OptimizeUsage =
    R"(usage: morvane-cli optimize [--cards FILE] [--deck DECKLINE] --field FILE [--side top|bottom|both]
                            [--budget BATTLES] [--threads T] [--seed S] [--keep SLOTS] [--owned FILE]
                            [--unique] [--ignore-size] [--prefer-variety] [--max-turns N]
                            [--final-battles N] [--json] [--save FILE] [--measure] [--shard K/N]

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
  --prefer-variety     at a local optimum holding three or more copies of a character, take
                       a team with one copy fewer where that is not shown to be worse (as
                       'morvane-cli balance' searches)
  --max-turns N        a battle still running after N turns is undecided and counts as not
                       won (default 10000)
  --final-battles N    battles per field deck and side of the final measurement (default 1000;
                       at most 2147483648 divided by the number of field decks and sides)
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

// "  97.99%  97.76% to 98.20%", padded to width when one follows.
std::string scoreColumn(const Tally& t, size_t width = 0) {
    std::string rate = percentText(t.winRate());
    rate.insert(0, rate.size() < 7 ? 7 - rate.size() : 0, ' ');
    std::string text = rate + "  " + intervalText(t.winInterval());
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
        std::cout << "  #" << d + 1 << "  " << escapeControls(lines[d]) << "  " << escapeControls(sources[d]) << "\n";
}

// The field decks by number with each side's figures, for the JSON outputs.
Json fieldJson(const std::vector<std::string>& lines, const std::vector<std::string>& sources, const Field& layout,
               const std::function<Json(size_t pairing)>& figures) {
    Json decks = Json::array();
    for (size_t d = 0; d < lines.size(); ++d) {
        Json deck = {{"deck", d + 1}, {"line", lines[d]}, {"source", sources[d]}};
        for (size_t p = 0; p < layout.pairings(); ++p)
            if (layout.deckOf(p) == d)
                deck[layout.teamSideOf(p) == 0 ? "top" : "bottom"] = figures(p);
        decks.push_back(deck);
    }
    return decks;
}

// The options that steer the search, which a measurement alone would silently ignore.
void refuseSearchOptions(const Options& options) {
    for (const char* name : {"--budget", "--keep", "--owned", "--save"})
        if (options.value(name))
            throw UsageError(std::string("--measure plays no search: ") + name + " is an option of the search");
    for (const char* name : {"--unique", "--ignore-size", "--prefer-variety"})
        if (options.flag(name))
            throw UsageError(std::string("--measure plays no search: ") + name + " is an option of the search");
}

// What the measurement of a team prints: the team and the field as the user gave them.
MeasureRun measureRecord(const CardCatalogue& catalogue, const OptimizeRequest& request,
                         const std::vector<DeckSource>& field, const std::filesystem::path& fieldPath,
                         uint64_t finalBattles, const Options& options) {
    MeasureRun run;
    run.team = cp932ToUtf8(formatDeckLine(request.start, 0));
    run.teamSize = sizeText(catalogue, request.start);
    run.teamCards = cardNames(catalogue, request.start);
    for (const DeckSource& deck : field) {
        run.field.push_back(cp932ToUtf8(deck.line));
        run.sources.push_back(deck.where);
    }
    run.fieldFile = fieldPath.string();
    run.cardsOption = options.value("--cards");
    run.side = request.field.side;
    run.finalBattles = finalBattles;
    run.seed = request.seed;
    run.maxTurns = request.maxTurns;
    return run;
}

// --measure and --shard: the team's battles of the final measurement, or a shard's.
int measureOnly(const CardCatalogue& catalogue, const std::string& digest, const OptimizeRequest& request,
                MeasureRun run, const std::optional<Shard>& shard, bool json) {
    const Shard part = shard.value_or(Shard{});
    const uint64_t total = run.finalBattles * request.field.pairings();
    ProgressLine progress;
    const uint64_t mine = shardBattles(total, part.index, part.count);
    std::function<void(uint64_t)> onProgress;
    if (progress.shown())
        onProgress = [&](uint64_t done) {
            progress.update([&] { return battlesProgressText("measure", done, mine, progress.seconds()); });
        };
    // The first Ctrl-C ends the measurement; what is counted by then is not the run asked for.
    const auto start = std::chrono::steady_clock::now();
    BattlePool pool(catalogue, request.field, request.threads, request.maxTurns);
    const FieldScore score = measureTeam(pool, request.start, request.seed, part.index, total, part.count, onProgress);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress.wipe();
    run.pairings = score.pairings;
    run.threads = pool.threads();

    if (!shard) {
        printMeasurement(run, json);
        return ExitOk;
    }
    std::cout << partialJson({std::move(run), part.index, part.count, digest}) << std::endl;
    return ExitOk;
}

// Appends the found team to a deck file with the next list number; returns its entry.
// Under the file's lock, so that searches saving at once each keep their team.
std::string saveTeam(const std::filesystem::path& path, const SideSelection& team) {
    return listNumberText(appendToDeckFile(path, team));
}

} // namespace

void printMeasurement(const MeasureRun& run, bool json) {
    const Field layout = run.layout();
    const Tally total = run.total();
    const double battlesPerSecond = run.seconds > 0 ? double(total.battles) / run.seconds : 0.0;

    if (json) {
        const Json out = {
            {"team", run.team},
            {"team_cards", run.teamCards},
            {"score", tallyJson(total)},
            {"field", fieldJson(run.field, run.sources, layout, [&](size_t p) { return tallyJson(run.pairings[p]); })},
            {"side", playSideName(run.side)},
            {"final_battles", run.finalBattles},
            {"battles", total.battles},
            {"turns_total", total.turnsTotal},
            {"turns_mean", total.turnsMean()},
            {"turns_median", total.lengths.median()},
            {"turns_max", total.lengths.max()},
            {"threads", run.threads},
            {"seed", run.seed},
            {"max_turns", run.maxTurns},
            {"seconds", run.seconds},
            {"battles_per_second", battlesPerSecond}};
        std::cout << jsonText(out) << std::endl;
        return;
    }

    std::string names;
    for (const std::string& name : run.teamCards)
        names += (names.empty() ? "" : " / ") + name;
    std::cout << "measure:  " << run.field.size() << " field decks from " << escapeControls(run.fieldFile) << ", side "
              << playSideName(run.side) << ", seed " << run.seed << ", " << threadsText(run.threads, run.shards) << "\n"
              << "team:     " << escapeControls(run.team) << "  " << run.teamSize << "\n"
              << "          " << escapeControls(names) << "\n"
              << "measured: " << total.battles << " battles, " << fixedText(run.seconds, 1) << " s ("
              << fixedText(battlesPerSecond, 0) << " battles/s)\n"
              << "turns:    mean " << fixedText(total.turnsMean(), 2) << ", median "
              << fixedText(total.lengths.median(), 1) << ", longest " << total.lengths.max() << "\n\n"
              << "win rate on fresh seeds, " << run.finalBattles << " battles per field deck and side:\n"
              << "                  team\n"
              << "  all             " << scoreColumn(total) << "\n";
    for (size_t p = 0; p < run.pairings.size(); ++p)
        std::cout << "  " << pairingLabel(layout, p) << "  " << scoreColumn(run.pairings[p]) << "\n";
    printFieldLegend(run.field, run.sources);
}

namespace {

// The search's settings as the options give them, before any file is read.
OptimizeRequest searchRequest(const Options& options, uint64_t& finalBattles) {
    OptimizeRequest request;
    if (auto side = options.value("--side")) {
        const std::optional<PlaySide> parsed = parsePlaySide(*side);
        if (!parsed)
            throw UsageError("--side wants top, bottom or both, not '" + *side + "'");
        request.field.side = *parsed;
    }
    if (auto value = options.value("--budget"))
        request.budget = static_cast<uint64_t>(parseCount("--budget", *value, 1, MaxSearchBudget));
    request.threads = threadsOption(options);
    request.seed = seedOption(options);
    request.maxTurns = maxTurnsOption(options);
    finalBattles = DefaultFinalBattles;
    if (auto value = options.value("--final-battles"))
        finalBattles = static_cast<uint64_t>(parseCount("--final-battles", *value, 1, 2147483648ll));
    if (auto value = options.value("--keep")) {
        const std::optional<KeptSlots> kept = parseKeptSlots(*value);
        if (!kept)
            throw UsageError("--keep wants slot names separated by commas (V, C01 to C08), not '" + *value + "'");
        request.rules.kept = *kept;
    }
    request.rules.unique = options.flag("--unique");
    request.rules.sizeRule = !options.flag("--ignore-size");
    request.tuning.preferVariety = options.flag("--prefer-variety");
    return request;
}

// The field decks of --field, applied to the catalogue, and the measurement they allow.
std::vector<DeckSource> readField(const std::filesystem::path& fieldPath, const CardCatalogue& catalogue,
                                  uint64_t finalBattles, OptimizeRequest& request) {
    std::vector<DeckSource> field = readDeckFileOption(fieldPath);
    if (field.empty())
        throw UsageError(fieldPath.string() + " holds no deck line; --field wants one opponent per line");
    request.field.decks = fieldDecks(field, catalogue);
    if (finalBattles > maxFinalBattles(request.field.pairings()))
        throw UsageError("--final-battles wants at most " + std::to_string(maxFinalBattles(request.field.pairings())) +
                         " with " + std::to_string(request.field.pairings()) +
                         " field decks and sides: more would replay the search's seeds");
    return field;
}

// The progress line of the search and its measurement, and Ctrl-C that ends the search.
OptimizationControl searchControl(ProgressLine& progress, std::atomic<bool>& interrupted) {
    OptimizationControl control;
    control.stopSearch = &interrupted;
    if (!progress.shown())
        return control;
    control.searching = [&progress](const OptimizeProgress& p) {
        progress.update([&] {
            const std::string best = p.bestTally.battles ? percentText(p.bestTally.winRate()) : std::string("-");
            char line[200];
            std::snprintf(line, sizeof line, "optimize: %llu of %llu battles, best so far %s (on %llu battles), %.1f s",
                          static_cast<unsigned long long>(p.battles), static_cast<unsigned long long>(p.budget),
                          best.c_str(), static_cast<unsigned long long>(p.bestTally.battles), p.seconds);
            return std::string(line);
        });
    };
    control.measuring = [&progress](uint64_t done, uint64_t total) {
        progress.update([&] {
            return battlesProgressText("optimize: measuring on fresh seeds,", done, total, progress.seconds());
        });
    };
    return control;
}

// What a finished search prints, in either form.
struct SearchOutcome {
    const CardCatalogue& catalogue;
    const OptimizeRequest& request;
    const Optimization& run;
    const MeasureRun& record;
    uint64_t finalBattles;
};

void printSearchJson(const SearchOutcome& o, const std::optional<std::string>& savePath,
                     const std::optional<std::string>& savedEntry) {
    const OptimizeResult& result = o.run.search;
    const Field& layout = o.request.field;
    const double battlesPerSecond = result.seconds > 0 ? double(result.battles) / result.seconds : 0.0;
    const Json out = {{"best", cp932ToUtf8(formatDeckLine(result.best, 0))},
                      {"best_cards", cardNames(o.catalogue, result.best)},
                      {"best_score", tallyJson(o.run.best.total())},
                      {"start", cp932ToUtf8(formatDeckLine(o.request.start, 0))},
                      {"start_score", tallyJson(o.run.start.total())},
                      {"field", fieldJson(o.record.field, o.record.sources, layout,
                                          [&](size_t p) {
                                              return Json{{"best", tallyJson(o.run.best.pairings[p])},
                                                          {"start", tallyJson(o.run.start.pairings[p])}};
                                          })},
                      {"side", playSideName(layout.side)},
                      {"final_battles", o.finalBattles},
                      {"budget", o.request.budget},
                      {"battles", result.battles},
                      {"candidates", result.candidates},
                      {"accepted", result.accepted},
                      {"restarts", result.restarts},
                      {"interrupted", result.cancelled},
                      {"threads", result.threads},
                      {"seed", o.request.seed},
                      {"max_turns", o.request.maxTurns},
                      {"seconds", result.seconds},
                      {"battles_per_second", battlesPerSecond},
                      {"measure_seconds", o.run.measureSeconds},
                      {"saved", savedEntry ? Json{{"file", *savePath}, {"list_number", *savedEntry}} : Json(nullptr)}};
    std::cout << jsonText(out) << std::endl;
}

void printSearchText(const SearchOutcome& o) {
    const OptimizeResult& result = o.run.search;
    const Field& layout = o.request.field;
    const double battlesPerSecond = result.seconds > 0 ? double(result.battles) / result.seconds : 0.0;
    std::string names;
    for (const std::string& name : cardNames(o.catalogue, result.best))
        names += (names.empty() ? "" : " / ") + name;
    std::cout << "optimize: " << o.record.field.size() << " field decks from " << escapeControls(o.record.fieldFile)
              << ", side " << playSideName(layout.side) << ", seed " << o.request.seed << ", "
              << threadsText(result.threads, 1) << "\n"
              << "start:    " << escapeControls(cp932ToUtf8(formatDeckLine(o.request.start, 0))) << "  "
              << sizeText(o.catalogue, o.request.start) << "\n"
              << "best:     " << escapeControls(cp932ToUtf8(formatDeckLine(result.best, 0))) << "  "
              << sizeText(o.catalogue, result.best) << "\n"
              << "          " << escapeControls(names) << "\n"
              << "search:   " << (result.cancelled ? "interrupted after " : "") << result.battles << " of "
              << o.request.budget << " battles, " << result.candidates << " teams raced, " << result.accepted
              << " accepted, " << result.restarts << " restarts, " << fixedText(result.seconds, 1) << " s ("
              << fixedText(battlesPerSecond, 0) << " battles/s)\n\n"
              << "win rate on fresh seeds, " << o.finalBattles << " battles per field deck and side:\n"
              << "                  best                              start\n"
              << "  all             " << scoreColumn(o.run.best.total(), 32) << "  " << scoreColumn(o.run.start.total())
              << "\n";
    for (size_t p = 0; p < layout.pairings(); ++p)
        std::cout << "  " << pairingLabel(layout, p) << "  " << scoreColumn(o.run.best.pairings[p], 32) << "  "
                  << scoreColumn(o.run.start.pairings[p]) << "\n";
    printFieldLegend(o.record.field, o.record.sources);
}

// Prints the search's outcome and saves its best team; the result is printed whatever
// becomes of the save: a team found in a long search must not be lost with a deck file
// that cannot be written.
int reportSearch(const SearchOutcome& outcome, const std::optional<std::string>& savePath, bool json) {
    std::optional<std::string> savedEntry;
    std::exception_ptr saveFailure;
    auto save = [&] {
        try {
            savedEntry = saveTeam(*savePath, outcome.run.search.best);
        } catch (...) {
            saveFailure = std::current_exception();
        }
    };
    if (json) {
        if (savePath)
            save();
        printSearchJson(outcome, savePath, savedEntry);
    } else {
        printSearchText(outcome);
        if (savePath) {
            std::cout.flush();
            save();
            if (savedEntry)
                std::cout << "saved:    " << escapeControls(*savePath) << ", list number " << *savedEntry << "\n";
        }
    }
    if (saveFailure) {
        reportKeptFailure(saveFailure);
        return ExitFailure;
    }
    return ExitOk;
}

} // namespace

int runOptimize(const std::vector<std::string>& args) {
    const Options options(args,
                          {"--cards", "--deck", "--field", "--side", "--budget", "--threads", "--seed", "--keep",
                           "--owned", "--max-turns", "--final-battles", "--save", "--shard"},
                          {"--unique", "--ignore-size", "--prefer-variety", "--json", "--measure", "--help", "-h"});
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
    uint64_t finalBattles = 0;
    OptimizeRequest request = searchRequest(options, finalBattles);

    const std::filesystem::path cards = cardsPath(options);
    const std::optional<std::string> savePath = options.value("--save");
    if (savePath) {
        // A deck file (the field, the start team's) may take the team; nothing else read may.
        std::vector<RunInput> inputs{{"the catalogue", cards}};
        if (auto owned = options.value("--owned"))
            inputs.push_back({"the owned-cards file", *owned});
        checkRunOutput("--save", *savePath, inputs);
    }
    std::string digest;
    const CardCatalogue catalogue = loadCatalogue(cards, &digest);
    const DeckSource start =
        deckLine(options, "--deck", folderOf(cards), request.field.side == PlaySide::Bottom ? 1 : 0);
    request.start = applyDeckSource(start, catalogue);
    try {
        checkPlayable(catalogue, request.start);
    } catch (MorvaneError& e) {
        e.setWhere(start.where);
        throw;
    }
    const std::filesystem::path fieldPath = *options.value("--field");
    const std::vector<DeckSource> field = readField(fieldPath, catalogue, finalBattles, request);
    if (auto owned = options.value("--owned"))
        request.rules.owned = readInput([&] { return readOwnedCards(*owned, catalogue); });
    const MeasureRun record = measureRecord(catalogue, request, field, fieldPath, finalBattles, options);
    if (measure)
        return measureOnly(catalogue, digest, request, record, shard, options.flag("--json"));
    try {
        TeamSpace(catalogue, request.rules, request.start).check(request.start);
    } catch (MorvaneError& e) {
        e.setWhere(start.where);
        throw;
    }

    // Ctrl-C ends the search, whose best team is still measured; a second one ends the
    // program at once.
    std::atomic<bool>& interrupted = catchInterrupts();
    ProgressLine progress;
    const Optimization run = optimizeAndMeasure(catalogue, request, finalBattles, searchControl(progress, interrupted));
    progress.wipe();
    return reportSearch({catalogue, request, run, record, finalBattles}, savePath, options.flag("--json"));
}

} // namespace morvane::cli
