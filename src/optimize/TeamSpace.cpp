#include "optimize/TeamSpace.h"

#include "cards/CardCatalogue.h"
#include "cards/Team.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Messages.h"
#include "common/Random.h"
#include "common/TextLines.h"
#include "state/BattleState.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

namespace morvane {

namespace {

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "'text' ", the start of a message about a card or a line.
std::string quotedText(std::string_view text) {
    return std::string("'").append(text).append("' ");
}

std::string cardName(char kind, int32_t id) {
    char name[16];
    std::snprintf(name, sizeof name, "%c%03d", kind, static_cast<int>(id));
    return name;
}

// Unlimited copies: any count a team of eight can reach.
constexpr int Unlimited = std::numeric_limits<int>::max();

} // namespace

std::optional<KeptSlots> parseKeptSlots(std::string_view text) {
    KeptSlots kept{};
    bool any = false;
    while (true) {
        const size_t comma = text.find(',');
        const std::string_view name = trimmed(text.substr(0, comma));
        if (name.size() == 1 && upper(name[0]) == 'V') {
            kept[VehicleSlot] = true;
        } else if (name.size() == 3 && upper(name[0]) == 'C' && name[1] == '0' && name[2] >= '1' && name[2] <= '8') {
            kept[static_cast<size_t>(name[2] - '1')] = true;
        } else {
            return std::nullopt;
        }
        any = true;
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return any ? std::optional(kept) : std::nullopt;
}

int OwnedCards::character(int32_t id) const {
    return id >= 0 && static_cast<size_t>(id) < characters.size() ? characters[static_cast<size_t>(id)] : 0;
}

int OwnedCards::vehicle(int32_t id) const {
    return id >= 0 && static_cast<size_t>(id) < vehicles.size() ? vehicles[static_cast<size_t>(id)] : 0;
}

OwnedCards parseOwnedCards(std::string_view bytes, const std::string& name, const CardCatalogue& catalogue) {
    OwnedCards owned;
    owned.characters.assign(CardCatalogue::CharacterRows + 1, 0);
    owned.vehicles.assign(CardCatalogue::VehicleRows + 1, 0);
    for (const TextLine& line : splitTextLines(bytes)) {
        const std::string where = name + ":" + std::to_string(line.number);
        const std::string_view text = trimmed(line.text);
        if (text.empty() || text.front() == ';' || text.front() == '#')
            continue;
        // A card name, blanks, and a count; the count may be left out for one copy.
        const size_t end = std::min(text.find_first_of(" \t"), text.size());
        const std::string_view card = text.substr(0, end);
        const std::string_view count = trimmed(text.substr(end));
        const char kind = card.empty() ? '\0' : upper(card[0]);
        if ((kind != 'C' && kind != 'V') || card.size() > 4 || !allDigits(card.substr(1)) ||
            !(count.empty() || (allDigits(count) && count.size() <= 3)))
            throw InputError(quotedText(text).append(msg::NotAnOwnedLine), where);
        const auto id = static_cast<int32_t>(std::stoi(std::string(card.substr(1))));
        if (kind == 'C' ? !catalogue.offersCharacter(id) : !catalogue.offersVehicle(id))
            throw InputError(quotedText(card).append(msg::CardIdOutOfRange), where);
        const int copies = count.empty() ? 1 : std::stoi(std::string(count));
        (kind == 'C' ? owned.characters : owned.vehicles)[static_cast<size_t>(id)] += copies;
    }
    return owned;
}

OwnedCards readOwnedCards(const std::filesystem::path& path, const CardCatalogue& catalogue) {
    // A card a line: a deck file's limit is more than any collection needs.
    return parseOwnedCards(readFileBytes(path, MaxDeckFileBytes), path.string(), catalogue);
}

SideSelection applyMove(SideSelection team, const TeamMove& move) {
    auto& c = team.characters;
    switch (move.kind) {
    case TeamMove::Vehicle:
        team.vehicle = move.id;
        break;
    case TeamMove::Character:
        c[static_cast<size_t>(move.slot)] = move.id;
        break;
    case TeamMove::Swap:
        std::swap(c[static_cast<size_t>(move.slot)], c[static_cast<size_t>(move.other)]);
        break;
    }
    return team;
}

TeamSpace::TeamSpace(const CardCatalogue& catalogue, TeamRules rules, const SideSelection& base)
    : catalogue_(catalogue), rules_(std::move(rules)), base_(base) {
    for (const SelectorEntry& e : catalogue.vehicleEntries())
        vehicles_.push_back(e.id);
    for (const SelectorEntry& e : catalogue.characterEntries())
        characters_.push_back(e.id);
}

int TeamSpace::ownedCharacter(int32_t id) const {
    return rules_.owned ? rules_.owned->character(id) : Unlimited;
}

int TeamSpace::ownedVehicle(int32_t id) const {
    return rules_.owned ? rules_.owned->vehicle(id) : Unlimited;
}

int64_t TeamSpace::sizeTotal(const SideSelection& team) const {
    return morvane::sizeTotal(catalogue_, team);
}

int32_t TeamSpace::deckSize(const SideSelection& team) const {
    return morvane::deckSize(catalogue_, team);
}

int TeamSpace::copies(const SideSelection& team, int32_t id, int skipSlot) const {
    int n = 0;
    for (int k = 0; k < 8; ++k)
        n += k != skipSlot && team.characters[static_cast<size_t>(k)] == id ? 1 : 0;
    return n;
}

void TeamSpace::check(const SideSelection& team) const {
    checkPlayable(catalogue_, team);
    if (ownedVehicle(team.vehicle) < 1)
        throw InputError(quotedText(cardName('V', team.vehicle)).append(msg::OverOwned));
    for (int k = 0; k < 8; ++k) {
        const int32_t id = team.characters[static_cast<size_t>(k)];
        const int n = copies(team, id, -1);
        if (rules_.unique && n > 1)
            throw InputError(quotedText(cardName('C', id)).append(msg::CardRepeated));
        if (n > ownedCharacter(id))
            throw InputError(quotedText(cardName('C', id)).append(msg::OverOwned));
    }
    if (!fits(sizeTotal(team), deckSize(team)))
        throw InputError(std::string(msg::OverDeckSize) + ": " + sizeText(catalogue_, team));
}

bool TeamSpace::legal(const SideSelection& team) const {
    if (rules_.kept[VehicleSlot] && team.vehicle != base_.vehicle)
        return false;
    for (size_t k = 0; k < 8; ++k)
        if (rules_.kept[k] && team.characters[k] != base_.characters[k])
            return false;
    try {
        check(team);
    } catch (const InputError&) {
        return false;
    }
    return true;
}

std::vector<TeamMove> TeamSpace::moves(const SideSelection& team) const {
    std::vector<TeamMove> moves;
    const int64_t total = sizeTotal(team);
    if (!rules_.kept[VehicleSlot])
        for (const int32_t v : vehicles_)
            if (v != team.vehicle && ownedVehicle(v) >= 1 && fits(total, catalogue_.vehicle(v).size))
                moves.push_back({TeamMove::Vehicle, VehicleSlot, 0, v});
    const int32_t deck = deckSize(team);
    for (int k = 0; k < 8; ++k) {
        if (rules_.kept[static_cast<size_t>(k)])
            continue;
        const int32_t current = team.characters[static_cast<size_t>(k)];
        const int64_t rest = total - catalogue_.character(current).size;
        for (const int32_t c : characters_) {
            if (c == current || !fits(rest + catalogue_.character(c).size, deck))
                continue;
            const int others = copies(team, c, k);
            if ((rules_.unique && others > 0) || others + 1 > ownedCharacter(c))
                continue;
            moves.push_back({TeamMove::Character, k, 0, c});
        }
    }
    for (int a = 0; a < 8; ++a)
        for (int b = a + 1; b < 8; ++b)
            if (!rules_.kept[static_cast<size_t>(a)] && !rules_.kept[static_cast<size_t>(b)] &&
                team.characters[static_cast<size_t>(a)] != team.characters[static_cast<size_t>(b)])
                moves.push_back({TeamMove::Swap, a, b, 0});
    return moves;
}

std::optional<SideSelection> TeamSpace::randomTeam(Random& random) const {
    if (characters_.empty() || vehicles_.empty())
        return std::nullopt;
    int32_t smallest = std::numeric_limits<int32_t>::max();
    for (const int32_t c : characters_)
        smallest = std::min(smallest, catalogue_.character(c).size);
    std::vector<int32_t> choices;
    for (int attempt = 0; attempt < 300; ++attempt) {
        SideSelection team = base_;
        if (!rules_.kept[VehicleSlot]) {
            choices.clear();
            for (const int32_t v : vehicles_)
                if (ownedVehicle(v) >= 1)
                    choices.push_back(v);
            if (choices.empty())
                return std::nullopt;
            team.vehicle = choices[random(static_cast<uint32_t>(choices.size()))];
        }
        std::vector<int> open;
        int64_t allowance = deckSize(team);
        for (int k = 0; k < 8; ++k) {
            if (rules_.kept[static_cast<size_t>(k)]) {
                allowance -= catalogue_.character(team.characters[static_cast<size_t>(k)]).size;
            } else {
                open.push_back(k);
                team.characters[static_cast<size_t>(k)] = 0;
            }
        }
        // Slots are filled in random order, each from the cards that still leave room
        // for the smallest card in every slot after it.
        for (size_t i = open.size(); i > 1; --i)
            std::swap(open[i - 1], open[random(static_cast<uint32_t>(i))]);
        bool filled = true;
        for (size_t i = 0; i < open.size() && filled; ++i) {
            const int64_t reserve = int64_t{smallest} * static_cast<int64_t>(open.size() - i - 1);
            choices.clear();
            for (const int32_t c : characters_) {
                const int others = copies(team, c, open[i]);
                if ((rules_.unique && others > 0) || others + 1 > ownedCharacter(c))
                    continue;
                if (rules_.sizeRule && catalogue_.character(c).size + reserve > allowance)
                    continue;
                choices.push_back(c);
            }
            if (choices.empty()) {
                filled = false;
                break;
            }
            const int32_t pick = choices[random(static_cast<uint32_t>(choices.size()))];
            team.characters[static_cast<size_t>(open[i])] = pick;
            allowance -= catalogue_.character(pick).size;
        }
        if (filled && legal(team))
            return team;
    }
    return std::nullopt;
}

} // namespace morvane
