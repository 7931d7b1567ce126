#include "runs/Shards.h"

#include "common/Errors.h"
#include "common/Json.h"
#include "common/Messages.h"
#include "optimize/Measure.h"

#include <nettle/sha2.h>

#include <cmath>
#include <limits>
#include <map>
#include <numeric>

namespace morvane {

namespace {

// More than this many missing shards are cut short with "...": the line stays a line.
constexpr size_t MissingShardsNamed = 20;

std::string missingShardsText(const std::vector<uint64_t>& missing, uint64_t shards) {
    const std::string of = "/" + std::to_string(shards);
    if (missing.size() == 1)
        return "shard " + std::to_string(missing[0]) + of + " of the run is missing";
    std::string text = "shards ";
    for (size_t i = 0; i < missing.size() && i < MissingShardsNamed; ++i)
        text += (i ? ", " : "") + std::to_string(missing[i]) + of;
    if (missing.size() > MissingShardsNamed)
        text += ", ...";
    return text + " of the run are missing";
}

// Marks the format; a later, different one gets another number.
constexpr int PartialFormat = 1;
constexpr uint64_t NoLimit = std::numeric_limits<uint64_t>::max();

enum class Kind { Stats, League, Measure };

const char* kindName(Kind kind) {
    // A measurement's shards come from optimize --shard, and say so.
    return kind == Kind::Stats ? "stats" : kind == Kind::League ? "league" : "optimize";
}

// What makes two shards parts of one run.
struct Identity {
    Kind kind = Kind::Stats;
    uint64_t battles = 0; // of the whole run; for a league, of every ordered pair; for a measurement, of every pairing
    uint32_t seed = 0;
    long long maxTurns = DefaultMaxTurns;
    std::string catalogue;
    // Top and bottom, the league's decks in file order, or the measured team followed
    // by the field's decks in file order.
    std::vector<std::string> decks;
    uint64_t shards = 1;
    PlaySide side = PlaySide::Both; // a measurement's

    bool operator==(const Identity&) const = default;
};

Identity identityOf(const PartialResult& p) {
    Identity id;
    if (const auto* s = std::get_if<StatsRun>(&p.run)) {
        id = {Kind::Stats, s->battles, s->seed, s->maxTurns, p.catalogue, {s->top, s->bottom}, p.shards, {}};
    } else if (const auto* l = std::get_if<LeagueRun>(&p.run)) {
        id = {Kind::League, l->battles, l->seed, l->maxTurns, p.catalogue, l->decks, p.shards, {}};
    } else {
        const auto& m = std::get<MeasureRun>(p.run);
        id = {Kind::Measure, m.finalBattles, m.seed, m.maxTurns, p.catalogue, {m.team}, p.shards, m.side};
        id.decks.insert(id.decks.end(), m.field.begin(), m.field.end());
    }
    return id;
}

// The first thing in which run b differs from run a, as "seed 5, not 7".
std::string difference(const Identity& a, const Identity& b) {
    if (a.kind != b.kind)
        return std::string("a ") + kindName(b.kind) + " run, not " + kindName(a.kind);
    if (a.kind == Kind::Measure && a.decks.front() != b.decks.front())
        return "team " + b.decks.front() + ", not " + a.decks.front();
    if (a.kind == Kind::Measure && a.decks != b.decks)
        return "another field";
    if (a.decks != b.decks)
        return "other decks";
    if (a.side != b.side)
        return std::string("side ") + playSideName(b.side) + ", not " + playSideName(a.side);
    if (a.seed != b.seed)
        return "seed " + std::to_string(b.seed) + ", not " + std::to_string(a.seed);
    if (a.battles != b.battles)
        return std::to_string(b.battles) + " battles, not " + std::to_string(a.battles);
    if (a.maxTurns != b.maxTurns)
        return "a turn cap of " + std::to_string(b.maxTurns) + ", not " + std::to_string(a.maxTurns);
    if (a.catalogue != b.catalogue)
        return "another catalogue";
    return "split into " + std::to_string(b.shards) + " shards, not " + std::to_string(a.shards);
}

// --- writing -------------------------------------------------------------------------

Json optionalText(const std::optional<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
}

Json histogramJson(const TurnHistogram& histogram) {
    Json lengths = Json::array();
    histogram.forEach([&lengths](int32_t turns, uint64_t count) { lengths.push_back({turns, count}); });
    return lengths;
}

Json resultJson(const StatsResult& r) {
    return {{"battles", r.battles()},        {"top_wins", r.topWins()},
            {"bottom_wins", r.bottomWins()}, {"undecided", r.undecided()},
            {"turns_total", r.turnsTotal()}, {"turns_histogram", histogramJson(r.lengths())},
            {"threads", r.threads},          {"seconds", r.seconds}};
}

Json tallyJson(const Tally& t) {
    return {{"battles", t.battles},        {"wins", t.wins},
            {"losses", t.losses},          {"undecided", t.undecided},
            {"turns_total", t.turnsTotal}, {"turns_histogram", histogramJson(t.lengths)}};
}

// --- reading -------------------------------------------------------------------------

// Reads the figures of one file strictly: a count is a whole number within what the
// run can hold, never a fraction, a negative number or one that would wrap when added.
class Reader {
public:
    explicit Reader(const std::string& where) : where_(where) {}

