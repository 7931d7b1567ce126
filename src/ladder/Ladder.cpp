// The ladder's estimator and its records.
//
// A field of 10,000 entries has 50 million pairs, so an entry meets a sample of it:
// opponents drawn uniformly among the active entries whose pair does not yet count for
// it. Its rating is the mean of its pair scores over that sample, and the interval is
// that of two-stage sampling (opponents from the field, battles from each pair). Which
// pairs count for whom matters: a placement draw is blind to both teams' strength, so
// its pair counts for both; the extra opponents of an uncertain top entry count for it
// alone, since for the opponent the meeting came about because the other team is
// strong, and counting it would tilt every entry's sample towards the top.
//
// A unit's meaning (which two entries each match is between) is kept in a pending
// record placed before the unit goes out, rather than read back from its body: the body
// holds only deck lines, and a team withdrawn and entered again has the same line under
// two numbers. The journal's line repeats the matches, so a counted unit needs its
// pending record no longer.

#include "ladder/Ladder.h"

#include "cards/CardCatalogue.h"
#include "cards/Team.h"
#include "common/AtomicFile.h"
#include "common/Files.h"
#include "common/Messages.h"
#include "common/Random.h"
#include "common/Secret.h"
#include "stats/Statistics.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;

namespace morvane {

namespace {

// "名前を入力してください"
constexpr std::string_view NameEmpty = "\x96\xbc\x91O\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3"
                                       "\x82\xa2";
// "名前が長すぎます"
constexpr std::string_view NameTooLong = "\x96\xbc\x91O\x82\xaa\x92\xb7\x82\xb7\x82\xac\x82\xdc\x82\xb7";
// "名前に使えない文字が含まれています"
constexpr std::string_view NameBadCharacter = "\x96\xbc\x91O\x82\xc9\x8eg\x82\xa6\x82\xc8\x82\xa2\x95\xb6\x8e\x9a\x82"
                                              "\xaa\x8a\xdc\x82\xdc\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb7";
// "このチームは既に登録されています"
constexpr std::string_view TeamEntered = "\x82\xb1\x82\xcc\x83`\x81[\x83\x80\x82\xcd\x8a\xf9\x82\xc9\x93o\x98^\x82\xb3"
                                         "\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb7";
// "本日の登録数の上限に達しました"
constexpr std::string_view DailyLimitReached = "\x96{\x93\xfa\x82\xcc\x93o\x98^\x90\x94\x82\xcc\x8f\xe3\x8c\xc0\x82\xc9"
                                               "\x92"
                                               "B\x82\xb5\x82\xdc\x82\xb5\x82\xbd";
// "その登録はありません"
constexpr std::string_view NoSuchEntry = "\x82\xbb\x82\xcc\x93o\x98^\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
// "キーが正しくありません"
constexpr std::string_view KeyWrong = "\x83L\x81[\x82\xaa\x90\xb3\x82\xb5\x82\xad\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82"
                                      "\xf1";
// "この登録は取り下げられています"
constexpr std::string_view EntryWithdrawn = "\x82\xb1\x82\xcc\x93o\x98^\x82\xcd\x8e\xe6\x82\xe8\x89\xba\x82\xb0\x82\xe7"
                                            "\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb7";

constexpr double Z95 = Normal975;
constexpr int64_t HistoryBucketMs = 5 * 60 * 1000;
constexpr int64_t DayMs = 24 * 60 * 60 * 1000;
constexpr size_t MaxHistoryPoints = 256;
// The prior spread of pair scores, before an entry has enough of its own to say.
constexpr double PriorPairVariance = 0.16;

int64_t toMs(Clock::TimePoint t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}
Clock::TimePoint fromMs(int64_t ms) {
    return Clock::TimePoint(std::chrono::duration_cast<Clock::TimePoint::duration>(std::chrono::milliseconds(ms)));
}

std::string numberText(uint64_t n) {
    return std::to_string(n);
}

template <typename T> bool parseNumber(std::string_view text, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> splitOn(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t from = 0;
    while (true) {
        const size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
        if (at == std::string_view::npos)
            return parts;
        from = at + 1;
    }
}

// FNV-1a: a journal line whose tail a crash cut off, or whose bytes the disk lost, no
// longer matches its sum and is skipped.
uint64_t lineSum(std::string_view text) {
    uint64_t h = 14695981039346656037ull;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

std::string hex(uint64_t v) {
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(v));
    return buffer;
}

std::string teamKey(const SideSelection& team) {
    return formatDeckLine(team, 0);
}

// The client as recorded: one line, whatever the caller passed.
std::string recordedClient(std::string_view client) {
    std::string out(client.substr(0, 200));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}

// What the ladder knows of a pair of entries a < b. Its battles all come from the
// pair's one seed, so more battles extend the same sequence and replace the counts.
struct Pair {
    uint32_t a = 0;
    uint32_t b = 0;
    uint16_t battles = 0;
    uint16_t winsA = 0;
    uint16_t winsB = 0;
    uint8_t flags = 0;
    static constexpr uint8_t CountsForA = 1;
    static constexpr uint8_t CountsForB = 2;
    static constexpr uint8_t InFlight = 4;

    uint16_t undecided() const { return static_cast<uint16_t>(battles - winsA - winsB); }
    bool countsFor(uint32_t n) const { return flags & (n == a ? CountsForA : CountsForB); }
    static uint8_t countFlag(uint32_t n, uint32_t a) { return n == a ? CountsForA : CountsForB; }
    uint32_t other(uint32_t n) const { return n == a ? b : a; }
    // The mean score of n against the other entry, and that mean's variance from the
    // battles' own spread (both sides' results pooled: it errs high, never low). The
    // spread is taken with one battle more won and one more lost: two battles alike
    // are no proof that the pair always ends so, and a spread of 0 would let a small
    // field, where every pair is met, claim an interval of one point.
    double score(uint32_t n) const {
        const double wins = n == a ? winsA : winsB;
        return (wins + 0.5 * undecided()) / battles;
    }
    double scoreVariance(uint32_t n) const {
        const double count = battles;
        if (count < 2)
            return 0.25;
        const double sum = score(n) * count + 1;
        const double squares = (n == a ? winsA : winsB) + 0.25 * undecided() + 1;
        return std::max(0.0, (squares - sum * sum / (count + 2)) / (count + 1)) / count;
    }
};

// Pair ids by their two entries: open addressing over the ids alone, since a hash map
// of ten million pairs would take more memory than the pairs themselves. A byte of
// each key's hash beside its slot spares a probe the visit to a pair that is not it.
class PairTable {
public:
    explicit PairTable(const std::vector<Pair>& pairs) : pairs_(pairs) {
        slots_.assign(1u << 16, Empty);
        tags_.assign(slots_.size(), 0);
    }

    std::optional<uint32_t> find(uint32_t a, uint32_t b) const {
        const uint64_t h = hash(a, b);
        const auto t = tag(h);
        for (size_t s = h & (slots_.size() - 1);; s = (s + 1) & (slots_.size() - 1)) {
            const uint32_t id = slots_[s];
            if (id == Empty)
                return std::nullopt;
            if (tags_[s] == t && pairs_[id].a == a && pairs_[id].b == b)
                return id;
        }
    }
    // Room for this many pairs without growing again.
    void reserve(size_t pairs) {
        if (pairs * 10 > slots_.size() * 7)
            grow(pairs);
    }
    void insert(uint32_t id) {
        if ((used_ + 1) * 10 > slots_.size() * 7)
            grow();
        place(id);
        ++used_;
    }

private:
    static constexpr uint32_t Empty = 0xffffffffu;
    static uint64_t hash(uint32_t a, uint32_t b) {
        uint64_t x = (uint64_t{a} << 32) | b;
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdull;
        x ^= x >> 33;
        x *= 0xc4ceb9fe1a85ec53ull;
        x ^= x >> 33;
        return x;
    }
    static uint8_t tag(uint64_t h) { return static_cast<uint8_t>(h >> 56); }
    void place(uint32_t id) {
        const uint64_t h = hash(pairs_[id].a, pairs_[id].b);
        size_t s = h & (slots_.size() - 1);
        while (slots_[s] != Empty)
            s = (s + 1) & (slots_.size() - 1);
        slots_[s] = id;
        tags_[s] = tag(h);
    }
    // Every pair so far is in the table (ids are given in order), so the pairs are
    // read in order rather than where the old slots send them.
    void grow(size_t atLeast = 0) {
        size_t size = slots_.size() * 2;
        while (size * 7 < atLeast * 10)
            size *= 2;
        slots_.assign(size, Empty);
        tags_.assign(size, 0);
        for (uint32_t id = 0; id < used_; ++id)
            place(id);
    }

    const std::vector<Pair>& pairs_;
    std::vector<uint32_t> slots_;
    std::vector<uint8_t> tags_;
    size_t used_ = 0;
};

struct Point {
    int64_t ms = 0;
    float rating = 0.5f;
    float low = 0;
    float high = 1;
};

struct Member {
    bool known = false; // its record was read
    LadderEntry entry;
    std::string keyHash;
    std::string client;
    std::vector<uint32_t> pairs; // every pair it is in
    // Over the pairs that count for it, with battles, against active opponents: the
    // opponents, their scores, squares and within-pair variances summed.
    uint32_t counted = 0;
    double sum = 0;
    double squares = 0;
    double within = 0;
    uint64_t battles = 0;
    uint32_t inFlight = 0; // pairs handed out that will count for it
    uint64_t stamp = 0;    // of the last unit that changed it
    size_t activeAt = 0;   // its place in the list of active entries
    std::vector<Point> history;
};

constexpr uint32_t NoPair = UINT32_MAX;

// One match of a unit as handed out, and as the journal keeps it once counted.
struct Match {
    uint32_t a = 0;
    uint32_t b = 0;
    unsigned battles = 0;
    uint8_t flags = 0;
    MatchCount count;
    // The pair's place in the ladder's list, for the matches this process planned:
    // marking them in flight and counting them then skips the look-up, which on a
    // ladder of millions of pairs is a miss of the caches every time. Pairs are never
    // removed, so the place holds for the process's life; matches read back from the
    // records have none.
    uint32_t pair = NoPair;
};

struct Unit {
    int64_t ms = 0;
    std::vector<Match> matches;
    bool released = false; // gone stale: its pairs were handed out again
};

} // namespace

uint32_t ladderMatchSeed(uint32_t ladderSeed, uint32_t a, uint32_t b) {
    if (a > b)
        std::swap(a, b);
    const uint64_t pair = uint64_t{b - 1} * (b - 2) / 2 + (a - 1);
    return battleSeed(ladderSeed, pair);
}

void checkEntryName(std::string_view name) {
    using Kind = LadderRefusal::Kind;
    if (name.find_first_not_of(' ') == std::string_view::npos)
        throw LadderRefusal(Kind::BadName, std::string(NameEmpty));
    if (name.size() > MaxEntryNameBytes)
        throw LadderRefusal(Kind::BadName, std::string(NameTooLong));
    // Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF; and no
    // control characters (C0, DEL, C1) nor the line and paragraph separators, which
    // would break a record's line or a page's text.
    size_t i = 0;
    while (i < name.size()) {
        const auto c = static_cast<unsigned char>(name[i]);
        uint32_t code = 0;
        size_t length = 0;
        if (c < 0x80) {
            code = c;
            length = 1;
        } else if (c >= 0xc2 && c <= 0xdf) {
            code = c & 0x1f;
            length = 2;
        } else if (c >= 0xe0 && c <= 0xef) {
            code = c & 0x0f;
            length = 3;
        } else if (c >= 0xf0 && c <= 0xf4) {
            code = c & 0x07;
            length = 4;
        } else {
            throw LadderRefusal(Kind::BadName, std::string(NameBadCharacter));
        }
        if (i + length > name.size())
            throw LadderRefusal(Kind::BadName, std::string(NameBadCharacter));
        for (size_t k = 1; k < length; ++k) {
            const auto d = static_cast<unsigned char>(name[i + k]);
            if ((d & 0xc0) != 0x80)
                throw LadderRefusal(Kind::BadName, std::string(NameBadCharacter));
            code = (code << 6) | (d & 0x3f);
        }
        const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
        const bool surrogate = code >= 0xd800 && code <= 0xdfff;
        // The direction marks and overrides would turn the rest of a leaderboard row
        // around; a name has no use for them.
        const bool bidi = code == 0x200e || code == 0x200f || (code >= 0x202a && code <= 0x202e) ||
                          (code >= 0x2066 && code <= 0x2069);
        const bool control = code < 0x20 || (code >= 0x7f && code <= 0x9f) || code == 0x2028 || code == 0x2029 || bidi;
        if (overlong || surrogate || code > 0x10ffff || control)
            throw LadderRefusal(Kind::BadName, std::string(NameBadCharacter));
        i += length;
    }
}

struct Ladder::State {
    State(fs::path rootFolder, const CardCatalogue& cat, const Clock& clk, LadderTuning t)
        : root(std::move(rootFolder)), folder(root / "ladder"), entriesFolder(folder / "entries"),
          pendingFolder(folder / "pending"), journalPath(folder / "journal.dat"), catalogue(cat), clock(clk), tuning(t),
          table(pairs) {
        tuning.battlesPerMatch = std::clamp(tuning.battlesPerMatch / 2 * 2, 2u, MaxBattlesPerMatch);
        tuning.matchesPerUnit = std::clamp<size_t>(tuning.matchesPerUnit, 1, MaxMatchesPerUnit);
    }
    ~State() {
        if (journal >= 0)
            ::close(journal);
    }

