#include "balance/Suggest.h"

#include "cards/CardCatalogue.h"
#include "cards/CardFields.h"
#include "cards/CatalogueCheck.h"
#include "cards/CatalogueDocument.h"
#include "common/Errors.h"
#include "stats/League.h"
#include "stats/Statistics.h"

#include <algorithm>
#include <array>
#include <optional>

namespace morvane {

namespace {

// The objective's weights, as the header states them.
constexpr double WinTarget = 0.80;
constexpr double PerStackingTeam = 5;
constexpr int CharacterTarget = 16;
constexpr double PerMissingCharacter = 2;
constexpr int VehicleTarget = 4;
constexpr double PerMissingVehicle = 5;

// The line index of a card in the document, if it has one.
std::optional<size_t> cardLine(const CatalogueDocument& document, char kind, int32_t id) {
    const CardField* idField = findCardField(kind, "id");
    for (const size_t index : document.cardLines(kind))
        if (fieldNumber(document.lines()[index].text, *idField) == id)
            return index;
    return std::nullopt;
}

// The change of one field by a step, when the field holds a number and the new value
// stays in what the field can hold and what a card needs.
std::optional<FieldChange> stepped(const CatalogueDocument& document, char kind, int32_t id, std::string_view name,
                                   int step) {
    const std::optional<size_t> index = cardLine(document, kind, id);
    const CardField* field = findCardField(kind, name);
    if (!index || !field)
        return std::nullopt;
    const std::string& line = document.lines()[*index].text;
    const std::optional<int32_t> value = fieldNumber(line, *field);
    if (!value)
        return std::nullopt;
    const NumberRange range = numberRange(kind, *field);
    // Size and HP below 1 make a card nobody can field or one that is down at once.
    const int32_t least = name == "power" ? std::max(0, range.min) : std::max(1, range.min);
    const int32_t to = *value + step;
    if (to < least || to > range.max)
        return std::nullopt;
    FieldChange change{kind, id, std::string(name), *value, to, line, {}};
    change.after = withFieldBytes(line, *field, formatNumber(*field, to));
    return change;
}

std::string applied(const std::string& bytes, const FieldChange& change) {
    CatalogueDocument document = CatalogueDocument::parse(bytes);
    if (const std::optional<size_t> index = cardLine(document, change.kind, change.id))
        document.apply(document.replaceText(*index, change.after));
    return document.bytes();
}

constexpr int FieldDecksPerVehicle = 2;

// The kind a deck deals most of its damage in: attack times blows, by kind. A field
// whose decks mostly hit with one kind teaches the searches to fill up with the cards
// that block it, and such teams beat the whole field.
AttackKind mainAttackKind(const CardCatalogue& catalogue, const SideSelection& deck) {
    std::array<int64_t, 3> damage{};
    for (const int32_t id : deck.characters) {
        if (!catalogue.offersCharacter(id))
            continue;
        const CardTraits& traits = catalogue.characterTraits(id);
        if (traits.kind == AttackKind::None || !traits.power.valid)
            continue;
        const OptionalNumberField& count = traits.attackCount;
        const int64_t blows = count.none || !count.number.valid ? 1 : std::max<int32_t>(1, count.number.value);
        damage[static_cast<size_t>(traits.kind)] += std::max<int64_t>(0, traits.power.value) * blows;
    }
    const auto top = std::max_element(damage.begin(), damage.end());
    return *top == 0 ? AttackKind::None : static_cast<AttackKind>(top - damage.begin());
}

} // namespace

std::vector<SideSelection> renewedField(const CardCatalogue& catalogue, const std::vector<SideSelection>& field,
                                        const BalanceReport& report, uint64_t battles) {
    std::vector<SideSelection> pool = field;
    for (const BalanceSearch& s : report.searches) {
        const SideSelection& team = s.result.best;
        const bool stacked = std::any_of(team.characters.begin(), team.characters.end(), [&](int32_t id) {
            return std::count(team.characters.begin(), team.characters.end(), id) >= StackCopies;
        });
        if (!stacked && std::find(pool.begin(), pool.end(), team) == pool.end())
            pool.push_back(team);
    }
    if (pool.size() == field.size() || battles == 0)
        return field;
    LeagueRequest play;
    play.decks = pool;
    play.battles = battles;
    play.threads = report.request.threads;
    play.seed = report.request.seed;
    play.maxTurns = report.request.maxTurns;
    const LeagueResult result = playLeague(catalogue, play);
    std::vector<Tally> records(pool.size());
    const auto pairs = leaguePairs(pool.size());
    for (size_t k = 0; k < pairs.size(); ++k) {
        records[pairs[k].first].merge(result.pairs[k].top);
        records[pairs[k].second].merge(result.pairs[k].top.mirrored());
    }
    std::vector<size_t> order(pool.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return records[a].winRate() > records[b].winRate(); });
    // At most a third of the field (rounded up) mainly of one attack kind, and at most
    // FieldDecksPerVehicle of one vehicle, while other decks are left: the kind gives
    // way first, then the vehicle.
    const size_t perKind = (field.size() + 2) / 3;
    std::vector<AttackKind> kinds(pool.size());
    for (size_t k = 0; k < pool.size(); ++k)
        kinds[k] = mainAttackKind(catalogue, pool[k]);
    std::vector<SideSelection> next;
    std::vector<bool> taken(pool.size());
    std::array<size_t, 4> ofKind{};
    for (int relaxed = 0; relaxed <= 2; ++relaxed)
        for (const size_t k : order) {
            if (next.size() == field.size())
                break;
            if (taken[k])
                continue;
            const auto sameVehicle = std::count_if(
                next.begin(), next.end(), [&](const SideSelection& d) { return d.vehicle == pool[k].vehicle; });
            const auto kind = static_cast<size_t>(kinds[k]);
            if (relaxed < 2 && sameVehicle >= FieldDecksPerVehicle)
                continue;
            if (relaxed < 1 && kinds[k] != AttackKind::None && ofKind[kind] >= perKind)
                continue;
            next.push_back(pool[k]);
            taken[k] = true;
            ++ofKind[kind];
        }
    return next;
}

