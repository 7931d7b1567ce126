#include "battle/PlayBattle.h"

#include "battle/Battle.h"

namespace morvane {

BattleOutcome playBattle(Battle& battle, const Teams& teams, long long maxTurns) {
    battle.BattleBtnClick(teams);
    BattleOutcome outcome;
    while (battle.Timer1Timer()) {
        if (maxTurns > 0 && battle.state().TurnNo >= maxTurns) {
            battle.Abandon();
            outcome.capped = true;
            break;
        }
    }
    outcome.winner = outcome.capped ? -1 : battle.winner();
    outcome.turns = battle.state().TurnNo;
    return outcome;
}

} // namespace morvane
