#include "runs/Runs.h"

namespace morvane {

std::vector<std::pair<size_t, size_t>> leaguePairs(size_t decks) {
    std::vector<std::pair<size_t, size_t>> pairs;
    for (size_t a = 0; a < decks; ++a)
        for (size_t b = 0; b < decks; ++b)
            if (a != b)
                pairs.emplace_back(a, b);
    return pairs;
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
