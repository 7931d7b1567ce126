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

} // namespace morvane::test
