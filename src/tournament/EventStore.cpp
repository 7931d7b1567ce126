#include "tournament/EventStore.h"

#include "cards/CardCatalogue.h"
#include "cards/Team.h"
#include "common/AtomicFile.h"
#include "common/Codec.h"
#include "common/Files.h"
#include "common/Secret.h"
#include "common/TextLines.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <mutex>
#include <system_error>

namespace fs = std::filesystem;

namespace morvane {

namespace {

constexpr std::string_view RecordHead = "morvane-event-record 1";
constexpr std::string_view EventFile = "event.dat";
constexpr std::string_view ResultFile = "result.dat";
constexpr std::string_view CancelFile = "cancelled.dat";
constexpr std::string_view UnitPrefix = "event-";
constexpr size_t EventIdDigits = 12;
constexpr std::uintmax_t MaxRecordBytes = std::uintmax_t{4} << 20;
constexpr size_t MaxProblemBytes = 300;

bool eventId(std::string_view id) {
    return id.size() == EventIdDigits &&
           std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Well-formed UTF-8 without control characters: what a name shown on every page may be.
bool cleanUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7f)
            return false;
        const size_t length = byte < 0x80             ? 1
                              : (byte & 0xe0) == 0xc0 ? 2
                              : (byte & 0xf0) == 0xe0 ? 3
                              : (byte & 0xf8) == 0xf0 ? 4
                                                      : 0;
        if (length == 0 || i + length > text.size())
            return false;
        uint32_t code = length == 1 ? byte : byte & (0x7f >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3f);
        }
        // Overlong forms, surrogates, past U+10FFFF, and C1 controls.
        static constexpr uint32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < Least[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff ||
            (code >= 0x80 && code < 0xa0))
            return false;
        i += length;
    }
    return true;
}

int64_t millis(Clock::TimePoint time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

// The first line of a runner's answer that is no result, as a reason a page can show.
std::string problemOf(std::string_view answer) {
    std::string_view line = answer.substr(0, answer.find('\n'));
    if (line.substr(0, 5) == "error")
        line = trimmed(line.substr(5));
    std::string text;
    for (const char c : line.substr(0, MaxProblemBytes))
        text.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c);
    return text.empty() ? std::string("the runner's answer is no result") : text;
}

[[noreturn]] void badEntrant(size_t line, const std::string& why, const std::string& detail = {}) {
    throw EventRefusal(EventRefusal::Kind::BadEntrant,
                       std::string("entrant line ").append(std::to_string(line)).append(": ").append(why), line,
                       detail);
}

[[noreturn]] void badEntrantName(size_t line, const EventRefusal& e) {
    throw EventRefusal(EventRefusal::Kind::BadName,
                       std::string("entrant line ").append(std::to_string(line)).append(": ").append(e.message()),
                       line);
}

} // namespace

void checkEventName(std::string_view name, bool required) {
    if (required && trimmed(name).empty())
        throw EventRefusal(EventRefusal::Kind::BadName, "the name is empty");
    if (name.size() > MaxEventNameBytes)
        throw EventRefusal(
            EventRefusal::Kind::BadName,
            std::string("a name is at most ").append(std::to_string(MaxEventNameBytes)).append(" bytes"));
    if (!cleanUtf8(name))
        throw EventRefusal(EventRefusal::Kind::BadName, "a name must be UTF-8 without control characters");
}

std::vector<EntrantSource> parseEntrantLines(const CardCatalogue& catalogue, std::string_view utf8) {
    std::vector<EntrantSource> entrants;
    size_t number = 0;
    size_t from = 0;
    while (from <= utf8.size()) {
        size_t end = utf8.find('\n', from);
        if (end == std::string_view::npos)
            end = utf8.size();
        std::string_view line = utf8.substr(from, end - from);
        from = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = trimmed(line);
        if (line.empty())
            continue;
        if (entrants.size() == MaxEventEntrants)
            throw EventRefusal(
                EventRefusal::Kind::Entrants,
                std::string("an event takes at most ").append(std::to_string(MaxEventEntrants)).append(" entrants"));
        const size_t blank = line.find_first_of(" \t");
        std::string_view first = line.substr(0, blank);
        const std::string_view rest =
            blank == std::string_view::npos ? std::string_view() : trimmed(line.substr(blank));
        EntrantSource entrant;
        if (!first.empty() && first.front() == '#')
            first.remove_prefix(1);
        if (!first.empty() && first.size() <= 9 && first.find_first_not_of("0123456789") == std::string_view::npos) {
            uint32_t entry = 0;
            std::from_chars(first.data(), first.data() + first.size(), entry);
            entrant.ladderEntry = entry;
        } else {
            if (first.size() < 36 || (first[0] != 'V' && first[0] != 'v'))
                badEntrant(number, "neither a deck line nor a ladder entry number");
            try {
                applyDeckLine(first, entrant.team, catalogue);
                checkPlayable(catalogue, entrant.team);
            } catch (const MorvaneError& e) {
                badEntrant(number, utf8Text(e), utf8Text(e));
            }
        }
        try {
            checkEventName(rest, false);
        } catch (const EventRefusal& e) {
            badEntrantName(number, e);
        }
        entrant.line = number;
        entrant.name = std::string(rest);
        entrants.push_back(std::move(entrant));
    }
    return entrants;
}

