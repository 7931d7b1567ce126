#include "tournament/EventWork.h"

#include "cards/Deck.h"
#include "common/Errors.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace morvane {

namespace {

constexpr std::string_view OrderHead = "morvane-event 1";
constexpr std::string_view ResultHead = "morvane-event-result 1";
constexpr std::string_view Closing = "end";
// "V001C003C011C012C007C021C019C020C005": the ids of a deck line without its number.
constexpr size_t TeamColumns = 36;

[[noreturn]] void unreadable(const std::string& why) {
    throw InputError("event text: " + why);
}

// The text line by line, each line split at single blanks: every line is asked for by
// what it must hold, so a line missing, added or cut short is refused where it is.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}

    std::string_view next(const char* what) {
        const size_t end = text_.find('\n', at_);
        if (end == std::string_view::npos)
            unreadable(std::string("cut short before ").append(what));
        const std::string_view line = text_.substr(at_, end - at_);
        at_ = end + 1;
        ++number_;
        return line;
    }
    // The words of the next line, which must start with key and hold count words after it.
    std::vector<std::string_view> fields(const char* key, size_t count) {
        const std::string_view line = next(key);
        std::vector<std::string_view> words;
        size_t from = 0;
        while (true) {
            const size_t blank = line.find(' ', from);
            words.push_back(line.substr(from, blank == std::string_view::npos ? std::string_view::npos : blank - from));
            if (blank == std::string_view::npos)
                break;
            from = blank + 1;
        }
        if (words.front() != key || words.size() != count + 1)
            fail(
                std::string("expected '").append(key).append("' and ").append(std::to_string(count)).append(" values"));
        words.erase(words.begin());
        return words;
    }
    void expect(std::string_view line) {
        if (next(std::string(line).c_str()) != line)
            fail(std::string("expected '").append(line).append("'"));
    }
    void finish() {
        expect(Closing);
        if (at_ != text_.size())
            fail("text after the end");
    }
    [[noreturn]] void fail(const std::string& why) const {
        unreadable(std::string("line ").append(std::to_string(number_)).append(": ").append(why));
    }

    template <class T> T number(std::string_view word, T most = std::numeric_limits<T>::max()) const {
        T value{};
        const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (word.empty() || ec != std::errc() || end != word.data() + word.size() || value > most)
            fail(std::string("'").append(word).append("' is no number in range"));
        return value;
    }
    double real(std::string_view word) const {
        double value = 0;
        const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (word.empty() || ec != std::errc() || end != word.data() + word.size() || !std::isfinite(value) || value < 0)
            fail(std::string("'").append(word).append("' is no number in range"));
        return value;
    }
    size_t entrant(std::string_view word, size_t entrants, bool byeAllowed = false) const {
        if (byeAllowed && word == "-")
            return Bye;
        const auto value = number<size_t>(word);
        if (value >= entrants)
            fail(std::string("no entrant ").append(word));
        return value;
    }

private:
    std::string_view text_;
    size_t at_ = 0;
    int number_ = 0;
};

std::string realText(double value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return std::string(text, ec == std::errc() ? end : text);
}

bool controlFree(std::string_view name) {
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

// The ids of a deck line, read strictly: 'V' and three digits, then 'C' and three digits
// eight times, as formatDeckLine writes them.
SideSelection teamOf(const Lines& lines, std::string_view columns) {
    if (columns.size() != TeamColumns)
        lines.fail("a team is 36 columns of ids");
    SideSelection team;
    for (size_t k = 0; k < 9; ++k) {
        const std::string_view id = columns.substr(4 * k, 4);
        if (id[0] != (k == 0 ? 'V' : 'C'))
            lines.fail(std::string("'").append(columns).append("' is no team"));
        const auto value = lines.number<int32_t>(id.substr(1), 999);
        (k == 0 ? team.vehicle : team.characters[k - 1]) = value;
    }
    return team;
}

} // namespace