    fs::path root;
    fs::path folder;
    fs::path entriesFolder;
    fs::path pendingFolder;
    fs::path journalPath;
    const CardCatalogue& catalogue;
    const Clock& clock;
    LadderTuning tuning;

    mutable std::mutex mutex;
    uint32_t seed = 0;
    Random random;
    int journal = -1;
    uint64_t unitSequence = 0;

    std::vector<Member> members{1}; // by number; 0 is no entry
    std::vector<uint32_t> active;
    std::unordered_map<std::string, uint32_t> activeTeams;
    std::map<std::string, std::vector<int64_t>> entriesByClient;
    std::vector<Pair> pairs;
    PairTable table;
    std::unordered_set<std::string> counted; // unit ids the journal holds
    std::map<std::string, Unit> pending;     // handed out, not yet counted
    uint64_t stamp = 0;
    std::vector<uint32_t> touched;

    // The order of the active entries, kept until something changes.
    mutable bool orderDirty = true;
    mutable std::vector<uint32_t> order;
    mutable std::vector<uint32_t> rankOf; // by number; 0 for none

    // --- ratings ---

    // The half width of the entry's 95% interval before it is kept within [0, 1];
    // 1 while it has too few opponents for one.
    double halfWidth(const Member& m) const {
        const size_t field = active.size() > 0 ? active.size() - 1 : 0;
        if (m.counted == 0 || field == 0 || m.counted < std::min<size_t>(tuning.minOpponents, field))
            return 1;
        // Two-stage sampling: the opponents are a sample of the field drawn without
        // replacement, each pair's score a sample of its battles. The spread between
        // pair scores is taken with one pair more at 0 and one at 1, which keeps a
        // small sample of equal scores from claiming no spread at all.
        const double n = m.counted;
        const double s2 = std::max(0.0, (m.squares + 1 - (m.sum + 1) * (m.sum + 1) / (n + 2)) / (n + 1));
        const double f = std::min(1.0, n / static_cast<double>(field));
        const double variance = (1 - f) * s2 / n + f * m.within / (n * n);
        return Z95 * std::sqrt(variance);
    }