struct EventStore::State {
    fs::path root;
    const CardCatalogue& catalogue;
    const Clock& clock;
    EntryResolver resolver;
    mutable std::mutex mutex;
    std::map<std::string, EventRecord> events;
    std::map<std::string, std::string> keys; // id: the stored hash

    fs::path eventFolder(const std::string& id) const { return folder(root) / id; }

    // Reads one event's files; nothing for a folder that holds no whole event.
    std::optional<EventRecord> load(const std::string& id) {
        const fs::path dir = eventFolder(id);
        std::string text;
        try {
            text = readFileBytes(dir / EventFile, MaxRecordBytes);
        } catch (const MorvaneError&) {
            return std::nullopt;
        }
        EventRecord record;
        record.id = id;
        std::string_view rest = text;
        auto line = [&]() -> std::optional<std::string_view> {
            const size_t end = rest.find('\n');
            if (end == std::string_view::npos)
                return std::nullopt;
            const std::string_view l = rest.substr(0, end);
            rest.remove_prefix(end + 1);
            return l;
        };
        const auto head = line(), name = line(), created = line(), key = line();
        if (!head || *head != RecordHead || !name || name->substr(0, 5) != "name " || !created ||
            created->substr(0, 8) != "created " || !key || key->substr(0, 4) != "key ")
            return std::nullopt;
        record.name = std::string(name->substr(5));
        int64_t ms = 0;
        const std::string_view msText = created->substr(8);
        if (std::from_chars(msText.data(), msText.data() + msText.size(), ms).ec != std::errc())
            return std::nullopt;
        record.created = Clock::TimePoint(std::chrono::milliseconds(ms));
        try {
            record.order = parseEventOrder(rest);
        } catch (const InputError&) {
            return std::nullopt;
        }
        keys[id] = std::string(key->substr(4));
        std::error_code error;
        if (fs::exists(dir / ResultFile, error))
            settle(record, readFileBytes(dir / ResultFile, MaxRecordBytes));
        else if (fs::exists(dir / CancelFile, error))
            record.state = EventRecord::State::Cancelled;
        return record;
    }

    // The event as its stored answer leaves it: played, or failed with the runner's reason.
    static void settle(EventRecord& record, const std::string& answer) {
        try {
            record.result = parseTournamentResult(answer, record.order.request.entrants.size());
            record.state = EventRecord::State::Played;
        } catch (const InputError&) {
            record.result.reset();
            record.state = EventRecord::State::Failed;
            record.problem = problemOf(answer);
        }
    }

    void submit(const EventRecord& record) {
        submitWork(root, WorkUnit{unitId(record.id), WorkKind::Event, formatEventOrder(record.order)});
    }
};

EventStore::EventStore(fs::path root, const CardCatalogue& catalogue, const Clock& clock, EntryResolver resolver)
    : state_(new State{std::move(root), catalogue, clock, std::move(resolver), {}, {}, {}}) {
    State& s = *state_;
    const fs::path events = folder(s.root);
    std::error_code error;
    // Made by the first event: a root without events stays as it was.
    if (!fs::exists(events, error)) {
        if (error)
            throw IoError("cannot read the events", events.string());
        return;
    }
    // The answers not yet absorbed: their events wait, but their units are there.
    std::vector<std::string> answered;
    for (const AnsweredWork& work : answeredWork(s.root))
        answered.push_back(work.unit.id);
    for (fs::directory_iterator it(events, error), end; !error && it != end; it.increment(error)) {
        const std::string id = it->path().filename().string();
        if (!eventId(id))
            continue;
        std::optional<EventRecord> record = s.load(id);
        if (!record)
            continue;
        // An event stored without its unit (the service stopped between the two): its
        // unit is placed now, or it would wait for ever.
        if (record->state == EventRecord::State::Waiting && !fs::exists(ladderWorkFolder(s.root) / unitId(id), error) &&
            std::find(answered.begin(), answered.end(), unitId(id)) == answered.end())
            s.submit(*record);
        s.events.emplace(id, std::move(*record));
    }
    if (error)
        throw IoError("cannot read the events", events.string());
}

