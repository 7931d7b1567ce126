#pragma once
// How a card set plays, for its designer: several independent team searches against a
// field of decks, and what their best teams say about each card. Each search is one
// independent draw of "the best team a search finds", so the share of searches whose
// best team uses a card is a proportion with an interval. A card decides too much when
// the evidence says that more than half of all best teams use it, or that more than a
// quarter hold three or more copies of it; nobody plays it when the evidence says that
// fewer than one best team in six uses it. Where the interval still allows both sides of
// the line the card is uncertain, and the run may play further searches to settle it.
// What a best team loses when a card of it is replaced by the best other choice says how
// much the team leans on that card.
//
// Every figure is reproducible from the run's seed on any thread count. Search k runs
// the optimizer with the seed searchSeed(seed, k) from a random legal team drawn with
// that seed, exactly as 'morvane-cli optimize --deck START --seed SEARCHSEED' runs it;
// its best team, and that team with a card replaced, are measured on the fresh seeds of
// that search (the battles of 'optimize --measure'), which the search never played.
// The best other choice is picked on further fresh battles of the same seed, so the
// measurement that scores it did not pick it. The league of the best teams plays their
// ordered pairs as 'morvane-cli league --seed SEED' does.
//
// Nothing here prints or draws: the command line tool and the page writer do.

#include "cards/Deck.h"
#include "optimize/Optimizer.h"
#include "runs/Runs.h"
#include "stats/BattlePool.h"
#include "stats/Tally.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

class CardCatalogue;

struct BalanceRequest {
    Field field;           // the opponents; every search plays them on both sides by default
    unsigned searches = 8; // independent searches, 1 to MaxSearches
    // Further searches, four at a time, while a card's verdict is uncertain, up to this
    // many in all; at most `searches` plays none.
    unsigned maxSearches = 36;
    uint64_t budget = 500000; // battles of each search
    unsigned threads = 1;     // 0: one per core
    uint32_t seed = 0;        // of the run; each search's seed is derived from it
    long long maxTurns = DefaultMaxTurns;
    uint64_t finalBattles = 500;   // per field deck and side, for every team measured
    uint64_t leagueBattles = 1000; // per ordered pair of distinct best teams, at most
    // Searches break a stack of three or more copies where a team with one fewer is not
    // shown to be worse (SearchTuning::preferVariety), so that a stack left in a best
    // team is one the set rewards.
    bool preferVariety = false;
};

inline constexpr unsigned MaxSearches = 64;

// The lines the verdicts draw, as shares of all best teams. A run looks at its shares
// again after each further step of searches, and each look is a chance to cross a line
// by luck; 99% intervals (99.5% on one side) keep a verdict against the truth under 2%
// over all the looks a run may take, where 95% ones allow about 9%.
inline constexpr double VerdictQuantile = 2.5758293035489004;
inline constexpr double DecisiveUse = 0.5;
inline constexpr double DecisiveStack = 0.25;
inline constexpr double UnplayedUse = 1.0 / 6.0;
inline constexpr int StackCopies = 3;

enum class Verdict : uint8_t {
    Fine,           // neither line is in doubt
    DecidesTooMuch, // a best-team share is above its line
    Unplayed,       // too few best teams use it
    Uncertain,      // an interval still holds a line
};

// What the evidence says of a card, and where it does not yet, what would settle it.
struct CardVerdict {
    Verdict verdict = Verdict::Fine;
    // For an uncertain card: the share whose interval holds a line, that line, and the
    // searches in all that the observed share would need to leave it (0: no number
    // would, the share sits on the line).
    enum Question : uint8_t { None, Use, Stack, Rare } question = None;
    double line = 0;
    unsigned searchesToSettle = 0;
};

// The seed of search k (from 0) of a run seeded with runSeed.
uint32_t searchSeed(uint32_t runSeed, unsigned search);

struct BalanceSearch {
    uint32_t seed = 0;
    SideSelection start; // the random legal team the search started from
    OptimizeResult result;
    FieldScore score; // the best team on fresh seeds
};

// One card seen through the best teams.
struct CardBalance {
    bool vehicle = false;
    int32_t id = 0;
    std::vector<int> copies; // by search: copies in its best team, 0 where unused