    LadderRating rate(const Member& m) const {
        LadderRating r;
        r.battles = m.battles;
        r.opponents = m.counted;
        if (m.counted == 0)
            return r;
        r.rating = m.sum / m.counted;
        const double half = halfWidth(m);
        if (half < 1)
            r.interval = {std::max(0.0, r.rating - half), std::min(1.0, r.rating + half)};
        return r;
    }

    void addTo(uint32_t n, const Pair& p, double sign) {
        Member& m = members[n];
        m.counted = static_cast<uint32_t>(static_cast<int64_t>(m.counted) + static_cast<int64_t>(sign));
        const double s = p.score(n);
        m.sum += sign * s;
        m.squares += sign * s * s;
        m.within += sign * p.scoreVariance(n);
        if (m.counted == 0)
            m.sum = m.squares = m.within = 0;
    }
    bool contributes(const Pair& p, uint32_t n) const {
        return p.battles > 0 && p.countsFor(n) && members[p.other(n)].entry.active();
    }

    // A match's counts: a pair keeps the most battles it has seen of its seed.
    void apply(const Match& match) {
        if (match.a >= members.size() || match.b >= members.size() || !members[match.a].known ||
            !members[match.b].known)
            return;
        Pair& p = pairOf(match);
        Pair updated = p;
        updated.flags = static_cast<uint8_t>(p.flags | match.flags);
        if (match.battles > p.battles) {
            updated.battles = static_cast<uint16_t>(match.battles);
            updated.winsA = static_cast<uint16_t>(match.count.winsA);
            updated.winsB = static_cast<uint16_t>(match.count.winsB);
        }
        for (const uint32_t n : {p.a, p.b}) {
            if (contributes(p, n))
                addTo(n, p, -1);
            if (contributes(updated, n))
                addTo(n, updated, +1);
            members[n].battles += updated.battles - p.battles;
        }
        const uint8_t inFlight = p.flags & Pair::InFlight;
        p = updated;
        p.flags = static_cast<uint8_t>(p.flags | inFlight);
        touch(p.a);
        touch(p.b);
    }

    // A unit's matches; each entry they changed gets one point of history.
    void applyUnit(const std::vector<Match>& matches, int64_t ms) {
        ++stamp;
        touched.clear();
        for (const Match& m : matches)
            apply(m);
        for (const uint32_t n : touched)
            note(n, ms);
        orderDirty = true;
    }
    void touch(uint32_t n) {
        if (members[n].stamp != stamp) {
            members[n].stamp = stamp;
            touched.push_back(n);
        }
    }

    Pair& pairOf(const Match& match) { return match.pair != NoPair ? pairs[match.pair] : pairOf(match.a, match.b); }
    Pair& pairOf(uint32_t x, uint32_t y) {
        const uint32_t a = std::min(x, y);
        const uint32_t b = std::max(x, y);
        if (const auto id = table.find(a, b))
            return pairs[*id];
        const auto id = static_cast<uint32_t>(pairs.size());
        Pair p;
        p.a = a;
        p.b = b;
        pairs.push_back(p);
        table.insert(id);
        members[a].pairs.push_back(id);
        members[b].pairs.push_back(id);
        return pairs.back();
    }

    // A point of the entry's history: one per few minutes, the latest value of each.
    void note(uint32_t n, int64_t ms) {
        Member& m = members[n];
        const LadderRating r = rate(m);
        const Point point{ms, static_cast<float>(r.rating), static_cast<float>(r.interval.low),
                          static_cast<float>(r.interval.high)};
        if (!m.history.empty() && m.history.back().ms / HistoryBucketMs == ms / HistoryBucketMs) {
            m.history.back() = point;
            return;
        }
        m.history.push_back(point);
        if (m.history.size() > MaxHistoryPoints) {
            // Older points thin out: every other one of the older half goes.
            std::vector<Point> kept;
            for (size_t i = 0; i < m.history.size(); ++i)
                if (i >= MaxHistoryPoints / 2 || i % 2 == 0)
                    kept.push_back(m.history[i]);
            m.history = std::move(kept);
        }
    }

    // --- the field ---

    void join(uint32_t n) {
        Member& m = members[n];
        m.activeAt = active.size();
        active.push_back(n);
        activeTeams[teamKey(m.entry.team)] = n;
        orderDirty = true;
    }
    void leave(uint32_t n, int64_t ms) {
        Member& m = members[n];
        if (!m.entry.active())
            return;
        for (const uint32_t id : m.pairs) {
            const Pair& p = pairs[id];
            const uint32_t o = p.other(n);
            if (contributes(p, o)) {
                addTo(o, p, -1);
                note(o, ms);
            }
        }
        m.entry.withdrawn = fromMs(ms);
        const uint32_t last = active.back();
        active[m.activeAt] = last;
        members[last].activeAt = m.activeAt;
        active.pop_back();
        const auto team = activeTeams.find(teamKey(m.entry.team));
        if (team != activeTeams.end() && team->second == n)
            activeTeams.erase(team);
        orderDirty = true;
    }

    void sortOrder() const {
        if (!orderDirty)
            return;
        struct Key {
            bool rated;
            double rating;
            uint32_t number;
        };
        std::vector<Key> keys;
        keys.reserve(active.size());
        for (const uint32_t n : active) {
            const LadderRating r = rate(members[n]);
            keys.push_back({r.interval.low > 0 || r.interval.high < 1, r.rating, n});
        }
        std::sort(keys.begin(), keys.end(), [](const Key& x, const Key& y) {
            if (x.rated != y.rated)
                return x.rated;
            if (x.rating != y.rating)
                return x.rating > y.rating;
            return x.number < y.number;
        });
        order.clear();
        for (const Key& k : keys)
            order.push_back(k.number);
        rankOf.assign(members.size(), 0);
        for (size_t i = 0; i < order.size(); ++i)
            rankOf[order[i]] = static_cast<uint32_t>(i + 1);
        orderDirty = false;
    }

