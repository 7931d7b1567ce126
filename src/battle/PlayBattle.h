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

// maxTurns <= 0 means no cap. A capped battle's report is closed as it stands.
BattleOutcome playBattle(Battle& battle, const Teams& teams, long long maxTurns);

} // namespace morvane
