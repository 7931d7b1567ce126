#include "balance/Balance.h"
#include "balance/BalancePage.h"
#include "balance/Suggest.h"
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/ProgressLine.h"
#include "cli/RunResults.h"
#include "common/AtomicFile.h"
#include "common/Codec.h"
#include "common/Files.h"
#include "common/Json.h"
#include "optimize/Optimization.h"

#include <cstdio>
#include <iostream>

namespace morvane::cli {

const char* const BalanceUsage =
    R"(usage: morvane-cli balance [--cards FILE] [--field FILE] [--searches N] [--budget BATTLES]
                           [--max-searches N] [--threads T] [--seed S] [--final-battles N]
                           [--max-turns N] [--prefer-variety] [--json] [--html FILE]
                           [--suggest K [--rounds R] [--candidates N] [--renew-field]
                                        [--check]]

Shows how a card set plays, for its designer: runs N independent team searches (the
team optimizer, each from a random legal team with a seed of its own) against a field of
decks, and reports for every card how many of their best teams use it and with how many
copies, and what a best team loses when the card is replaced by the best other choice.
Each search is an independent draw of the best team a search finds, so every share of
best teams comes with its 99% interval, and a verdict is given only where the interval
is on one side of its line: a card decides too much when more than half of all best
teams use it, or more than a quarter hold three or more copies of it; nobody plays it
when fewer than one best team in six uses it. A card whose interval still holds a line
is listed as uncertain, with the searches that would settle it; while any is, the run
plays four more searches at a time, up to --max-searches. It gives the diversity of the
best teams (distinct characters and vehicles) and plays them against each other in a
league.

  --cards FILE         the card catalogue (default: card.dat in the program folder)
  --field FILE         the opponents, one deck line per line (default: the deck lines of
                       deck0.dat and deck1.dat beside the catalogue); every search plays each
                       field deck on both sides
  --searches N         independent searches, 1 to 64 (default 8)
  --max-searches N     further searches while a verdict is uncertain, up to N in all, 0 to
                       64 (default 36; at most --searches plays none)
  --budget BATTLES     battles of each search, 1 to 2000000000 (default 500000)
  --threads T          worker threads (default: one per core); the result does not depend on it
  --seed S             seed of the run, 0 to 4294967295 (default: the milliseconds of the time of day)
  --final-battles N    battles per field deck and side that measure each best team, and each
                       best team with a card replaced (default 500)
  --max-turns N        a battle still running after N turns is undecided and counts as not
                       won (default 10000)
  --prefer-variety     a search at a team holding three or more copies of a character,
                       which no change beats, tries teams with one copy fewer and takes
                       one that is not shown to be worse: a stack left in a best team is
                       then one the team needs, not one the search had no reason to break
  --suggest K          propose up to K changes of one field of one card (size, HP or
                       attack, a step at a time), each measured by the same analysis of
                       the set with the change (--searches searches, none further), ranked
                       by the objective below; prints them instead of the analysis
  --rounds R           apply the best change of each round and propose again from there,
                       1 to 50 rounds (default 1): a path from the set to a balanced one
  --candidates N       changes measured each round, 1 to 64 (default 12)
  --renew-field        before each round, make the field the strongest of its decks and
                       of the last analysis's best teams that hold no three copies of a
                       character (a league of 200 battles per ordered pair among them, at
                       most two decks a vehicle and a third of one main attack kind), as a
                       designer renews the decks a set is measured against; each round
                       prints the field it was measured on
  --check              where the chain finds the set on every target, check it with the
                       plain analysis (--searches, up to --max-searches, --budget) on
                       fresh seeds before believing it; with --renew-field a check that
                       misses adds its best teams to the field, and the next round
                       changes the cards its searches stack or lean on
  --json               print the result as one JSON object
  --html FILE          also write the report as one self-contained page (UTF-8, no scripts,
                       tables and bar charts) to FILE

Search k (from 1) runs exactly as 'morvane-cli optimize --deck START --field FIELD
--seed SEED --budget BATTLES' (and --prefer-variety) with the start team and seed the
report gives for it, so it can be replayed alone; its best team is measured on that
seed's fresh battles, as 'optimize --measure' measures it. The best teams of the
searches asked for (not those played to settle verdicts) are also taken apart: the best
other choice for a card is raced on further fresh battles of that seed, each candidate
against the others on the same battles, the better half going on with twice the battles
until one is left, and then measured on the very battles of its team. Every copy of the
card is replaced, and only by cards that keep the size rule. The league plays every
ordered pair of the distinct best teams 1000 times (fewer, down to 100, where that would
pass 300000 battles in all) with the run's seed, as 'morvane-cli league --seed S' plays
a file of them.

The objective of --suggest is 0 where every target is met: the points the strongest
best team wins above 80% against the field, + 5 for each best team holding three or
more copies of a character, + 2 for each character short of 16 distinct ones in the
best teams, + 5 for each vehicle short of 4. The changes tried are the pressing
characters' (stacked, or in half the teams or more) and the strongest team's (those
whose replacement costs most first), each attack -1, size +1 and HP -2: the strongest
team's first where its points above 80% weigh more than the stacks. Then the most used
vehicle's (HP -3) and, while too few are used, the unused vehicles' (size +2, HP +3)
and characters' (size -1). The chain stops when a change meets every target, or when
no change does better; with --renew-field it goes on past such a round while the field
still moves. A chain keeps the lowest of many noisy measurements, so a set it finds on
target is partly there by luck: --check runs 'balance' on that set and field with the
seed it prints, and the chain ends only where the check meets every target too.

On a terminal, stderr shows the progress. Ctrl-C ends the searches (the one under way
keeps its best team so far) and analyses the teams found by then; a second Ctrl-C ends
the program at once.
Exit status: 0 done (also when interrupted), 2 bad input (catalogue, field file or deck
line, option, or a card column that a battle cannot read), 1 anything else (the page
cannot be written).
)";