    static bool overlap(const Interval& x, const Interval& y) { return x.low <= y.high && y.low <= x.high; }

    bool uncertainAt(size_t p) const {
        const LadderRating r = rate(members[order[p]]);
        if (r.interval.low <= 0 && r.interval.high >= 1)
            return true;
        return (p > 0 && overlap(r.interval, rate(members[order[p - 1]]).interval)) ||
               (p + 1 < order.size() && overlap(r.interval, rate(members[order[p + 1]]).interval));
    }

    LadderRow rowAt(uint32_t n) const {
        const Member& m = members[n];
        LadderRow row;
        row.entry = m.entry;
        row.rating = rate(m);
        if (m.entry.active()) {
            row.rank = rankOf[n];
            row.uncertain = uncertainAt(row.rank - 1);
        }
        const int64_t dayAgo = toMs(clock.now()) - DayMs;
        // The newest point a day old or older.
        for (size_t i = m.history.size(); i-- > 0;)
            if (m.history[i].ms <= dayAgo) {
                row.dayAgo = m.history[i].rating;
                break;
            }
        return row;
    }

    // --- records ---

    fs::path entryPath(uint32_t n) const {
        char name[32];
        std::snprintf(name, sizeof name, "%08u.dat", n);
        return entriesFolder / name;
    }
    fs::path withdrawalPath(uint32_t n) const {
        char name[32];
        std::snprintf(name, sizeof name, "%08u.out", n);
        return entriesFolder / name;
    }
    fs::path pendingPath(const std::string& id) const { return pendingFolder / (id + ".dat"); }

    static std::string entryText(const Member& m) {
        std::string text;
        text.append("number ").append(numberText(m.entry.number)).append("\n");
        text.append("name ").append(m.entry.name).append("\n");
        text.append("team ").append(formatDeckLine(m.entry.team, 0)).append("\n");
        text.append("key ").append(m.keyHash).append("\n");
        text.append("client ").append(m.client).append("\n");
        text.append("time ").append(std::to_string(toMs(m.entry.entered))).append("\n");
        text.append("replaces ").append(numberText(m.entry.replaces)).append("\n");
        return text;
    }

    // An entry's record, or nothing for one that cannot be read whole.
    static std::optional<Member> parseEntry(std::string_view text) {
        Member m;
        bool number = false, name = false, team = false, key = false, time = false;
        for (const std::string_view line : splitOn(text, '\n')) {
            const size_t space = line.find(' ');
            if (space == std::string_view::npos)
                continue;
            const std::string_view field = line.substr(0, space);
            const std::string_view value = line.substr(space + 1);
            if (field == "number")
                number = parseNumber(value, m.entry.number);
            else if (field == "name") {
                m.entry.name = std::string(value);
                name = true;
            } else if (field == "team") {
                m.entry.team = deckLineIds(value);
                team = true;
            } else if (field == "key") {
                m.keyHash = std::string(value);
                key = true;
            } else if (field == "client")
                m.client = std::string(value);
            else if (field == "time") {
                int64_t ms = 0;
                time = parseNumber(value, ms);
                m.entry.entered = fromMs(ms);
            } else if (field == "replaces")
                parseNumber(value, m.entry.replaces);
        }
        if (!(number && name && team && key && time) || m.entry.number == 0)
            return std::nullopt;
        m.known = true;
        return m;
    }

    // Journal line: "<id> <ms> <matches> a,b,battles,flags,winsA,winsB,undecided ... #<sum>".
    static std::string journalLine(const std::string& id, const Unit& unit) {
        std::string text = id;
        text.append(" ").append(std::to_string(unit.ms)).append(" ").append(numberText(unit.matches.size()));
        for (const Match& m : unit.matches) {
            text.append(" ").append(numberText(m.a)).append(",").append(numberText(m.b));
            text.append(",").append(numberText(m.battles)).append(",").append(numberText(m.flags));
            text.append(",").append(numberText(m.count.winsA)).append(",").append(numberText(m.count.winsB));
            text.append(",").append(numberText(m.count.undecided));
        }
        const uint64_t sum = lineSum(text);
        text.append(" #").append(hex(sum)).append("\n");
        return text;
    }

    // Read by hand: a journal of ten million matches is read at every start.
    static bool parseJournalLine(std::string_view line, std::string& id, Unit& unit) {
        const size_t hash = line.rfind(" #");
        if (hash == std::string_view::npos || line.substr(hash + 2) != hex(lineSum(line.substr(0, hash))))
            return false;
        const char* p = line.data();
        const char* const end = line.data() + hash;
        const char* space = std::find(p, end, ' ');
        id.assign(p, space);
        if (!validWorkId(id) || space == end)
            return false;
        p = space + 1;
        // The next number, then the separator after it (none at the end of the line).
        const auto number = [&](auto& value, char after) {
            const auto [next, error] = std::from_chars(p, end, value);
            if (error != std::errc() || (next == end ? after != ' ' : *next != after))
                return false;
            p = next == end ? end : next + 1;
            return true;
        };
        size_t count = 0;
        if (!number(unit.ms, ' ') || !number(count, ' ') || count > MaxMatchesPerUnit)
            return false;
        unit.matches.resize(count);
        for (Match& m : unit.matches) {
            unsigned flags = 0;
            if (p == end || !number(m.a, ',') || !number(m.b, ',') || !number(m.battles, ',') || !number(flags, ',') ||
                !number(m.count.winsA, ',') || !number(m.count.winsB, ',') || !number(m.count.undecided, ' '))
                return false;
            m.flags = static_cast<uint8_t>(flags & (Pair::CountsForA | Pair::CountsForB));
        }
        return p == end;
    }

    // Pending record: "<ms>\n" then "a b battles flags" a match.
    static std::string pendingText(const Unit& unit) {
        std::string text = std::to_string(unit.ms) + "\n";
        for (const Match& m : unit.matches)
            text.append(numberText(m.a))
                .append(" ")
                .append(numberText(m.b))
                .append(" ")
                .append(numberText(m.battles))
                .append(" ")
                .append(numberText(m.flags))
                .append("\n");
        return text;
    }
    static std::optional<Unit> parsePending(std::string_view text) {
        const std::vector<std::string_view> lines = splitOn(text, '\n');
        Unit unit;
        if (lines.empty() || !parseNumber(lines[0], unit.ms))
            return std::nullopt;
        for (size_t i = 1; i < lines.size(); ++i) {
            if (lines[i].empty())
                continue;
            const std::vector<std::string_view> f = splitOn(lines[i], ' ');
            Match m;
            unsigned flags = 0;
            if (f.size() != 4 || !parseNumber(f[0], m.a) || !parseNumber(f[1], m.b) || !parseNumber(f[2], m.battles) ||
                !parseNumber(f[3], flags) || m.a >= m.b || m.battles == 0 || m.battles > MaxBattlesPerMatch)
                return std::nullopt;
            m.flags = static_cast<uint8_t>(flags & (Pair::CountsForA | Pair::CountsForB));
            unit.matches.push_back(m);
        }
        return unit;
    }

