#include "battle/Battle.h"

#include "battle/BattleText.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Errors.h"
#include "common/Messages.h"
#include "common/Random.h"
#include "report/ReportText.h"

#include <charconv>

namespace morvane {

namespace {

// Hit points are 32-bit and wrap, as the program's integers always have; the
// arithmetic is done wide so that no overflow is undefined.
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

// Front slots of each formation: side 0 (Front[1..3]) and side 1 (Front[4..6]).
constexpr int32_t FormationSlots[2][4][3] = {
    {{3, 2, 1}, {1, 4, 6}, {8, 5, 3}, {6, 7, 8}},
    {{11, 12, 13}, {16, 14, 11}, {13, 15, 18}, {18, 17, 16}},
};

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
}

std::string_view Battle::characterName(int32_t id, bool top) const {
    const auto& names = characterNames_[top ? 0 : 1];
    return id >= 0 && static_cast<size_t>(id) < names.size() ? names[static_cast<size_t>(id)] : names[0];
}

std::string_view Battle::vehicleName(int32_t id, bool top) const {
    const auto& names = vehicleNames_[top ? 0 : 1];
    return id >= 0 && static_cast<size_t>(id) < names.size() ? names[static_cast<size_t>(id)] : names[0];
}

const CardTraits& Battle::characterTraits(int32_t id) const {
    return catalogue_.characterTraits(id);
}

void Battle::write(std::initializer_list<std::string_view> pieces) {
    line_.clear();
    for (std::string_view piece : pieces)
        line_.append(piece);
    report_.WriteReportLine(line_);
}

void Battle::BattleBtnClick(const Teams& teams) {
    for (int side = 0; side < 2; ++side) {
        const SideSelection& s = teams.side[static_cast<size_t>(side)];
        for (int k = 1; k <= 8; ++k) {
            if (!catalogue_.offersCharacter(s.characters[static_cast<size_t>(k - 1)]))
                throw InputError(selectorName(10 * side + k) + std::string(msg::NoCardSelected));
        }
        if (!catalogue_.offersVehicle(s.vehicle))
            throw InputError(selectorName(vehicleSlotOf(side)) + std::string(msg::NoCardSelected));
    }
    for (int side = 0; side < 2; ++side) {
        const SideSelection& s = teams.side[static_cast<size_t>(side)];
        for (int k = 1; k <= 8; ++k) {
            const cardRecordType& row = catalogue_.character(s.characters[static_cast<size_t>(k - 1)]);
            state_.slots[10 * static_cast<size_t>(side) + static_cast<size_t>(k)] = {row.hp, row.id};
        }
        const cardRecordType& vehicle = catalogue_.vehicle(s.vehicle);
        state_.slots[static_cast<size_t>(vehicleSlotOf(side))] = {vehicle.hp, vehicle.id};
    }
    state_.BattleRunning = true;
    state_.DeckLock = {DeckLockFree, DeckLockFree};
    winner_ = -1;
}

void Battle::ApplyFormation(int f0, int f1) {
    if (f0 >= 0 && f0 <= 3)
        for (size_t i = 0; i < 3; ++i)
            state_.Front[1 + i] = FormationSlots[0][f0][i];
    if (f1 >= 0 && f1 <= 3)
        for (size_t i = 0; i < 3; ++i)
            state_.Front[4 + i] = FormationSlots[1][f1][i];
}

bool Battle::Timer1Timer() {
    try {
        return playTurn();
    } catch (...) {
        report_.HaltReport(state_);
        throw;
    }
}

bool Battle::playTurn() {
    BattleState& s = state_;
    Random& random = *random_;
    if (!s.ReportOpen)
        report_.OpenReport(s);
    s.MagicSealed = {false, false};
    s.TurnNo = wrap(int64_t{s.TurnNo} + 1);

    const int32_t f0 = s.DeckLock[0] == DeckLockFree ? static_cast<int32_t>(random(40) / 10) : s.DeckLock[0];
    const int32_t f1 = s.DeckLock[1] == DeckLockFree ? static_cast<int32_t>(random(40) / 10) : s.DeckLock[1];
    ApplyFormation(f0, f1);
    if (s.ReportOpen)
        report_.WriteTurnSection(s);
    if (s.DeckLock[0] != DeckLockFree && writes())
        report_.WriteReportLine(text::LockedTop);
    if (s.DeckLock[1] != DeckLockFree && writes())
        report_.WriteReportLine(text::LockedBottom);
    s.DeckLock = {DeckLockFree, DeckLockFree};

    // Initiative: fastest first; among equal speeds each pick is uniform over those
    // still waiting. The draws go on after the battle ended, with nobody acting.
    // Speeds outside 1 to 20 never act. Rather than scan all twenty levels, the
    // positions that act are ordered by falling speed once (stable, so each level's
    // list keeps rising position order) and played a level at a time.
    int32_t speed[7] = {};
    int ordered[6];
    int acting = 0;
    for (int p = 1; p <= 6; ++p) {
        speed[p] = catalogue_.character(s.slots[static_cast<size_t>(s.Front[static_cast<size_t>(p)])].cardId).sp;
        if (speed[p] < 1 || speed[p] > 20)
            continue;
        int at = acting++;
        for (; at > 0 && speed[ordered[at - 1]] < speed[p]; --at)
            ordered[at] = ordered[at - 1];
        ordered[at] = p;
    }
    for (int first = 0; first < acting;) {
        const int32_t level = speed[ordered[first]];
        int list[6];
        uint32_t length = 0;
        while (first < acting && speed[ordered[first]] == level)
            list[length++] = ordered[first++];
        while (length > 0) {
            const uint32_t r = random(length);
            if (s.BattleRunning)
                PerformAction(list[r]);
            for (uint32_t i = r + 1; i < length; ++i)
                list[i - 1] = list[i];
            --length;
        }
    }

    if (s.DeckLock[0] == 0)
        s.DeckLock[0] = f0;
    if (s.DeckLock[1] == 0)
        s.DeckLock[1] = f1;
    s.MagicSealed = {false, false};
    return s.BattleRunning;
}

void Battle::PerformAction(int p) {
    BattleState& s = state_;
    ActionContext& c = s.context;
    auto slot = [&](int32_t n) -> BattleSlot& { return s.slots[static_cast<size_t>(n)]; };

    c.actorSlot = s.Front[static_cast<size_t>(p)];
    c.actorCardId = slot(c.actorSlot).cardId;
    c.actorVehicleCardId = slot(sideOfSlot(c.actorSlot) * 10 + 9).cardId;
    c.targetSlot = s.Front[static_cast<size_t>((p + 2) % 6 + 1)];
    c.targetCardId = slot(c.targetSlot).cardId;
    c.targetVehicleSlot = (sideOfSlot(c.targetSlot) * 10) % 20 + 9;
    c.targetVehicleCardId = slot(c.targetVehicleSlot).cardId;
    setNames(c.actorSlot);
    if (slot(c.actorSlot).hp <= 0)
        return;

    const CardTraits& t = characterTraits(c.actorCardId);
    const cardRecordType& row = catalogue_.character(c.actorCardId);
    const int own = sideOfSlot(c.actorSlot);
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
        BattleSlot& self = slot(c.actorSlot);
        const int64_t amount = std::min<int64_t>(int64_t{row.hp} - self.hp, t.heal.number.get('C', c.actorCardId));
        self.hp = wrap(self.hp + amount);
        if (writes())
            write({c.actorName, text::HpOf, Num(amount), text::PointsHealed});
    }