namespace {

constexpr uint64_t LeagueBattles = 1000;

std::string cardCode(const CardBalance& c) {
    return morvane::cardCode(c.vehicle, c.id);
}

std::string deckText(const SideSelection& team) {
    return cp932ToUtf8(formatDeckLine(team, 0));
}

std::string padded(std::string text, size_t width) {
    // Display width of UTF-8 text, counting a character of three bytes or more as two
    // columns, as a terminal draws the Japanese names.
    size_t columns = 0;
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if ((c & 0xC0) == 0x80)
            continue;
        columns += c >= 0xE0 ? 2 : 1;
    }
    if (columns < width)
        text.append(width - columns, ' ');
    return text + " ";
}

// Loads the field: FILE, or the deck lines of both deck files beside the catalogue.
std::vector<DeckSource> fieldSources(const Options& options, const std::filesystem::path& cards) {
    if (auto path = options.value("--field")) {
        std::vector<DeckSource> field = readDeckFileOption(*path);
        if (field.empty())
            throw UsageError(*path + " holds no deck line; --field wants one opponent per line");
        return field;
    }
    std::vector<DeckSource> field;
    for (int side = 0; side < 2; ++side)
        for (DeckSource& deck : readDeckFileOption(deckFilePath(folderOf(cards), side)))
            field.push_back(std::move(deck));
    return field;
}

std::string commandText(const Options& options, const BalanceRequest& request) {
    std::string command = "morvane-cli balance";
    for (const char* name : {"--cards", "--field"})
        if (auto value = options.value(name))
            command += std::string(" ") + name + " " + shellWord(*value);
    command += " --searches " + std::to_string(request.searches) + " --max-searches " +
               std::to_string(request.maxSearches) + " --budget " + std::to_string(request.budget) + " --seed " +
               std::to_string(request.seed) + " --final-battles " + std::to_string(request.finalBattles);
    if (request.maxTurns != DefaultMaxTurns)
        command += " --max-turns " + std::to_string(request.maxTurns);
    if (request.preferVariety)
        command += " --prefer-variety";
    return command;
}

