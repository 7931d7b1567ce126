#include "optimize/Optimization.h"

#include "cards/Team.h"
#include "common/Errors.h"
#include "common/Messages.h"
#include "stats/Statistics.h"

namespace morvane {

uint64_t maxFinalBattles(size_t pairings) {
    return pairings == 0 ? 0 : FreshBase / pairings;
}

Optimization optimizeAndMeasure(const CardCatalogue& catalogue, const OptimizeRequest& request, uint64_t finalBattles,
                                const OptimizationControl& control) {
    const size_t pairings = request.field.pairings();
    if (finalBattles > maxFinalBattles(pairings))
        throw InputError("a measurement of more than " + std::to_string(maxFinalBattles(pairings)) +
                         " battles per field deck and side would replay the search's battles");
    OptimizeControl search;
    search.cancel = control.stopSearch;
    search.progress = control.searching;
    search.progressInterval = control.progressInterval;

    Optimization run;
    run.search = optimizeTeam(catalogue, request, search);
    run.finalBattles = finalBattles;

    const auto start = std::chrono::steady_clock::now();
    BattlePool pool(catalogue, request.field, request.threads, request.maxTurns, control.stopMeasurement);
    const uint64_t each = finalBattles * pairings;
    std::function<void(uint64_t)> heard;
    uint64_t before = 0;
    if (control.measuring)
        heard = [&](uint64_t done) { control.measuring(before + done, 2 * each); };
    run.best = measureTeam(pool, run.search.best, request.seed, 0, each, 1, heard);
    before = each;
    if (run.best.complete)
        run.start = measureTeam(pool, request.start, request.seed, 0, each, 1, heard);
    else
        run.start.complete = false;
    run.measureSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

std::vector<SideSelection> fieldDecks(const std::vector<DeckSource>& sources, const CardCatalogue& catalogue) {
    if (sources.empty())
        throw InputError(std::string(msg::NoFieldDeck));
    std::vector<SideSelection> decks;
    for (const DeckSource& source : sources) {
        decks.push_back(applyDeckSource(source, catalogue));
        try {
            checkPlayable(catalogue, decks.back());
        } catch (MorvaneError& e) {
            e.setWhere(source.where);
            throw;
        }
    }
    return decks;
}

} // namespace morvane
