#include "stats/BattlePool.h"

#include "battle/Battle.h"
#include "common/Errors.h"
#include "common/Random.h"

#include <algorithm>
#include <limits>

namespace morvane {

namespace {

// Battles are taken a few at a time: a battle lasts microseconds, so one at a time
// would make the shared counter the bottleneck, and many at a time would leave one
// thread finishing alone at the end of a short list.
constexpr size_t ChunkBattles = 4;

// What the progress callback failed with is no battle's failure: it comes after all.
constexpr size_t NoBattle = std::numeric_limits<size_t>::max();

std::string describeFieldBattle(const Field& field, const FieldBattle& b) {
    return std::string("battle of ").append(formatDeckLine(*b.team, 0)) + " against field deck " +
           std::to_string(field.deckOf(b.pairing) + 1) + (field.teamSideOf(b.pairing) == 0 ? " below" : " above") +
           " (seed " + std::to_string(b.seed) + ")";
}

} // namespace

unsigned defaultThreadCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

// One thread's engine: the battle object and the generator it draws from.
struct BattlePool::Player {
    explicit Player(const CardCatalogue& catalogue) : battle(catalogue, random) {}
    Random random;
    Battle battle;
};

BattlePool::BattlePool(const CardCatalogue& catalogue, const Field& field, unsigned threads, long long maxTurns,
                       const std::atomic<bool>* cancel)
    : catalogue_(catalogue), field_(field), maxTurns_(maxTurns), cancel_(cancel),
      own_(std::make_unique<Player>(catalogue)) {
    const unsigned total = threads == 0 ? defaultThreadCount() : threads;
    try {
        for (unsigned i = 1; i < total; ++i)
            workers_.emplace_back(&BattlePool::workerLoop, this);
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

BattlePool::~BattlePool() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

bool BattlePool::stopped(size_t index) const {
    return index >= stopAt_.load(std::memory_order_relaxed) || (cancel_ && cancel_->load(std::memory_order_relaxed));
}

void BattlePool::fail(size_t index, std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    if (!failure_ || index < failedIndex_) {
        failure_ = std::move(error);
        failedIndex_ = index;
    }
    // Written under the lock, so it only ever comes down.
    const size_t stop = index == NoBattle ? 0 : index;
    if (stop < stopAt_.load(std::memory_order_relaxed))
        stopAt_.store(stop, std::memory_order_relaxed);
}

void BattlePool::drain(Player& player, const Progress* progress) {
    const std::vector<FieldBattle>& battles = *battles_;
    std::vector<BattleOutcome>& outcomes = *outcomes_;
    size_t index = 0;
    uint64_t played = 0;
    uint64_t turns = 0;
    try {
        while (true) {
            const size_t first = next_.fetch_add(ChunkBattles, std::memory_order_relaxed);
            if (first >= battles.size() || stopped(first))
                break;
            const size_t last = std::min(battles.size(), first + ChunkBattles);
            size_t chunk = 0;
            for (index = first; index < last && !stopped(index); ++index, ++chunk) {
                const FieldBattle& b = battles[index];
                const int side = field_.teamSideOf(b.pairing);
                Teams teams;
                teams.side[static_cast<size_t>(side)] = *b.team;
                teams.side[static_cast<size_t>(1 - side)] = field_.decks[field_.deckOf(b.pairing)];
                player.random.setSeed(b.seed);
                outcomes[index] = player.battle.play(teams, maxTurns_);
                turns += static_cast<uint64_t>(outcomes[index].turns);
            }
            played += chunk;
            const size_t done = done_.fetch_add(chunk, std::memory_order_relaxed) + chunk;
            if (progress && *progress) {
                index = NoBattle;
                (*progress)(done);
            }
        }
    } catch (...) {
        fail(index, std::current_exception());
    }
    played_.fetch_add(played, std::memory_order_relaxed);
    turns_.fetch_add(turns, std::memory_order_relaxed);
}

void BattlePool::workerLoop() {
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
        drain(player, nullptr);
        std::lock_guard lock(mutex_);
        if (--busy_ == 0)
            idle_.notify_all();
    }
}

bool BattlePool::play(const std::vector<FieldBattle>& battles, std::vector<BattleOutcome>& outcomes,
                      const Describe& describe, const Progress& progress) {
    outcomes.assign(battles.size(), BattleOutcome{});
    if (battles.empty())
        return true;
    {
        std::lock_guard lock(mutex_);
        battles_ = &battles;
        outcomes_ = &outcomes;
        next_ = 0;
        done_ = 0;
        stopAt_ = NoBattle;
        failure_ = nullptr;
        failedIndex_ = NoBattle;
        busy_ = static_cast<unsigned>(workers_.size());
        ++generation_;
    }
    wake_.notify_all();
    drain(*own_, &progress);
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return busy_ == 0; });
    if (failure_) {
        if (failedIndex_ >= battles.size())
            std::rethrow_exception(failure_);
        // Named on the calling thread, once the workers are done with the list.
        try {
            std::rethrow_exception(failure_);
        } catch (MorvaneError& e) {
            const FieldBattle& b = battles[failedIndex_];
            const std::string battle = describe ? describe(b, failedIndex_) : describeFieldBattle(field_, b);
            e.setWhere(battle + (e.where().empty() ? std::string() : ", " + e.where()));
            throw;
        }
    }
    return done_.load(std::memory_order_relaxed) == battles.size();
}

} // namespace morvane
