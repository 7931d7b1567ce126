#pragma once
// Changes to a card set that the balance analysis proposes and measures itself. Each
// round takes the cards the analysis points at (those the best teams use or stack
// most, those the strongest best team is built on, and vehicles none of them takes),
// tries one change of one field of each (size,
// HP or attack, a step at a time), runs the very same analysis on the set with that
// change, and ranks the changes by an objective that is 0 where every target is met:
//
//   points the strongest best team wins above 80% against the field
//   + 5 for each best team that holds three or more copies of a character
//   + 2 for each character short of 16 distinct ones in the best teams
//   + 5 for each vehicle short of 4 distinct ones
//
// A chain of rounds applies the best change of each round and starts the next from
// there, so that a designer sees a path from a set to a balanced one. Every figure is
// a run of analyseBalance with the round's request, field and seed: 'morvane-cli
// balance' with the same settings on the changed file and that field gives the same.
//
// A field of hand-made decks can be so weak that any good team beats it, whatever one
// card's numbers are; no step of one card then brings the strongest team under the
// line. With renewal the chain changes the field as a designer does between rounds:
// before each round the field becomes the strongest of its decks and of the last
// analysis's best teams, so it grows as strong as the set allows.
//
// A chain keeps the lowest of many noisy measurements, so a set it finds on target is
// on target partly by luck. A check runs the plain analysis (further searches and
// all) on fresh seeds before the chain believes it; where the check misses, a chain
// that renews its field goes on from the check's best teams, the stronger ones that
// its own searches did not meet, and changes the cards the check's searches press on.

#include "balance/Balance.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

struct BalanceFigures {
    double strongest = 0;       // the best teams' highest win rate against the field
    Interval strongestInterval; // its 95% interval
    int stackingTeams = 0;      // best teams with three or more copies of a character
    int distinctCharacters = 0;
    int distinctVehicles = 0;
    size_t decisive = 0;
    size_t unplayed = 0;
    double objective = 0;
};
BalanceFigures balanceFigures(const BalanceReport& report);

struct FieldChange {
    char kind = 'C';
    int32_t id = 0;
    std::string field; // "size", "hp" or "power"
    int32_t from = 0;
    int32_t to = 0;
    std::string before; // the card's line, code page 932
    std::string after;
};

struct Proposal {
    FieldChange change;
    BalanceFigures figures; // of the set with the change
    std::string catalogue;  // the changed set's bytes
};

// A plain analysis of the set a round leaves, on seeds no measurement of the chain
// played: 'morvane-cli balance' with its seed gives the same figures.
struct SuggestCheck {
    uint32_t seed = 0;
    BalanceFigures figures;
    unsigned searches = 0; // with the further ones it took
    bool holds() const { return figures.objective == 0; }
};

// The seed of the chain's k-th check (from 0).
uint32_t checkSeed(uint32_t chainSeed, unsigned k);

struct SuggestRound {
    std::vector<SideSelection> field; // the decks every figure of the round was measured against
    bool fieldRenewed = false;        // differs from the round before's (or the request's)
    bool applied = false;             // its best proposal did better and the set goes on with it
    BalanceFigures before;
    std::vector<Proposal> proposals; // best first, at most SuggestRequest::proposals
    // Where the set the round leaves meets every target by the chain's measure and
    // the request asks for checks.
    std::optional<SuggestCheck> check;
};

struct SuggestRequest {
    BalanceRequest analysis;       // of every measurement, with its seed; no further searches
    unsigned proposals = 5;        // kept each round
    unsigned rounds = 1;           // the best change of a round is applied before the next
    unsigned candidates = 12;      // changes measured each round, at most
    bool renewField = false;       // before every round, the first too (see renewedField)
    uint64_t renewalBattles = 200; // of every ordered pair of the league that renews the field
    // The settings (searches, further searches, budget) of the check; its field is the
    // round's and its seed checkSeed's.
    std::optional<BalanceRequest> check;
};

struct SuggestProgress {
    unsigned round = 0;
    unsigned candidate = 0; // measured so far in the round
    unsigned candidates = 0;
    bool checking = false; // the check of the round's set runs
};

// Throws InputError for settings or a set that the analysis refuses; stops early, with
// the rounds done, when *stop is set (a check under way then ends its searches and is
// left out).
std::vector<SuggestRound> suggestChanges(const std::string& catalogueBytes, const SuggestRequest& request,
                                         const std::atomic<bool>* stop = nullptr,
                                         const std::function<void(const SuggestProgress&)>& progress = {});

// The next field: a league of `battles` battles per ordered pair (the analysis's seed,
// threads and turn cap) among the field's decks and the report's distinct best teams
// that hold no three copies of a character (a field of stacks would teach the searches
// to beat one card), and the strongest as many as the field has, at most two of them
// with one vehicle (while others are left) so that the searches meet more than one
// plan, and at most a third (rounded up) dealing most of their damage in one attack
// kind, so that the searches do not learn to block one kind (the kind rule gives way
// first where too few decks are left). Ties keep the field's decks first, then the
// order of the searches. Returns the field unchanged when the report has no best team
// to add.
std::vector<SideSelection> renewedField(const CardCatalogue& catalogue, const std::vector<SideSelection>& field,
                                        const BalanceReport& report, uint64_t battles);

// The changes worth measuring for a report of the set, in the order they are tried.
std::vector<FieldChange> candidateChanges(const std::string& catalogueBytes, const BalanceReport& report,
                                          unsigned most);

} // namespace morvane
