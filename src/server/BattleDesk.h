#pragma once
// The battle service as the web front sees it: what the pages and the API ask for,
// and nothing of how battles are stored or played. BattleService is the real one;
// the front's tests put a fake in its place and need no folders, threads or runners.

#include "cards/CardCatalogue.h"
#include "server/BattleIndex.h"
#include "server/Metrics.h"
#include "tournament/EventStore.h"

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane {

// Too many battles wait: the submission is refused, nothing is written.
class QueueFullError : public std::runtime_error {
public:
    QueueFullError() : std::runtime_error("queue full") {}
};

struct BattleView {
    enum State { Waiting, Playing, Done, Failed };
    BattleEntry entry;
    State state = Waiting;
    int64_t place = 0; // Waiting: 1 for the next to be played
};

class Ladder;

class BattleDesk {
public:
    virtual ~BattleDesk() = default;

    // The two deck lines (code page 932) as the runner will read them: checked by the
    // deck line and battle start rules, and written as the deck lines of the teams
    // they select. Throws InputError with the program's message and which line.
    virtual std::pair<std::string, std::string> checkDecks(const std::string& top, const std::string& bottom) const = 0;
    // Stores a checked pair and returns its number. Throws QueueFullError when the
    // queue is full, and MorvaneError when the battle cannot be stored.
    virtual int submit(const std::pair<std::string, std::string>& decks) = 0;
    // Where a battle stands; nothing for a number without a deck pair.
    virtual std::optional<BattleView> view(int number) = 0;
    // Newest first.
    virtual std::vector<BattleEntry> history(int64_t offset, int count) = 0;
    virtual int64_t battleCount() = 0;
    // The report of a battle, byte for byte as stored; nothing when there is none.
    virtual std::optional<std::string> report(int number) const = 0;
    virtual std::string metricsText() = 0;

    // A battle played again from its seed: its report (code page 932), made now and
    // stored nowhere. The decks are checked ones (checkDecks). Throws InputError.
    virtual std::string replay(const std::pair<std::string, std::string>& decks, uint32_t seed,
                               long long maxTurns) const = 0;
    // The turn cap of the battles this service plays, events included.
    virtual long long maxTurns() const = 0;

    // Tournaments, as EventStore keeps them (their battles stop at maxTurns()).
    // createEvent and cancelEvent throw EventRefusal, and MorvaneError when the event
    // cannot be stored.
    virtual EventStore::Created createEvent(const EventPlan& plan) = 0;
    virtual void cancelEvent(const std::string& id, std::string_view key) = 0;
    virtual std::optional<EventRecord> event(const std::string& id) = 0;
    virtual std::vector<EventRecord> events(size_t first, size_t count) = 0;
    virtual size_t eventCount() = 0;

    virtual const CardCatalogue& catalogue() const = 0;
    // The builder's first teams; empty lines when there are none.
    virtual const std::array<std::string, 2>& defaultDecks() const = 0;
    virtual ServiceMetrics& metrics() = 0;
    // The ladder, when the service keeps one.
    virtual Ladder* ladder() { return nullptr; }

protected:
    BattleDesk() = default;
    BattleDesk(const BattleDesk&) = default;
    BattleDesk& operator=(const BattleDesk&) = default;
};

} // namespace morvane
