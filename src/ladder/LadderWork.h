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
#include <string_view>
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
// The largest unit.dat or answer.dat read; a larger unit is answered with an error.
inline constexpr size_t MaxWorkFileBytes = size_t{4} << 20;

inline constexpr std::string_view WorkUnitFile = "unit.dat";
inline constexpr std::string_view WorkAnswerFile = "answer.dat";

std::filesystem::path ladderWorkFolder(const std::filesystem::path& root); // <root>/ladder/work

// Whether id can name a unit: 1 to 32 characters of [0-9a-z-].
bool validWorkId(std::string_view id);

// unit.dat: the kind's word ("matches", "event") on the first line, then the body.
// parseWorkUnit throws InputError for a text without a whole first line or with an
// unknown kind; the id is the caller's (the folder's name).
std::string formatWorkUnit(const WorkUnit& unit);
WorkUnit parseWorkUnit(std::string id, std::string_view text);

// The text of a list of matches, and back. parseMatchOrders throws InputError for
// anything it cannot read whole (a cut-short file, a bad line, too many matches).
// Orders are "orders N", then a line "DECK_A DECK_B BATTLES SEED" per match (deck
// lines as formatDeckLine writes them with list number 0), then "end"; counts are
// "counts N", a line "WINS_A WINS_B UNDECIDED" per match, "end". Every line ends with
// "\n", words are one blank apart, numbers have one spelling: whatever else a text
// holds is refused. formatMatchOrders throws InputError for a match of no battle or
// more than MaxBattlesPerMatch, or more than MaxMatchesPerUnit matches.
std::string formatMatchOrders(const std::vector<MatchOrder>& matches);
std::vector<MatchOrder> parseMatchOrders(std::string_view text);
std::string formatMatchCounts(const std::vector<MatchCount>& counts);
std::vector<MatchCount> parseMatchCounts(std::string_view text);

// Plays the matches on threads; counts[i] is match i's. Empty when cancel stopped it
// first. A deck no battle can start with throws InputError naming its match.
std::vector<MatchCount> playMatches(const CardCatalogue& catalogue, const std::vector<MatchOrder>& matches,
                                    unsigned threads, long long maxTurns = DefaultMaxTurns,
                                    const std::atomic<bool>* cancel = nullptr);

// The answer text of a unit of either kind. Throws InputError for a body it cannot
// read; returns nothing when cancel stopped it.
std::optional<std::string> answerWork(const CardCatalogue& catalogue, const WorkUnit& unit, unsigned threads,
                                      const std::atomic<bool>* cancel = nullptr);

// The answer a runner places for a unit it cannot play: "error" on the first line, then
// why (UTF-8, one line). workError gives the why of such an answer, nothing for any
// other answer.
std::string errorAnswer(std::string_view why);
std::optional<std::string> workError(std::string_view answer);

// Battle k of a match, watched: the ordinary battle report of its two deck lines (a on
// top for even k) played from the seed battleSeed(seed, k), the same bytes as
// matchBattleCommand's morvane-cli run with --time giving the clock's time text. Made
// on request, never stored. Throws InputError for k past the match's battles or a
// deck no battle can start with.
std::string matchBattleReport(const CardCatalogue& catalogue, const MatchOrder& match, unsigned k, const Clock& clock,
                              long long maxTurns = DefaultMaxTurns);
// "morvane-cli battle --top LINE --bottom LINE --seed N": the command that replays it.
std::string matchBattleCommand(const MatchOrder& match, unsigned k, long long maxTurns = DefaultMaxTurns);

// Places a new unit in the root (its folder, then unit.dat, both synced). Throws
// IoError when it cannot, leaving no half-made unit behind; InputError for a bad id.
void submitWork(const std::filesystem::path& root, const WorkUnit& unit);

// Claims one waiting unit (oldest first), plays it and places its answer. Returns
// whether a unit was played. A unit whose body cannot be read is answered with an
// "error" answer naming why, so it is not tried forever.
bool playOneWorkUnit(const std::filesystem::path& root, const CardCatalogue& catalogue, const Clock& clock,
                     ClaimSightings& sightings, unsigned threads, std::chrono::seconds staleAfter,
                     const std::atomic<bool>* cancel = nullptr);

// What playNextWorkUnit did with the unit it played.
struct PlayedWork {
    std::string id;
    WorkKind kind = WorkKind::Matches;
    uint64_t battles = 0;             // Matches: the battles of its matches
    std::optional<std::string> error; // answered with an error answer: why
    bool placed = false;              // this runner's answer is the one in place
};

// playOneWorkUnit saying which unit it played; nothing when none waited, every waiting
// one is held by a live runner, or cancel stopped it. Throws IoError when the unit's
// files cannot be read or its answer placed (the unit then waits for a later try).
std::optional<PlayedWork> playNextWorkUnit(const std::filesystem::path& root, const CardCatalogue& catalogue,
                                           const Clock& clock, ClaimSightings& sightings, unsigned threads,
                                           std::chrono::seconds staleAfter, const std::atomic<bool>* cancel = nullptr);

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
