#pragma once
// Seeded battles of a team against a field of decks, played without reports on
// worker threads: the one pool behind deck strength (a field of one deck), leagues,
// the optimizer's search and the measurement of a team. A field deck is met on the
// sides the team plays: as the top team against the deck below it, as the bottom team
// against the deck above it, or both ways round, since the two sides' formations
// differ. Each (field deck, side) is a pairing.
//
// Every battle is the engine's own battle with a seed of its own, so what a caller
// gets back never depends on how many threads played it.

#include "battle/BattleOutcome.h"
#include "cards/Deck.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace morvane {

class CardCatalogue;

enum class PlaySide : uint8_t { Top, Bottom, Both };

struct Field {
    std::vector<SideSelection> decks;
    PlaySide side = PlaySide::Both;

    // Pairing p is deck p / 2 with the team on top for even p and below for odd p when
    // both sides are played; otherwise deck p on the one side.
    size_t pairings() const { return decks.size() * (side == PlaySide::Both ? 2 : 1); }
    size_t deckOf(size_t pairing) const { return side == PlaySide::Both ? pairing / 2 : pairing; }
    // 0 when the team plays on top, 1 below.
    int teamSideOf(size_t pairing) const {
        return side == PlaySide::Both ? static_cast<int>(pairing % 2) : side == PlaySide::Top ? 0 : 1;
    }
};

// One battle: the team in a pairing of the field, with its seed.
struct FieldBattle {
    const SideSelection* team = nullptr;
    uint32_t pairing = 0;
    uint32_t seed = 0;
};

// The number of threads that 0 stands for.
unsigned defaultThreadCount();

// Worker threads that play lists of field battles. The calling thread plays too, so
// one thread means no extra thread at all.
class BattlePool {
public:
    // How a failing battle is named in its error's location; the default names the
    // team, the field deck, the side and the seed.
    using Describe = std::function<std::string(const FieldBattle& battle, size_t index)>;
    // Hears how many battles of the list are done, now and then, on the calling thread.
    using Progress = std::function<void(size_t done)>;

    BattlePool(const CardCatalogue& catalogue, const Field& field, unsigned threads, long long maxTurns,
               const std::atomic<bool>* cancel = nullptr);
    ~BattlePool();
    BattlePool(const BattlePool&) = delete;
    BattlePool& operator=(const BattlePool&) = delete;

    // Plays every battle; outcomes[i] is battle i's, the winner counted as the side
    // (0 top, 1 bottom) of the board, not of the team. Returns false when the cancel
    // flag stopped it first: the battles not played are left not over. A battle that
    // fails throws; of several, the one listed first.
    bool play(const std::vector<FieldBattle>& battles, std::vector<BattleOutcome>& outcomes,
              const Describe& describe = {}, const Progress& progress = {});

    // Battles played since construction, cancelled lists included, and their turns.
    uint64_t played() const { return played_.load(std::memory_order_relaxed); }
    uint64_t turns() const { return turns_.load(std::memory_order_relaxed); }
    unsigned threads() const { return static_cast<unsigned>(workers_.size()) + 1; }
    const Field& field() const { return field_; }

private:
    struct Player;
    void drain(Player& player, const Progress* progress);
    void workerLoop();
    // Whether battle `index` (and every later one) is not to be played: the run is
    // cancelled, or a battle before it failed.
    bool stopped(size_t index) const;
    void fail(size_t index, std::exception_ptr error);

    const CardCatalogue& catalogue_;
    const Field& field_;
    long long maxTurns_;
    const std::atomic<bool>* cancel_;
    std::unique_ptr<Player> own_;
    std::vector<std::thread> workers_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    uint64_t generation_ = 0;
    unsigned busy_ = 0;
    bool quit_ = false;
    const std::vector<FieldBattle>* battles_ = nullptr;
    std::vector<BattleOutcome>* outcomes_ = nullptr;
    std::atomic<size_t> next_{0};
    std::atomic<size_t> done_{0};
    // The first battle not to be played: a failed battle's index, or 0 when the
    // progress callback failed. The battles before a failed one are still played, so
    // that the failure reported is the first in the list, whatever the timing.
    std::atomic<size_t> stopAt_{std::numeric_limits<size_t>::max()};
    std::exception_ptr failure_;
    size_t failedIndex_ = 0;
    std::atomic<uint64_t> played_{0};
    std::atomic<uint64_t> turns_{0};
};

} // namespace morvane