std::string formatEventOrder(const EventOrder& order) {
    const TournamentRequest& r = order.request;
    std::string text(OrderHead);
    text.append("\nformat ").append(formatName(r.format));
    text.append("\nrounds ").append(std::to_string(r.rounds));
    text.append("\nbattles ").append(std::to_string(r.battles));
    text.append("\nseed ").append(std::to_string(r.seed));
    text.append("\nmax-turns ").append(std::to_string(r.maxTurns));
    text.append("\nentrants ").append(std::to_string(r.entrants.size())).append("\n");
    for (size_t i = 0; i < r.entrants.size(); ++i) {
        const std::string name = i < order.names.size() ? order.names[i] : std::string();
        if (!controlFree(name))
            throw InputError("event text: an entrant's name holds a control character");
        text.append("team ").append(formatDeckLine(r.entrants[i], 0).substr(0, TeamColumns));
        text.append(" ").append(name).append("\n");
    }
    text.append(Closing).append("\n");
    return text;
}

EventOrder parseEventOrder(std::string_view text) {
    Lines lines(text);
    lines.expect(OrderHead);
    EventOrder order;
    TournamentRequest& r = order.request;
    const std::string_view format = lines.fields("format", 1)[0];
    const std::optional<TournamentFormat> parsed = tournamentFormat(format);
    if (!parsed)
        lines.fail(std::string("no format '").append(format).append("'"));
    r.format = *parsed;
    r.rounds = lines.number<unsigned>(lines.fields("rounds", 1)[0], static_cast<unsigned>(MaxEntrants));
    r.battles = lines.number<unsigned>(lines.fields("battles", 1)[0], MaxMatchBattles);
    r.seed = lines.number<uint32_t>(lines.fields("seed", 1)[0]);
    r.maxTurns = lines.number<long long>(lines.fields("max-turns", 1)[0]);
    // Without a cap a battle that never ends would hold a runner for ever.
    if (r.maxTurns < 1)
        lines.fail("the turn cap must be at least 1");
    const auto n = lines.number<size_t>(lines.fields("entrants", 1)[0], MaxEntrants);
    for (size_t i = 0; i < n; ++i) {
        // The name is the rest of the line and may hold blanks.
        const std::string_view line = lines.next("a team");
        if (line.substr(0, 5) != "team " || line.size() < 5 + TeamColumns + 1 || line[5 + TeamColumns] != ' ')
            lines.fail("expected 'team', its ids and its name");
        r.entrants.push_back(teamOf(lines, line.substr(5, TeamColumns)));
        const std::string_view name = line.substr(5 + TeamColumns + 1);
        if (!controlFree(name))
            lines.fail("a name holds a control character");
        order.names.emplace_back(name);
    }
    lines.finish();
    return order;
}

std::string formatTournamentResult(const TournamentResult& result, size_t entrants) {
    std::string text(ResultHead);
    text.append("\nformat ").append(formatName(result.format));
    text.append("\nentrants ").append(std::to_string(entrants));
    text.append("\nchampion ").append(std::to_string(result.champion));
    text.append("\nbattles ").append(std::to_string(result.battles));
    text.append("\ninterrupted ").append(result.interrupted ? "1" : "0");
    text.append("\nrounds ").append(std::to_string(result.rounds.size())).append("\n");
    for (const TournamentRound& round : result.rounds) {
        text.append("round ").append(std::to_string(round.matches.size())).append("\n");
        for (const Match& m : round.matches) {
            text.append("match ").append(std::to_string(m.a));
            text.append(" ").append(m.bye() ? std::string("-") : std::to_string(m.b));
            for (const unsigned value : {m.seed, m.winsA, m.winsB, m.undecided, m.played})
                text.append(" ").append(std::to_string(value));
            text.append(" ").append(std::to_string(m.winner)).append(m.bySeed ? " 1\n" : " 0\n");
        }
    }
    text.append("standings ").append(std::to_string(result.standings.size())).append("\n");
    for (const Standing& s : result.standings) {
        text.append("standing ").append(std::to_string(s.entrant));
        for (const double value : {s.points, s.buchholz, s.sonnebornBerger})
            text.append(" ").append(realText(value));
        for (const unsigned value : {s.won, s.drawn, s.lost, s.battlesWon, s.battlesLost, s.roundsReached})
            text.append(" ").append(std::to_string(value));
        text.append("\n");
    }
    text.append(Closing).append("\n");
    return text;
}

