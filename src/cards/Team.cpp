#include "cards/Team.h"

#include "cards/CardCatalogue.h"
#include "common/Errors.h"
#include "common/Messages.h"

namespace morvane {

std::string selectorName(int32_t slot) {
    const int side = slot / 10;
    const int k = slot % 10;
    if (k == 9)
        return side == 0 ? "V00" : "V10";
    return std::string{'C', static_cast<char>('0' + side), static_cast<char>('0' + k)};
}

int64_t sizeTotal(const CardCatalogue& catalogue, const SideSelection& team) {
    int64_t total = 0;
    for (const int32_t id : team.characters)
        total += catalogue.character(id).size;
    return total;
}

int32_t deckSize(const CardCatalogue& catalogue, const SideSelection& team) {
    return catalogue.vehicle(team.vehicle).size;
}

std::string sizeText(const CardCatalogue& catalogue, const SideSelection& team) {
    std::string text = "Size ";
    text.append(std::to_string(sizeTotal(catalogue, team))).append("(");
    return text.append(std::to_string(deckSize(catalogue, team))).append(")");
}

void checkPlayable(const CardCatalogue& catalogue, const Teams& teams) {
    for (int side = 0; side < 2; ++side) {
        const SideSelection& team = teams.side[static_cast<size_t>(side)];
        for (int index = 0; index < 8; ++index)
            if (!catalogue.offersCharacter(team.characters[static_cast<size_t>(index)]))
                throw InputError(selectorName(selectorSlot(side, index)) + std::string(msg::NoCardSelected));
        if (!catalogue.offersVehicle(team.vehicle))
            throw InputError(selectorName(selectorSlot(side, VehicleSelector)) + std::string(msg::NoCardSelected));
    }
}

void checkPlayable(const CardCatalogue& catalogue, const SideSelection& team) {
    checkPlayable(catalogue, Teams{{team, team}});
}

void applyDeckLines(const DeckSource& top, const DeckSource& bottom,
                    const std::function<void(int side, std::string_view line)>& set) {
    for (int side = 0; side < 2; ++side) {
        const DeckSource& source = side == 0 ? top : bottom;
        try {
            set(side, source.line);
        } catch (MorvaneError& e) {
            e.setWhere(source.where);
            throw;
        }
    }
}

Teams applyDeckLines(const CardCatalogue& catalogue, const DeckSource& top, const DeckSource& bottom) {
    Teams teams;
    applyDeckLines(top, bottom, [&](int side, std::string_view line) {
        applyDeckLine(line, teams.side[static_cast<size_t>(side)], catalogue);
    });
    return teams;
}

} // namespace morvane