BalanceFigures balanceFigures(const BalanceReport& report) {
    BalanceFigures f;
    double best = -1;
    for (const BalanceSearch& s : report.searches) {
        const Tally t = s.score.total();
        if (t.winRate() > best) {
            best = t.winRate();
            f.strongest = best;
            f.strongestInterval = t.winInterval();
        }
    }
    for (size_t k = 0; k < report.searches.size(); ++k)
        if (std::any_of(report.characters.begin(), report.characters.end(),
                        [k](const CardBalance& c) { return c.copies[k] >= StackCopies; }))
            ++f.stackingTeams;
    f.distinctCharacters = report.distinctCharacters();
    f.distinctVehicles = report.distinctVehicles();
    f.decisive = report.decisive().size();
    f.unplayed = report.unplayed().size();
    f.objective = std::max(0.0, f.strongest - WinTarget) * 100 + PerStackingTeam * f.stackingTeams +
                  PerMissingCharacter * std::max(0, CharacterTarget - f.distinctCharacters) +
                  PerMissingVehicle * std::max(0, VehicleTarget - f.distinctVehicles);
    return f;
}

std::vector<FieldChange> candidateChanges(const std::string& catalogueBytes, const BalanceReport& report,
                                          unsigned most) {
    const CatalogueDocument document = CatalogueDocument::parse(catalogueBytes);
    // The characters that press on the set most: stacked first, then the most used.
    std::vector<const CardBalance*> pressing;
    for (const CardBalance& c : report.characters)
        if (c.stacked() > 0 || 2 * c.teams() >= static_cast<int>(report.searches.size()))
            pressing.push_back(&c);
    std::stable_sort(pressing.begin(), pressing.end(), [](const CardBalance* a, const CardBalance* b) {
        return a->stacked() != b->stacked() ? a->stacked() > b->stacked() : a->teams() > b->teams();
    });
    // The strongest best team's characters, the ones whose replacement costs their
    // teams most first: the cards that carry it.
    const BalanceSearch* strongest = nullptr;
    for (const BalanceSearch& s : report.searches)
        if (!strongest || s.score.total().winRate() > strongest->score.total().winRate())
            strongest = &s;
    std::vector<const CardBalance*> carrying;
    if (strongest)
        for (const CardBalance& c : report.characters)
            if (std::find(strongest->result.best.characters.begin(), strongest->result.best.characters.end(), c.id) !=
                strongest->result.best.characters.end())
                carrying.push_back(&c);
    std::stable_sort(carrying.begin(), carrying.end(),
                     [](const CardBalance* a, const CardBalance* b) { return a->loss() > b->loss(); });

    std::vector<FieldChange> changes;
    auto add = [&](char kind, int32_t id, std::string_view field, int step) {
        if (auto change = stepped(document, kind, id, field, step))
            changes.push_back(std::move(*change));
    };
    // Weaker by attack, dearer by size, frailer by HP: each card all three ways before
    // the next card, strongest pressure first.
    std::vector<const CardBalance*> weakened;
    auto weaken = [&](const std::vector<const CardBalance*>& cards) {
        for (const CardBalance* c : cards) {
            if (std::find(weakened.begin(), weakened.end(), c) != weakened.end())
                continue;
            weakened.push_back(c);
            add('C', c->id, "power", -1);
            add('C', c->id, "size", 1);
            add('C', c->id, "hp", -2);
        }
    };
    // Where the strongest team's margin over the line weighs more in the objective
    // than the stacks, weakening the stacked cards moves it little: a team that loses
    // a stack takes the next card. The cards that carry the strongest team come first
    // then. (Narrow choices have candidates of their own below.)
    const BalanceFigures figures = balanceFigures(report);
    if (std::max(0.0, figures.strongest - WinTarget) * 100 > PerStackingTeam * figures.stackingTeams) {
        weaken(carrying);
        weaken(pressing);
    } else {
        weaken(pressing);
        weaken(carrying);
    }
    // Vehicles: the most used one frailer; while too few are used, the unused ones
    // roomier (a vehicle's size is the deck size it carries) and sturdier.
    const CardBalance* topVehicle = nullptr;
    for (const CardBalance& v : report.vehicles)
        if (!topVehicle || v.teams() > topVehicle->teams())
            topVehicle = &v;
    if (topVehicle && 2 * topVehicle->teams() > static_cast<int>(report.searches.size()))
        add('V', topVehicle->id, "hp", -3);
    if (report.distinctVehicles() < VehicleTarget)
        for (const CardBalance& v : report.vehicles)
            if (v.teams() == 0) {
                add('V', v.id, "size", 2);
                add('V', v.id, "hp", 3);
            }
    // Characters no best team takes, cheaper.
    if (report.distinctCharacters() < CharacterTarget)
        for (const CardBalance& c : report.characters)
            if (c.teams() == 0)
                add('C', c.id, "size", -1);
    if (changes.size() > most)
        changes.resize(most);
    return changes;
}

