// Battles and turns per second with the bundled card catalogue and the first deck of
// each side: alone without a report, on several threads, and with the whole report
// written to memory; and battles between the pairs of a field of random teams, each
// pair played a few times or many in a row. Battle lengths depend on the decks, so
// turns are counted too.
//
// MORVANE_DATA_DIR (or the environment variable of that name) names the folder of
// card.dat, deck0.dat and deck1.dat.

#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Clock.h"
#include "common/Random.h"
#include "common/TextLines.h"
#include "optimize/TeamSpace.h"
#include "report/ReportSink.h"
#include "stats/Statistics.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

using namespace morvane;

struct Bundled {
    CardCatalogue catalogue;
    Teams teams;

    Bundled() {
        // Read once, before any benchmark starts a thread.
        const char* env = std::getenv("MORVANE_DATA_DIR"); // NOLINT(concurrency-mt-unsafe)
        const std::filesystem::path folder = env ? env : MORVANE_DATA_DIR;
        catalogue.load(folder / "card.dat");
        for (int side = 0; side < 2; ++side)
            applyDeckLine(readTextLines(deckFilePath(folder, side)).front().text, teams.side[static_cast<size_t>(side)],
                          catalogue);
    }
};

const Bundled& bundled() {
    static const Bundled data;
    return data;
}

constexpr uint32_t RunSeed = 20261207;
constexpr long long MaxTurns = 10000;

void setRates(benchmark::State& state, uint64_t battles, uint64_t turns) {
    state.counters["battles/s"] = benchmark::Counter(double(battles), benchmark::Counter::kIsRate);
    state.counters["turns/s"] = benchmark::Counter(double(turns), benchmark::Counter::kIsRate);
    state.counters["turns/battle"] = battles ? double(turns) / double(battles) : 0.0;
}

// One battle per iteration on this thread, no report: the engine alone.
void BM_BattleNoReport(benchmark::State& state) {
    const Bundled& data = bundled();
    Random random;
    Battle battle(data.catalogue, random);
    uint64_t index = 0, turns = 0;
    for (auto _ : state) {
        random.setSeed(battleSeed(RunSeed, index++));
        turns += static_cast<uint64_t>(battle.play(data.teams, MaxTurns).turns);
    }
    setRates(state, index, turns);
}
BENCHMARK(BM_BattleNoReport);

// A field of random legal teams of the bundled catalogue, read once.
const std::vector<SideSelection>& field() {
    static const std::vector<SideSelection> teams = [] {
        const Bundled& data = bundled();
        TeamSpace space(data.catalogue, TeamRules{}, SideSelection{});
        Random random(RunSeed);
        std::vector<SideSelection> out;
        while (out.size() < 400)
            if (auto team = space.randomTeam(random))
                out.push_back(*team);
        return out;
    }();
    return teams;
}

// Battles of the ladder's kind: every battle brings a new pair of teams (each pair of
// the field once each way round), so nothing a battle works out from its teams is
// there for the next one. range(0) battles per pair before the next pair: 1 is the
// ladder, 1000 is a statistics run on those same pairs, and the ratio of the two is
// what changing teams costs.
void BM_FieldPairs(benchmark::State& state) {
    const Bundled& data = bundled();
    const std::vector<SideSelection>& teams = field();
    const auto repeat = static_cast<uint64_t>(state.range(0));
    Random random;
    Battle battle(data.catalogue, random);
    Teams pair;
    uint64_t index = 0, turns = 0;
    for (auto _ : state) {
        const uint64_t n = index / repeat;
        pair.side[0] = teams[n % teams.size()];
        pair.side[1] = teams[(n / teams.size() + 1 + n) % teams.size()];
        random.setSeed(battleSeed(RunSeed, index++));
        turns += static_cast<uint64_t>(battle.play(pair, MaxTurns).turns);
    }
    setRates(state, index, turns);
}
BENCHMARK(BM_FieldPairs)->Arg(1)->Arg(2)->Arg(16)->Arg(1000);

// The ladder's battles in two orders: blocks of 64 top teams, each against 64 bottom
// teams. With range(0) 1 the 64 battles in a row that share their bottom team bring
// 64 different top teams, as a unit's matches come; with 0 the 64 in a row share their
// top team, as they would if a unit were sorted by its first entrant. Each pair keeps
// its seed in both orders, so both play the very same battles and only the order
// differs: the ratio of the two is what that sorting would be worth.
void BM_FieldOneSideKept(benchmark::State& state) {
    const Bundled& data = bundled();
    const std::vector<SideSelection>& teams = field();
    const bool interleaved = state.range(0) != 0;
    constexpr uint64_t Block = 64;
    Random random;
    Battle battle(data.catalogue, random);
    Teams pair;
    uint64_t index = 0, turns = 0;
    for (auto _ : state) {
        const uint64_t chunk = index / (Block * Block), k = index % (Block * Block);
        const uint64_t top = interleaved ? k % Block : k / Block, bottom = interleaved ? k / Block : k % Block;
        const uint64_t a = (chunk * Block + top) % teams.size();
        pair.side[0] = teams[a];
        pair.side[1] = teams[(a + 1 + bottom * 5 + chunk) % teams.size()];
        random.setSeed(battleSeed(RunSeed, chunk * Block * Block + top * Block + bottom));
        ++index;
        turns += static_cast<uint64_t>(battle.play(pair, MaxTurns).turns);
    }
    setRates(state, index, turns);
}
BENCHMARK(BM_FieldOneSideKept)->Arg(1)->Arg(0);

// The same battles with the whole report written to memory.
void BM_BattleMemoryReport(benchmark::State& state) {
    const Bundled& data = bundled();
    Random random;
    MemoryReportSink sink;
    Battle battle(data.catalogue, random, &sink);
    const FixedClock clock("12:00:00");
    battle.report().setClock(clock);
    uint64_t index = 0, turns = 0, bytes = 0;
    for (auto _ : state) {
        random.setSeed(battleSeed(RunSeed, index++));
        turns += static_cast<uint64_t>(battle.play(data.teams, MaxTurns).turns);
        bytes += sink.text().size();
    }
    setRates(state, index, turns);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_BattleMemoryReport);

// playStatistics over a fixed number of battles on 1, 2, ... threads; wall-clock time,
// so the ratio of the turns/s figures is the scaling.
void BM_Statistics(benchmark::State& state) {
    const Bundled& data = bundled();
    StatsRequest request;
    request.teams = data.teams;
    request.battles = 20000;
    request.threads = static_cast<unsigned>(state.range(0));
    request.seed = RunSeed;
    request.maxTurns = MaxTurns;
    uint64_t battles = 0, turns = 0;
    for (auto _ : state) {
        const StatsResult result = playStatistics(data.catalogue, request);
        battles += result.battles();
        turns += result.turnsTotal();
    }
    setRates(state, battles, turns);
}
BENCHMARK(BM_Statistics)->Arg(1)->Arg(2)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
