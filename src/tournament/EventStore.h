#pragma once
// The service's tournaments: created by an organizer, played whole by a runner as one
// unit of work, read by everyone.
//
// Each event lives in "<root>/ladder/events/<id>/": "event.dat" holds its name, the
// time it was created, the hash of its organizer key and its order (EventWork's text);
// "result.dat" the answer of its unit; "cancelled.dat" marks one its organizer called
// off. Each file is placed once and never rewritten, so a crash at any moment leaves
// an event whole or not there, and a result stored once is never replaced or counted
// twice. What is in memory is rebuilt from these files at start.
//
// An event's unit is placed after its event.dat; one whose unit was lost before it
// was placed gets it again at the next start. A unit is retired only once its answer
// is stored (or its event is cancelled), so an answer is never lost.

#include "cards/Deck.h"
#include "common/Clock.h"
#include "common/Errors.h"
#include "ladder/LadderWork.h"
#include "tournament/EventWork.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

class CardCatalogue;

inline constexpr size_t MinEventEntrants = 2;
inline constexpr size_t MaxEventEntrants = 256;
inline constexpr unsigned MaxEventBattles = 99;
inline constexpr size_t MaxEventNameBytes = 60; // UTF-8; 20 Japanese characters
// Events waiting to be played at once: each may hold the runners for minutes, so more
// are refused until some are played.
inline constexpr size_t MaxWaitingEvents = 16;

// Why an organizer's request is refused; the message is English, the kind and the
// numbers let a front end say it in its own words.
class EventRefusal : public InputError {
public:
    enum class Kind {
        BadName,    // a name (the event's, or entrant `entrant`'s): empty, too long, not
                    // UTF-8, control characters
        BadEntrant, // entrant `entrant`: its line or team
        NoEntry,    // a ladder entry number that names no entry
        Entrants,   // fewer than MinEventEntrants or more than MaxEventEntrants
        Battles,    // best of 0 or more than MaxEventBattles
        Rounds,     // more Swiss rounds than can be paired without a repeat
        NoEvent,    // no event of that id
        WrongKey,   // the organizer key does not match
        Played,     // it has been played: too late to cancel
        Cancelled,  // it has been called off already
        Busy,       // MaxWaitingEvents wait to be played
    };
    EventRefusal(Kind kind, std::string message, size_t entrant = 0, std::string detail = {})
        : InputError(std::move(message)), kind_(kind), entrant_(entrant), detail_(std::move(detail)) {}
    Kind kind() const { return kind_; }
    // The entrant at fault, from 1 (its line of the organizer's text where it has one);
    // 0 for the event's own name.
    size_t entrant() const { return entrant_; }
    // BadEntrant: the program's own words on the team (UTF-8); empty for a line that is
    // no team at all.
    const std::string& detail() const { return detail_; }

private:
    Kind kind_;
    size_t entrant_;
    std::string detail_;
};

// Throws EventRefusal(BadName) for a name that is empty (when required), longer than
// MaxEventNameBytes, not well-formed UTF-8 or holding control characters.
void checkEventName(std::string_view name, bool required);

// One entrant as the organizer names it: a team with a display name, or a ladder entry.
struct EntrantSource {
    size_t line = 0; // of the organizer's text, for refusals; 0: counted from 1 in order
    std::optional<uint32_t> ladderEntry;
    SideSelection team;
    std::string name; // UTF-8; for a ladder entry, the entry's name unless given
};

// The organizer's text of entrants, one a line: a deck line and an optional name after
// it ("V001C003...C005:000 赤の軍"), or a ladder entry number ("#12" or "12"). Blank
// lines are skipped. Throws EventRefusal(BadEntrant) naming the line (from 1) for a
// line that is neither, a team that cannot stand in a battle or a bad name.
std::vector<EntrantSource> parseEntrantLines(const CardCatalogue& catalogue, std::string_view utf8);

struct EventPlan {
    std::string name; // UTF-8
    TournamentFormat format = TournamentFormat::RoundRobin;
    unsigned battles = 3;
    unsigned rounds = 0; // Swiss only; 0: enough for one winner
    std::vector<EntrantSource> entrants;
    std::optional<uint32_t> seed; // none: one is drawn
};

struct EventRecord {
    enum class State { Waiting, Played, Failed, Cancelled };
    std::string id;
    std::string name;
    Clock::TimePoint created;
    EventOrder order; // the request and the entrants' names
    State state = State::Waiting;
    std::optional<TournamentResult> result; // Played
    std::string problem;                    // Failed: why, as the runner answered
};

// A ladder entry's team and name, or nothing when no active entry has that number.
using EntryResolver = std::function<std::optional<EntrantSource>(uint32_t number)>;

class EventStore {
public:
    // Reads every event under root and places the unit of a waiting event that has
    // none. Throws IoError when the folder cannot be
    // made or read.
    EventStore(std::filesystem::path root, const CardCatalogue& catalogue, const Clock& clock,
               EntryResolver resolver = {});
    ~EventStore();
    EventStore(const EventStore&) = delete;
    EventStore& operator=(const EventStore&) = delete;

    struct Created {
        std::string id;
        std::string key; // the organizer key, shown once
    };
    // Checks the plan (EventRefusal; Busy when MaxWaitingEvents wait), stores the
    // event and submits its unit. The event's battles stop at maxTurns. Throws
    // IoError when it cannot be stored; nothing of it is left then.
    Created create(const EventPlan& plan, long long maxTurns = DefaultMaxTurns);
    // Calls a waiting event off. EventRefusal: NoEvent, WrongKey, Played, Cancelled.
    void cancel(const std::string& id, std::string_view key);

    std::optional<EventRecord> event(const std::string& id) const;
    // Newest first, without their results' rounds (a list needs no more).
    std::vector<EventRecord> list(size_t first, size_t count) const;
    size_t count() const;

    // Stores the answers of this store's units (others, and units of events it does
    // not know, are left alone) and returns the ids of the units that may now be
    // retired: those whose answer is stored, and those of events called off.
    std::vector<std::string> absorb(const std::vector<AnsweredWork>& answers);

    // The unit id of an event.
    static std::string unitId(const std::string& eventId);
    // <root>/ladder/events
    static std::filesystem::path folder(const std::filesystem::path& root);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace morvane