const char* verdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::DecidesTooMuch:
        return "decides_too_much";
    case Verdict::Unplayed:
        return "unplayed";
    case Verdict::Uncertain:
        return "uncertain";
    case Verdict::Fine:
        break;
    }
    return "fine";
}

Json verdictJson(const CardVerdict& v) {
    static constexpr const char* Questions[] = {nullptr, "use", "stack", "rare"};
    Json out = {{"verdict", verdictName(v.verdict)}};
    if (v.verdict == Verdict::Uncertain) {
        out["question"] = Questions[v.question];
        out["line"] = v.line;
        out["searches_to_settle"] = v.searchesToSettle ? Json(v.searchesToSettle) : Json(nullptr);
    }
    return out;
}

// A share of best teams as whole percents: "51% to 85%".
std::string sharesText(const Interval& i) {
    return fixedText(i.low * 100.0, 0).append("% to ").append(fixedText(i.high * 100.0, 0)).append("%");
}

// An open card in its question's line: "C013 16/24 (35)", the searches in all that would
// settle it in brackets, "-" where none would.
std::string openText(const CardBalance& c) {
    const CardVerdict v = c.verdict();
    std::string text = cardCode(c) + " " + std::to_string(v.question == CardVerdict::Stack ? c.stacked() : c.teams()) +
                       "/" + std::to_string(c.copies.size());
    return text.append(" (").append(v.searchesToSettle ? std::to_string(v.searchesToSettle) : "-").append(")");
}

Json cardJson(const CardCatalogue& catalogue, const CardBalance& c) {
    Json others = Json::array();
    for (const int32_t id : c.replacements)
        others.push_back(id ? Json(morvane::cardCode(c.vehicle, id)) : Json(nullptr));
    Json verdict = verdictJson(c.verdict());
    return {{"card", cardCode(c)},
            {"name", cardNameText(catalogue, c.vehicle, c.id)},
            {"teams", c.teams()},
            {"use_ci", intervalJson(c.useInterval())},
            {"stacked", c.stacked()},
            {"stack_ci", c.vehicle ? Json(nullptr) : intervalJson(c.stackInterval())},
            {"verdict", verdict},
            {"copies", c.copies},
            {"loss", c.measured() ? Json(c.loss()) : Json(nullptr)},
            {"loss_ci", c.measured() ? intervalJson(c.lossInterval()) : Json(nullptr)},
            {"kept", tallyJson(c.kept)},
            {"replaced", tallyJson(c.replaced)},
            {"best_other", others}};
}

