#include "report/SeededBattle.h"

#include "battle/Battle.h"
#include "common/Random.h"

namespace morvane {

BattleOutcome playSeededBattle(const CardCatalogue& catalogue, const Teams& teams, uint32_t seed, ReportSink& sink,
                               long long maxTurns, const Clock* time) {
    Random random(seed);
    Battle battle(catalogue, random, &sink);
    if (time)
        battle.report().setClock(*time);
    return battle.play(teams, maxTurns);
}

} // namespace morvane