uint32_t checkSeed(uint32_t chainSeed, unsigned k) {
    // The chain's own searches take battleSeed(chainSeed, k) as theirs.
    return battleSeed(~chainSeed, k);
}

std::vector<SuggestRound> suggestChanges(const std::string& catalogueBytes, const SuggestRequest& request,
                                         const std::atomic<bool>* stop,
                                         const std::function<void(const SuggestProgress&)>& progress) {
    if (request.proposals < 1 || request.rounds < 1 || request.candidates < 1)
        throw InputError("suggestions need at least one proposal, round and candidate");
    const size_t baseProblems = checkCatalogue(CatalogueDocument::parse(catalogueBytes)).size();
    BalanceRequest analysis = request.analysis;
    auto analyse = [&](const std::string& bytes) {
        CardCatalogue catalogue;
        catalogue.loadBytes(bytes);
        return analyseBalance(catalogue, analysis);
    };
    auto stopped = [&] { return stop && stop->load(std::memory_order_relaxed); };

    std::vector<SuggestRound> rounds;
    unsigned checks = 0;
    std::string current = catalogueBytes;
    BalanceReport report = analyse(current);
    // The last check that missed: its searches, several times the chain's, saw the
    // stacks and the strong teams that the chain's did not, so the next round's
    // changes are drawn from it.
    std::optional<BalanceReport> missedCheck;
    for (unsigned r = 0; r < request.rounds && !stopped(); ++r) {
        SuggestRound round;
        if (request.renewField) {
            CardCatalogue catalogue;
            catalogue.loadBytes(current);
            std::vector<SideSelection> next =
                renewedField(catalogue, analysis.field.decks, report, request.renewalBattles);
            if (next != analysis.field.decks) {
                analysis.field.decks = std::move(next);
                round.fieldRenewed = true;
                report = analyse(current);
            }
        }
        // A round after one that changed nothing, or after a check (which missed, or
        // the chain would have ended; the chain's own searches find the set on target),
        // would measure the very same changes again unless the field moved.
        if (!rounds.empty() && (!rounds.back().applied || rounds.back().check) && !round.fieldRenewed)
            break;
        if (stopped())
            break;
        round.field = analysis.field.decks;
        round.before = balanceFigures(report);
        const std::vector<FieldChange> changes =
            candidateChanges(current, missedCheck ? *missedCheck : report, request.candidates);
        missedCheck.reset();
        std::vector<BalanceReport> reports;
        for (size_t k = 0; k < changes.size() && !stopped(); ++k) {
            if (progress)
                progress({r, static_cast<unsigned>(k), static_cast<unsigned>(changes.size())});
            Proposal p{changes[k], {}, applied(current, changes[k])};
            // A change the checker finds a new problem in is no proposal.
            if (checkCatalogue(CatalogueDocument::parse(p.catalogue)).size() > baseProblems)
                continue;
            try {
                reports.push_back(analyse(p.catalogue));
            } catch (const InputError&) {
                continue; // e.g. a field deck that no longer fits its vehicle
            }
            p.figures = balanceFigures(reports.back());
            round.proposals.push_back(std::move(p));
        }
        if (stopped() && round.proposals.size() < changes.size())
            break; // a round cut short would rank changes it never measured
        // Best objective first; ties go to the change tried first.
        std::vector<size_t> order(round.proposals.size());
        for (size_t k = 0; k < order.size(); ++k)
            order[k] = k;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return round.proposals[a].figures.objective < round.proposals[b].figures.objective;
        });
        std::vector<Proposal> ranked;
        for (size_t k = 0; k < order.size() && ranked.size() < request.proposals; ++k)
            ranked.push_back(std::move(round.proposals[order[k]]));
        const size_t bestIndex = order.empty() ? 0 : order.front();
        round.proposals = std::move(ranked);
        const bool improves =
            !round.proposals.empty() && round.proposals.front().figures.objective < round.before.objective;
        if (improves) {
            current = round.proposals.front().catalogue;
            report = std::move(reports[bestIndex]);
        }
        round.applied = improves;
        rounds.push_back(std::move(round));
        SuggestRound& done = rounds.back();
        const bool met = done.before.objective == 0 || (improves && done.proposals.front().figures.objective == 0);
        if (!met) {
            // Nothing measured does better, where a renewed field may still move what
            // this round could not.
            if (!improves && !request.renewField)
                break;
            continue;
        }
        if (!request.check || stopped())
            break;
        if (progress)
            progress({r, 0, 0, true});
        BalanceRequest check = *request.check;
        check.field = analysis.field;
        check.seed = checkSeed(request.analysis.seed, checks++);
        check.threads = analysis.threads;
        check.maxTurns = analysis.maxTurns;
        CardCatalogue catalogue;
        catalogue.loadBytes(current);
        BalanceControl control;
        control.stopSearches = stop; // a check runs as long as a whole analysis
        BalanceReport checked = analyseBalance(catalogue, check, control);
        if (stopped())
            break; // a check cut short is no check
        done.check = SuggestCheck{check.seed, balanceFigures(checked), static_cast<unsigned>(checked.searches.size())};
        // Only a renewed field can take in what the check found; the chain's own
        // searches would go on finding the set on target.
        if (done.check->holds() || !request.renewField)
            break;
        missedCheck = checked;
        report = std::move(checked); // stands for the set until the field takes it in
    }
    return rounds;
}

} // namespace morvane