    [[noreturn]] void outOfRange(const std::string& what) const {
        throw InputError(std::string(msg::PartialOutOfRange) + " (" + what + ")", where_);
    }
    [[noreturn]] void noSense() const { throw InputError(std::string(msg::PartialMakesNoSense), where_); }
    [[noreturn]] void doesNotAddUp() const { throw InputError(std::string(msg::PartialDoesNotAddUp), where_); }

    uint64_t count(const Json& json, const char* key, uint64_t max = NoLimit) const {
        return number(json.at(key), key, max);
    }
    uint64_t number(const Json& value, const char* key, uint64_t max = NoLimit) const {
        if (!value.is_number_unsigned())
            outOfRange(std::string(key) + " " + value.dump());
        const uint64_t figure = value.get<uint64_t>();
        if (figure > max)
            outOfRange(std::string(key) + " " + std::to_string(figure));
        return figure;
    }
    double seconds(const Json& json) const {
        const Json& value = json.at("seconds");
        if (!value.is_number() || !std::isfinite(value.get<double>()) || value.get<double>() < 0)
            outOfRange("seconds " + value.dump());
        return value.get<double>();
    }
    std::string text(const Json& json, const char* key) const { return json.at(key).get<std::string>(); }
    std::optional<std::string> optionalText(const Json& json, const char* key) const {
        const Json& value = json.at(key);
        return value.is_null() ? std::nullopt : std::optional<std::string>(value.get<std::string>());
    }

    // Lengths of at most `battles` battles, each from 0 to the turn cap.
    TurnHistogram histogram(const Json& json, uint64_t battles, long long maxTurns) const {
        TurnHistogram histogram;
        uint64_t seen = 0;
        uint64_t turnsSeen = 0;
        for (const Json& entry : json) {
            if (!entry.is_array() || entry.size() != 2)
                noSense();
            const Json& turns = entry.at(0);
            if (!turns.is_number_integer() || turns.get<int64_t>() < 0 || turns.get<int64_t>() > maxTurns)
                outOfRange("a battle of " + turns.dump() + " turns under a turn cap of " + std::to_string(maxTurns));
            if (!entry.at(1).is_number_unsigned())
                outOfRange("a count of " + entry.at(1).dump() + " battles");
            const uint64_t n = entry.at(1).get<uint64_t>();
            if (n > battles - seen)
                doesNotAddUp();
            seen += n;
            uint64_t turnsOf = 0;
            if (__builtin_mul_overflow(static_cast<uint64_t>(turns.get<int64_t>()), n, &turnsOf) ||
                __builtin_add_overflow(turnsSeen, turnsOf, &turnsSeen))
                outOfRange("more turns than a count can hold");
            histogram.add(static_cast<int32_t>(turns.get<int64_t>()), n);
        }
        return histogram;
    }