    void noteUnitId(const std::string& id) {
        uint64_t n = 0;
        if (id.size() > 2 && id.compare(0, 2, "l-") == 0 && parseNumber(std::string_view(id).substr(2), n))
            unitSequence = std::max(unitSequence, n);
    }

    // The unit as runners see it; nothing when one of its entries has no record read.
    std::optional<WorkUnit> workUnit(const std::string& id, const Unit& unit) const {
        std::vector<MatchOrder> orders;
        orders.reserve(unit.matches.size());
        for (const Match& m : unit.matches) {
            if (m.a >= members.size() || m.b >= members.size() || !members[m.a].known || !members[m.b].known)
                return std::nullopt;
            orders.push_back(
                {members[m.a].entry.team, members[m.b].entry.team, m.battles, ladderMatchSeed(seed, m.a, m.b)});
        }
        return WorkUnit{id, WorkKind::Matches, formatMatchOrders(orders)};
    }

    void load();
    void openJournal();
    void appendJournal(const std::string& text);
    void markInFlight(const Unit& unit, bool on);
    void markInFlight(Pair& p, uint8_t matchFlags, bool on);
    Entered enterLocked(std::string_view name, const SideSelection& team, std::string_view client,
                        const std::string* keyHash, uint32_t replaces);
    Member& ownEntry(uint32_t number, std::string_view key);
    void placeWithdrawal(uint32_t number, uint32_t replacedBy, int64_t ms);

    // --- work ---
    // Whether n may draw o, and the place of their pair where it has one.
    bool drawable(uint32_t n, uint32_t o, uint32_t& pair) const {
        pair = NoPair;
        if (n == o)
            return false;
        const auto id = table.find(std::min(n, o), std::max(n, o));
        if (!id)
            return true;
        pair = *id;
        const Pair& p = pairs[*id];
        return !(p.flags & Pair::InFlight) && !p.countsFor(n);
    }
    void plan(uint32_t n, size_t wanted, bool countsForBoth, std::vector<Match>& out);
    size_t opponentsWanted(const Member& m) const;
};

void Ladder::State::openJournal() {
    journal = ::open(journalPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (journal < 0)
        throw IoError(std::string(msg::FileNotCreated), journalPath.string(), FileReason::ofErrno(errno));
}

void Ladder::State::appendJournal(const std::string& text) {
    // A failed append is cut back off, so the next line never follows a torn one.
    const off_t before = ::lseek(journal, 0, SEEK_END);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(journal, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            if (before >= 0 && ::ftruncate(journal, before) != 0) {
                // The torn tail stays; its sum fails, and the load cuts it off.
            }
            throw IoError(std::string(msg::FileNotWritten), journalPath.string(), FileReason::ofErrno(error));
        }
        done += static_cast<size_t>(n);
    }
    if (::fdatasync(journal) != 0)
        throw IoError(std::string(msg::FileNotWritten), journalPath.string(), FileReason::ofErrno(errno));
}

void Ladder::State::markInFlight(const Unit& unit, bool on) {
    for (const Match& match : unit.matches) {
        if (match.a >= members.size() || match.b >= members.size() || !members[match.a].known ||
            !members[match.b].known)
            continue;
        markInFlight(pairOf(match), match.flags, on);
    }
}

void Ladder::State::markInFlight(Pair& p, uint8_t matchFlags, bool on) {
    if (on)
        p.flags |= Pair::InFlight;
    else
        p.flags &= static_cast<uint8_t>(~Pair::InFlight);
    for (const uint32_t n : {p.a, p.b})
        if (matchFlags & Pair::countFlag(n, p.a))
            members[n].inFlight = on ? members[n].inFlight + 1 : members[n].inFlight - 1;
}

void Ladder::State::load() {
    std::error_code error;
    for (const fs::path& f : {folder, entriesFolder, pendingFolder}) {
        fs::create_directories(f, error);
        if (error)
            throw FolderError(f.string());
    }

    // The seed every pair's battles derive from; a new ladder takes the clock's.
    const fs::path seedPath = folder / "seed.dat";
    if (!fs::exists(seedPath, error))
        placeNewFile(seedPath, std::to_string(clock.timeSeed()) + "\n", 0644, Durability::Folder);
    {
        std::string text = readFileBytes(seedPath, 64);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        if (!parseNumber(text, seed))
            seed = static_cast<uint32_t>(lineSum(text));
    }
    random = Random(seed ^ 0x5bd1e995u ^ static_cast<uint32_t>(toMs(clock.now())));

    // Entries and withdrawals. A number whose record cannot be read is never given
    // again, so a damaged record is not silently taken over by a new entry.
    std::map<uint32_t, int64_t> withdrawals;
    uint32_t highest = 0;
    std::vector<Member> read;
    for (const auto& item : fs::directory_iterator(entriesFolder, error)) {
        const std::string name = item.path().filename().string();
        uint32_t n = 0;
        if (name.size() != 12 || !parseNumber(std::string_view(name).substr(0, 8), n) || n == 0)
            continue;
        highest = std::max(highest, n);
        const std::string_view kind = std::string_view(name).substr(8);
        try {
            if (kind == ".dat") {
                if (auto m = parseEntry(readFileBytes(item.path(), 4096)); m && m->entry.number == n)
                    read.push_back(std::move(*m));
            } else if (kind == ".out") {
                int64_t ms = 0;
                const std::string text = readFileBytes(item.path(), 4096);
                for (const std::string_view line : splitOn(text, '\n'))
                    if (line.substr(0, 5) == "time ")
                        parseNumber(line.substr(5), ms);
                withdrawals[n] = ms;
            }
        } catch (const IoError&) {
        }
    }
    if (error)
        throw IoError(std::string(msg::FileNotRead), entriesFolder.string(), FileReason::ofErrno(error.value()));
    members.resize(static_cast<size_t>(highest) + 1);
    for (Member& m : read) {
        entriesByClient[m.client].push_back(toMs(m.entry.entered));
        members[m.entry.number] = std::move(m);
    }
    // A replacement whose withdrawal record a crash kept from being placed still
    // withdrew the entry it replaced.
    for (const Member& m : members)
        if (m.known && m.entry.replaces && !withdrawals.count(m.entry.replaces))
            withdrawals[m.entry.replaces] = toMs(m.entry.entered);

    // Replayed in the journal's order, each entry joining and leaving the field at its
    // time between the units, so that the history shows each rating as it stood.
    struct Event {
        int64_t ms;
        bool enters;
        uint32_t number;
    };
    std::vector<Event> events;
    for (const Member& m : members)
        if (m.known)
            events.push_back({toMs(m.entry.entered), true, m.entry.number});
    // A clock set back may date a withdrawal before its entry: it still follows it.
    for (const auto& [n, ms] : withdrawals)
        if (n < members.size() && members[n].known)
            events.push_back({std::max(ms, toMs(members[n].entry.entered)), false, n});
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& x, const Event& y) { return x.ms != y.ms ? x.ms < y.ms : x.enters > y.enters; });
    size_t nextEvent = 0;
    const auto until = [&](int64_t ms) {
        for (; nextEvent < events.size(); ++nextEvent) {
            const Event& e = events[nextEvent];
            if (e.ms > ms || (e.ms == ms && !e.enters))
                break;
            if (e.enters)
                join(e.number);
            else
                leave(e.number, e.ms);
        }
    };

