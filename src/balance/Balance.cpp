#include "balance/Balance.h"

#include "cards/CardCatalogue.h"
#include "cards/Team.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Messages.h"
#include "common/Random.h"
#include "optimize/Measure.h"
#include "optimize/TeamSpace.h"
#include "stats/ResultText.h"
#include "stats/Statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>

namespace morvane {

namespace {

using Clock = std::chrono::steady_clock;

// The best other choice for a card is raced by successive halving: every candidate
// plays FirstRounds rounds (a round being one battle in every pairing), the better half
// goes on and plays twice as many new rounds, until one is left. Counting all rounds a
// survivor played, the last two have played 508 rounds each when 125 candidates start.
constexpr uint64_t FirstRounds = 4;
constexpr unsigned ExtraSearchStep = 4;
constexpr uint64_t LeagueBattleBudget = 300000;

// Rounds numbered from 0 that a race of n candidates plays in all, and the rounds its
// longest-running candidates play.
struct HalvingCost {
    uint64_t battles = 0; // rounds summed over candidates
    uint64_t rounds = 0;  // of the last stage's candidates
};
HalvingCost halvingCost(size_t candidates) {
    HalvingCost cost;
    for (uint64_t alive = candidates, stage = FirstRounds; alive > 1; alive = (alive + 1) / 2, stage *= 2) {
        cost.battles += alive * stage;
        cost.rounds += stage;
    }
    return cost;
}

bool set(const std::atomic<bool>* flag) {
    return flag && flag->load(std::memory_order_relaxed);
}

// The team with every copy of a card replaced by another.
SideSelection replaced(SideSelection team, bool vehicle, int32_t from, int32_t to) {
    if (vehicle) {
        team.vehicle = to;
        return team;
    }
    for (int32_t& id : team.characters)
        if (id == from)
            id = to;
    return team;
}

class Analysis {
public:
    Analysis(const CardCatalogue& catalogue, const BalanceRequest& request, const BalanceControl& control)
        : catalogue_(catalogue), request_(request), control_(control), space_(catalogue, TeamRules{}, {}),
          pairings_(request.field.pairings()), reportedAt_(Clock::now() - std::chrono::hours(1)) {}

    BalanceReport run();

private:
    void search(unsigned k);
    void searchAll();
    void countCopies();
    bool settled() const;
    void measureBest(BattlePool& pool);
    bool replaceCards(BattlePool& pool);
    std::optional<SideSelection> bestOther(BattlePool& pool, const BalanceSearch& s,
                                           const std::vector<SideSelection>& candidates);
    void playLeague();
    std::vector<SideSelection> alternatives(const SideSelection& team, bool vehicle, int32_t id) const;
    void report(BalanceProgress::Phase phase, unsigned search, uint64_t done, uint64_t total, bool force = false);
    CardBalance& card(bool vehicle, int32_t id);