EventStore::~EventStore() = default;

std::string EventStore::unitId(const std::string& eventId) {
    return std::string(UnitPrefix).append(eventId);
}

fs::path EventStore::folder(const fs::path& root) {
    return root / "ladder" / "events";
}

EventStore::Created EventStore::create(const EventPlan& plan, long long maxTurns) {
    State& s = *state_;
    checkEventName(plan.name, true);
    const size_t n = plan.entrants.size();
    if (n < MinEventEntrants || n > MaxEventEntrants)
        throw EventRefusal(EventRefusal::Kind::Entrants, std::string("an event takes ")
                                                             .append(std::to_string(MinEventEntrants))
                                                             .append(" to ")
                                                             .append(std::to_string(MaxEventEntrants))
                                                             .append(" entrants"));
    if (plan.battles < 1 || plan.battles > MaxEventBattles)
        throw EventRefusal(EventRefusal::Kind::Battles,
                           std::string("a match is best of 1 to ").append(std::to_string(MaxEventBattles)));
    if (plan.format == TournamentFormat::Swiss && plan.rounds > roundRobinRounds(n))
        throw EventRefusal(EventRefusal::Kind::Rounds, std::string("a Swiss event of ")
                                                           .append(std::to_string(n))
                                                           .append(" entrants has at most ")
                                                           .append(std::to_string(roundRobinRounds(n)))
                                                           .append(" rounds without a repeat"));
    EventRecord record;
    record.name = std::string(trimmed(plan.name));
    record.created = s.clock.now();
    TournamentRequest& request = record.order.request;
    request.format = plan.format;
    request.battles = plan.battles;
    request.rounds = plan.format == TournamentFormat::Swiss ? plan.rounds : 0;
    request.maxTurns = maxTurns;
    for (size_t i = 0; i < n; ++i) {
        EntrantSource entrant = plan.entrants[i];
        const size_t line = entrant.line ? entrant.line : i + 1;
        if (entrant.ladderEntry) {
            const std::optional<EntrantSource> found =
                s.resolver ? s.resolver(*entrant.ladderEntry) : std::optional<EntrantSource>();
            if (!found)
                throw EventRefusal(EventRefusal::Kind::NoEntry,
                                   std::string("no ladder entry #").append(std::to_string(*entrant.ladderEntry)), line);
            entrant.team = found->team;
            if (entrant.name.empty())
                entrant.name = found->name;
        }
        try {
            checkPlayable(s.catalogue, entrant.team);
        } catch (const MorvaneError& e) {
            badEntrant(line, utf8Text(e), utf8Text(e));
        }
        try {
            checkEventName(entrant.name, false);
        } catch (const EventRefusal& e) {
            badEntrantName(line, e);
        }
        request.entrants.push_back(entrant.team);
        record.order.names.push_back(entrant.name);
    }
    if (plan.seed) {
        request.seed = *plan.seed;
    } else {
        const std::string digits = newSecretKey().substr(0, 8);
        std::from_chars(digits.data(), digits.data() + digits.size(), request.seed, 16);
    }
    const std::string key = newSecretKey();
    const std::string hash = hashSecretKey(key);
    std::string text(RecordHead);
    text.append("\nname ").append(record.name);
    text.append("\ncreated ").append(std::to_string(millis(record.created)));
    text.append("\nkey ").append(hash).append("\n");
    text.append(formatEventOrder(record.order));

    std::lock_guard lock(s.mutex);
    const auto waiting = std::count_if(s.events.begin(), s.events.end(), [](const auto& event) {
        return event.second.state == EventRecord::State::Waiting;
    });
    if (static_cast<size_t>(waiting) >= MaxWaitingEvents)
        throw EventRefusal(EventRefusal::Kind::Busy, "too many events wait to be played");
    // A fresh random id; one taken already (by chance, or by another process sharing
    // the root) is drawn again.
    {
        std::error_code error;
        fs::create_directories(folder(s.root), error);
        if (error)
            throw FolderError(folder(s.root).string());
    }
    for (int attempt = 0;; ++attempt) {
        record.id = newSecretKey().substr(0, EventIdDigits);
        const fs::path dir = s.eventFolder(record.id);
        std::error_code error;
        if (!fs::create_directory(dir, error)) {
            if (error || attempt >= 8)
                throw FolderError(dir.string());
            continue;
        }
        try {
            if (!placeNewFile(dir / EventFile, text, 0644, Durability::Folder))
                throw IoError("event exists", dir.string());
            s.submit(record);
        } catch (...) {
            fs::remove_all(dir, error);
            throw;
        }
        break;
    }
    s.keys[record.id] = hash;
    const std::string id = record.id;
    s.events.emplace(id, std::move(record));
    return {id, key};
}