void printJson(const BalanceReport& r, const CardCatalogue& catalogue, const std::vector<DeckSource>& field,
               const std::string& cards, const std::optional<std::string>& html) {
    Json fieldDecks = Json::array();
    for (size_t d = 0; d < field.size(); ++d)
        fieldDecks.push_back({{"deck", d + 1}, {"line", cp932ToUtf8(field[d].line)}, {"source", field[d].where}});
    Json teams = Json::array();
    for (size_t k = 0; k < r.searches.size(); ++k) {
        const BalanceSearch& s = r.searches[k];
        teams.push_back({{"search", k + 1},
                         {"seed", s.seed},
                         {"start", deckText(s.start)},
                         {"best", deckText(s.result.best)},
                         {"best_cards", cardNames(catalogue, s.result.best)},
                         {"score", tallyJson(s.score.total())},
                         {"battles", s.result.battles},
                         {"restarts", s.result.restarts}});
    }
    Json cardList = Json::array();
    for (const auto* table : {&r.characters, &r.vehicles})
        for (const CardBalance& c : *table)
            cardList.push_back(cardJson(catalogue, c));
    auto codes = [](const std::vector<const CardBalance*>& list) {
        Json out = Json::array();
        for (const CardBalance* c : list)
            out.push_back(cardCode(*c));
        return out;
    };
    int mostCopies = 0;
    for (const CardBalance& c : r.characters)
        mostCopies = std::max(mostCopies, c.mostCopies());
    const BalanceLeague& l = r.league;
    Json leagueTeams = Json::array();
    Json matrix = Json::array();
    for (size_t a = 0; a < l.teams.size(); ++a) {
        Json found = Json::array();
        for (size_t k = 0; k < l.teamOf.size(); ++k)
            if (l.teamOf[k] == a)
                found.push_back(k + 1);
        Json score = tallyJson(l.record(a));
        score["win_rate_ci"] = intervalJson(l.winInterval(a));
        leagueTeams.push_back({{"team", a + 1}, {"line", deckText(l.teams[a])}, {"searches", found}, {"score", score}});
        Json row = Json::array();
        for (size_t b = 0; b < l.teams.size(); ++b)
            row.push_back(a == b || l.pairings.empty() ? Json(nullptr) : Json(l.against(a, b).winRate()));
        matrix.push_back(row);
    }
    const Json out = {
        {"cards", cards},
        {"field", fieldDecks},
        {"side", playSideName(r.request.field.side)},
        {"searches", r.request.searches},
        {"searches_run", r.searches.size()},
        {"max_searches", r.request.maxSearches},
        {"prefer_variety", r.request.preferVariety},
        {"extra_searches", r.extraSearches()},
        {"verdict_lines",
         {{"confidence", 0.99},
          {"decisive_use", DecisiveUse},
          {"decisive_stack", DecisiveStack},
          {"stack_copies", StackCopies},
          {"unplayed_use", UnplayedUse}}},
        {"budget", r.request.budget},
        {"seed", r.request.seed},
        {"final_battles", r.request.finalBattles},
        {"max_turns", r.request.maxTurns},
        {"interrupted", r.interrupted},
        {"teams", teams},
        {"strongest", r.strongest()},
        {"diversity",
         {{"characters", r.distinctCharacters()}, {"vehicles", r.distinctVehicles()}, {"most_copies", mostCopies}}},
        {"decide_too_much", codes(r.decisive())},
        {"unplayed", codes(r.unplayed())},
        {"uncertain", codes(r.uncertain())},
        {"card_list", cardList},
        {"league", {{"battles_per_pair", r.league.battles}, {"teams", leagueTeams}, {"matrix", matrix}}},
        {"threads", r.threads},
        {"seconds", r.seconds},
        {"html", html ? Json(*html) : Json(nullptr)}};
    std::cout << jsonText(out) << std::endl;
}

void printVerdicts(const BalanceReport& r, const CardCatalogue& catalogue) {
    const size_t searches = r.searches.size();
    auto name = [&](const CardBalance* c) { return cardCode(*c) + " " + cardNameText(catalogue, c->vehicle, c->id); };
    auto list = [&](const std::vector<const CardBalance*>& cards, bool counts) {
        if (cards.empty())
            return std::string("none");
        std::string text;
        for (const CardBalance* c : cards) {
            text += (text.empty() ? "" : ", ") + name(c);
            if (counts)
                text += " (" + std::to_string(c->teams()) + " of " + std::to_string(searches) + " teams, " +
                        sharesText(c->useInterval()) + "; up to " + std::to_string(c->mostCopies()) +
                        (c->mostCopies() == 1 ? " copy)" : " copies)");
        }
        return text;
    };
    std::cout << "verdicts at 99% confidence from " << searches << " searches";
    if (r.extraSearches() > 0)
        std::cout << " (" << r.extraSearches() << " played to settle them)";
    std::cout << ":\ndecide too much: " << escapeControls(list(r.decisive(), true)) << "\n"
              << "nobody plays:    " << escapeControls(list(r.unplayed(), false)) << "\n";
    const auto open = r.uncertain();
    if (open.empty()) {
        std::cout << "uncertain:       none\n\n";
        return;
    }
    std::cout << "uncertain, with the searches in all that would settle each if its share stayed:\n";
    static constexpr std::pair<CardVerdict::Question, const char*> Questions[] = {
        {CardVerdict::Use, "  more than half of the teams use it?   "},
        {CardVerdict::Stack, "  more than a quarter hold 3+ copies?   "},
        {CardVerdict::Rare, "  fewer than one team in six uses it?   "}};
    for (const auto& [question, heading] : Questions) {
        std::string line;
        for (const CardBalance* c : open)
            if (c->verdict().question == question)
                line.append(line.empty() ? "" : ", ").append(openText(*c));
        if (!line.empty())
            std::cout << heading << line << "\n";
    }
    std::cout << "\n";
}