    if (!t.vehicleHeal.none) {
        BattleSlot& vehicle = slot(vehicleSlotOf(own));
        const int64_t cap = catalogue_.vehicle(c.actorVehicleCardId).hp;
        const int64_t amount = std::min<int64_t>(cap - vehicle.hp, t.vehicleHeal.number.get('C', c.actorCardId));
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
        BattleSlot& target = slot(c.targetSlot);
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

    if (t.kind == AttackKind::Magic && s.MagicSealed[static_cast<size_t>(own)]) {
        if (writes())
            write({c.actorName, text::CannotAttackSealed});
        return;
    }

    // A count of "＿" means one attack.
    int32_t count = t.attackCount.none ? 1 : t.attackCount.number.get('C', c.actorCardId);
    const size_t enemyFront = p <= 3 ? 4 : 1;
    const int32_t enemyVehicle = vehicleSlotOf(enemy);
    while (count > 0) {
        --count;
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
                ResolveAttack(c.actorSlot, c.targetSlot);
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

void Battle::ResolveAttack(int32_t attackerSlot, int32_t defenderSlot) {
    BattleState& s = state_;
    ActionContext& c = s.context;
    BattleSlot& target = s.slots[static_cast<size_t>(defenderSlot)];
    c.targetCardId = target.cardId;
    setNames(attackerSlot);
    const CardTraits& a = characterTraits(c.actorCardId);
    const int32_t power = a.power.get('C', c.actorCardId);
    const bool piercing = a.pierces;

    if (target.hp <= 0) {
        if (a.singleTarget())
            AttackVehicle(attackerSlot, c.targetVehicleSlot, power);
        else if (writes())
            write({c.actorName, text::AttackedNobody});
        return;
    }

    const CardTraits& d = characterTraits(c.targetCardId);
    if (d.airborne && a.reach == 'e') {
        if (piercing) {
            if (writes())
                write({c.actorName, text::AttackOf, c.targetName, text::PassedThrough});
            AttackVehicle(attackerSlot, c.targetVehicleSlot, power);
        } else if (writes()) {
            write({c.actorName, text::AttackOf, c.targetName, text::MissedLeft, Num(target.hp), text::Br});
        }
        return;
    }
    if (!d.airborne && a.reach == 'a') {
        if (writes())
            write({c.actorName, text::AttackOf, c.targetName, text::PassedThrough});
        AttackVehicle(attackerSlot, c.targetVehicleSlot, power);
        return;
    }

    if (a.kind == AttackKind::None)
        return;
    const auto kind = static_cast<size_t>(a.kind);
    if (d.blocks[kind]) {
        if (writes())
            write({c.targetName, text::Wa, c.actorName, text::BlockedLeft, Num(target.hp), text::Br});
        return;
    }
    if (d.absorbs[kind]) {
        const int64_t cap = catalogue_.character(c.targetCardId).hp;
        const int64_t gain = std::min<int64_t>(power, cap - target.hp);
        target.hp = wrap(target.hp + gain);
        if (writes())
            write({c.targetName, text::Wa, c.actorName, text::AttackBy, Num(gain), text::AbsorbedLeft, Num(target.hp),
                   text::Br});
        return;
    }
    if (piercing && target.hp < power) {
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
    target.hp = wrap(int64_t{target.hp} - power);
    if (writes()) {
        write({c.actorName, text::Wa, c.targetName, text::Ni, Num(power), text::DamageLeft, Num(target.hp), text::Br});
        if (target.hp <= 0)
            write({c.targetName, text::Fell});
    }
}

void Battle::AttackVehicle(int32_t attackerSlot, int32_t vehicleSlot, int32_t damage) {
    BattleState& s = state_;
    const int32_t attackerId = s.slots[static_cast<size_t>(attackerSlot)].cardId;
    BattleSlot& vehicle = s.slots[static_cast<size_t>(vehicleSlot)];
    const std::string_view attackerName = characterName(attackerId, attackerSlot < 10);
    const std::string_view name = vehicleName(vehicle.cardId, vehicleSlot < 10);
    const char reach = characterTraits(attackerId).vehicleReach;
    const bool airborne = catalogue_.vehicleTraits(vehicle.cardId).airborne;

    if ((airborne && reach == 'e') || (!airborne && reach == 'a')) {
        if (writes())
            write({attackerName, text::AttackOf, name, text::MissedLeft, Num(vehicle.hp), text::Br});
    } else {
        vehicle.hp = wrap(int64_t{vehicle.hp} - damage);
        if (writes())
            write({attackerName, text::Wa, name, text::Ni, Num(damage), text::VehicleDamageLeft, Num(vehicle.hp),
                   text::Br});
    }
    if (vehicle.hp >= 1)
        return;

    if (writes()) {
        write({name, text::VehicleFell});
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