TournamentResult parseTournamentResult(std::string_view text, size_t entrants) {
    Lines lines(text);
    lines.expect(ResultHead);
    TournamentResult result;
    const std::string_view format = lines.fields("format", 1)[0];
    const std::optional<TournamentFormat> parsed = tournamentFormat(format);
    if (!parsed)
        lines.fail(std::string("no format '").append(format).append("'"));
    result.format = *parsed;
    if (lines.number<size_t>(lines.fields("entrants", 1)[0]) != entrants)
        lines.fail("the result is of another number of entrants");
    result.champion = lines.entrant(lines.fields("champion", 1)[0], entrants);
    result.battles = lines.number<uint64_t>(lines.fields("battles", 1)[0]);
    result.interrupted = lines.number<unsigned>(lines.fields("interrupted", 1)[0], 1) == 1;
    // Every entrant plays at most once a round, and no event has more rounds than a
    // round robin of its entrants: bounds that keep a damaged count from allocating.
    const auto rounds = lines.number<size_t>(lines.fields("rounds", 1)[0], entrants);
    for (size_t r = 0; r < rounds; ++r) {
        const auto count = lines.number<size_t>(lines.fields("round", 1)[0], entrants);
        TournamentRound& round = result.rounds.emplace_back();
        for (size_t i = 0; i < count; ++i) {
            const std::vector<std::string_view> f = lines.fields("match", 9);
            Match m;
            m.a = lines.entrant(f[0], entrants);
            m.b = lines.entrant(f[1], entrants, true);
            m.seed = lines.number<uint32_t>(f[2]);
            m.winsA = lines.number<unsigned>(f[3]);
            m.winsB = lines.number<unsigned>(f[4]);
            m.undecided = lines.number<unsigned>(f[5]);
            m.played = lines.number<unsigned>(f[6]);
            if (f[7] == "-1")
                m.winner = -1;
            else
                m.winner = static_cast<int>(lines.number<unsigned>(f[7], 1));
            m.bySeed = lines.number<unsigned>(f[8], 1) == 1;
            if (m.a == m.b)
                lines.fail("an entrant meets itself");
            round.matches.push_back(m);
        }
    }
    const auto standings = lines.number<size_t>(lines.fields("standings", 1)[0], entrants);
    std::vector<bool> seen(entrants, false);
    for (size_t i = 0; i < standings; ++i) {
        const std::vector<std::string_view> f = lines.fields("standing", 10);
        Standing s;
        s.entrant = lines.entrant(f[0], entrants);
        if (seen[s.entrant])
            lines.fail("an entrant stands twice");
        seen[s.entrant] = true;
        s.points = lines.real(f[1]);
        s.buchholz = lines.real(f[2]);
        s.sonnebornBerger = lines.real(f[3]);
        s.won = lines.number<unsigned>(f[4]);
        s.drawn = lines.number<unsigned>(f[5]);
        s.lost = lines.number<unsigned>(f[6]);
        s.battlesWon = lines.number<unsigned>(f[7]);
        s.battlesLost = lines.number<unsigned>(f[8]);
        s.roundsReached = lines.number<unsigned>(f[9]);
        result.standings.push_back(s);
    }
    lines.finish();
    return result;
}

std::optional<std::string> answerEventWork(const CardCatalogue& catalogue, std::string_view body, unsigned threads,
                                           const std::atomic<bool>* cancel) {
    EventOrder order = parseEventOrder(body);
    order.request.threads = threads;
    const TournamentResult result = playTournament(catalogue, order.request, cancel);
    // An event stopped between rounds is no answer: it is played again from the start.
    if (result.interrupted)
        return std::nullopt;
    return formatTournamentResult(result, order.request.entrants.size());
}

} // namespace morvane