    // A tally whose battles must be `share`, with wins, losses and undecided adding
    // up to them and lengths that agree.
    Tally tally(const Json& json, const char* wins, const char* losses, uint64_t share, long long maxTurns,
                const std::string& of = {}) const {
        Tally t;
        t.battles = count(json, "battles");
        t.wins = count(json, wins);
        t.losses = count(json, losses);
        t.undecided = count(json, "undecided");
        t.turnsTotal = count(json, "turns_total");
        // Each part at most what is left of the whole: parts that wrap around 2^64 when
        // added could otherwise seem to add up.
        if (t.wins > t.battles || t.losses > t.battles - t.wins || t.undecided > t.battles - t.wins - t.losses)
            doesNotAddUp();
        t.lengths = histogram(json.at("turns_histogram"), t.battles, maxTurns);
        if (!t.addsUp())
            doesNotAddUp();
        if (t.battles != share)
            throw InputError("this shard holds " + std::to_string(t.battles) + " battles" + of +
                                 " where its share of the run is " + std::to_string(share),
                             where_);
        return t;
    }

private:
    const std::string& where_;
};

// How many of the battles of shard `shard` of `shards` fall in each pairing, when
// battle i of perPairing * P plays pairing i mod P. The shard's battles run through
// the pairings with a period of P / gcd(P, shards) battles, meeting each pairing they
// ever meet once in a period and then every lcm(P, shards) battle numbers.
std::vector<uint64_t> pairingShares(uint64_t perPairing, uint64_t pairings, uint64_t shard, uint64_t shards) {
    std::vector<uint64_t> shares(pairings, 0);
    const uint64_t total = perPairing * pairings;
    const uint64_t common = std::gcd(pairings, shards);
    // A period longer than the run (however long) means each pairing is met once at most.
    const uint64_t period = shards / common > NoLimit / pairings ? NoLimit : shards / common * pairings;
    uint64_t i = shard;
    for (uint64_t j = 0; j < pairings / common && i < total; ++j) {
        shares[i % pairings] = (total - i - 1) / period + 1;
        if (total - i <= shards)
            break;
        i += shards;
    }
    return shares;
}

StatsResult resultOf(const Reader& read, const Json& json, uint64_t share, long long maxTurns) {
    StatsResult r;
    r.top = read.tally(json, "top_wins", "bottom_wins", share, maxTurns);
    r.threads = static_cast<unsigned>(read.count(json, "threads", 1u << 20));
    r.seconds = read.seconds(json);
    return r;
}

// A league's squared wins by deck, which must be what the shard's wins can give: with
// X the deck's wins with a seed, from 0 to its battles m with one seed, the sum of X^2
// lies between the sum of X and m times it, and is at least (sum of X)^2 / seeds.
std::vector<uint64_t> winSquaresOf(const Reader& read, const Json& json, size_t decks,
                                   const std::vector<LeaguePairing>& pairings, uint64_t seeds) {
    if (!json.is_array() || json.size() != decks)
        read.noSense();
    std::vector<uint64_t> wins(decks, 0);
    for (const LeaguePairing& p : pairings) {
        wins[p.top] += p.result.topWins();
        wins[p.bottom] += p.result.bottomWins();
    }
    std::vector<uint64_t> squares;
    const uint64_t perSeed = 2 * (decks - 1);
    for (size_t d = 0; d < decks; ++d) {
        const uint64_t square = read.number(json[d], "win_squares");
        using Wide = unsigned __int128;
        if (square < wins[d] || Wide(square) > Wide(wins[d]) * perSeed ||
            Wide(square) * seeds < Wide(wins[d]) * wins[d])
            read.doesNotAddUp();
        squares.push_back(square);
    }
    return squares;
}

} // namespace

std::string catalogueDigest(std::string_view bytes) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : digest) {
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
}

