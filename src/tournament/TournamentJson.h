#pragma once
// A match and a standing as JSON, the same for `morvane-cli tournament --json` and the
// service's API, so that a client reads an event alike wherever it was played.
// Entrants are numbered from 1, as the pages show them.

#include "common/Json.h"
#include "tournament/Tournament.h"

namespace morvane {

// a, b (null for a bye), seed, the wins, undecided and played battles, winner (null
// when drawn) and by_seed.
Json matchJson(const Match& match);
// The points and tie-breaks of a standing; the caller puts its place and entrant first.
Json standingFigures(const Standing& standing);

} // namespace morvane