void printCardTable(const BalanceReport& r, const CardCatalogue& catalogue) {
    std::cout << "cards in the best teams: teams that use it and 99% interval of the share, teams with 3+\n"
              << "copies, and the win rate (points) lost when every copy is replaced by the best other card,\n"
              << "on the same fresh seeds:\n"
              << "  card  teams  use 99% CI     3+  loss    95% CI           best other\n";
    for (const auto* table : {&r.characters, &r.vehicles}) {
        for (const CardBalance& c : *table) {
            if (c.teams() == 0)
                continue;
            std::string copies;
            for (const int n : c.copies)
                copies.append(copies.empty() ? "" : " ").append(std::to_string(n));
            std::string others;
            for (const int32_t id : c.replacements)
                if (id)
                    others += (others.empty() ? "" : ", ") + cardNameText(catalogue, c.vehicle, id);
            std::string loss = "-";
            std::string interval = "no other card fits";
            if (c.measured()) {
                loss = pointsText(c.loss());
                interval = pointsText(c.lossInterval().low) + " to " + pointsText(c.lossInterval().high);
            }
            std::cout << "  " << cardCode(c) << "  " << padded(std::to_string(c.teams()), 5) << " "
                      << padded(sharesText(c.useInterval()), 13) << " "
                      << padded(c.vehicle ? "-" : std::to_string(c.stacked()), 3) << " " << padded(loss, 7) << " "
                      << padded(interval, 16) << " " << escapeControls(others) << "\n"
                      << "        " << escapeControls(cardNameText(catalogue, c.vehicle, c.id))
                      << "  copies by search: " << copies << "\n";
        }
    }
}

void printText(const BalanceReport& r, const CardCatalogue& catalogue, const std::vector<DeckSource>& field,
               const std::optional<std::string>& html) {
    const size_t searches = r.searches.size();
    std::cout << "balance:  " << searches << " searches of " << r.request.budget << " battles against " << field.size()
              << " field decks, side " << playSideName(r.request.field.side) << ", seed " << r.request.seed << ", "
              << threadsText(r.threads, 1) << ", " << fixedText(r.seconds, 1) << " s"
              << (r.interrupted ? " (interrupted)" : "") << "\n\n"
              << "best teams on fresh seeds, " << r.request.finalBattles << " battles per field deck and side:\n"
              << "  search  seed        win rate  95% CI                deck line\n";
    for (size_t k = 0; k < searches; ++k) {
        const BalanceSearch& s = r.searches[k];
        const Tally t = s.score.total();
        std::string names;
        for (const std::string& name : cardNames(catalogue, s.result.best))
            names += (names.empty() ? "" : " / ") + name;
        std::cout << "  " << padded(std::to_string(k + 1), 6) << " " << padded(std::to_string(s.seed), 10) << " "
                  << padded(percentText(t.winRate()), 8) << " " << padded(intervalText(t.winInterval()), 21) << " "
                  << escapeControls(deckText(s.result.best)) << "\n"
                  << std::string(52, ' ') << escapeControls(names) << "\n";
    }
    int mostCopies = 0;
    for (const CardBalance& c : r.characters)
        mostCopies = std::max(mostCopies, c.mostCopies());
    std::cout << "\ndiversity: " << r.distinctCharacters() << " of " << r.characters.size() << " characters and "
              << r.distinctVehicles() << " of " << r.vehicles.size() << " vehicles in the best teams; at most "
              << mostCopies << " copies of a character in one team\n";
    printVerdicts(r, catalogue);
    printCardTable(r, catalogue);
    const BalanceLeague& l = r.league;
    if (!l.pairings.empty()) {
        std::cout << "\nleague of the " << l.teams.size() << " distinct best teams, " << l.battles
                  << " battles per ordered pair:\n  team  win rate  95% CI                searches  deck line\n";
        for (size_t a = 0; a < l.teams.size(); ++a) {
            const Tally t = l.record(a);
            std::string found;
            for (size_t k = 0; k < l.teamOf.size(); ++k)
                if (l.teamOf[k] == a)
                    found.append(found.empty() ? "" : ",").append(std::to_string(k + 1));
            std::cout << "  #" << padded(std::to_string(a + 1), 3) << " " << padded(percentText(t.winRate()), 8) << " "
                      << padded(intervalText(l.winInterval(a)), 21) << " " << padded(found, 8) << " "
                      << escapeControls(deckText(l.teams[a])) << "\n";
        }
    }
    std::cout << "\nfield:\n";
    for (size_t d = 0; d < field.size(); ++d)
        std::cout << "  #" << d + 1 << "  " << escapeControls(cp932ToUtf8(field[d].line)) << "  "
                  << escapeControls(field[d].where) << "\n";
    if (html)
        std::cout << "html:     " << escapeControls(*html) << "\n";
}

