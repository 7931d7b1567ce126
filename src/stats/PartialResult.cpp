#include "stats/PartialResult.h"

#include "common/Errors.h"

#include <nettle/sha2.h>
#include <nlohmann/json.hpp>

#include <limits>
#include <map>
#include <numeric>

namespace morvane {

namespace {

using Json = nlohmann::ordered_json;

// Marks the format; a later, different one gets another number.
constexpr int PartialFormat = 1;

Json optionalText(const std::optional<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
}

std::optional<std::string> optionalText(const Json& json) {
    return json.is_null() ? std::nullopt : std::optional<std::string>(json.get<std::string>());
}

Json histogramJson(const TurnHistogram& histogram) {
    Json lengths = Json::array();
    histogram.forEach([&lengths](int32_t turns, uint64_t count) { lengths.push_back({turns, count}); });
    return lengths;
}

TurnHistogram histogramOf(const Json& json) {
    TurnHistogram histogram;
    for (const Json& entry : json) {
        if (entry.size() != 2)
            throw std::invalid_argument("a length of the histogram is not [turns, battles]");
        histogram.add(entry.at(0).get<int32_t>(), entry.at(1).get<uint64_t>());
    }
    return histogram;
}

Json resultJson(const StatsResult& r) {
    return {{"battles", r.battles},     {"top_wins", r.topWins},       {"bottom_wins", r.bottomWins},
            {"undecided", r.undecided}, {"turns_total", r.turnsTotal}, {"turns_histogram", histogramJson(r.lengths)},
            {"threads", r.threads},     {"seconds", r.seconds}};
}

StatsResult resultOf(const Json& json) {
    StatsResult r;
    r.battles = json.at("battles").get<uint64_t>();
    r.topWins = json.at("top_wins").get<uint64_t>();
    r.bottomWins = json.at("bottom_wins").get<uint64_t>();
    r.undecided = json.at("undecided").get<uint64_t>();
    r.turnsTotal = json.at("turns_total").get<uint64_t>();
    r.lengths = histogramOf(json.at("turns_histogram"));
    r.threads = json.at("threads").get<unsigned>();
    r.seconds = json.at("seconds").get<double>();
    return r;
}

// The figures of one result must add up, so that an edited or cut file is refused
// rather than merged into a wrong total.
void checkResult(const StatsResult& r, uint64_t expected, const std::string& where) {
    if (r.topWins + r.bottomWins + r.undecided != r.battles || r.lengths.count() != r.battles ||
        r.lengths.turns() != r.turnsTotal)
        throw InputError("the counts of this partial result do not add up", where);
    if (r.battles != expected)
        throw InputError("this shard holds " + std::to_string(r.battles) + " battles where its share of the run is " +
                             std::to_string(expected),
                         where);
}

Json pairingJson(const PairingTally& t) {
    return {{"battles", t.battles},        {"wins", t.wins},
            {"losses", t.losses},          {"undecided", t.undecided},
            {"turns_total", t.turnsTotal}, {"turns_histogram", histogramJson(t.lengths)}};
}

PairingTally pairingOf(const Json& json) {
    PairingTally t;
    t.battles = json.at("battles").get<uint64_t>();
    t.wins = json.at("wins").get<uint64_t>();
    t.losses = json.at("losses").get<uint64_t>();
    t.undecided = json.at("undecided").get<uint64_t>();
    t.turnsTotal = json.at("turns_total").get<uint64_t>();
    t.lengths = histogramOf(json.at("turns_histogram"));
    return t;
}

// How many of the battles of shard `shard` of `shards` fall in each pairing, when
// battle i of perPairing * P plays pairing i mod P. The shard's battles run through
// the pairings with a period of P / gcd(P, shards) battles, meeting each pairing they
// ever meet once in a period and then every lcm(P, shards) battle numbers.
std::vector<uint64_t> pairingShares(uint64_t perPairing, uint64_t pairings, uint64_t shard, uint64_t shards) {
    std::vector<uint64_t> shares(pairings, 0);
    const uint64_t total = perPairing * pairings;
    const uint64_t common = std::gcd(pairings, shards);
    // A period longer than the run (however long) means each pairing is met once at most.
    constexpr uint64_t Longest = std::numeric_limits<uint64_t>::max();
    const uint64_t period = shards / common > Longest / pairings ? Longest : shards / common * pairings;
    uint64_t i = shard;
    for (uint64_t j = 0; j < pairings / common && i < total; ++j) {
        shares[i % pairings] = (total - i - 1) / period + 1;
        if (total - i <= shards)
            break;
        i += shards;
    }
    return shares;
}

void checkPairings(const PartialResult& p, const std::string& where) {
    const std::vector<uint64_t> shares = pairingShares(p.run.battles, p.pairings.size(), p.shard, p.run.shards);
    for (size_t i = 0; i < p.pairings.size(); ++i) {
        const PairingTally& t = p.pairings[i];
        if (t.wins + t.losses + t.undecided != t.battles || t.lengths.count() != t.battles ||
            t.lengths.turns() != t.turnsTotal)
            throw InputError("the counts of this partial result do not add up", where);
        if (t.battles != shares[i])
            throw InputError("this shard holds " + std::to_string(t.battles) + " battles of pairing " +
                                 std::to_string(i + 1) + " where its share of the run is " + std::to_string(shares[i]),
                             where);
    }
}

void add(PairingTally& to, const PairingTally& t) {
    to.battles += t.battles;
    to.wins += t.wins;
    to.losses += t.losses;
    to.undecided += t.undecided;
    to.turnsTotal += t.turnsTotal;
    to.lengths.merge(t.lengths);
}

void add(StatsResult& to, const StatsResult& r) {
    to.battles += r.battles;
    to.topWins += r.topWins;
    to.bottomWins += r.bottomWins;
    to.undecided += r.undecided;
    to.turnsTotal += r.turnsTotal;
    to.lengths.merge(r.lengths);
    to.threads += r.threads;
    to.seconds += r.seconds;
}

std::string shardName(uint64_t shard, uint64_t shards) {
    return std::to_string(shard) + "/" + std::to_string(shards);
}

// The first thing in which run b differs from run a, as "seed 5, not 7".
std::string difference(const RunIdentity& a, const RunIdentity& b) {
    if (a.command != b.command)
        return "a " + b.command + " run, not " + a.command;
    if (a.command == "optimize" && (a.decks.empty() || b.decks.empty() || a.decks.front() != b.decks.front()))
        return "team " + (b.decks.empty() ? std::string() : b.decks.front()) + ", not " +
               (a.decks.empty() ? std::string() : a.decks.front());
    if (a.command == "optimize" && a.decks != b.decks)
        return "another field";
    if (a.decks != b.decks)
        return "other decks";
    if (a.side != b.side)
        return "side " + b.side + ", not " + a.side;
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

uint64_t measurePairings(const RunIdentity& run) {
    const uint64_t decks = run.decks.empty() ? 0 : run.decks.size() - 1;
    return run.side == "both" ? 2 * decks : decks;
}

std::string partialJson(const PartialResult& p) {
    Json json = {{"morvane_partial", PartialFormat}, {"command", p.run.command},     {"shard", p.shard},
                 {"shards", p.run.shards},           {"battles", p.run.battles},     {"seed", p.run.seed},
                 {"max_turns", p.run.maxTurns},      {"catalogue", p.run.catalogue}, {"decks", p.run.decks}};
    if (p.run.command == "optimize") {
        Json pairings = Json::array();
        for (const PairingTally& t : p.pairings)
            pairings.push_back(pairingJson(t));
        json["side"] = p.run.side;
        json["cards_option"] = optionalText(p.cardsOption);
        json["decks_file"] = p.decksFile;
        json["sources"] = p.sources;
        json["team_size"] = p.teamSize;
        json["team_cards"] = p.teamCards;
        json["threads"] = p.threads;
        json["seconds"] = p.seconds;
        json["pairings"] = pairings;
    } else {
        Json results = Json::array();
        for (const StatsResult& r : p.results)
            results.push_back(resultJson(r));
        json["cards_option"] = optionalText(p.cardsOption);
        json["top_option"] = optionalText(p.topOption);
        json["bottom_option"] = optionalText(p.bottomOption);
        json["decks_file"] = p.decksFile;
        json["results"] = results;
    }
    // Paths are bytes: anything that is not UTF-8 is replaced rather than refused.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

PartialResult parsePartial(std::string_view text, const std::string& where) {
    PartialResult p;
    try {
        const Json json = Json::parse(text);
        if (!json.is_object() || !json.contains("morvane_partial"))
            throw InputError("not a partial result of morvane-cli stats, league or optimize --shard", where);
        if (json.at("morvane_partial").get<int>() != PartialFormat)
            throw InputError("a partial result of another format", where);
        p.run.command = json.at("command").get<std::string>();
        p.shard = json.at("shard").get<uint64_t>();
        p.run.shards = json.at("shards").get<uint64_t>();
        p.run.battles = json.at("battles").get<uint64_t>();
        p.run.seed = json.at("seed").get<uint32_t>();
        p.run.maxTurns = json.at("max_turns").get<long long>();
        p.run.catalogue = json.at("catalogue").get<std::string>();
        p.run.decks = json.at("decks").get<std::vector<std::string>>();
        p.cardsOption = optionalText(json.at("cards_option"));
        p.decksFile = json.at("decks_file").get<std::string>();
        if (p.run.command == "optimize") {
            p.run.side = json.at("side").get<std::string>();
            p.sources = json.at("sources").get<std::vector<std::string>>();
            p.teamSize = json.at("team_size").get<std::string>();
            p.teamCards = json.at("team_cards").get<std::vector<std::string>>();
            p.threads = json.at("threads").get<unsigned>();
            p.seconds = json.at("seconds").get<double>();
            for (const Json& t : json.at("pairings"))
                p.pairings.push_back(pairingOf(t));
        } else {
            p.topOption = optionalText(json.at("top_option"));
            p.bottomOption = optionalText(json.at("bottom_option"));
            for (const Json& r : json.at("results"))
                p.results.push_back(resultOf(r));
        }
    } catch (const nlohmann::json::exception& e) {
        throw InputError(std::string("not a readable partial result (") + e.what() + ")", where);
    } catch (const std::invalid_argument& e) {
        throw InputError(std::string("not a readable partial result (") + e.what() + ")", where);
    }

    const size_t decks = p.run.decks.size();
    if (p.run.shards == 0 || p.shard >= p.run.shards || decks < 2)
        throw InputError("a partial result whose run makes no sense", where);
    if (p.run.command == "optimize") {
        const uint64_t pairings = measurePairings(p.run);
        if ((p.run.side != "top" && p.run.side != "bottom" && p.run.side != "both") || p.pairings.size() != pairings ||
            p.sources.size() != decks - 1 || p.teamCards.size() != 9 ||
            p.run.battles > std::numeric_limits<uint64_t>::max() / pairings)
            throw InputError("a partial result whose run makes no sense", where);
        checkPairings(p, where);
        return p;
    }
    const size_t results = p.run.command == "stats" ? 1 : decks * (decks - 1);
    if ((p.run.command != "stats" && p.run.command != "league") || (p.run.command == "stats" && decks != 2) ||
        p.results.size() != results)
        throw InputError("a partial result whose run makes no sense", where);
    for (const StatsResult& r : p.results)
        checkResult(r, shardBattles(p.run.battles, p.shard, p.run.shards), where);
    return p;
}

PartialResult mergePartials(const std::vector<std::pair<std::string, PartialResult>>& shards) {
    if (shards.empty())
        throw InputError("no partial results to merge");
    const auto& [firstName, first] = shards.front();
    std::map<uint64_t, std::string> seen;
    PartialResult whole = first;
    whole.shard = 0;
    whole.run.shards = 1;
    whole.results.assign(first.results.size(), StatsResult{});
    whole.pairings.assign(first.pairings.size(), PairingTally{});
    whole.threads = 0;
    whole.seconds = 0;
    for (const auto& [name, p] : shards) {
        if (!(p.run == first.run))
            throw InputError("not a shard of the same run as " + firstName + " (" + difference(first.run, p.run) + ")",
                             name);
        const auto [at, fresh] = seen.emplace(p.shard, name);
        if (!fresh)
            throw InputError("shard " + shardName(p.shard, p.run.shards) + " is given twice, here and in " + at->second,
                             name);
        for (size_t i = 0; i < p.results.size(); ++i)
            add(whole.results[i], p.results[i]);
        for (size_t i = 0; i < p.pairings.size(); ++i)
            add(whole.pairings[i], p.pairings[i]);
        whole.threads += p.threads;
        whole.seconds += p.seconds;
    }
    for (uint64_t shard = 0; shard < first.run.shards; ++shard)
        if (!seen.count(shard))
            throw InputError("shard " + shardName(shard, first.run.shards) + " of the run is missing", firstName);
    return whole;
}

} // namespace morvane