    const CardCatalogue& catalogue_;
    const BalanceRequest& request_;
    const BalanceControl& control_;
    TeamSpace space_;
    size_t pairings_;
    BalanceReport out_;
    std::atomic<bool> cancelSearch_{false};
    Clock::time_point reportedAt_;
};

CardBalance& Analysis::card(bool vehicle, int32_t id) {
    std::vector<CardBalance>& cards = vehicle ? out_.vehicles : out_.characters;
    return *std::find_if(cards.begin(), cards.end(), [id](const CardBalance& c) { return c.id == id; });
}

void Analysis::report(BalanceProgress::Phase phase, unsigned search, uint64_t done, uint64_t total, bool force) {
    if (!control_.progress)
        return;
    const auto now = Clock::now();
    if (!force && now - reportedAt_ < control_.progressInterval)
        return;
    reportedAt_ = now;
    control_.progress({phase, search, done, total});
}

void Analysis::search(unsigned k) {
    BalanceSearch s;
    s.seed = searchSeed(request_.seed, k);
    Random draw(s.seed);
    const std::optional<SideSelection> start = space_.randomTeam(draw);
    if (!start)
        throw InputError(std::string(msg::NoLegalTeam));
    s.start = *start;

    OptimizeRequest search;
    search.start = s.start;
    search.field = request_.field;
    search.budget = request_.budget;
    search.threads = request_.threads;
    search.seed = s.seed;
    search.maxTurns = request_.maxTurns;
    search.tuning.preferVariety = request_.preferVariety;
    OptimizeControl watch;
    watch.cancel = &cancelSearch_;
    watch.progressInterval = std::min(control_.progressInterval, std::chrono::milliseconds(100));
    const uint64_t before = uint64_t{k} * request_.budget;
    // The bar runs to the most searches the run may play; settling early skips ahead.
    const uint64_t total = uint64_t{std::max(request_.searches, request_.maxSearches)} * request_.budget;
    watch.progress = [&](const OptimizeProgress& p) {
        // The search hears one flag; either of the caller's ends it.
        if (set(control_.stopSearches) || set(control_.stop))
            cancelSearch_ = true;
        report(BalanceProgress::Searching, k, before + p.battles, total);
    };
    s.result = optimizeTeam(catalogue_, search, watch);
    out_.threads = std::max(out_.threads, s.result.threads);
    out_.searches.push_back(std::move(s));
}

void Analysis::measureBest(BattlePool& pool) {
    const uint64_t each = request_.finalBattles * pairings_;
    for (BalanceSearch& s : out_.searches)
        s.score = measureTeam(pool, s.result.best, s.seed, 0, each);
}

std::vector<SideSelection> Analysis::alternatives(const SideSelection& team, bool vehicle, int32_t id) const {
    std::vector<SideSelection> teams;
    for (const SelectorEntry& e : vehicle ? catalogue_.vehicleEntries() : catalogue_.characterEntries()) {
        if (e.id == id)
            continue;
        SideSelection other = replaced(team, vehicle, id, e.id);
        if (space_.legal(other))
            teams.push_back(other);
    }
    return teams;
}

std::optional<SideSelection> Analysis::bestOther(BattlePool& pool, const BalanceSearch& s,
                                                 const std::vector<SideSelection>& candidates) {
    // The race's rounds follow the measurement's battles among the search's fresh ones.
    const uint64_t first = FreshBase + request_.finalBattles * pairings_;
    std::vector<uint64_t> wins(candidates.size(), 0);
    std::vector<size_t> alive(candidates.size());
    std::iota(alive.begin(), alive.end(), 0);
    std::vector<FieldBattle> battles;
    std::vector<BattleOutcome> outcomes;
    uint64_t rounds = 0;
    for (uint64_t stage = FirstRounds; alive.size() > 1; stage *= 2) {
        // By field deck and side first, as the optimizer's races: the candidates differ
        // in one card, and the engine keeps what it can between battles in a row.
        battles.clear();
        for (size_t p = 0; p < pairings_; ++p)
            for (const size_t c : alive)
                for (uint64_t r = rounds; r < rounds + stage; ++r)
                    battles.push_back(
                        {&candidates[c], static_cast<uint32_t>(p), battleSeed(s.seed, first + r * pairings_ + p)});
        if (!pool.play(battles, outcomes))
            return std::nullopt;
        for (size_t p = 0; p < pairings_; ++p)
            for (size_t a = 0; a < alive.size(); ++a)
                for (uint64_t r = 0; r < stage; ++r)
                    wins[alive[a]] +=
                        outcomes[(p * alive.size() + a) * stage + r].wonBy(request_.field.teamSideOf(p)) ? 1 : 0;
        rounds += stage;
        // Every survivor played the same rounds: more wins is better, ties go to the
        // earlier card.
        std::stable_sort(alive.begin(), alive.end(), [&](size_t a, size_t b) { return wins[a] > wins[b]; });
        alive.resize((alive.size() + 1) / 2);
    }
    return candidates[alive.front()];
}

bool Analysis::replaceCards(BattlePool& pool) {
    const uint64_t each = request_.finalBattles * pairings_;
    // What is to be done, counted first so that the progress has a total.
    struct Job {
        size_t search;
        bool vehicle;
        int32_t id;
        std::vector<SideSelection> candidates;
    };
    std::vector<Job> jobs;
    uint64_t total = 0;
    // The searches played to settle verdicts add shares, not teams to take apart: their
    // races would cost more than the shares they settle.
    const size_t replacing = std::min<size_t>(out_.searches.size(), request_.searches);
    for (size_t k = 0; k < replacing; ++k) {
        const SideSelection& team = out_.searches[k].result.best;
        std::vector<int32_t> seen;
        auto add = [&](bool vehicle, int32_t id) {
            Job job{k, vehicle, id, alternatives(team, vehicle, id)};
            if (!job.candidates.empty())
                total += halvingCost(job.candidates.size()).battles * pairings_ + each;
            jobs.push_back(std::move(job));
        };
        add(true, team.vehicle);
        for (const int32_t id : team.characters) {
            if (std::find(seen.begin(), seen.end(), id) != seen.end())
                continue;
            seen.push_back(id);
            add(false, id);
        }
    }

    uint64_t done = 0;
    report(BalanceProgress::Replacing, 0, 0, total, true);
    for (const Job& job : jobs) {
        const BalanceSearch& s = out_.searches[job.search];
        CardBalance& c = card(job.vehicle, job.id);
        if (job.candidates.empty())
            continue;
        const std::optional<SideSelection> other = bestOther(pool, s, job.candidates);
        if (!other)
            return false;
        done += halvingCost(job.candidates.size()).battles * pairings_;
        report(BalanceProgress::Replacing, static_cast<unsigned>(job.search), done, total);
        const FieldScore score = measureTeam(pool, *other, s.seed, 0, each);
        if (!score.complete)
            return false;
        done += each;
        c.kept.merge(s.score.total());
        c.replaced.merge(score.total());
        c.replacements[job.search] = job.vehicle ? other->vehicle : [&] {
            for (size_t slot = 0; slot < 8; ++slot)
                if (s.result.best.characters[slot] == job.id)
                    return other->characters[slot];
            return int32_t{0};
        }();
        report(BalanceProgress::Replacing, static_cast<unsigned>(job.search), done, total);
    }
    return true;
}

void Analysis::playLeague() {
    BalanceLeague& league = out_.league;
    for (const BalanceSearch& s : out_.searches) {
        auto found = std::find(league.teams.begin(), league.teams.end(), s.result.best);
        league.teamOf.push_back(static_cast<size_t>(found - league.teams.begin()));
        if (found == league.teams.end())
            league.teams.push_back(s.result.best);
    }
    if (league.teams.size() < 2 || request_.leagueBattles == 0)
        return;
    LeagueRequest play;
    play.decks = league.teams;
    // Many best teams make many pairs; past LeagueBattleBudget battles in all the league
    // would outweigh the searches, so each pair then plays fewer (never below 100).
    const uint64_t orderedPairs = league.teams.size() * (league.teams.size() - 1);
    play.battles =
        std::min<uint64_t>(request_.leagueBattles, std::max<uint64_t>(100, LeagueBattleBudget / orderedPairs));
    play.threads = request_.threads;
    play.seed = request_.seed;
    play.maxTurns = request_.maxTurns;
    StatsControl watch;
    watch.cancel = control_.stop;
    watch.progress = [&](uint64_t done, uint64_t total) { report(BalanceProgress::League, 0, done, total); };
    LeagueResult result = morvane::playLeague(catalogue_, play, watch);
    if (result.cancelled)
        return;
    const auto pairs = leaguePairs(league.teams.size());
    for (size_t k = 0; k < pairs.size(); ++k)
        league.pairings.push_back({pairs[k].first, pairs[k].second, std::move(result.pairs[k])});
    league.battles = play.battles;
    league.winSquares = std::move(result.winSquares);
}

void Analysis::countCopies() {
    for (std::vector<CardBalance>* table : {&out_.characters, &out_.vehicles})
        for (CardBalance& c : *table) {
            c.copies.assign(out_.searches.size(), 0);
            c.replacements.assign(out_.searches.size(), 0);
        }
    for (size_t k = 0; k < out_.searches.size(); ++k) {
        const SideSelection& team = out_.searches[k].result.best;
        ++card(true, team.vehicle).copies[k];
        for (const int32_t id : team.characters)
            ++card(false, id).copies[k];
    }
}

bool Analysis::settled() const {
    for (const std::vector<CardBalance>* table : {&out_.characters, &out_.vehicles})
        for (const CardBalance& c : *table)
            if (c.verdict().verdict == Verdict::Uncertain)
                return false;
    return true;
}

void Analysis::searchAll() {
    const unsigned most = std::max(request_.searches, request_.maxSearches);
    auto stopped = [&] { return set(control_.stopSearches) || set(control_.stop); };
    for (unsigned k = 0; k < request_.searches && !stopped(); ++k)
        search(k);
    out_.interrupted = out_.searches.size() < request_.searches || stopped();
    countCopies();
    // Four at a time, so that a few uncertain cards do not cost a search each check.
    while (!out_.interrupted && out_.searches.size() < most && !settled()) {
        const auto next = static_cast<unsigned>(out_.searches.size());
        for (unsigned k = next; k < std::min(most, next + ExtraSearchStep) && !stopped(); ++k)
            search(k);
        out_.interrupted = stopped();
        countCopies();
    }
}

BalanceReport Analysis::run() {
    const auto started = Clock::now();
    out_.request = request_;
    for (const SelectorEntry& e : catalogue_.characterEntries())
        out_.characters.push_back({false, e.id, {}, {}, {}, {}});
    for (const SelectorEntry& e : catalogue_.vehicleEntries())
        out_.vehicles.push_back({true, e.id, {}, {}, {}, {}});

    searchAll();
    if (!set(control_.stop)) {
        BattlePool pool(catalogue_, request_.field, request_.threads, request_.maxTurns, control_.stop);
        measureBest(pool);
        if (replaceCards(pool))
            playLeague();
    }
    out_.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    return std::move(out_);
}

} // namespace

std::string cardCode(bool vehicle, int32_t id) {
    char code[16];
    std::snprintf(code, sizeof code, "%c%03d", vehicle ? 'V' : 'C', static_cast<int>(id));
    return code;
}

std::string cardNameText(const CardCatalogue& catalogue, bool vehicle, int32_t id) {
    return cp932ToUtf8(vehicle ? catalogue.vehicle(id).name : catalogue.character(id).name);
}

std::string pointsText(double share) {
    // Appended, not "+" + text: GCC 12 at -O3 takes that for an overlapping copy.
    std::string text = share > 0.0005 ? "+" : "";
    return text.append(fixedText(share * 100.0, 1));
}

uint32_t searchSeed(uint32_t runSeed, unsigned search) {
    return battleSeed(runSeed, search);
}

int CardBalance::teams() const {
    return static_cast<int>(std::count_if(copies.begin(), copies.end(), [](int n) { return n > 0; }));
}

int CardBalance::mostCopies() const {
    return copies.empty() ? 0 : *std::max_element(copies.begin(), copies.end());
}

namespace {

Interval shareInterval(int count, size_t searches) {
    return wilsonInterval(searches ? double(count) / double(searches) : 0.0, double(searches), VerdictQuantile);
}

} // namespace

int CardBalance::stacked() const {
    return static_cast<int>(std::count_if(copies.begin(), copies.end(), [](int n) { return n >= StackCopies; }));
}

Interval CardBalance::useInterval() const {
    return shareInterval(teams(), copies.size());
}

Interval CardBalance::stackInterval() const {
    return shareInterval(stacked(), copies.size());
}

namespace {

bool holds(const Interval& i, double line) {
    return i.low <= line && line <= i.high;
}

// The searches in all after which an interval around the observed share would leave
// the line, if the share stayed as it is; 0 when it sits on the line or beyond reach.
unsigned searchesToSettle(double share, double line) {
    constexpr unsigned Reach = 100000;
    auto leaves = [&](unsigned n) { return !holds(wilsonInterval(share, n, VerdictQuantile), line); };
    if (share == line || !leaves(Reach))
        return 0;
    unsigned low = 1;
    unsigned high = Reach;
    while (low < high) {
        const unsigned mid = low + (high - low) / 2;
        if (leaves(mid))
            high = mid;
        else
            low = mid + 1;
    }
    return low;
}

} // namespace

CardVerdict CardBalance::verdict() const {
    const Interval use = useInterval();
    const Interval stack = stackInterval();
    if (use.low > DecisiveUse || (!vehicle && stack.low > DecisiveStack))
        return {Verdict::DecidesTooMuch};
    if (use.high < UnplayedUse)
        return {Verdict::Unplayed};
    const auto n = static_cast<double>(copies.size());
    CardVerdict open{Verdict::Fine};
    auto ask = [&](CardVerdict::Question question, const Interval& i, double share, double line) {
        if (!holds(i, line))
            return;
        const unsigned need = searchesToSettle(share, line);
        // The question that needs the most searches is the one that keeps the card open.
        if (open.verdict == Verdict::Fine ||
            (open.searchesToSettle != 0 && (need == 0 || need > open.searchesToSettle)))
            open = {Verdict::Uncertain, question, line, need};
    };
    const double used = n > 0 ? teams() / n : 0;
    ask(CardVerdict::Use, use, used, DecisiveUse);
    if (!vehicle)
        ask(CardVerdict::Stack, stack, n > 0 ? stacked() / n : 0, DecisiveStack);
    ask(CardVerdict::Rare, use, used, UnplayedUse);
    return open;
}

Interval CardBalance::lossInterval() const {
    const double p1 = kept.winRate();
    const double p2 = replaced.winRate();
    const Interval a = kept.winInterval();
    const Interval b = replaced.winInterval();
    const double d = p1 - p2;
    return {d - std::hypot(p1 - a.low, b.high - p2), d + std::hypot(a.high - p1, p2 - b.low)};
}

Tally BalanceLeague::record(size_t team) const {
    Tally sum;
    for (const LeaguePairing& p : pairings) {
        if (p.top == team)
            sum.merge(p.result.top);
        else if (p.bottom == team)
            sum.merge(p.result.top.mirrored());
    }
    return sum;
}

Interval BalanceLeague::winInterval(size_t team) const {
    const Tally t = record(team);
    return seedClusterInterval(t.wins, t.battles, battles, team < winSquares.size() ? &winSquares[team] : nullptr);
}

Tally BalanceLeague::against(size_t a, size_t b) const {
    Tally sum;
    for (const LeaguePairing& p : pairings) {
        if (p.top == a && p.bottom == b)
            sum.merge(p.result.top);
        else if (p.top == b && p.bottom == a)
            sum.merge(p.result.top.mirrored());
    }
    return sum;
}

int BalanceReport::distinctCharacters() const {
    return static_cast<int>(
        std::count_if(characters.begin(), characters.end(), [](const CardBalance& c) { return c.teams() > 0; }));
}

int BalanceReport::distinctVehicles() const {
    return static_cast<int>(
        std::count_if(vehicles.begin(), vehicles.end(), [](const CardBalance& c) { return c.teams() > 0; }));
}

namespace {

std::vector<const CardBalance*> withVerdict(const BalanceReport& r, Verdict verdict) {
    std::vector<const CardBalance*> cards;
    if (r.searches.empty())
        return cards;
    for (const auto* table : {&r.characters, &r.vehicles})
        for (const CardBalance& c : *table)
            if (c.verdict().verdict == verdict)
                cards.push_back(&c);
    return cards;
}

} // namespace

std::vector<const CardBalance*> BalanceReport::decisive() const {
    return withVerdict(*this, Verdict::DecidesTooMuch);
}

std::vector<const CardBalance*> BalanceReport::unplayed() const {
    return withVerdict(*this, Verdict::Unplayed);
}

std::vector<const CardBalance*> BalanceReport::uncertain() const {
    return withVerdict(*this, Verdict::Uncertain);
}

unsigned BalanceReport::extraSearches() const {
    return static_cast<unsigned>(searches.size() - std::min<size_t>(searches.size(), request.searches));
}

double BalanceReport::strongest() const {
    double best = 0;
    for (const BalanceSearch& s : searches)
        best = std::max(best, s.score.total().winRate());
    return best;
}

BalanceReport analyseBalance(const CardCatalogue& catalogue, const BalanceRequest& request,
                             const BalanceControl& control) {
    if (request.field.decks.empty())
        throw InputError(std::string(msg::NoFieldDeck));
    for (const SideSelection& deck : request.field.decks)
        checkPlayable(catalogue, deck);
    if (request.searches < 1 || request.searches > MaxSearches || request.maxSearches > MaxSearches)
        throw InputError("balance runs 1 to " + std::to_string(MaxSearches) + " searches");
    // The measurement and the races after it number their battles from FreshBase on,
    // below 2^32: beyond that they would replay the search's seeds.
    const size_t pairings = request.field.pairings();
    const uint64_t raced = halvingCost(CardCatalogue::OfferedCharacters).rounds;
    if (request.finalBattles < 1 || request.finalBattles > FreshBase / pairings - raced)
        throw InputError("a measurement of 1 to " + std::to_string(FreshBase / pairings - raced) +
                         " battles per field deck and side");
    return Analysis(catalogue, request, control).run();
}

} // namespace morvane
