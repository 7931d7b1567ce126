#pragma once
// Events between fixed teams: a round robin, a Swiss event or a single elimination.
// A team here is a fixed strategy, so a match settles nothing by chance that its seed
// does not decide: every match carries a seed, and each of its battles can be played
// again on its own with 'morvane-cli battle'. The same request gives the same event on
// any machine and thread count.
//
// A match is best of N: battle k puts the first entrant on top for even k and below for
// odd k (the two sides' formations differ), battle k uses the seed battleSeed(match
// seed, k), and the match is over once one side has won more than half of N. A match
// still level after N battles (undecided battles, or an even N) is drawn, except in a
// single elimination, where battles N to 2N-1 follow until one is won, and where
// even those leave it level the higher seed goes on.

#include "battle/BattleOutcome.h"
#include "cards/Deck.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane {

class CardCatalogue;

enum class TournamentFormat : uint8_t { RoundRobin, Swiss, Knockout };

// "round-robin", "swiss", "knockout".
std::optional<TournamentFormat> tournamentFormat(std::string_view name);
std::string_view formatName(TournamentFormat format);
// As the pages name it (UTF-8): "総当たり", "スイス式", "勝ち抜き（シード順）".
std::string_view formatTitle(TournamentFormat format);

// The opponent of an entrant that sits a round out.
inline constexpr size_t Bye = std::numeric_limits<size_t>::max();

inline constexpr size_t MaxEntrants = 4096;
inline constexpr unsigned MaxMatchBattles = 1000;

struct TournamentRequest {
    TournamentFormat format = TournamentFormat::RoundRobin;
    std::vector<SideSelection> entrants; // in seeding order: the first is seed 1
    unsigned rounds = 0;                 // Swiss only; 0: enough to single out a winner
    unsigned battles = 3;                // of each match, best of
    uint32_t seed = 0;
    unsigned threads = 1; // 0: one per core
    long long maxTurns = DefaultMaxTurns;
};

struct Match {
    size_t a = 0;
    size_t b = Bye; // a walks over when Bye: the match is won and no battle is played
    uint32_t seed = 0;
    unsigned winsA = 0;
    unsigned winsB = 0;
    unsigned undecided = 0; // battles that reached the turn cap
    unsigned played = 0;    // battles until the match was decided, extra battles included
    int winner = -1;        // 0: a, 1: b, -1: drawn
    bool bySeed = false;    // a single elimination match left level by every battle

    bool bye() const { return b == Bye; }
    size_t winnerEntrant() const { return winner == 1 ? b : a; }
};

struct TournamentRound {
    std::vector<Match> matches;
};

struct Standing {
    size_t entrant = 0;
    double points = 0;          // 1 for a match won (a bye too), 0.5 for one drawn
    double buchholz = 0;        // the opponents' points
    double sonnebornBerger = 0; // points of the opponents beaten, half of those drawn with
    unsigned won = 0;
    unsigned drawn = 0;
    unsigned lost = 0;
    unsigned battlesWon = 0;
    unsigned battlesLost = 0;
    unsigned roundsReached = 0; // single elimination: the last round played in, from 1
};

struct TournamentResult {
    TournamentFormat format = TournamentFormat::RoundRobin;
    std::vector<TournamentRound> rounds;
    std::vector<Standing> standings; // first place first
    size_t champion = 0;
    uint64_t battles = 0; // played in all
    bool interrupted = false;
};

// Round r (from 0) of n entrants by the circle method: every pair meets once in n - 1
// rounds (n rounds for odd n, one bye each).
std::vector<std::pair<size_t, size_t>> roundRobinRound(size_t entrants, unsigned round);
unsigned roundRobinRounds(size_t entrants);

// The Swiss pairings of the next round: entrants in ranking order are paired top down,
// each with the best ranked one it has not met yet, taking the pairing apart again where
// that leaves someone without an opponent; with an odd number the lowest ranked entrant
// that has not had a bye sits out. met(a, b) says whether a and b have met. Nothing
// when no pairing without a repeat exists (or none is found within a bounded search).
std::optional<std::vector<std::pair<size_t, size_t>>> swissPairings(const std::vector<size_t>& ranking,
                                                                    const std::vector<std::vector<bool>>& met,
                                                                    const std::vector<bool>& hadBye);
// Rounds a Swiss event plays when none are asked for: enough for one winner, ceil(log2 n).
unsigned defaultSwissRounds(size_t entrants);

// The seeds in the order they stand in a bracket of size (a power of two): seed 1
// meets the last, and the two top seeds can only meet in the final.
std::vector<size_t> bracketSeeds(size_t size);

// The seed of match m of round r (both from 0) of an event seeded with runSeed.
uint32_t matchSeed(uint32_t runSeed, unsigned round, size_t match);

// Plays the event. Throws InputError for fewer than two entrants, more than MaxEntrants,
// a team that cannot stand in a battle, 0 or too many battles a match, or Swiss rounds
// that cannot be paired without a repeat; a failing battle as the battle pool throws it.
// cancel, when set, ends it between rounds: the result holds the rounds played and says
// it was interrupted.
TournamentResult playTournament(const CardCatalogue& catalogue, const TournamentRequest& request,
                                const std::atomic<bool>* cancel = nullptr);

} // namespace morvane
