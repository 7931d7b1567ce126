#pragma once
// The ladder: entered teams, each rated by its win rate against the current field
// (every other active entry alike, half the battles on top and half below, a battle
// at the turn cap counting half) with a 95% interval that holds.
//
// Records live under "<root>/ladder/" beside the battle folders, and they are the
// truth: one file per entry (placed once, never rewritten; a withdrawal is a second
// file), a pending record of each unit handed out (what its matches mean: the entry
// numbers, placed before the unit goes out), and the journal of counted work units
// (appended and synced, one line a unit: its id, its matches and their counts).
// Everything in memory is rebuilt from them at start, so a lost or damaged in-memory
// state costs time, never an entry or a counted result; a unit whose id the journal
// holds is never counted again, and answers of units handed out before a restart
// count after it. A unit recorded but not yet in the root when the process stopped is
// placed there at the next start.
//
// The ladder hands out work (LadderWork's units) and counts the answers; runners play
// it. The owner calls nextWork and absorbAnswers from one thread (the service's ladder
// loop); the read functions may be called from any thread.

#include "cards/Deck.h"
#include "common/Clock.h"
#include "common/Errors.h"
#include "ladder/LadderWork.h"
#include "stats/Tally.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

class CardCatalogue;

inline constexpr size_t MaxEntryNameBytes = 60; // UTF-8; 20 Japanese characters
inline constexpr unsigned EntriesPerClientPerDay = 20;

// How hard the ladder works on each entry. The defaults are the service's; tests and
// benchmarks use smaller fields and looser targets.
struct LadderTuning {
    // Placement goes on (and a thinned sample is topped up) until the interval's half
    // width is at most this.
    double halfWidth = 0.025;
    unsigned battlesPerMatch = 2;              // even: as many on top as below
    size_t matchesPerUnit = MaxMatchesPerUnit; // fewer units: fewer syncs a battle
    size_t focus = 20;                         // the top places whose order is worth extra battles
    unsigned focusOpponents = 64;              // new opponents an uncertain top entry meets a round
    unsigned minOpponents = 10;                // an interval narrower than [0, 1] needs this many
    std::chrono::minutes staleAfter{30};       // a unit unanswered this long is handed out again
};

struct LadderEntry {
    uint32_t number = 0; // from 1, never used again
    std::string name;    // UTF-8, checked by checkEntryName
    SideSelection team;
    Clock::TimePoint entered;
    std::optional<Clock::TimePoint> withdrawn;
    uint32_t replaces = 0; // the entry this one replaced, 0 for none
    bool active() const { return !withdrawn; }
};

struct LadderRating {
    double rating = 0.5; // 0 to 1
    Interval interval;   // 95%; [0, 1] before any battle
    uint64_t battles = 0;
    uint32_t opponents = 0; // met so far
};

struct LadderRow {
    uint32_t rank = 0; // from 1, among active entries
    LadderEntry entry;
    LadderRating rating;
    std::optional<double> dayAgo; // the rating 24 h ago, when it had one
    bool uncertain = false;       // its interval overlaps a neighbour's
};

struct MatchUp {
    uint32_t opponent = 0;
    double score = 0.5; // the entry's mean score against it
    Interval interval;
    unsigned battles = 0;
    uint32_t seed = 0; // battle k of the pair: battleSeed(seed, k), entry on top for even k
    bool entryIsA = true;
};

struct RatingPoint {
    Clock::TimePoint time;
    double rating = 0.5;
    Interval interval;
};

// Why an entry is refused.
class LadderRefusal : public InputError {
public:
    enum class Kind { BadName, BadTeam, Duplicate, DailyLimit, NoEntry, WrongKey, Withdrawn };
    LadderRefusal(Kind kind, std::string message, uint32_t entry = 0)
        : InputError(std::move(message)), kind_(kind), entry_(entry) {}
    Kind kind() const { return kind_; }
    uint32_t entry() const { return entry_; } // Duplicate: the entry that holds the team
private:
    Kind kind_;
    uint32_t entry_;
};

// The seed of the one match of entries a and b (either order): the seed of battle
// pairNumber of the ladder's seed, where the pair number (b-1)(b-2)/2 + (a-1) of
// a < b is the pair's own for entry numbers below 92,682. A pair that needs more
// battles plays them again from the same seed, so its counts replace the old ones.
uint32_t ladderMatchSeed(uint32_t ladderSeed, uint32_t a, uint32_t b);

// Throws LadderRefusal(BadName) for an empty or blank name, one past
// MaxEntryNameBytes, one that is no valid UTF-8 or holds control characters (C0, DEL,
// C1, the line and paragraph separators, the direction marks and overrides).
void checkEntryName(std::string_view name);

class Ladder {
public:
    // Reads the records under root (creating "ladder/" when missing). Throws IoError.
    Ladder(std::filesystem::path root, const CardCatalogue& catalogue, const Clock& clock, LadderTuning tuning = {});
    ~Ladder();
    Ladder(const Ladder&) = delete;
    Ladder& operator=(const Ladder&) = delete;

    struct Entered {
        uint32_t number = 0;
        std::string key; // shown once
    };
    // client names who entered (an address), for the daily limit.
    Entered enter(std::string_view name, const SideSelection& team, std::string_view client);
    void withdraw(uint32_t number, std::string_view key);
    // Withdraws the entry and enters the team under the same name and key.
    Entered replace(uint32_t number, std::string_view key, const SideSelection& team, std::string_view client);

    size_t activeCount() const;
    std::optional<LadderEntry> entry(uint32_t number) const;
    std::optional<LadderRow> row(uint32_t number) const; // with its rank (0 once withdrawn)
    // By rating, best first; entries still without an interval after every placed one.
    std::vector<LadderRow> page(size_t first, size_t count) const;
    std::vector<MatchUp> matchUps(uint32_t number) const; // best first
    std::vector<RatingPoint> history(uint32_t number) const;

    // Units of rating work to submit: placement for new entries first, then battles
    // where they change the ranking most. At most maxBattles battles in all.
    std::vector<WorkUnit> nextWork(uint64_t maxBattles);
    // Counts answers of units this ladder handed out (others are left alone); returns
    // the ids counted, which the caller may retire.
    std::vector<std::string> absorbAnswers(const std::vector<AnsweredWork>& answers);
    // Battles handed out and not yet answered, leaving out units gone stale.
    uint64_t battlesOutstanding() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace morvane