    // The journal, a line at a time: lines whose sum fails are skipped; a torn last
    // line is cut off, so that the next one starts clean.
    if (fs::exists(journalPath, error)) {
        // Most matches of the journal are a pair's first (some 20 bytes a match).
        const auto bytes = fs::file_size(journalPath, error);
        if (!error) {
            pairs.reserve(bytes / 20);
            table.reserve(bytes / 20);
        }
        std::ifstream in(journalPath, std::ios::binary);
        if (!in)
            throw IoError(std::string(msg::FileNotRead), journalPath.string());
        uint64_t whole = 0;
        std::string line;
        std::string id;
        Unit unit;
        while (std::getline(in, line)) {
            if (in.eof()) {
                in.close();
                if (::truncate(journalPath.c_str(), static_cast<off_t>(whole)) != 0)
                    throw IoError(std::string(msg::FileNotWritten), journalPath.string(), FileReason::ofErrno(errno));
                break;
            }
            whole += line.size() + 1;
            if (!parseJournalLine(line, id, unit) || !counted.insert(id).second)
                continue;
            noteUnitId(id);
            until(unit.ms);
            applyUnit(unit.matches, unit.ms);
        }
        if (in.bad())
            throw IoError(std::string(msg::FileNotRead), journalPath.string());
    }
    until(std::numeric_limits<int64_t>::max());
    for (Member& m : members)
        m.pairs.shrink_to_fit();

    // Units handed out and not yet counted; those the journal holds were counted before
    // their record could be removed.
    for (const auto& item : fs::directory_iterator(pendingFolder, error)) {
        const std::string name = item.path().filename().string();
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".dat") != 0)
            continue;
        const std::string id = name.substr(0, name.size() - 4);
        if (!validWorkId(id))
            continue;
        noteUnitId(id);
        if (counted.count(id)) {
            fs::remove(item.path(), error);
            continue;
        }
        try {
            if (auto unit = parsePending(readFileBytes(item.path(), std::uintmax_t{1} << 20)))
                pending.emplace(id, std::move(*unit));
        } catch (const IoError&) {
        }
    }

    for (const auto& [id, unit] : pending)
        markInFlight(unit, true);

    // A unit recorded as handed out whose folder never reached the root (the service
    // stopped between the record and the folder) would hold its pairs until it went
    // stale: it is placed now, as it was handed out. Should it have been placed after
    // all, it is left as it is; its seed decides its counts either way.
    const fs::path work = ladderWorkFolder(root);
    for (const auto& [id, unit] : pending) {
        if (fs::exists(work / id / WorkUnitFile, error) || fs::exists(work / id / WorkAnswerFile, error))
            continue;
        try {
            if (const std::optional<WorkUnit> again = workUnit(id, unit))
                submitWork(root, *again);
        } catch (const MorvaneError&) {
            // Left to go stale, when its pairs are handed out again.
        }
    }
    openJournal();
}

Ladder::Entered Ladder::State::enterLocked(std::string_view name, const SideSelection& team, std::string_view client,
                                           const std::string* keyHash, uint32_t replaces) {
    using Kind = LadderRefusal::Kind;
    checkEntryName(name);
    try {
        checkPlayable(catalogue, team);
    } catch (const InputError& e) {
        throw LadderRefusal(Kind::BadTeam, e.message());
    }
    if (const auto held = activeTeams.find(teamKey(team)); held != activeTeams.end())
        throw LadderRefusal(Kind::Duplicate, std::string(TeamEntered), held->second);
    const int64_t now = toMs(clock.now());
    const std::string who = recordedClient(client);
    std::vector<int64_t>& times = entriesByClient[who];
    std::erase_if(times, [&](int64_t t) { return t <= now - DayMs; });
    if (times.size() >= EntriesPerClientPerDay)
        throw LadderRefusal(Kind::DailyLimit, std::string(DailyLimitReached));

    Entered entered;
    Member m;
    m.known = true;
    m.entry.name = std::string(name);
    m.entry.team = team;
    m.entry.entered = fromMs(now);
    m.entry.replaces = replaces;
    m.client = who;
    if (keyHash)
        m.keyHash = *keyHash;
    else {
        entered.key = newSecretKey();
        m.keyHash = hashSecretKey(entered.key);
    }
    // The number is the record's name: a number whose file is there (of a record this
    // ladder could not read) is passed over.
    auto number = static_cast<uint32_t>(members.size());
    while (true) {
        m.entry.number = number;
        if (placeNewFile(entryPath(number), entryText(m), 0644, Durability::Folder))
            break;
        ++number;
    }
    members.resize(static_cast<size_t>(number) + 1);
    members[number] = std::move(m);
    times.push_back(now);
    join(number);
    entered.number = number;
    return entered;
}

Member& Ladder::State::ownEntry(uint32_t number, std::string_view key) {
    using Kind = LadderRefusal::Kind;
    if (number == 0 || number >= members.size() || !members[number].known)
        throw LadderRefusal(Kind::NoEntry, std::string(NoSuchEntry), number);
    Member& m = members[number];
    if (!secretKeyMatches(m.keyHash, key))
        throw LadderRefusal(Kind::WrongKey, std::string(KeyWrong), number);
    if (!m.entry.active())
        throw LadderRefusal(Kind::Withdrawn, std::string(EntryWithdrawn), number);
    return m;
}

void Ladder::State::placeWithdrawal(uint32_t number, uint32_t replacedBy, int64_t ms) {
    std::string text = "time " + std::to_string(ms) + "\n";
    if (replacedBy)
        text.append("replaced-by ").append(numberText(replacedBy)).append("\n");
    placeNewFile(withdrawalPath(number), text, 0644, Durability::Folder);
}

size_t Ladder::State::opponentsWanted(const Member& m) const {
    double s2 = PriorPairVariance;
    if (m.counted >= 30) {
        const double n = m.counted;
        s2 = std::max(0.02, (m.squares - m.sum * m.sum / n) / (n - 1));
    }
    const double need = s2 * (Z95 / tuning.halfWidth) * (Z95 / tuning.halfWidth);
    const double have = m.counted + m.inFlight;
    return need > have ? static_cast<size_t>(std::ceil(need - have)) : 0;
}

