#pragma once
// Battles of one team against a field of decks, played without reports on worker
// threads, and the measurement of a team's score on fresh seeds. A field deck is met
// on the sides the team plays: as the top team against the deck below it, as the
// bottom team against the deck above it, or both ways round, equally weighted, since
// the two sides' formations differ. Each (field deck, side) is a pairing.
//
// Every battle is the engine's own battle with a seed of its own, so what a caller
// gets back never depends on how many threads played it.

#include "cards/Deck.h"
#include "stats/Statistics.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace morvane {

class Battle;
class CardCatalogue;
class Random;

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

// Seeds of the search and of the final measurement come from one run seed but from
// disjoint battle numbers: the search's below FreshBase, the measurement's from it on.
// battleSeed is a bijection on the low 32 bits of the number, so the measurement never
// meets a seed the search used.
inline constexpr uint64_t FreshBase = uint64_t{1} << 31;

// One battle: the team in a pairing of the field, with its seed.
struct FieldBattle {
    const SideSelection* team = nullptr;
    uint32_t pairing = 0;
    uint32_t seed = 0;
};

enum Outcome : uint8_t { Lost = 0, Won = 1, Undecided = 2 };

// Worker threads that play lists of field battles. The calling thread plays too, so
// one thread means no extra thread at all.
class BattleRunner {
public:
    BattleRunner(const CardCatalogue& catalogue, const Field& field, unsigned threads, long long maxTurns,
                 const std::atomic<bool>* cancel = nullptr);
    ~BattleRunner();
    BattleRunner(const BattleRunner&) = delete;
    BattleRunner& operator=(const BattleRunner&) = delete;

    // Plays every battle; outcomes[i] is battle i's outcome for the team and, when
    // asked for, lengths[i] its turns. Returns false when the cancel flag stopped it
    // first: the outcomes are then incomplete. A battle that fails throws; of several,
    // the one listed first.
    bool play(const std::vector<FieldBattle>& battles, std::vector<Outcome>& outcomes,
              std::vector<int32_t>* lengths = nullptr);

    // Battles played since construction, cancelled lists included, and their turns.
    uint64_t played() const { return played_.load(std::memory_order_relaxed); }
    uint64_t turns() const { return turns_.load(std::memory_order_relaxed); }
    unsigned threads() const { return static_cast<unsigned>(workers_.size()) + 1; }
    const Field& field() const { return field_; }

private:
    struct Player;
    void drain(Player& player);
    void workerLoop(size_t index);
    bool stopped() const;

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
    std::vector<Outcome>* outcomes_ = nullptr;
    std::vector<int32_t>* lengths_ = nullptr;
    std::atomic<size_t> next_{0};
    std::atomic<size_t> done_{0};
    std::atomic<bool> failed_{false};
    std::exception_ptr failure_;
    size_t failedIndex_ = 0;
    std::atomic<uint64_t> played_{0};
    std::atomic<uint64_t> turns_{0};
};

// Wins of a team in one pairing, or in several added up.
struct ScoreTally {
    uint64_t battles = 0;
    uint64_t wins = 0;
    uint64_t undecided = 0;

    void add(Outcome outcome) {
        ++battles;
        wins += outcome == Won ? 1 : 0;
        undecided += outcome == Undecided ? 1 : 0;
    }
    void merge(const ScoreTally& other) {
        battles += other.battles;
        wins += other.wins;
        undecided += other.undecided;
    }
    double winRate() const { return battles ? double(wins) / double(battles) : 0.0; }
    Interval interval() const { return wilsonInterval(wins, battles); }
};

// A team's score against a field, per pairing, with the lengths of its battles;
// shards of one measurement merge into the score of the whole.
struct FieldScore {
    std::vector<ScoreTally> pairings;
    std::vector<TurnHistogram> lengths; // per pairing
    bool complete = true;               // false when cancelled part way

    ScoreTally total() const;
    void merge(const FieldScore& other);
};

// Battles first, first + step, ... below last (counted from 0) of the final
// measurement of a team: battle i plays pairing i mod P of the field (P pairings) with
// the seed battleSeed(seed, FreshBase + i). N battles per pairing are battles 0 to
// N * P - 1; any split of that range into shards, as ranges or as every step-th
// battle, adds up to the same score. progress, when given, hears the battles done so
// far every few thousand battles, on the calling thread.
FieldScore measureTeam(BattleRunner& runner, const SideSelection& team, uint32_t seed, uint64_t first, uint64_t last,
                       uint64_t step = 1, const std::function<void(uint64_t done)>& progress = {});

} // namespace morvane