void EventStore::cancel(const std::string& id, std::string_view key) {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    const auto it = s.events.find(id);
    if (it == s.events.end())
        throw EventRefusal(EventRefusal::Kind::NoEvent, "no such event");
    if (!secretKeyMatches(s.keys[id], key))
        throw EventRefusal(EventRefusal::Kind::WrongKey, "the organizer key does not match");
    EventRecord& record = it->second;
    if (record.state == EventRecord::State::Cancelled)
        throw EventRefusal(EventRefusal::Kind::Cancelled, "the event has been cancelled already");
    if (record.state != EventRecord::State::Waiting)
        throw EventRefusal(EventRefusal::Kind::Played, "the event has been played");
    // Placed once: a second cancel, here or in another process, finds it there.
    if (!placeNewFile(s.eventFolder(id) / CancelFile, std::to_string(millis(s.clock.now())) + "\n", 0644,
                      Durability::Folder))
        throw EventRefusal(EventRefusal::Kind::Cancelled, "the event has been cancelled already");
    record.state = EventRecord::State::Cancelled;
    // Its unit is no longer worth a runner's time; an answer placed meanwhile is
    // dropped by absorb.
    retireWork(s.root, unitId(id));
}

std::optional<EventRecord> EventStore::event(const std::string& id) const {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->events.find(id);
    if (it == state_->events.end())
        return std::nullopt;
    return it->second;
}

std::vector<EventRecord> EventStore::list(size_t first, size_t count) const {
    std::lock_guard lock(state_->mutex);
    std::vector<const EventRecord*> all;
    for (const auto& [id, record] : state_->events)
        all.push_back(&record);
    std::sort(all.begin(), all.end(), [](const EventRecord* a, const EventRecord* b) {
        return a->created != b->created ? a->created > b->created : a->id < b->id;
    });
    std::vector<EventRecord> page;
    for (size_t i = first; i < all.size() && page.size() < count; ++i) {
        EventRecord record = *all[i];
        if (record.result)
            record.result->rounds.clear();
        page.push_back(std::move(record));
    }
    return page;
}

size_t EventStore::count() const {
    std::lock_guard lock(state_->mutex);
    return state_->events.size();
}

std::vector<std::string> EventStore::absorb(const std::vector<AnsweredWork>& answers) {
    State& s = *state_;
    std::vector<std::string> retire;
    std::lock_guard lock(s.mutex);
    for (const AnsweredWork& work : answers) {
        if (work.unit.kind != WorkKind::Event || work.unit.id.rfind(UnitPrefix, 0) != 0)
            continue;
        const auto it = s.events.find(work.unit.id.substr(UnitPrefix.size()));
        if (it == s.events.end())
            continue;
        EventRecord& record = it->second;
        if (record.state == EventRecord::State::Waiting) {
            const fs::path path = s.eventFolder(record.id) / ResultFile;
            try {
                // Placed once: where a result is there already (absorbed by an earlier
                // run that stopped before retiring the unit), that one stands.
                if (placeNewFile(path, work.answer, 0644, Durability::Folder))
                    State::settle(record, work.answer);
                else
                    State::settle(record, readFileBytes(path, MaxRecordBytes));
            } catch (const MorvaneError&) {
                // Not stored: the unit stays, and the next look tries again.
                continue;
            }
        }
        retire.push_back(work.unit.id);
    }
    return retire;
}

} // namespace morvane