// Draws up to `wanted` opponents for entry n, uniformly among the active entries whose
// pair does not yet count for it, and marks their matches in flight. Where none is
// left (a small field met in full), the pairs with the fewest battles play again, with
// twice as many: a choice by count, never by result, so the mean stays unbiased.
void Ladder::State::plan(uint32_t n, size_t wanted, bool countsForBoth, std::vector<Match>& out) {
    Member& m = members[n];
    const size_t field = active.size() - 1;
    const auto take = [&](uint32_t o, uint32_t pair, unsigned battles, uint8_t flags) {
        if (pair == NoPair)
            pair = static_cast<uint32_t>(&pairOf(n, o) - pairs.data());
        Pair& p = pairs[pair];
        Match match;
        match.a = p.a;
        match.b = p.b;
        match.battles = battles;
        match.flags = flags;
        match.pair = pair;
        out.push_back(match);
        markInFlight(p, flags, true);
    };
    const auto newMatch = [&](uint32_t o, uint32_t pair) {
        const unsigned battles = std::max<unsigned>(tuning.battlesPerMatch, pair != NoPair ? pairs[pair].battles : 0);
        const auto flags = static_cast<uint8_t>(Pair::countFlag(n, std::min(n, o)) |
                                                (countsForBoth ? Pair::countFlag(o, std::min(n, o)) : 0));
        take(o, pair, battles, flags);
    };
    size_t drawn = 0;
    if ((m.counted + m.inFlight) * 2 >= field) {
        std::vector<std::pair<uint32_t, uint32_t>> candidates; // opponent, pair
        uint32_t pair = NoPair;
        for (const uint32_t o : active)
            if (drawable(n, o, pair))
                candidates.emplace_back(o, pair);
        for (size_t i = 0; i < candidates.size() && drawn < wanted; ++i, ++drawn) {
            const size_t j = i + random(static_cast<uint32_t>(candidates.size() - i));
            std::swap(candidates[i], candidates[j]);
            newMatch(candidates[i].first, candidates[i].second);
        }
    } else {
        for (size_t tries = 0; drawn < wanted && tries < wanted * 20 + 100; ++tries) {
            const uint32_t o = active[random(static_cast<uint32_t>(active.size()))];
            uint32_t pair = NoPair;
            if (drawable(n, o, pair)) {
                newMatch(o, pair);
                ++drawn;
            }
        }
    }
    if (drawn > 0 || wanted == 0)
        return;
    std::vector<uint32_t> again;
    for (const uint32_t id : m.pairs) {
        const Pair& p = pairs[id];
        if (p.countsFor(n) && !(p.flags & Pair::InFlight) && p.battles > 0 && p.battles < MaxBattlesPerMatch &&
            members[p.other(n)].entry.active())
            again.push_back(id);
    }
    std::sort(again.begin(), again.end(), [&](uint32_t x, uint32_t y) {
        return pairs[x].battles != pairs[y].battles ? pairs[x].battles < pairs[y].battles : x < y;
    });
    for (size_t i = 0; i < again.size() && i < wanted; ++i) {
        const Pair& p = pairs[again[i]];
        const unsigned battles = std::min<unsigned>(MaxBattlesPerMatch, 2u * p.battles) / 2 * 2;
        take(p.other(n), again[i], battles, Pair::countFlag(n, p.a));
    }
}

Ladder::Ladder(fs::path root, const CardCatalogue& catalogue, const Clock& clock, LadderTuning tuning)
    : state_(std::make_unique<State>(std::move(root), catalogue, clock, tuning)) {
    state_->load();
}

Ladder::~Ladder() = default;

Ladder::Entered Ladder::enter(std::string_view name, const SideSelection& team, std::string_view client) {
    std::lock_guard lock(state_->mutex);
    return state_->enterLocked(name, team, client, nullptr, 0);
}

void Ladder::withdraw(uint32_t number, std::string_view key) {
    std::lock_guard lock(state_->mutex);
    state_->ownEntry(number, key);
    // The record's time is the one the ladder keeps, so a rebuild gives the same.
    const int64_t now = toMs(state_->clock.now());
    state_->placeWithdrawal(number, 0, now);
    state_->leave(number, now);
}

Ladder::Entered Ladder::replace(uint32_t number, std::string_view key, const SideSelection& team,
                                std::string_view client) {
    std::lock_guard lock(state_->mutex);
    const Member& old = state_->ownEntry(number, key);
    const std::string name = old.entry.name;
    const std::string keyHash = old.keyHash;
    // The new record names the entry it replaces, so a crash before the withdrawal is
    // placed still withdraws it when the records are read again.
    Entered entered = state_->enterLocked(name, team, client, &keyHash, number);
    const int64_t now = toMs(state_->clock.now());
    state_->placeWithdrawal(number, entered.number, now);
    state_->leave(number, now);
    entered.key = std::string(key);
    return entered;
}

size_t Ladder::activeCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->active.size();
}

std::optional<LadderEntry> Ladder::entry(uint32_t number) const {
    std::lock_guard lock(state_->mutex);
    if (number == 0 || number >= state_->members.size() || !state_->members[number].known)
        return std::nullopt;
    return state_->members[number].entry;
}

std::optional<LadderRow> Ladder::row(uint32_t number) const {
    std::lock_guard lock(state_->mutex);
    if (number == 0 || number >= state_->members.size() || !state_->members[number].known)
        return std::nullopt;
    state_->sortOrder();
    return state_->rowAt(number);
}

std::vector<LadderRow> Ladder::page(size_t first, size_t count) const {
    std::lock_guard lock(state_->mutex);
    state_->sortOrder();
    std::vector<LadderRow> rows;
    for (size_t i = first; i < state_->order.size() && i - first < count; ++i)
        rows.push_back(state_->rowAt(state_->order[i]));
    return rows;
}

std::vector<MatchUp> Ladder::matchUps(uint32_t number) const {
    std::lock_guard lock(state_->mutex);
    std::vector<MatchUp> ups;
    if (number == 0 || number >= state_->members.size())
        return ups;
    for (const uint32_t id : state_->members[number].pairs) {
        const Pair& p = state_->pairs[id];
        const uint32_t o = p.other(number);
        if (p.battles == 0 || !state_->members[o].entry.active())
            continue;
        MatchUp up;
        up.opponent = o;
        up.score = p.score(number);
        up.interval = wilsonInterval(up.score, p.battles, Z95);
        up.battles = p.battles;
        up.seed = ladderMatchSeed(state_->seed, p.a, p.b);
        up.entryIsA = number == p.a;
        ups.push_back(up);
    }
    std::sort(ups.begin(), ups.end(), [](const MatchUp& x, const MatchUp& y) {
        if (x.score != y.score)
            return x.score > y.score;
        return x.battles != y.battles ? x.battles > y.battles : x.opponent < y.opponent;
    });
    return ups;
}

std::vector<RatingPoint> Ladder::history(uint32_t number) const {
    std::lock_guard lock(state_->mutex);
    std::vector<RatingPoint> points;
    if (number == 0 || number >= state_->members.size())
        return points;
    for (const Point& p : state_->members[number].history)
        points.push_back({fromMs(p.ms), p.rating, {p.low, p.high}});
    return points;
}

