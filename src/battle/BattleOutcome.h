#pragma once
// Where a battle stands or how it ended: the one record of a battle's result that the
// engine gives and every front end reads (the window's timer, the batch runner, the
// command line tool, the seeded battles of statistics and the optimizer).

#include <cstdint>

namespace morvane {

// A battle still running after this many turns is ended as it stands, in every front
// end: one in which nobody can act would otherwise run for ever.
inline constexpr long long DefaultMaxTurns = 10000;

enum class BattleStatus : uint8_t {
    Running, // not over yet (or never played)
    Ended,   // a vehicle fell
    Capped,  // stopped at the turn cap, its report closed as it stands
    Halted,  // stopped by an error, its report kept as far as it got
};

struct BattleOutcome {
    BattleStatus status = BattleStatus::Running;
    int8_t winner = -1; // the side whose vehicle survived (0 top, 1 bottom) once Ended; -1 otherwise
    int32_t turns = 0;  // turns played

    bool over() const { return status != BattleStatus::Running; }
    bool capped() const { return status == BattleStatus::Capped; }
    bool wonBy(int side) const { return status == BattleStatus::Ended && winner == side; }
    bool lostBy(int side) const { return status == BattleStatus::Ended && winner == 1 - side; }
};

} // namespace morvane
