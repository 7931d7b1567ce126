#include "battle/Battle.h"

#include "battle/BattleText.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "cards/Team.h"
#include "common/Errors.h"
#include "common/Messages.h"
#include "common/Random.h"
#include "report/ReportText.h"

#include <algorithm>
#include <charconv>

namespace morvane {

namespace {

// Hit points are 32-bit and wrap on overflow, so that reports of the same seed agree
// on every machine; the arithmetic is done wide so that no overflow is undefined.
int32_t wrap(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

// A decimal number as a short-lived view, for building report lines.
struct Num {
    explicit Num(int64_t value) {
        size = static_cast<size_t>(std::to_chars(buffer, buffer + sizeof buffer, value).ptr - buffer);
    }
    operator std::string_view() const { return {buffer, size}; }
    char buffer[24];
    size_t size;
};

// The slots a team fills, in the order of the selectors: C01-C08, V00, C11-C18, V10.
constexpr int32_t TeamSlots[18] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19};

// Front slots of each formation: side 0 (Front[1..3]) and side 1 (Front[4..6]).
constexpr int32_t FormationSlots[2][4][3] = {
    {{3, 2, 1}, {1, 4, 6}, {8, 5, 3}, {6, 7, 8}},
    {{11, 12, 13}, {16, 14, 11}, {13, 15, 18}, {18, 17, 16}},
};

// The slots whose cards a plan of formations f0 and f1 reads (plans_[f0 * 4 + f1]):
// the six in front and the two vehicles, one bit a slot.
constexpr std::array<uint32_t, 16> planSlotMasks() {
    std::array<uint32_t, 16> masks{};
    for (size_t f0 = 0; f0 < 4; ++f0)
        for (size_t f1 = 0; f1 < 4; ++f1) {
            uint32_t mask = 1U << 9 | 1U << 19;
            for (size_t i = 0; i < 3; ++i)
                mask |= 1U << FormationSlots[0][f0][i] | 1U << FormationSlots[1][f1][i];
            masks[f0 * 4 + f1] = mask;
        }
    return masks;
}
constexpr std::array<uint32_t, 16> PlanSlotMasks = planSlotMasks();

// Puts the larger of two keys first. With a new pair of teams every battle the
// order is a coin toss, so a branch here would be mispredicted half the time: the
// mask keeps the compiler from making one.
inline void exchange(uint32_t& first, uint32_t& second) {
    const uint32_t a = first;
    const uint32_t b = second;
    const uint32_t swap = (a ^ b) & (0U - static_cast<uint32_t>(a < b));
    first = a ^ swap;
    second = b ^ swap;
}

// Sorts six keys, largest first, with the twelve exchanges of the smallest sorting
// network for six: no branches and no loop.
void sortDownwards(uint32_t (&k)[6]) {
    exchange(k[0], k[5]), exchange(k[1], k[3]), exchange(k[2], k[4]);
    exchange(k[1], k[2]), exchange(k[3], k[4]);
    exchange(k[0], k[3]), exchange(k[2], k[5]);
    exchange(k[0], k[1]), exchange(k[2], k[3]), exchange(k[4], k[5]);
    exchange(k[1], k[2]), exchange(k[3], k[4]);
}

// What an attack does to a standing card, by the attacker's attackBits and the
// defender's defenceBits (see CardTraits), in the order the rules ask: flight and
// reach first, then the kind against blocks and absorbs.
enum class Outcome : uint8_t { Damage, PiercingDamage, Missed, PassedThrough, NoAttack, Blocked, Absorbed };

constexpr std::array<Outcome, 32 * 128> attackOutcomes() {
    std::array<Outcome, 32 * 128> table{};
    for (unsigned a = 0; a < 32; ++a)
        for (unsigned d = 0; d < 128; ++d) {
            const unsigned reach = a & 3, kind = a >> 3;
            const bool pierces = (a & 4) != 0, airborne = (d & 1) != 0;
            Outcome o = pierces ? Outcome::PiercingDamage : Outcome::Damage;
            if (airborne && reach == 1)
                o = pierces ? Outcome::PassedThrough : Outcome::Missed;
            else if (!airborne && reach == 2)
                o = Outcome::PassedThrough;
            else if (kind == static_cast<unsigned>(AttackKind::None))
                o = Outcome::NoAttack;
            else if ((d >> (1 + kind) & 1) != 0)
                o = Outcome::Blocked;
            else if ((d >> (4 + kind) & 1) != 0)
                o = Outcome::Absorbed;
            table[a << 7 | d] = o;
        }
    return table;
}
constexpr std::array<Outcome, 32 * 128> AttackOutcomes = attackOutcomes();

std::string colouredName(std::string_view name, bool top) {
    std::string out;
    out.append(text::FontOpen)
        .append(top ? text::Blue : text::Red)
        .append(text::FontMid)
        .append(name)
        .append(text::FontClose);
    return out;
}

} // namespace

Battle::Battle(const CardCatalogue& catalogue, Random& random, ReportSink* sink)
    : catalogue_(catalogue), random_(&random), report_(catalogue, sink) {
    for (int side = 0; side < 2; ++side) {
        for (int32_t id = 0; id <= CardCatalogue::CharacterRows; ++id)
            characterNames_[static_cast<size_t>(side)].push_back(colouredName(catalogue.character(id).name, side == 0));
        for (int32_t id = 0; id <= CardCatalogue::VehicleRows; ++id)
            vehicleNames_[static_cast<size_t>(side)].push_back(colouredName(catalogue.vehicle(id).name, side == 0));
    }
    for (int32_t slot = 0; slot <= 20; ++slot)
        resolveSlot(slot);
}

inline void Battle::resolveSlot(int32_t slot) {
    const int32_t id = state_.slots[static_cast<size_t>(slot)].cardId;
    const bool vehicle = slot == 9 || slot == 19;
    const cardRecordType& row = vehicle ? catalogue_.vehicle(id) : catalogue_.character(id);
    state_.cards[static_cast<size_t>(slot)] = {
        vehicle ? &catalogue_.vehicleTraits(id) : &catalogue_.characterTraits(id), row.hp, row.sp};
}

std::string_view Battle::characterName(int32_t id, bool top) const {
    const auto& names = characterNames_[top ? 0 : 1];
    return id >= 0 && static_cast<size_t>(id) < names.size() ? names[static_cast<size_t>(id)] : names[0];
}

std::string_view Battle::vehicleName(int32_t id, bool top) const {
    const auto& names = vehicleNames_[top ? 0 : 1];
    return id >= 0 && static_cast<size_t>(id) < names.size() ? names[static_cast<size_t>(id)] : names[0];
}

void Battle::write(std::initializer_list<std::string_view> pieces) {
    line_.clear();
    for (std::string_view piece : pieces)
        line_.append(piece);
    report_.WriteReportLine(line_);
}

void Battle::start(const Teams& teams) {
    auto selection = [&teams](int32_t slot) {
        const SideSelection& s = teams.side[static_cast<size_t>(sideOfSlot(slot))];
        return slot % 10 == 9 ? s.vehicle : s.characters[static_cast<size_t>(slot % 10 - 1)];
    };
    // A run of battles between the same teams finds every card in its slot already,
    // checked and looked up by the battle start that put it there: only the hit
    // points go back to full.
    uint32_t changed = 0; // one bit a slot whose card differs
    for (int32_t slot : TeamSlots)
        changed |= state_.slots[static_cast<size_t>(slot)].cardId != selection(slot) ? 1U << slot : 0U;
    if (!teamsChecked_ || changed != 0) {
        checkPlayable(catalogue_, teams);
        bool powersReadable = true;
        for (int32_t slot : TeamSlots) {
            state_.slots[static_cast<size_t>(slot)].cardId = selection(slot);
            resolveSlot(slot);
            powersReadable = powersReadable && state_.cards[static_cast<size_t>(slot)].traits->power.valid;
        }
        state_.powersReadable = powersReadable;
        // The plans hold the card ids and speeds of the slots they read: a team of a
        // search differs from the one before in a card or two, and the plans that do
        // not read those slots stay good.
        for (size_t i = 0; i < PlanSlotMasks.size(); ++i)
            if (!teamsChecked_ || (PlanSlotMasks[i] & changed) != 0)
                plans_[i].ready = false;
        teamsChecked_ = true;
    }
    for (int32_t slot : TeamSlots)
        state_.slots[static_cast<size_t>(slot)].hp = state_.cards[static_cast<size_t>(slot)].hp;
    state_.BattleRunning = true;
    state_.DeckLock = {DeckLockFree, DeckLockFree};
    winner_ = -1;
    status_ = BattleStatus::Running;
}

void Battle::ApplyFormation(int f0, int f1) {
    if (f0 >= 0 && f0 <= 3)
        std::copy_n(FormationSlots[0][f0], 3, &state_.Front[1]);
    if (f1 >= 0 && f1 <= 3)
        std::copy_n(FormationSlots[1][f1], 3, &state_.Front[4]);
}

inline void Battle::actionSlots(int p, ActionSlots& out) const {
    const BattleState& s = state_;
    // Positions 1/4, 2/5 and 3/6 face each other.
    const int32_t actor = s.Front[static_cast<size_t>(p)];
    const int32_t target = s.Front[static_cast<size_t>(p <= 3 ? p + 3 : p - 3)];
    const int32_t targetVehicle = target < 10 ? 9 : 19;
    out.actorSlot = actor;
    out.actorCardId = s.slots[static_cast<size_t>(actor)].cardId;
    out.actorVehicleCardId = s.slots[actor < 10 ? 9 : 19].cardId;
    out.targetSlot = target;
    out.targetCardId = s.slots[static_cast<size_t>(target)].cardId;
    out.targetVehicleSlot = targetVehicle;
    out.targetVehicleCardId = s.slots[static_cast<size_t>(targetVehicle)].cardId;
}

// The turn loop runs this for every front position it draws, kept inline there so
// that a fallen actor costs little more than setting up its context.
inline void Battle::act(int p, const ActionSlots& slots) {
    static_cast<ActionSlots&>(state_.context) = slots;
    // Names are only needed for report lines: with none written they are left as
    // they were.
    if (writes())
        setNames(slots.actorSlot);
    if (state_.slots[static_cast<size_t>(slots.actorSlot)].hp > 0)
        performLiveAction(p);
}

void Battle::PerformAction(int p) {
    ActionSlots slots;
    actionSlots(p, slots);
    act(p, slots);
}

void Battle::makeFrontPlan(FrontPlan& plan) const {
    // Each position's key holds its speed above and 7 - position below, so that the
    // keys sorted downwards give the speeds from the fastest and, within a speed, the
    // positions in rising order. Speeds outside SlowestSpeed to FastestSpeed never act.
    uint32_t keys[6];
    for (size_t p = 1; p <= 6; ++p) {
        const int32_t speed = state_.cards[static_cast<size_t>(state_.Front[p])].sp;
        keys[p - 1] = speed >= SlowestSpeed && speed <= FastestSpeed
                          ? static_cast<uint32_t>(speed) << 3 | static_cast<uint32_t>(7 - p)
                          : 0;
    }
    sortDownwards(keys);
    // Equal speeds lie next to each other once sorted, so each entry's count of its
    // speed to the end is one more than the next entry's where they share it. Masks
    // rather than branches, for the same reason as the exchanges. Keys that never act
    // are 0 and sorted last.
    unsigned acting = keys[5] != 0 ? 1U : 0U;
    unsigned left = 1; // counted from the end of the speed: 1 for its last entry
    plan.order[5] = static_cast<uint8_t>(7 - (keys[5] & 7));
    plan.left[5] = 1;
    for (size_t i = 5; i-- > 0;) {
        acting += keys[i] != 0 ? 1U : 0U;
        plan.order[i] = static_cast<uint8_t>(7 - (keys[i] & 7));
        left = 1 + (left & (0U - static_cast<unsigned>(keys[i] >> 3 == keys[i + 1] >> 3)));
        plan.left[i] = static_cast<uint8_t>(left);
    }
    plan.acting = static_cast<uint8_t>(acting);
    for (size_t p = 1; p <= 6; ++p)
        actionSlots(static_cast<int>(p), plan.actions[p]);
    plan.ready = true;
}

BattleStatus Battle::playTurn(long long maxTurns) {
    try {
        if (!turn())
            return status_ = BattleStatus::Ended;
    } catch (...) {
        halt();
        throw;
    }
    if (capReached(maxTurns))
        cap();
    return status_;
}

BattleOutcome Battle::play(const Teams& teams, long long maxTurns) {
    start(teams);
    // The turns of playTurn, without a call and a look at the status for each: whole
    // battles are what statistics and the optimizer play millions of.
    try {
        while (turn()) {
            if (capReached(maxTurns)) {
                cap();
                return outcome();
            }
        }
    } catch (...) {
        halt();
        throw;
    }
    status_ = BattleStatus::Ended;
    return outcome();
}

void Battle::halt() {
    status_ = BattleStatus::Halted;
    report_.HaltReport(state_);
}

void Battle::cap() {
    Abandon();
    status_ = BattleStatus::Capped;
}

bool Battle::turn() {
    BattleState& s = state_;
    Random& random = *random_;
    if (!s.ReportOpen)
        report_.OpenReport(s);
    s.MagicSealed = {false, false};
    s.TurnNo = wrap(int64_t{s.TurnNo} + 1);

    const int32_t f0 = s.DeckLock[0] == DeckLockFree ? static_cast<int32_t>(random(40) / 10) : s.DeckLock[0];
    const int32_t f1 = s.DeckLock[1] == DeckLockFree ? static_cast<int32_t>(random(40) / 10) : s.DeckLock[1];
    ApplyFormation(f0, f1);
    // Without a report the section only checks the AP columns it would show, and
    // those were all found readable when the battle started.
    if (writes() || (s.ReportOpen && !s.powersReadable))
        report_.WriteTurnSection(s);
    if (s.DeckLock[0] != DeckLockFree && writes())
        report_.WriteReportLine(text::LockedTop);
    if (s.DeckLock[1] != DeckLockFree && writes())
        report_.WriteReportLine(text::LockedBottom);
    s.DeckLock = {DeckLockFree, DeckLockFree};

    // Initiative: fastest first; among equal speeds each pick is uniform over those
    // still waiting, and the draws go on after the battle ended, with nobody acting.
    const bool formed = f0 >= 0 && f0 <= 3 && f1 >= 0 && f1 <= 3;
    FrontPlan& plan = plans_[formed ? static_cast<size_t>(f0 * 4 + f1) : plans_.size() - 1];
    if (!plan.ready || !formed)
        makeFrontPlan(plan);
    // Pick i draws from the i-th entry on the left[i] positions still waiting at its
    // speed; moving the ones before the drawn entry up by one keeps the rest of the
    // speed list, in order, from entry i + 1 on.
    std::array<uint8_t, 6> waiting = plan.order;
    for (size_t i = 0; i < plan.acting; ++i) {
        const size_t drawn = i + random(plan.left[i]);
        const int p = waiting[drawn];
        if (s.BattleRunning)
            act(p, plan.actions[static_cast<size_t>(p)]);
        uint8_t carry = waiting[i];
        for (size_t j = i + 1; j <= drawn; ++j)
            std::swap(carry, waiting[j]);
    }

    if (s.DeckLock[0] == 0)
        s.DeckLock[0] = f0;
    if (s.DeckLock[1] == 0)
        s.DeckLock[1] = f1;
    s.MagicSealed = {false, false};
    return s.BattleRunning;
}

// ResolveAttack with the attacker's card (the context's actorCardId) at hand, inline
// where an action attacks its one opposite target, the commonest attack by far.
[[gnu::always_inline]] inline void Battle::attack(int32_t attackerSlot, int32_t defenderSlot, const CardTraits& a) {
    BattleState& s = state_;
    ActionContext& c = s.context;
    BattleSlot& target = s.slots[static_cast<size_t>(defenderSlot)];
    c.targetCardId = target.cardId;
    if (writes())
        setNames(attackerSlot);
    const int32_t power = a.power.get('C', c.actorCardId);

    if (target.hp <= 0) {
        if (a.singleTarget())
            AttackVehicle(attackerSlot, c.targetVehicleSlot, power);
        else if (writes())
            write({c.actorName, text::AttackedNobody});
        return;
    }

    const SlotCard& defender = s.cards[static_cast<size_t>(defenderSlot)];
    const Outcome outcome = AttackOutcomes[static_cast<size_t>(a.attackBits) << 7 | defender.traits->defenceBits];
    if (outcome == Outcome::Damage || (outcome == Outcome::PiercingDamage && target.hp >= power)) [[likely]] {
        target.hp = wrap(int64_t{target.hp} - power);
        if (writes()) {
            write({c.actorName, text::Wa, c.targetName, text::Ni, Num(power), text::DamageLeft, Num(target.hp),
                   text::Br});
            if (target.hp <= 0)
                write({c.targetName, text::Fell});
        }
        return;
    }
    switch (outcome) {
    case Outcome::PiercingDamage: {
        const int32_t before = target.hp;
        const int32_t surplus = wrap(int64_t{power} - before);
        if (writes()) {
            write({c.actorName, text::Wa, c.targetName, text::Ni, Num(before), text::PiercingKillLeft0});
            write({c.targetName, text::Fell});
        }
        target.hp = 0;
        AttackVehicle(attackerSlot, c.targetVehicleSlot, surplus);
        return;
    }
    case Outcome::Missed:
        if (writes())
            write({c.actorName, text::AttackOf, c.targetName, text::MissedLeft, Num(target.hp), text::Br});
        return;
    case Outcome::PassedThrough:
        if (writes())
            write({c.actorName, text::AttackOf, c.targetName, text::PassedThrough});
        AttackVehicle(attackerSlot, c.targetVehicleSlot, power);
        return;
    case Outcome::Blocked:
        if (writes())
            write({c.targetName, text::Wa, c.actorName, text::BlockedLeft, Num(target.hp), text::Br});
        return;
    case Outcome::Absorbed: {
        const int64_t gain = std::min<int64_t>(power, int64_t{defender.hp} - target.hp);
        target.hp = wrap(target.hp + gain);
        if (writes())
            write({c.targetName, text::Wa, c.actorName, text::AttackBy, Num(gain), text::AbsorbedLeft, Num(target.hp),
                   text::Br});
        return;
    }
    case Outcome::Damage:
    case Outcome::NoAttack:
        return;
    }
}

void Battle::ResolveAttack(int32_t attackerSlot, int32_t defenderSlot) {
    // Within a battle the context's card is always the card of attackerSlot,
    // resolved when the battle started.
    const BattleState& s = state_;
    const int32_t id = s.context.actorCardId;
    attack(attackerSlot, defenderSlot,
           s.slots[static_cast<size_t>(attackerSlot)].cardId == id ? *s.cards[static_cast<size_t>(attackerSlot)].traits
                                                                   : catalogue_.characterTraits(id));
}

void Battle::useAbilities(int p) {
    BattleState& s = state_;
    ActionContext& c = s.context;
    const auto actor = static_cast<size_t>(c.actorSlot);
    const CardTraits& t = *s.cards[actor].traits;
    const int own = c.actorSlot < 10 ? 0 : 1;
    const int enemy = 1 - own;

    if (t.lock == LockMark::Enemy) {
        s.DeckLock[static_cast<size_t>(enemy)] = 0;
        if (writes())
            write({c.actorName, text::LockedEnemy});
    } else if (t.lock == LockMark::Own) {
        s.DeckLock[static_cast<size_t>(own)] = 0;
        if (writes())
            write({c.actorName, text::LockedOwn});
    }

    if (!t.heal.none) {
        BattleSlot& self = s.slots[actor];
        const int64_t amount =
            std::min<int64_t>(int64_t{s.cards[actor].hp} - self.hp, t.heal.number.get('C', c.actorCardId));
        self.hp = wrap(self.hp + amount);
        if (writes())
            write({c.actorName, text::HpOf, Num(amount), text::PointsHealed});
    }

    if (!t.vehicleHeal.none) {
        const auto ownVehicle = static_cast<size_t>(vehicleSlotOf(own));
        BattleSlot& vehicle = s.slots[ownVehicle];
        const int64_t amount = std::min<int64_t>(int64_t{s.cards[ownVehicle].hp} - vehicle.hp,
                                                 t.vehicleHeal.number.get('C', c.actorCardId));
        vehicle.hp = wrap(vehicle.hp + amount);
        if (writes())
            write({c.actorVehicleName, text::HpOf, Num(amount), text::PointsHealed});
    }

    if (t.seals) {
        if (s.MagicSealed[static_cast<size_t>(own)]) {
            if (writes())
                write({c.actorName, p <= 3 ? text::MagicAlreadySealedTop : text::MagicAlreadySealedBottom});
        } else {
            s.MagicSealed[static_cast<size_t>(enemy)] = true;
            if (writes())
                write({c.actorName, text::SealedEnemyMagic});
        }
    }

    if (!t.killChance.none) {
        BattleSlot& target = s.slots[static_cast<size_t>(c.targetSlot)];
        if (target.hp <= 0) {
            if (writes())
                write({c.actorName, text::AbilityNotShown});
        } else {
            const uint32_t r = (*random_)(100);
            if (int64_t{r} < t.killChance.number.get('C', c.actorCardId)) {
                target.hp = 0;
                if (writes()) {
                    write({c.actorName, text::Wa, c.targetName, text::KilledInstantly});
                    write({c.targetName, text::FellPlain});
                }
            } else if (writes()) {
                write({c.actorName, text::AbilityFailed});
            }
        }
    }
}

void Battle::performLiveAction(int p) {
    BattleState& s = state_;
    ActionContext& c = s.context;
    const CardTraits& t = *s.cards[static_cast<size_t>(c.actorSlot)].traits;
    if (t.plainAction) {
        attack(c.actorSlot, c.targetSlot, t);
        return;
    }
    if (t.hasAbility)
        useAbilities(p);

    const int own = c.actorSlot < 10 ? 0 : 1;
    if (t.kind == AttackKind::Magic && s.MagicSealed[static_cast<size_t>(own)]) {
        if (writes())
            write({c.actorName, text::CannotAttackSealed});
        return;
    }

    // A count of "＿" means one attack.
    int32_t count = t.attackCount.none ? 1 : t.attackCount.number.get('C', c.actorCardId);
    const size_t enemyFront = p <= 3 ? 4 : 1;
    const int32_t enemyVehicle = vehicleSlotOf(1 - own);
    for (; count > 0; --count) {
        switch (t.spread) {
        case SpreadMark::AllFront:
        case SpreadMark::AllFrontAndVehicle:
            for (size_t i = 0; i < 3; ++i)
                ResolveAttack(c.actorSlot, s.Front[enemyFront + i]);
            if (t.spread == SpreadMark::AllFrontAndVehicle)
                AttackVehicle(c.actorSlot, enemyVehicle, t.power.get('C', c.actorCardId));
            break;
        case SpreadMark::Other:
            break;
        case SpreadMark::None:
            if (t.randomTargets) {
                if ((*random_)(4) == 0) {
                    AttackVehicle(c.actorSlot, enemyVehicle, t.power.get('C', c.actorCardId));
                } else {
                    const uint32_t b = (*random_)(3);
                    ResolveAttack(c.actorSlot, s.Front[enemyFront + b]);
                }
            } else {
                attack(c.actorSlot, c.targetSlot, t);
            }
            break;
        }
    }
}

void Battle::setNames(int32_t attackerSlot) {
    ActionContext& c = state_.context;
    const bool top = attackerSlot < 10;
    c.actorName = characterName(c.actorCardId, top);
    c.actorVehicleName = vehicleName(c.actorVehicleCardId, top);
    c.targetName = characterName(c.targetCardId, !top);
    c.targetVehicleName = vehicleName(c.targetVehicleCardId, !top);
}

void Battle::AttackVehicle(int32_t attackerSlot, int32_t vehicleSlot, int32_t damage) {
    BattleState& s = state_;
    BattleSlot& vehicle = s.slots[static_cast<size_t>(vehicleSlot)];
    const char reach = s.cards[static_cast<size_t>(attackerSlot)].traits->vehicleReach;
    const bool airborne = s.cards[static_cast<size_t>(vehicleSlot)].traits->airborne;
    auto attackerName = [&] {
        return characterName(s.slots[static_cast<size_t>(attackerSlot)].cardId, attackerSlot < 10);
    };
    auto name = [&] { return vehicleName(vehicle.cardId, vehicleSlot < 10); };

    if ((airborne && reach == 'e') || (!airborne && reach == 'a')) {
        if (writes())
            write({attackerName(), text::AttackOf, name(), text::MissedLeft, Num(vehicle.hp), text::Br});
    } else {
        vehicle.hp = wrap(int64_t{vehicle.hp} - damage);
        if (writes())
            write({attackerName(), text::Wa, name(), text::Ni, Num(damage), text::VehicleDamageLeft, Num(vehicle.hp),
                   text::Br});
    }
    if (vehicle.hp >= 1)
        return;

    if (writes()) {
        write({name(), text::VehicleFell});
        report_.WriteReportLine(text::EndAnchor);
        report_.WriteReportLine(vehicleSlot == 9 ? text::BottomWins : text::TopWins);
        report_.WriteReportLine(text::EndAnchorClose);
    }
    if (s.BattleRunning && winner_ < 0)
        winner_ = vehicleSlot == 9 ? 1 : 0;
    s.BattleRunning = false;
    if (s.ReportOpen)
        report_.CloseReport(s);
}

void Battle::Abandon() {
    report_.AbandonReport(state_);
    state_.BattleRunning = false;
}

} // namespace morvane
