#pragma once
// The battle engine. One object holds the state of one battle at a time and plays it
// one turn per call, the way the desktop program's 20 ms timer does: start begins (or,
// while a battle runs, restarts) it from two teams, playTurn plays a turn and says
// where the battle stands. The catalogue and the generator are the caller's; the
// report goes to an optional sink.
//
// The engine does not care about windows, timers or files: the desktop program, the
// command line tool and the tests all drive it through the same two calls.

#include "battle/BattleOutcome.h"
#include "report/BattleReport.h"
#include "state/BattleState.h"

#include <array>
#include <string>
#include <vector>

namespace morvane {

class CardCatalogue;
struct CardTraits;
class Random;
class ReportSink;
struct Teams;

class Battle {
public:
    Battle(const CardCatalogue& catalogue, Random& random, ReportSink* sink = nullptr);
    // The action context holds views into this object's own name tables: a copy or a
    // move would leave them pointing into the original.
    Battle(const Battle&) = delete;
    Battle& operator=(const Battle&) = delete;

    // Copies the two teams into the slot table with full catalogue HP, marks the
    // battle as running and frees both deck locks. Throws InputError, changing
    // nothing, when any of the 18 selections is empty.
    void start(const Teams& teams);
    // Plays one turn, then ends a battle that has reached maxTurns turns without a
    // result (maxTurns <= 0: no cap), its report closed as it stands. Returns the
    // status: Running means call again. A failure throws and leaves the battle
    // Halted as it stood, its report kept as far as it got.
    BattleStatus playTurn(long long maxTurns = DefaultMaxTurns);
    // Starts the battle and plays it to its end or to the turn cap.
    BattleOutcome play(const Teams& teams, long long maxTurns = DefaultMaxTurns);

    void ApplyFormation(int f0, int f1);
    void PerformAction(int position);
    void ResolveAttack(int32_t attackerSlot, int32_t defenderSlot);
    void AttackVehicle(int32_t attackerSlot, int32_t vehicleSlot, int32_t damage);

    // Ends an unfinished battle (a turn cap): the report is closed as it stands.
    void Abandon();

    // The battle as it stands, or as it ended.
    BattleOutcome outcome() const { return {status_, static_cast<int8_t>(winner_), state_.TurnNo}; }

    BattleState& state() { return state_; }
    const BattleState& state() const { return state_; }
    BattleReport& report() { return report_; }
    Random& random() { return *random_; }
    void setRandom(Random& random) { random_ = &random; }

    // Side whose vehicle survived the last ended battle: 0 top, 1 bottom, -1 none yet.
    int winner() const { return winner_; }

private:
    // One turn of the turn loop; false once the battle has ended.
    bool turn();
    bool capReached(long long maxTurns) const { return maxTurns > 0 && state_.TurnNo >= maxTurns; }
    // A failing turn leaves the battle halted; the cap ends it as it stands.
    void halt();
    void cap();
    bool writes() const { return state_.ReportOpen && report_.sink() != nullptr; }
    void write(std::initializer_list<std::string_view> pieces);
    std::string_view characterName(int32_t id, bool top) const;
    std::string_view vehicleName(int32_t id, bool top) const;
    void setNames(int32_t attackerSlot);
    // The context of an action of front position p, from Front and the slots. Written
    // in place: built and returned whole, the plans read it back before its stores
    // had landed.
    void actionSlots(int p, ActionSlots& out) const;
    // PerformAction with its context worked out.
    void act(int p, const ActionSlots& slots);
    // PerformAction from the abilities on, once the actor is known to stand.
    void performLiveAction(int p);
    void attack(int32_t attackerSlot, int32_t defenderSlot, const CardTraits& a);
    void useAbilities(int p);
    // Looks up the card of a slot in the catalogue into state().cards.
    void resolveSlot(int32_t slot);

    // What a turn needs of its front: the front positions in initiative order and the
    // context of each one's action. Both follow from Front and the slots' cards
    // alone, which change only with the formations and the teams, so a plan is
    // worked out the first time its pair of formations stands and then reused, by
    // later battles too while the teams stay the same.
    struct FrontPlan {
        bool ready = false;
        uint8_t acting = 0; // positions whose speed is from 1 to 20
        // Those positions by falling speed, in rising order within a speed, and for
        // each how many of its speed stand from it to the last of them.
        std::array<uint8_t, 6> order{};
        std::array<uint8_t, 6> left{};
        std::array<ActionSlots, 7> actions{}; // by position
    };
    void makeFrontPlan(FrontPlan& plan) const;

    const CardCatalogue& catalogue_;
    Random* random_;
    BattleReport report_;
    BattleState state_;
    int winner_ = -1;
    BattleStatus status_ = BattleStatus::Running;
    bool teamsChecked_ = false; // the slots hold cards a battle start checked and looked up
    std::string line_;
    // Coloured names by card id: [0] blue (top side), [1] red (bottom side).
    std::array<std::vector<std::string>, 2> characterNames_;
    std::array<std::vector<std::string>, 2> vehicleNames_;
    // By formations f0 * 4 + f1; the last one for a Front no pair of formations made.
    std::array<FrontPlan, 17> plans_;
};

} // namespace morvane