Json figuresJson(const BalanceFigures& f) {
    return {{"objective", f.objective},
            {"strongest", f.strongest},
            {"strongest_ci", intervalJson(f.strongestInterval)},
            {"stacking_teams", f.stackingTeams},
            {"characters", f.distinctCharacters},
            {"vehicles", f.distinctVehicles},
            {"decide_too_much", f.decisive},
            {"unplayed", f.unplayed}};
}

std::string figuresText(const BalanceFigures& f) {
    return "objective " + fixedText(f.objective, 1) + ": strongest " + percentText(f.strongest) + " (" +
           intervalText(f.strongestInterval) + "), " + "best teams with 3+ copies " + std::to_string(f.stackingTeams) +
           ", " + std::to_string(f.distinctCharacters) + " characters and " + std::to_string(f.distinctVehicles) +
           " vehicles used";
}

std::string changeText(const FieldChange& c) {
    return morvane::cardCode(c.kind == 'V', c.id) + " " + c.field + " " + std::to_string(c.from) + " -> " +
           std::to_string(c.to);
}

int runSuggest(const Options& options, BalanceRequest request, const std::filesystem::path& cards, long long proposals,
               const std::optional<std::string>& html) {
    SuggestRequest suggest;
    if (options.flag("--check"))
        suggest.check = request;                      // the plain run, further searches and all
    const unsigned maxSearches = request.maxSearches; // which the command that repeats the run keeps
    suggest.analysis = std::move(request);
    suggest.analysis.maxSearches = suggest.analysis.searches; // each measurement alike, none further
    suggest.proposals = static_cast<unsigned>(proposals);
    if (auto value = options.value("--rounds"))
        suggest.rounds = static_cast<unsigned>(parseCount("--rounds", *value, 1, 50));
    if (auto value = options.value("--candidates"))
        suggest.candidates = static_cast<unsigned>(parseCount("--candidates", *value, 1, 64));
    suggest.renewField = options.flag("--renew-field");
    const std::string bytes = readInput([&] { return readFileBytes(cards); });
    std::atomic<bool>& interrupted = catchInterrupts();
    ProgressLine progress;
    const auto started = std::chrono::steady_clock::now();
    const std::vector<SuggestRound> rounds =
        suggestChanges(bytes, suggest, &interrupted, [&](const SuggestProgress& p) {
            if (progress.shown())
                progress.update([&] {
                    if (p.checking)
                        return "balance: round " + std::to_string(p.round + 1) + ", check on fresh seeds";
                    return "balance: round " + std::to_string(p.round + 1) + ", change " +
                           std::to_string(p.candidate + 1) + " of " + std::to_string(p.candidates);
                });
        });
    progress.wipe();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (html) {
        BalanceSources sources;
        sources.cards = cards.string();
        BalanceRequest asGiven = suggest.analysis;
        asGiven.maxSearches = maxSearches;
        sources.command = commandText(options, asGiven) + " --suggest " + std::to_string(proposals) + " --rounds " +
                          std::to_string(suggest.rounds) + " --candidates " + std::to_string(suggest.candidates) +
                          (suggest.renewField ? " --renew-field" : "") + (suggest.check ? " --check" : "");
        writeFileAtomic(*html, suggestionsPage(rounds, sources));
    }
    if (options.flag("--json")) {
        Json out = Json::array();
        for (const SuggestRound& r : rounds) {
            Json list = Json::array();
            for (const Proposal& p : r.proposals)
                list.push_back({{"card", morvane::cardCode(p.change.kind == 'V', p.change.id)},
                                {"field", p.change.field},
                                {"from", p.change.from},
                                {"to", p.change.to},
                                {"before", cp932ToUtf8(p.change.before)},
                                {"after", cp932ToUtf8(p.change.after)},
                                {"figures", figuresJson(p.figures)}});
            Json field = Json::array();
            for (const SideSelection& deck : r.field)
                field.push_back(deckText(deck));
            out.push_back({{"field", field},
                           {"field_renewed", r.fieldRenewed},
                           {"before", figuresJson(r.before)},
                           {"applied", r.applied},
                           {"proposals", list},
                           {"check", r.check ? Json{{"seed", r.check->seed},
                                                    {"searches", r.check->searches},
                                                    {"holds", r.check->holds()},
                                                    {"figures", figuresJson(r.check->figures)}}
                                             : Json(nullptr)}});
        }
        std::cout << jsonText(Json{{"cards", cards.string()},
                                   {"html", html ? Json(*html) : Json(nullptr)},
                                   {"seed", suggest.analysis.seed},
                                   {"searches", suggest.analysis.searches},
                                   {"budget", suggest.analysis.budget},
                                   {"renew_field", suggest.renewField},
                                   {"check", suggest.check.has_value()},
                                   {"rounds", out},
                                   {"seconds", seconds}})
                  << std::endl;
        return ExitOk;
    }
    std::cout << "balance --suggest: " << rounds.size() << (rounds.size() == 1 ? " round" : " rounds") << ", seed "
              << suggest.analysis.seed << ", " << suggest.analysis.searches << " searches of "
              << suggest.analysis.budget << " battles a measurement, " << fixedText(seconds, 1) << " s\n";
    for (size_t k = 0; k < rounds.size(); ++k) {
        const SuggestRound& r = rounds[k];
        std::cout << "\nround " << k + 1 << ", before: " << figuresText(r.before) << "\n";
        if (r.fieldRenewed) {
            std::cout << "  field renewed:\n";
            for (const SideSelection& deck : r.field)
                std::cout << "    " << escapeControls(deckText(deck)) << "\n";
        }
        for (size_t i = 0; i < r.proposals.size(); ++i) {
            const Proposal& p = r.proposals[i];
            std::cout << "  " << i + 1 << ". " << changeText(p.change) << (i == 0 && r.applied ? "  (applied)" : "")
                      << "\n     " << figuresText(p.figures) << "\n     - "
                      << escapeControls(cp932ToUtf8(p.change.before)) << "\n     + "
                      << escapeControls(cp932ToUtf8(p.change.after)) << "\n";
        }
        if (r.check)
            std::cout << "  check on fresh seeds ('balance --seed " << r.check->seed << "', " << r.check->searches
                      << " searches): " << (r.check->holds() ? "holds" : "misses") << "\n     "
                      << figuresText(r.check->figures) << "\n";
    }
    return ExitOk;
}

} // namespace

