#pragma once
// Rating work in a batch root, played by the same runners as the battle folders.
//
// A unit of work waits in "<root>/ladder/work/<id>/" as "unit.dat". A runner claims the
// unit exactly as it claims a battle folder (BatchClaim), plays it with the battle pool
// and places its answer, "answer.dat", beside it in one step (placeNewFile: never over
// an existing file), then gives the claim up. A runner killed mid-unit leaves a claim
// that is taken over like any other, and the unit is played again from the start; its
// seed decides every battle, so it answers the same wherever and however often it is
// played. Whoever reads answers (the ladder, an event) keeps the ids it has counted and
// retires a unit's folder only after that, so no answer counts twice or is lost.
//
// Unit ids are 1 to 32 characters of [0-9a-z-]; anything else in the work folder is no
// unit and is left alone.

#include "battle/BattleOutcome.h"
#include "cards/Deck.h"
#include "common/Clock.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

class CardCatalogue;
class ClaimSightings;

enum class WorkKind : uint8_t {
    Matches, // rating matches: the body is a list of MatchOrder
    Event,   // a whole tournament: the body is tournament/EventWork's text
};

struct WorkUnit {
    std::string id;
    WorkKind kind = WorkKind::Matches;
    std::string body; // the kind's own text
};

// Two deck lines and a number of battles: battle k puts a on top for even k and below
// for odd k, with the seed battleSeed(seed, k).
struct MatchOrder {
    SideSelection a;
    SideSelection b;
    unsigned battles = 2;
    uint32_t seed = 0;
};

struct MatchCount {
    unsigned winsA = 0;
    unsigned winsB = 0;
    unsigned undecided = 0; // battles that reached the turn cap
};

inline constexpr size_t MaxMatchesPerUnit = 4096;
inline constexpr unsigned MaxBattlesPerMatch = 1000;

std::filesystem::path ladderWorkFolder(const std::filesystem::path& root); // <root>/ladder/work

// The text of a list of matches, and back. parseMatchOrders throws InputError for
// anything it cannot read whole (a cut-short file, a bad line, too many matches).
std::string formatMatchOrders(const std::vector<MatchOrder>& matches);
std::vector<MatchOrder> parseMatchOrders(std::string_view text);
std::string formatMatchCounts(const std::vector<MatchCount>& counts);
std::vector<MatchCount> parseMatchCounts(std::string_view text);

// Plays the matches on threads; counts[i] is match i's.
std::vector<MatchCount> playMatches(const CardCatalogue& catalogue, const std::vector<MatchOrder>& matches,
                                    unsigned threads, long long maxTurns = DefaultMaxTurns,
                                    const std::atomic<bool>* cancel = nullptr);

// The answer text of a unit of either kind. Throws InputError for a body it cannot
// read; returns nothing when cancel stopped it.
std::optional<std::string> answerWork(const CardCatalogue& catalogue, const WorkUnit& unit, unsigned threads,
                                      const std::atomic<bool>* cancel = nullptr);

// Places a new unit in the root (its folder, then unit.dat, both synced). Throws
// IoError when it cannot, leaving no half-made unit behind; InputError for a bad id.
void submitWork(const std::filesystem::path& root, const WorkUnit& unit);

// Claims one waiting unit (oldest first), plays it and places its answer. Returns
// whether a unit was played. A unit whose body cannot be read is answered with an
// "error" answer naming why, so it is not tried forever.
bool playOneWorkUnit(const std::filesystem::path& root, const CardCatalogue& catalogue, const Clock& clock,
                     ClaimSightings& sightings, unsigned threads, std::chrono::seconds staleAfter,
                     const std::atomic<bool>* cancel = nullptr);

struct AnsweredWork {
    WorkUnit unit;
    std::string answer; // answer.dat as placed
};

// The units that have an answer, for the reader that counts them.
std::vector<AnsweredWork> answeredWork(const std::filesystem::path& root);
// Removes a counted unit's folder. Never throws; a folder left behind is counted by
// its id again only by a reader that forgot the id.
void retireWork(const std::filesystem::path& root, const std::string& id);

} // namespace morvane
