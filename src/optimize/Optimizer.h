#pragma once
// The team optimizer: a search for the team that wins most often against a field of
// decks, sound under the noise of random battles.
//
// A candidate (the incumbent team changed by one move: another vehicle, another
// character in one slot, or two slots swapped) is compared with the incumbent on the
// same battles: both play the same rounds, a round being one battle in every pairing
// of the field with one seed each, so the comparison measures their difference and not
// two noisy levels. Only the pairs of battles that one team won and the other did not
// carry evidence; a sequential probability ratio test on them stops a clearly worse
// (or merely equal) candidate after a few rounds and accepts a candidate only once its
// improvement is significant. Candidates are raced a few at a time on fresh rounds, so
// no team is ever judged on the battles that made it look good. When every neighbour
// of the incumbent has failed, the climb has reached a local optimum: it is kept if it
// beats the best one so far, and the climb starts again from a random legal team.
//
// The search is deterministic: its choices come from a generator seeded by the run
// seed, the battles' seeds from the battle numbers, and every decision is taken on the
// calling thread after whole stages of battles, so the thread count changes only the
// speed. It never plays more battles than its budget. The final score is not its
// business: measureTeam measures the result on seeds the search never used.

#include "optimize/Measure.h"
#include "optimize/TeamSpace.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace morvane {

class CardCatalogue;

// How the search gets out of a local optimum. Measured in bench/OptimizeBench.cpp:
// random restarts did best at budgets of one to three million battles.
enum class SearchMethod : uint8_t {
    Kick,    // climb; from each local optimum, start again from the best team after a few random moves
    Restart, // climb; from each local optimum, start again from a random legal team
    Climb,   // climb only; at a local optimum, try the neighbours again on fresh rounds
    Random,  // random legal teams, each raced against the best so far (for comparison)
};

// The test and race settings. The defaults were chosen with bench/OptimizeBench.cpp.
struct SearchTuning {
    unsigned raceSize = 12;      // candidates raced together on the same rounds
    double betterShare = 0.65;   // the alternative: a better candidate wins this share of the discordant pairs
    double falseAccept = 0.05;   // chance of accepting a candidate that is no better
    double falseReject = 0.2;    // chance of rejecting a candidate that is betterShare better
    uint64_t testBattles = 4096; // a candidate undecided after this many battles is rejected
    uint64_t stageBattles = 256; // battles played between two looks at the tests
    unsigned kickMoves = 6;      // random moves from the best team at a restart
    // At a local optimum holding three or more copies of a character, try teams with
    // one copy fewer and take one that is not shown to be worse: a stack the search kept
    // only because nothing beat it is not a stack the team needs.
    bool preferVariety = false;
    double worseShare = 0.4;    // the alternative of that test: the team with fewer copies wins this share
    unsigned varietyTries = 12; // teams with a copy fewer raced, for each stacked card
};

struct OptimizeRequest {
    SideSelection start;
    Field field;
    TeamRules rules;
    uint64_t budget = 1000000; // battles; at most FreshBase
    unsigned threads = 1;      // 0: one per core
    uint32_t seed = 0;
    long long maxTurns = DefaultMaxTurns; // a battle still running after this many turns is undecided (not won)
    SearchMethod method = SearchMethod::Restart;
    SearchTuning tuning;
};

// The most battles a search may be given, in every front end: the window's number boxes
// hold no more.
inline constexpr uint64_t MaxSearchBudget = 2000000000;

struct OptimizeProgress {
    uint64_t battles = 0; // played so far
    uint64_t budget = 0;
    SideSelection best; // the best team so far
    Tally bestTally;    // its battles as incumbent on the search's seeds (an estimate)
    uint64_t candidates = 0;
    uint64_t accepted = 0;
    uint64_t restarts = 0;
    double seconds = 0;
};

// How a caller watches and stops a search. Both callbacks run on the thread that
// called optimizeTeam. visited sees every team the search plays battles with, the
// start team first. Setting *cancel ends the search soon with the best team so far.
struct OptimizeControl {
    std::atomic<bool>* cancel = nullptr;
    std::function<void(const OptimizeProgress&)> progress;
    std::chrono::milliseconds progressInterval{100};
    std::function<void(const SideSelection&)> visited;
};

struct OptimizeResult {
    SideSelection best;
    Tally bestTally; // as in OptimizeProgress
    uint64_t battles = 0;
    uint64_t turns = 0;      // of those battles
    uint64_t candidates = 0; // teams raced against an incumbent
    uint64_t accepted = 0;   // of them, significantly better
    uint64_t restarts = 0;
    unsigned threads = 0;
    double seconds = 0;
    bool cancelled = false;
};

// Searches from request.start. Throws InputError before any battle when the start team
// breaks a rule or a team has an empty selection; a battle that fails (a card column
// that is not a number) is thrown with the battle's teams and seed in its location.
OptimizeResult optimizeTeam(const CardCatalogue& catalogue, const OptimizeRequest& request,
                            const OptimizeControl& control = {});

} // namespace morvane