    // The best teams of the first `searches` searches (those asked for, not those played
    // to settle verdicts) that use the card, measured as they are and with every copy of
    // the card replaced by the best other choice, on the same fresh seeds; a team where
    // no other card fits the rules counts in neither.
    Tally kept;
    Tally replaced;
    std::vector<int32_t> replacements; // by search: the best other card, 0 where unused or none fits

    int teams() const;
    int mostCopies() const;
    // Best teams that hold StackCopies or more copies.
    int stacked() const;
    // 99% intervals (VerdictQuantile) of the share of all best teams that use the card,
    // and that stack it.
    Interval useInterval() const;
    Interval stackInterval() const;
    CardVerdict verdict() const;
    // Win rate the teams lose with the card replaced: kept minus replaced, from -1 to 1.
    double loss() const { return kept.winRate() - replaced.winRate(); }
    // A 95% interval for the loss, from the two Wilson intervals (Newcombe's method).
    Interval lossInterval() const;
    bool measured() const { return kept.battles > 0; }
};

struct BalanceLeague {
    std::vector<SideSelection> teams;    // the distinct best teams, in the order first found
    std::vector<size_t> teamOf;          // by search: its best team's index in teams
    std::vector<LeaguePairing> pairings; // in the order of leaguePairs
    uint64_t battles = 0;                // of every ordered pair
    std::vector<uint64_t> winSquares;    // by team, as LeagueResult counts them

    // A team's battles against all others, both ways round.
    Tally record(size_t team) const;
    // The 95% interval of its win rate, which allows for the seeds its battles share.
    Interval winInterval(size_t team) const;
    // Team a's battles against team b, both ways round.
    Tally against(size_t a, size_t b) const;
};

struct BalanceReport {
    BalanceRequest request;
    std::vector<BalanceSearch> searches; // those that ran (fewer when stopped)
    std::vector<CardBalance> characters; // every offered character, by id
    std::vector<CardBalance> vehicles;   // every offered vehicle, by id
    BalanceLeague league;
    unsigned threads = 0;
    double seconds = 0;
    bool interrupted = false; // the searches were stopped before all had run

    // Distinct cards in the best teams.
    int distinctCharacters() const;
    int distinctVehicles() const;
    // The cards whose verdict is settled as deciding too much, as unplayed, and those
    // still uncertain.
    std::vector<const CardBalance*> decisive() const;
    std::vector<const CardBalance*> unplayed() const;
    std::vector<const CardBalance*> uncertain() const;
    // The further searches the run played by itself to settle verdicts.
    unsigned extraSearches() const;
    // The best teams' highest win rate against the field.
    double strongest() const;
};

// How far a run has come: the phase and its battles done of all.
struct BalanceProgress {
    enum Phase : uint8_t { Searching, Replacing, League };
    Phase phase = Searching;
    unsigned search = 0; // the search under way, from 0
    uint64_t done = 0;
    uint64_t total = 0;
};

// How a caller watches and stops a run; the callback runs on the calling thread.
// Setting *stopSearches ends the search under way (its best team so far counts) and
// starts no other: the teams found by then are analysed. Setting *stop ends the run
// as soon as it can, with whatever it has.
struct BalanceControl {
    const std::atomic<bool>* stopSearches = nullptr;
    std::atomic<bool>* stop = nullptr;
    std::function<void(const BalanceProgress&)> progress;
    std::chrono::milliseconds progressInterval{100};
};

// "C005", "V002": a card as its deck line and the catalogue name it.
std::string cardCode(bool vehicle, int32_t id);
// A card's name, UTF-8.
std::string cardNameText(const CardCatalogue& catalogue, bool vehicle, int32_t id);
// A share of battles in points with its sign: "+12.3", "-0.4", "0.0".
std::string pointsText(double share);

// Throws InputError for an empty field, a field deck that cannot stand in a battle, a
// catalogue without a legal team, or settings whose measurements would reuse seeds; a
// battle that fails is thrown as the optimizer throws it.
BalanceReport analyseBalance(const CardCatalogue& catalogue, const BalanceRequest& request,
                             const BalanceControl& control = {});

} // namespace morvane
