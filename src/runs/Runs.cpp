#include "runs/Runs.h"

namespace morvane {

Interval LeagueRun::winInterval(size_t deck, const Tally& record) const {
    return seedClusterInterval(record.wins, record.battles, battles,
                               deck < winSquares.size() ? &winSquares[deck] : nullptr);
}

Field MeasureRun::layout() const {
    Field field;
    field.decks.resize(this->field.size());
    field.side = side;
    return field;
}

Tally MeasureRun::total() const {
    Tally sum;
    for (const Tally& t : pairings)
        sum.merge(t);
    return sum;
}

const char* playSideName(PlaySide side) {
    return side == PlaySide::Top ? "top" : side == PlaySide::Bottom ? "bottom" : "both";
}

std::optional<PlaySide> parsePlaySide(std::string_view text) {
    if (text == "top")
        return PlaySide::Top;
    if (text == "bottom")
        return PlaySide::Bottom;
    if (text == "both")
        return PlaySide::Both;
    return std::nullopt;
}

} // namespace morvane
