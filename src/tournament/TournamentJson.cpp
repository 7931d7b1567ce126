#include "tournament/TournamentJson.h"

namespace morvane {

Json matchJson(const Match& m) {
    return Json{{"a", m.a + 1},       {"b", m.bye() ? Json(nullptr) : Json(m.b + 1)},
                {"seed", m.seed},     {"a_wins", m.winsA},
                {"b_wins", m.winsB},  {"undecided", m.undecided},
                {"played", m.played}, {"winner", m.winner == -1 ? Json(nullptr) : Json(m.winnerEntrant() + 1)},
                {"by_seed", m.bySeed}};
}

Json standingFigures(const Standing& s) {
    return Json{{"points", s.points},
                {"buchholz", s.buchholz},
                {"sonneborn_berger", s.sonnebornBerger},
                {"won", s.won},
                {"drawn", s.drawn},
                {"lost", s.lost},
                {"battles_won", s.battlesWon},
                {"battles_lost", s.battlesLost},
                {"rounds_reached", s.roundsReached}};
}

} // namespace morvane
