#include "battle/PlayBattle.h"

#include "battle/Battle.h"

namespace morvane {

TurnResult playTurn(Battle& battle, long long maxTurns) {
    if (!battle.Timer1Timer())
        return TurnResult::Ended;
    if (maxTurns > 0 && battle.state().TurnNo >= maxTurns) {
        battle.Abandon();
        return TurnResult::Capped;
    }
    return TurnResult::Running;
}

BattleOutcome playBattle(Battle& battle, const Teams& teams, long long maxTurns) {
    battle.BattleBtnClick(teams);
    BattleOutcome outcome;
    TurnResult result = TurnResult::Running;
    while (result == TurnResult::Running)
        result = playTurn(battle, maxTurns);
    outcome.capped = result == TurnResult::Capped;
    outcome.winner = outcome.capped ? -1 : battle.winner();
    outcome.turns = battle.state().TurnNo;
    return outcome;
}

} // namespace morvane