int runBalance(const std::vector<std::string>& args) {
    const Options options(args,
                          {"--cards", "--field", "--searches", "--budget", "--threads", "--seed", "--final-battles",
                           "--max-turns", "--html", "--max-searches", "--suggest", "--rounds", "--candidates"},
                          {"--json", "--prefer-variety", "--renew-field", "--check", "--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << BalanceUsage;
        return ExitOk;
    }
    if (!options.positional().empty())
        throw UsageError("unexpected argument '" + options.positional().front() + "'");

    BalanceRequest request;
    if (auto value = options.value("--searches"))
        request.searches = static_cast<unsigned>(parseCount("--searches", *value, 1, MaxSearches));
    if (auto value = options.value("--max-searches"))
        request.maxSearches = static_cast<unsigned>(parseCount("--max-searches", *value, 0, MaxSearches));
    if (auto value = options.value("--budget"))
        request.budget = static_cast<uint64_t>(parseCount("--budget", *value, 1, MaxSearchBudget));
    if (auto value = options.value("--final-battles"))
        request.finalBattles = static_cast<uint64_t>(parseCount("--final-battles", *value, 1, 1000000));
    request.threads = threadsOption(options);
    request.seed = seedOption(options);
    request.maxTurns = maxTurnsOption(options);
    request.leagueBattles = LeagueBattles;
    request.preferVariety = options.flag("--prefer-variety");
    const std::optional<std::string> html = options.value("--html");

    const std::filesystem::path cards = cardsPath(options);
    if (html) {
        std::vector<RunInput> inputs{{"the catalogue", cards}};
        if (auto path = options.value("--field"))
            inputs.push_back({"the field", *path});
        else
            for (int side = 0; side < 2; ++side)
                inputs.push_back({"the field", deckFilePath(folderOf(cards), side)});
        checkRunOutput("--html", *html, inputs);
    }
    const CardCatalogue catalogue = loadCatalogue(cards);
    const std::vector<DeckSource> field = fieldSources(options, cards);
    request.field.decks = fieldDecks(field, catalogue);
    request.field.side = PlaySide::Both;

    // Ctrl-C ends the searches, whose teams are still analysed; a second one ends the
    // program at once.
    std::atomic<bool>& interrupted = catchInterrupts();
    ProgressLine progress;
    BalanceControl control;
    control.stopSearches = &interrupted;
    if (progress.shown()) {
        control.progress = [&](const BalanceProgress& p) {
            progress.update([&] {
                if (p.phase == BalanceProgress::Searching) {
                    const std::string what = "balance: search " + std::to_string(p.search + 1) + " of " +
                                             std::to_string(std::max(request.searches, request.maxSearches)) +
                                             " at most,";
                    return battlesProgressText(what.c_str(), p.done, p.total, progress.seconds());
                }
                return battlesProgressText(p.phase == BalanceProgress::Replacing ? "balance: replacing cards,"
                                                                                 : "balance: league,",
                                           p.done, p.total, progress.seconds());
            });
        };
    }
    if (auto value = options.value("--suggest"))
        return runSuggest(options, request, cards, parseCount("--suggest", *value, 1, 64), html);
    for (const char* name : {"--rounds", "--candidates"})
        if (options.value(name))
            throw UsageError(std::string(name) + " goes with --suggest");
    for (const char* name : {"--renew-field", "--check"})
        if (options.flag(name))
            throw UsageError(std::string(name) + " goes with --suggest");
    const BalanceReport report = analyseBalance(catalogue, request, control);
    progress.wipe();

    // The page is written before anything is printed; a page that cannot be written
    // still leaves the results on the terminal.
    std::exception_ptr pageFailure;
    if (html) {
        BalanceSources sources;
        sources.cards = cards.string();
        for (const DeckSource& deck : field)
            sources.fieldSources.push_back(deck.where);
        sources.command = commandText(options, request);
        try {
            writeFileAtomic(*html, balancePage(report, catalogue, sources));
        } catch (...) {
            pageFailure = std::current_exception();
        }
    }
    const std::optional<std::string> written = pageFailure ? std::nullopt : html;
    if (options.flag("--json"))
        printJson(report, catalogue, field, cards.string(), written);
    else
        printText(report, catalogue, field, written);
    if (pageFailure) {
        reportKeptFailure(pageFailure);
        return ExitFailure;
    }
    return ExitOk;
}

} // namespace morvane::cli