std::vector<WorkUnit> Ladder::nextWork(uint64_t maxBattles) {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    const int64_t now = toMs(s.clock.now());
    // A unit that was never played (its folder lost before a runner saw it) would hold
    // its pairs forever: after a while they are handed out again. Should the old unit
    // answer after all, its counts are those of the same seed, and change nothing.
    const int64_t staleMs = std::chrono::duration_cast<std::chrono::milliseconds>(s.tuning.staleAfter).count();
    for (auto& [id, unit] : s.pending)
        if (!unit.released && unit.ms < now - staleMs) {
            s.markInFlight(unit, false);
            unit.released = true;
        }
    std::vector<Match> planned;
    uint64_t budget = maxBattles;
    const auto spent = [&](size_t from) {
        for (size_t i = from; i < planned.size(); ++i)
            budget -= std::min<uint64_t>(budget, planned[i].battles);
    };
    if (s.active.size() >= 2) {
        // New entries first (fewest opponents), then any whose sample has thinned (its
        // opponents withdrew) until their intervals are narrow enough.
        std::vector<std::pair<uint32_t, uint32_t>> wanting;
        for (const uint32_t n : s.active) {
            const Member& m = s.members[n];
            if (s.halfWidth(m) > s.tuning.halfWidth)
                wanting.emplace_back(m.counted + m.inFlight, n);
        }
        std::sort(wanting.begin(), wanting.end());
        for (const auto& [have, n] : wanting) {
            if (budget < s.tuning.battlesPerMatch)
                break;
            const Member& m = s.members[n];
            size_t wanted = s.opponentsWanted(m);
            if (m.inFlight == 0)
                wanted = std::max<size_t>(wanted, 32);
            wanted = std::min<size_t>(wanted, budget / s.tuning.battlesPerMatch);
            const size_t from = planned.size();
            s.plan(n, wanted, true, planned);
            spent(from);
        }
        // Then the top places whose order is not yet certain: each such entry meets
        // new opponents, which narrow its interval and no other's. Only the top is
        // ordered here; the whole order waits for a reader.
        std::vector<std::pair<double, uint32_t>> rated;
        for (const uint32_t n : s.active)
            if (const LadderRating r = s.rate(s.members[n]); r.interval.low > 0 || r.interval.high < 1)
                rated.emplace_back(-r.rating, n);
        const size_t top = std::min(rated.size(), s.tuning.focus + 1);
        std::partial_sort(rated.begin(), rated.begin() + static_cast<std::ptrdiff_t>(top), rated.end());
        const auto interval = [&](size_t p) { return s.rate(s.members[rated[p].second]).interval; };
        for (size_t p = 0; p < std::min(top, s.tuning.focus) && budget >= s.tuning.battlesPerMatch; ++p) {
            const uint32_t n = rated[p].second;
            const bool uncertain = (p > 0 && State::overlap(interval(p), interval(p - 1))) ||
                                   (p + 1 < top && State::overlap(interval(p), interval(p + 1)));
            if (!uncertain || s.members[n].inFlight > 0)
                continue;
            const size_t wanted = std::min<size_t>(s.tuning.focusOpponents, budget / s.tuning.battlesPerMatch);
            const size_t from = planned.size();
            s.plan(n, wanted, false, planned);
            spent(from);
        }
    }

    // Units of at most matchesPerUnit matches and some ten thousand battles: each
    // unit costs a handful of file creations and syncs on its way out and back, which
    // units of a few thousand battles (a hundredth of a second of a core) spent more
    // time on than on the battles.
    constexpr uint64_t UnitBattles = 16384;
    std::vector<WorkUnit> units;
    size_t at = 0;
    while (at < planned.size()) {
        Unit unit;
        unit.ms = now;
        uint64_t battles = 0;
        while (at < planned.size() && unit.matches.size() < s.tuning.matchesPerUnit &&
               (unit.matches.empty() || battles + planned[at].battles <= UnitBattles)) {
            battles += planned[at].battles;
            unit.matches.push_back(planned[at++]);
        }
        std::string id;
        try {
            do
                id = "l-" + std::to_string(++s.unitSequence);
            while (!placeNewFile(s.pendingPath(id), State::pendingText(unit), 0644, Durability::Folder));
        } catch (const IoError&) {
            // What could not be recorded is not handed out.
            Unit rest;
            rest.matches.assign(planned.begin() + static_cast<std::ptrdiff_t>(at - unit.matches.size()), planned.end());
            s.markInFlight(rest, false);
            if (units.empty())
                throw;
            break;
        }
        units.push_back(*s.workUnit(id, unit));
        s.pending.emplace(id, std::move(unit));
    }
    return units;
}

std::vector<std::string> Ladder::absorbAnswers(const std::vector<AnsweredWork>& answers) {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    const int64_t now = toMs(s.clock.now());
    std::vector<std::string> ids;
    std::vector<std::pair<std::string, Unit>> counting;
    std::unordered_set<std::string> seen;
    std::string lines;
    for (const AnsweredWork& answer : answers) {
        const std::string& id = answer.unit.id;
        if (answer.unit.kind != WorkKind::Matches || !seen.insert(id).second)
            continue;
        if (s.counted.count(id)) {
            ids.push_back(id); // counted before a crash kept it from being retired
            continue;
        }
        const auto handed = s.pending.find(id);
        if (handed == s.pending.end())
            continue;
        Unit unit = handed->second;
        unit.ms = now;
        bool whole = true;
        std::vector<MatchCount> counts;
        try {
            counts = parseMatchCounts(answer.answer);
        } catch (const InputError&) {
            whole = false;
        }
        whole = whole && counts.size() == unit.matches.size();
        for (size_t i = 0; whole && i < counts.size(); ++i)
            whole = counts[i].winsA + counts[i].winsB + counts[i].undecided == unit.matches[i].battles;
        if (whole)
            for (size_t i = 0; i < counts.size(); ++i)
                unit.matches[i].count = counts[i];
        else
            unit.matches.clear(); // an error answer counts as nothing; its pairs go out again
        lines += State::journalLine(id, unit);
        counting.emplace_back(id, std::move(unit));
    }
    if (!lines.empty())
        s.appendJournal(lines);
    std::error_code error;
    for (auto& [id, unit] : counting) {
        const auto handed = s.pending.find(id);
        if (!handed->second.released)
            s.markInFlight(handed->second, false);
        s.applyUnit(unit.matches, now);
        s.pending.erase(handed);
        s.counted.insert(id);
        fs::remove(s.pendingPath(id), error);
        ids.push_back(id);
    }
    return ids;
}

uint64_t Ladder::battlesOutstanding() const {
    std::lock_guard lock(state_->mutex);
    // A stale unit is left out before nextWork releases it: an owner that waits for
    // the outstanding battles to fall before it asks for more work would otherwise
    // wait for ever on units whose folders were lost.
    const int64_t staleMs = std::chrono::duration_cast<std::chrono::milliseconds>(state_->tuning.staleAfter).count();
    const int64_t now = toMs(state_->clock.now());
    uint64_t battles = 0;
    for (const auto& [id, unit] : state_->pending)
        if (!unit.released && unit.ms >= now - staleMs)
            for (const Match& m : unit.matches)
                battles += m.battles;
    return battles;
}

} // namespace morvane
