#include "optimize/FieldBattles.h"

#include "battle/Battle.h"
#include "common/Errors.h"
#include "common/Random.h"

#include <algorithm>
#include <string>

namespace morvane {

namespace {

// Battles are taken a few at a time: a battle lasts microseconds, so one at a time
// would make the shared counter the bottleneck, and many at a time would leave one
// thread finishing alone at the end of a short list.
constexpr size_t ChunkBattles = 4;

// Outcomes are worked out in slices of this many battles, so that the memory of a
// measurement does not grow with its length and a cancel is seen soon.
constexpr uint64_t MeasureSlice = 8192;

} // namespace

// One thread's engine: the battle object and the generator it draws from.
struct BattleRunner::Player {
    explicit Player(const CardCatalogue& catalogue) : battle(catalogue, random) {}
    Random random;
    Battle battle;
};

BattleRunner::BattleRunner(const CardCatalogue& catalogue, const Field& field, unsigned threads, long long maxTurns,
                           const std::atomic<bool>* cancel)
    : catalogue_(catalogue), field_(field), maxTurns_(maxTurns), cancel_(cancel),
      own_(std::make_unique<Player>(catalogue)) {
    const unsigned total = threads == 0 ? defaultThreadCount() : threads;
    try {
        for (unsigned i = 1; i < total; ++i)
            workers_.emplace_back(&BattleRunner::workerLoop, this, static_cast<size_t>(i));
    } catch (...) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_)
            t.join();
        throw;
    }
}

BattleRunner::~BattleRunner() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

bool BattleRunner::stopped() const {
    return failed_.load(std::memory_order_relaxed) || (cancel_ && cancel_->load(std::memory_order_relaxed));
}

void BattleRunner::drain(Player& player) {
    const std::vector<FieldBattle>& battles = *battles_;
    std::vector<Outcome>& outcomes = *outcomes_;
    std::vector<int32_t>* lengths = lengths_;
    size_t index = 0;
    uint64_t played = 0;
    uint64_t turns = 0;
    try {
        while (!stopped()) {
            const size_t first = next_.fetch_add(ChunkBattles, std::memory_order_relaxed);
            if (first >= battles.size())
                break;
            const size_t last = std::min(battles.size(), first + ChunkBattles);
            for (index = first; index < last && !stopped(); ++index) {
                const FieldBattle& b = battles[index];
                const int side = field_.teamSideOf(b.pairing);
                Teams teams;
                teams.side[static_cast<size_t>(side)] = *b.team;
                teams.side[static_cast<size_t>(1 - side)] = field_.decks[field_.deckOf(b.pairing)];
                player.random.setSeed(b.seed);
                const BattleOutcome outcome = player.battle.play(teams, maxTurns_);
                outcomes[index] = outcome.capped() ? Undecided : outcome.winner == side ? Won : Lost;
                if (lengths)
                    (*lengths)[index] = outcome.turns;
                ++played;
                turns += static_cast<uint64_t>(outcome.turns);
            }
        }
    } catch (MorvaneError& e) {
        const FieldBattle& b = battles[index];
        e.setWhere(std::string("battle of ").append(formatDeckLine(*b.team, 0)) + " against field deck " +
                   std::to_string(field_.deckOf(b.pairing) + 1) +
                   (field_.teamSideOf(b.pairing) == 0 ? " below" : " above") + " (seed " + std::to_string(b.seed) +
                   ")" + (e.where().empty() ? std::string() : ", " + e.where()));
        std::lock_guard lock(mutex_);
        if (!failure_ || index < failedIndex_) {
            failure_ = std::current_exception();
            failedIndex_ = index;
        }
        failed_ = true;
    } catch (...) {
        std::lock_guard lock(mutex_);
        if (!failure_ || index < failedIndex_) {
            failure_ = std::current_exception();
            failedIndex_ = index;
        }
        failed_ = true;
    }
    played_.fetch_add(played, std::memory_order_relaxed);
    turns_.fetch_add(turns, std::memory_order_relaxed);
    done_.fetch_add(played, std::memory_order_relaxed);
}

void BattleRunner::workerLoop(size_t) {
    Player player(catalogue_);
    uint64_t seen = 0;
    while (true) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
            if (quit_)
                return;
            seen = generation_;
        }
        drain(player);
        std::lock_guard lock(mutex_);
        if (--busy_ == 0)
            idle_.notify_all();
    }
}

bool BattleRunner::play(const std::vector<FieldBattle>& battles, std::vector<Outcome>& outcomes,
                        std::vector<int32_t>* lengths) {
    outcomes.assign(battles.size(), Lost);
    if (lengths)
        lengths->assign(battles.size(), 0);
    if (battles.empty())
        return true;
    {
        std::lock_guard lock(mutex_);
        battles_ = &battles;
        outcomes_ = &outcomes;
        lengths_ = lengths;
        next_ = 0;
        done_ = 0;
        failed_ = false;
        failure_ = nullptr;
        busy_ = static_cast<unsigned>(workers_.size());
        ++generation_;
    }
    wake_.notify_all();
    drain(*own_);
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return busy_ == 0; });
    if (failure_)
        std::rethrow_exception(failure_);
    return done_.load(std::memory_order_relaxed) == battles.size();
}

ScoreTally FieldScore::total() const {
    ScoreTally sum;
    for (const ScoreTally& t : pairings)
        sum.merge(t);
    return sum;
}

void FieldScore::merge(const FieldScore& other) {
    if (pairings.size() < other.pairings.size())
        pairings.resize(other.pairings.size());
    if (lengths.size() < other.lengths.size())
        lengths.resize(other.lengths.size());
    for (size_t p = 0; p < other.pairings.size(); ++p)
        pairings[p].merge(other.pairings[p]);
    for (size_t p = 0; p < other.lengths.size(); ++p)
        lengths[p].merge(other.lengths[p]);
    complete = complete && other.complete;
}

FieldScore measureTeam(BattleRunner& runner, const SideSelection& team, uint32_t seed, uint64_t first, uint64_t last,
                       uint64_t step, const std::function<void(uint64_t done)>& progress) {
    const size_t pairings = runner.field().pairings();
    step = std::max<uint64_t>(step, 1);
    FieldScore score;
    score.pairings.resize(pairings);
    score.lengths.resize(pairings);
    std::vector<FieldBattle> battles;
    std::vector<Outcome> outcomes;
    std::vector<int32_t> lengths;
    uint64_t done = 0;
    for (uint64_t i = first; i < last;) {
        battles.clear();
        for (; i < last && battles.size() < MeasureSlice; i += step)
            battles.push_back({&team, static_cast<uint32_t>(i % pairings), battleSeed(seed, FreshBase + i)});
        if (!runner.play(battles, outcomes, &lengths)) {
            score.complete = false;
            break;
        }
        for (size_t j = 0; j < battles.size(); ++j) {
            score.pairings[battles[j].pairing].add(outcomes[j]);
            score.lengths[battles[j].pairing].add(lengths[j]);
        }
        done += battles.size();
        if (progress)
            progress(done);
    }
    return score;
}

} // namespace morvane
