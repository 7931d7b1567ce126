#pragma once
// One battle played from its seed with its report: what 'morvane-cli battle --seed'
// writes to a file and what the service shows of any battle of an event or a match,
// made again on request rather than stored. The seed decides every draw, so the report
// is the battle that was counted, turn for turn.

#include "battle/BattleOutcome.h"

#include <cstdint>

namespace morvane {

class CardCatalogue;
class Clock;
class ReportSink;
struct Teams;

// Plays teams with a generator seeded with seed, the report going to sink. time, when
// given, says the report's time of day (the system clock otherwise). Throws InputError
// for a team that cannot start a battle, IoError when the sink cannot be written.
BattleOutcome playSeededBattle(const CardCatalogue& catalogue, const Teams& teams, uint32_t seed, ReportSink& sink,
                               long long maxTurns = DefaultMaxTurns, const Clock* time = nullptr);

} // namespace morvane
