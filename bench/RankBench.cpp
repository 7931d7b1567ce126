// How well 'morvane-cli rank' ranks a generated field for a share of a league's battles
// (a program, not a test; it takes minutes). The truth is the field played in full:
// every pair 1000 battles, 500 each way round as a league with --battles 500 plays it,
// but each pair with seeds of its own. Then, for each share of that league's battles,
// rank with the focused allocation and with the battles spread evenly over the pairs,
// each on several seeds:
//   Spearman's rank correlation with the truth;
//   the top-10 order: of the neighbours in the truth's first 11 places that the truth
//     puts more than 0.6 points apart, how many come out in the truth's order;
//   coverage: the share of decks whose 95% interval holds the truth's rating.
//
//   build/bench/morvane_rank_bench [--decks 200] [--truth 1000] [--shares 1,2,5] [--seeds 1-3]

#include "cards/CardCatalogue.h"
#include "common/Random.h"
#include "optimize/TeamSpace.h"
#include "tournament/Rank.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace morvane;

namespace {

struct Options {
    size_t decks = 200;
    uint64_t truthPerPair = 1000;
    std::vector<double> shares{1, 2, 5};
    uint32_t firstSeed = 1;
    uint32_t lastSeed = 3;
};

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--decks")
            o.decks = std::stoul(value);
        else if (name == "--truth")
            o.truthPerPair = std::stoull(value);
        else if (name == "--shares") {
            o.shares.clear();
            std::stringstream list(value);
            for (std::string part; std::getline(list, part, ',');)
                o.shares.push_back(std::stod(part));
        } else if (name == "--seeds") {
            const size_t dash = value.find('-');
            o.firstSeed = static_cast<uint32_t>(std::stoul(value.substr(0, dash)));
            o.lastSeed =
                dash == std::string::npos ? o.firstSeed : static_cast<uint32_t>(std::stoul(value.substr(dash + 1)));
        } else {
            std::fprintf(stderr, "unknown option %s\n", name.c_str());
            return std::nullopt;
        }
    }
    return o;
}

std::vector<double> ranks(const std::vector<double>& values) {
    std::vector<size_t> order(values.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return values[a] > values[b]; });
    std::vector<double> r(values.size());
    for (size_t i = 0; i < order.size(); ++i)
        r[order[i]] = static_cast<double>(i);
    return r;
}

double spearman(const std::vector<double>& x, const std::vector<double>& y) {
    const std::vector<double> rx = ranks(x);
    const std::vector<double> ry = ranks(y);
    double d2 = 0;
    for (size_t i = 0; i < rx.size(); ++i)
        d2 += (rx[i] - ry[i]) * (rx[i] - ry[i]);
    const auto n = static_cast<double>(rx.size());
    return 1 - 6 * d2 / (n * (n * n - 1));
}

struct Score {
    double spearman = 0;
    int ordered = 0;
    int separated = 0;
    double coverage = 0;
    double seconds = 0;
};

Score score(const RankResult& r, const std::vector<double>& truth, double seconds) {
    std::vector<double> rating(truth.size());
    size_t covered = 0;
    for (const RankedDeck& d : r.ranking) {
        rating[d.deck] = d.rating;
        covered += d.interval.low <= truth[d.deck] && truth[d.deck] <= d.interval.high;
    }
    Score s;
    s.spearman = spearman(rating, truth);
    s.coverage = static_cast<double>(covered) / static_cast<double>(truth.size());
    s.seconds = seconds;
    std::vector<size_t> order(truth.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return truth[a] > truth[b]; });
    for (size_t p = 0; p + 1 < std::min<size_t>(11, order.size()); ++p) {
        const size_t a = order[p];
        const size_t b = order[p + 1];
        if (truth[a] - truth[b] <= 0.006)
            continue;
        ++s.separated;
        s.ordered += rating[a] > rating[b];
    }
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<Options> parsed = parse(argc, argv);
    if (!parsed)
        return 2;
    const Options& o = *parsed;
    CardCatalogue catalogue;
    catalogue.load(std::string(MORVANE_DATA_DIR) + "/card.dat");
    // A field of random legal teams, the same for every run of this program.
    TeamSpace space(catalogue, TeamRules{}, SideSelection{});
    Random random(20261208);
    RankRequest request;
    while (request.decks.size() < o.decks)
        if (auto team = space.randomTeam(random))
            request.decks.push_back(*team);
    request.threads = 0;
    const uint64_t pairs = o.decks * (o.decks - 1) / 2;

    auto timed = [&](const RankRequest& r) {
        const auto start = std::chrono::steady_clock::now();
        RankResult result = rankDecks(catalogue, r);
        return std::make_pair(std::move(result),
                              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    };
    RankRequest truthRequest = request;
    truthRequest.budget = o.truthPerPair * pairs;
    truthRequest.evenShare = 1;
    truthRequest.seed = 4000000000u;
    const auto [truthResult, truthSeconds] = timed(truthRequest);
    std::vector<double> truth(o.decks);
    for (const RankedDeck& d : truthResult.ranking)
        truth[d.deck] = d.rating;
    std::printf("field: %zu random legal decks; truth: %llu battles (%llu a pair), %.0f s; ratings %.1f%% to %.1f%%\n",
                o.decks, static_cast<unsigned long long>(truthResult.battles),
                static_cast<unsigned long long>(o.truthPerPair), truthSeconds, truthResult.ranking.back().rating * 100,
                truthResult.ranking.front().rating * 100);
    std::printf("share  allocation  seed  spearman  top-10 order  coverage  seconds\n");
    for (const double share : o.shares) {
        for (const double evenShare : {0.4, 1.0}) {
            for (uint32_t seed = o.firstSeed; seed <= o.lastSeed; ++seed) {
                RankRequest r = request;
                r.budget = static_cast<uint64_t>(share / 100 * static_cast<double>(truthRequest.budget));
                r.evenShare = evenShare;
                r.seed = seed;
                const auto [result, seconds] = timed(r);
                const Score s = score(result, truth, seconds);
                std::printf("%4.0f%%  %-10s  %4u  %8.4f  %5d of %-5d %7.1f%%  %7.1f\n", share,
                            evenShare < 1 ? "focused" : "even", seed, s.spearman, s.ordered, s.separated,
                            s.coverage * 100, s.seconds);
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