namespace {

// Paths are bytes: anything that is not UTF-8 is replaced rather than refused.
std::string dump(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

std::string partialJson(const PartialResult& p) {
    const Identity id = identityOf(p);
    Json json = {{"morvane_partial", PartialFormat},
                 {"command", kindName(id.kind)},
                 {"shard", p.shard},
                 {"shards", p.shards},
                 {"battles", id.battles},
                 {"seed", id.seed},
                 {"max_turns", id.maxTurns},
                 {"catalogue", p.catalogue},
                 {"decks", id.decks}};
    if (const auto* m = std::get_if<MeasureRun>(&p.run)) {
        Json pairings = Json::array();
        for (const Tally& t : m->pairings)
            pairings.push_back(tallyJson(t));
        json["side"] = playSideName(m->side);
        json["cards_option"] = optionalText(m->cardsOption);
        json["decks_file"] = m->fieldFile;
        json["sources"] = m->sources;
        json["team_size"] = m->teamSize;
        json["team_cards"] = m->teamCards;
        json["threads"] = m->threads;
        json["seconds"] = m->seconds;
        json["pairings"] = pairings;
    } else if (const auto* s = std::get_if<StatsRun>(&p.run)) {
        json["cards_option"] = optionalText(s->replay.cards);
        json["top_option"] = optionalText(s->replay.top);
        json["bottom_option"] = optionalText(s->replay.bottom);
        json["decks_file"] = "";
        json["results"] = Json::array({resultJson(s->result)});
    } else {
        const auto& l = std::get<LeagueRun>(p.run);
        json["cards_option"] = optionalText(l.cardsOption);
        json["top_option"] = nullptr;
        json["bottom_option"] = nullptr;
        json["decks_file"] = l.decksFile;
        // A league's results grow with the square of its decks: as one document a
        // shard of 1,000 decks took 1.5 GB to write 150 MB. They are written one at
        // a time after the rest, in the bytes the whole document gives.
        std::string text = dump(json);
        text.pop_back(); // its closing brace
        text += R"(,"results":[)";
        for (size_t k = 0; k < l.pairings.size(); ++k) {
            if (k > 0)
                text += ',';
            text += dump(resultJson(l.pairings[k].result));
        }
        text += ']';
        // Added after the format's first version: readers of that version pass over it.
        if (!l.winSquares.empty())
            text += R"(,"win_squares":)" + dump(Json(l.winSquares));
        return text + '}';
    }
    return dump(json);
}

namespace {

// What every partial result of a run says of the run, read before its command's own
// fields.
struct RunFields {
    std::vector<std::string> decks;
    uint64_t battles = 0;
    uint32_t seed = 0;
    long long maxTurns = 0;
    std::optional<std::string> cards;
    std::string decksFile;
};

MeasureRun measureRunOf(const Reader& read, const Json& json, const RunFields& run, const PartialResult& p) {
    MeasureRun m;
    const std::optional<PlaySide> side = parsePlaySide(read.text(json, "side"));
    if (!side || run.decks.size() < 2)
        read.noSense();
    m.side = *side;
    m.team = run.decks.front();
    m.field.assign(run.decks.begin() + 1, run.decks.end());
    const size_t pairings = m.layout().pairings();
    // The measurement numbers its battles from FreshBase on, below 2^32.
    if (run.battles > FreshBase / pairings)
        read.outOfRange("battles " + std::to_string(run.battles) + " of each of " + std::to_string(pairings) +
                        " pairings");
    m.finalBattles = run.battles;
    m.seed = run.seed;
    m.maxTurns = run.maxTurns;
    m.cardsOption = run.cards;
    m.fieldFile = run.decksFile;
    m.sources = json.at("sources").get<std::vector<std::string>>();
    m.teamSize = read.text(json, "team_size");
    m.teamCards = json.at("team_cards").get<std::vector<std::string>>();
    m.threads = static_cast<unsigned>(read.count(json, "threads", 1u << 20));
    m.seconds = read.seconds(json);
    const Json& tallies = json.at("pairings");
    if (m.sources.size() != m.field.size() || m.teamCards.size() != 9 || !tallies.is_array() ||
        tallies.size() != pairings)
        read.noSense();
    const std::vector<uint64_t> shares = pairingShares(run.battles, pairings, p.shard, p.shards);
    for (size_t i = 0; i < pairings; ++i)
        m.pairings.push_back(
            read.tally(tallies[i], "wins", "losses", shares[i], run.maxTurns, " of pairing " + std::to_string(i + 1)));
    return m;
}

} // namespace

PartialResult parsePartial(std::string_view text, const std::string& where) {
    const Reader read(where);
    PartialResult p;
    // A league's results are taken as the parse meets them, once the figures they are
    // checked against have come (they come first in what the program writes): as one
    // document, the 145 MB line of a shard of 1,000 decks took 1 GB to read. A file
    // in another order is read whole, as before.
    std::string key;
    std::map<std::string, uint64_t, std::less<>> header;
    bool taking = false;
    uint64_t takenShare = 0;
    long long takenTurns = 0;
    std::vector<StatsResult> taken;
    const Json::parser_callback_t take = [&](int depth, Json::parse_event_t event, Json& parsed) {
        using Event = Json::parse_event_t;
        if (depth == 1 && event == Event::key) {
            key = parsed.get<std::string>();
            if (key == "results") {
                auto known = [&](const char* name) { return header.count(name) != 0; };
                taking = known("battles") && known("shard") && known("shards") && known("max_turns") &&
                         header["shards"] > 0 && header["shard"] < header["shards"] &&
                         header["battles"] <= MaxSeededBattles && header["max_turns"] >= 1 &&
                         header["max_turns"] <= 2147483647;
                if (taking) {
                    takenShare = shardBattles(header["battles"], header["shard"], header["shards"]);
                    takenTurns = static_cast<long long>(header["max_turns"]);
                }
            }
        } else if (depth == 1 && event == Event::value && parsed.is_number_unsigned()) {
            header[key] = parsed.get<uint64_t>();
        } else if (taking && depth == 2 && event == Event::object_end && key == "results") {
            taken.push_back(resultOf(read, parsed, takenShare, takenTurns));
            return false;
        }
        return true;
    };
    try {
        const Json json = Json::parse(text, take);
        if (!json.is_object() || !json.contains("morvane_partial"))
            throw InputError(std::string(msg::NotAPartial), where);
        if (!json.at("morvane_partial").is_number_integer() || json.at("morvane_partial").get<int>() != PartialFormat)
            throw InputError(std::string(msg::PartialOfOtherFormat), where);
        const std::string command = read.text(json, "command");
        p.shards = read.count(json, "shards");
        p.shard = read.count(json, "shard");
        if (p.shards == 0 || p.shard >= p.shards)
            read.noSense();
        const uint64_t battles = read.count(json, "battles");
        const auto seed = static_cast<uint32_t>(read.count(json, "seed", std::numeric_limits<uint32_t>::max()));
        const auto maxTurns = static_cast<long long>(read.count(json, "max_turns", 2147483647));
        if (maxTurns < 1)
            read.outOfRange("max_turns 0");
        p.catalogue = read.text(json, "catalogue");
        const auto decks = json.at("decks").get<std::vector<std::string>>();
        const std::optional<std::string> cards = read.optionalText(json, "cards_option");
        const std::string decksFile = read.text(json, "decks_file");

        if (command == "optimize") {
            p.run = measureRunOf(read, json, {decks, battles, seed, maxTurns, cards, decksFile}, p);
            return p;
        }
        if (command != "stats" && command != "league")
            read.noSense();
        if (battles > MaxSeededBattles)
            read.outOfRange("battles " + std::to_string(battles) + ", more than the seeds of a run tell apart");
        const uint64_t share = shardBattles(battles, p.shard, p.shards);
        const Json& results = json.at("results");
        if (!results.is_array() || (taking && !results.empty()))
            read.noSense();
        const size_t resultCount = taking ? taken.size() : results.size();
        auto result = [&](size_t i) {
            return taking ? std::move(taken[i]) : resultOf(read, results[i], share, maxTurns);
        };
        if (command == "stats") {
            if (decks.size() != 2 || resultCount != 1)
                read.noSense();
            StatsRun s;
            s.result = result(0);
            s.battles = battles;
            s.seed = seed;
            s.maxTurns = maxTurns;
            s.top = decks[0];
            s.bottom = decks[1];
            s.replay = {cards, read.optionalText(json, "top_option"), read.optionalText(json, "bottom_option"),
                        maxTurns};
            p.run = std::move(s);
            return p;
        }
        if (decks.size() < 2 || resultCount != decks.size() * (decks.size() - 1))
            read.noSense();
        LeagueRun l;
        l.decks = decks;
        l.decksFile = decksFile;
        l.cardsOption = cards;
        l.battles = battles;
        l.seed = seed;
        l.maxTurns = maxTurns;
        size_t next = 0;
        l.pairings.reserve(resultCount);
        for (const auto& [top, bottom] : leaguePairs(decks.size()))
            l.pairings.push_back({top, bottom, result(next++)});
        taken = {};
        if (json.contains("win_squares"))
            l.winSquares = winSquaresOf(read, json.at("win_squares"), decks.size(), l.pairings, share);
        p.run = std::move(l);
        return p;
    } catch (const nlohmann::json::exception& e) {
        throw InputError(std::string(msg::PartialUnreadable) + " (" + e.what() + ")", where);
    }
}

namespace {

// The shards a run is put together from, which a merge keeps in its run.
uint64_t shardsOfRun(const PartialResult& p) {
    return std::visit([](const auto& run) { return run.shards; }, p.run);
}

} // namespace

PartialResult mergePartials(const std::vector<std::pair<std::string, PartialResult>>& shards) {
    PartialMerge merge;
    for (const auto& [name, shard] : shards)
        merge.add(name, shard);
    return std::move(merge).whole();
}

void PartialMerge::add(const std::string& name, const PartialResult& p) {
    auto clear = [](StatsResult& r) { r = StatsResult{}; };
    auto add = [](StatsResult& to, const StatsResult& r) {
        to.top.merge(r.top);
        to.threads += r.threads;
        to.seconds += r.seconds;
    };
    if (!whole_) {
        // Counts and timings start from nothing; what describes the run stays the
        // first shard's.
        firstName_ = name;
        PartialResult& whole = whole_.emplace(p);
        whole.shard = 0;
        whole.shards = 1;
        std::visit(
            [&](auto& w) {
                using T = std::decay_t<decltype(w)>;
                w.shards = p.shards;
                if constexpr (std::is_same_v<T, StatsRun>) {
                    clear(w.result);
                } else if constexpr (std::is_same_v<T, LeagueRun>) {
                    for (LeaguePairing& pairing : w.pairings)
                        clear(pairing.result);
                    w.winSquares.assign(w.winSquares.size(), 0);
                } else {
                    w.pairings.assign(w.pairings.size(), Tally{});
                    w.threads = 0;
                    w.seconds = 0;
                }
            },
            whole.run);
    }
    // The sum is 0 of 1; the run it stands for is of the first shard's count.
    Identity run = identityOf(*whole_);
    run.shards = shardsOfRun(*whole_);
    const Identity other = identityOf(p);
    if (!(other == run))
        throw InputError(std::string(msg::NotTheSameRun) + " " + firstName_ + " (" + difference(run, other) + ")",
                         name);
    const auto [at, fresh] = seen_.emplace(p.shard, name);
    if (!fresh)
        throw InputError("shard " + std::to_string(p.shard) + "/" + std::to_string(p.shards) +
                             " is given twice, here and in " + at->second,
                         name);
    if (const auto* s = std::get_if<StatsRun>(&p.run)) {
        add(std::get<StatsRun>(whole_->run).result, s->result);
    } else if (const auto* l = std::get_if<LeagueRun>(&p.run)) {
        auto& pairings = std::get<LeagueRun>(whole_->run).pairings;
        for (size_t i = 0; i < pairings.size(); ++i)
            add(pairings[i].result, l->pairings[i].result);
        // One shard without them (an earlier version's) leaves them unknown.
        auto& squares = std::get<LeagueRun>(whole_->run).winSquares;
        if (l->winSquares.size() == squares.size())
            for (size_t d = 0; d < squares.size(); ++d)
                squares[d] += l->winSquares[d];
        else
            squares.clear();
    } else {
        const auto& m = std::get<MeasureRun>(p.run);
        auto& w = std::get<MeasureRun>(whole_->run);
        for (size_t i = 0; i < w.pairings.size(); ++i)
            w.pairings[i].merge(m.pairings[i]);
        w.threads += m.threads;
        w.seconds += m.seconds;
    }
}

PartialResult PartialMerge::whole() && {
    if (!whole_)
        throw InputError(std::string(msg::NoPartials));
    // Every missing shard is named at once, so that one new array of exactly those
    // shards completes the run.
    const uint64_t shards = shardsOfRun(*whole_);
    std::vector<uint64_t> missing;
    for (uint64_t shard = 0; shard < shards && missing.size() <= MissingShardsNamed; ++shard)
        if (!seen_.count(shard))
            missing.push_back(shard);
    if (!missing.empty())
        throw InputError(missingShardsText(missing, shards), firstName_);
    return std::move(*whole_);
}

} // namespace morvane
