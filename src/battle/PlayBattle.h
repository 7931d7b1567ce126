#pragma once
// Plays a whole battle without a timer, as the command line tool, batches and
// statistics do: start it, then one turn per call until it ends or a turn cap is hit.

#include <cstdint>

namespace morvane {

class Battle;
struct Teams;

struct BattleOutcome {
    int winner = -1;   // 0 top, 1 bottom, -1 none (capped)
    int32_t turns = 0; // TurnNo at the end
    bool capped = false;
};

// Where a battle stands after a turn.
enum class TurnResult {
    Running, // call again
    Ended,   // a vehicle fell
    Capped,  // the turn cap was reached: the battle was ended as it stood
};

// Plays one turn, then ends a battle that has reached maxTurns turns without a result
// (maxTurns <= 0: no cap), its report closed as it stands. Every driver of battles,
// timer or loop, caps them through here.
TurnResult playTurn(Battle& battle, long long maxTurns);

// Starts and plays a whole battle. A capped battle's report is closed as it stands.
BattleOutcome playBattle(Battle& battle, const Teams& teams, long long maxTurns);

} // namespace morvane
