#pragma once
// A small card set built so that its balance is plain: one character far stronger
// than its size, one that no team would take, and four ordinary ones.

#include "support/TestCards.h"

#include <string>

namespace morvane::test {

inline std::string lopsidedCatalogue(const std::string& strongName = "強すぎる剣士") {
    std::vector<std::string> lines{"; lopsided cards for the balance tests"};
    Card strong{.id = 1, .size = " 2", .hp = "30", .power = " 9", .sp = "10", .name = strongName};
    lines.push_back(strong.line());
    Card useless{.id = 2, .size = " 4", .hp = " 1", .power = " 0", .sp = " 1", .name = "役に立たない見習い"};
    lines.push_back(useless.line());
    for (int id = 3; id <= 6; ++id) {
        Card plain{.id = id, .size = " 2", .hp = "10", .power = " 3", .sp = " 5", .name = "兵士" + std::to_string(id)};
        lines.push_back(plain.line());
    }
    lines.push_back(Vehicle{.id = 1, .size = "20", .hp = "30", .name = "荷車"}.line());
    lines.push_back(Vehicle{.id = 2, .size = "22", .hp = "24", .name = "小舟"}.line());
    return cardFile(lines);
}

// Teams to play against, with the strong card in two slots each: a team needs more
// of it to win clearly, and a slot wasted on the useless card costs.
inline const char* const LopsidedDeck0 = "V001C001C004C005C006C003C001C005C006:000";
inline const char* const LopsidedDeck1 = "V002C006C005C001C003C006C005C004C001:000";

// Twenty characters and five vehicles all alike, and five frailer characters: searches
// too short to leave a random start keep some frail cards and find teams no better
// than the field below, so that a chain's measure finds every target met at once.
inline std::string evenCatalogue() {
    std::vector<std::string> lines{"; cards all alike"};
    for (int id = 1; id <= 20; ++id)
        lines.push_back(Card{.id = id, .size = " 2", .hp = "10", .power = " 3", .sp = " 5", .name = "兵士"}.line());
    for (int id = 21; id <= 25; ++id)
        lines.push_back(Card{.id = id, .size = " 2", .hp = " 8", .power = " 3", .sp = " 5", .name = "新兵"}.line());
    for (int id = 1; id <= 5; ++id)
        lines.push_back(Vehicle{.id = id, .size = "20", .hp = "30", .name = "荷車"}.line());
    return cardFile(lines);
}
inline const char* const EvenField[] = {
    "V001C001C002C003C004C005C006C007C008:000", "V002C009C010C011C012C013C014C015C016:000",
    "V003C001C003C005C007C009C011C013C021:000", "V004C002C004C006C008C010C012C014C022:000"};

} // namespace morvane::test
