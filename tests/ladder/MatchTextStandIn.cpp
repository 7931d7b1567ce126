// The match and count texts for builds that do not yet have the work units' own
// (src/ladder/LadderWork.cpp): the ladder only needs the two to agree with each other.
// tests/ladder/CMakeLists.txt leaves this file out as soon as that source exists.

#include "common/Errors.h"
#include "ladder/LadderWork.h"

#include <sstream>

namespace morvane {

std::string formatMatchOrders(const std::vector<MatchOrder>& matches) {
    std::string text;
    for (const MatchOrder& m : matches)
        text.append(std::to_string(m.battles))
            .append(" ")
            .append(std::to_string(m.seed))
            .append(" ")
            .append(formatDeckLine(m.a, 0))
            .append(" ")
            .append(formatDeckLine(m.b, 0))
            .append("\n");
    return text;
}

std::vector<MatchOrder> parseMatchOrders(std::string_view text) {
    std::istringstream in{std::string(text)};
    std::vector<MatchOrder> matches;
    MatchOrder m;
    std::string a;
    std::string b;
    while (in >> m.battles >> m.seed >> a >> b) {
        m.a = deckLineIds(a);
        m.b = deckLineIds(b);
        matches.push_back(m);
    }
    return matches;
}

std::string formatMatchCounts(const std::vector<MatchCount>& counts) {
    std::string text;
    for (const MatchCount& c : counts)
        text.append(std::to_string(c.winsA))
            .append(" ")
            .append(std::to_string(c.winsB))
            .append(" ")
            .append(std::to_string(c.undecided))
            .append("\n");
    return text;
}

std::vector<MatchCount> parseMatchCounts(std::string_view text) {
    if (text.substr(0, 5) == "error")
        throw InputError("error answer");
    std::istringstream in{std::string(text)};
    std::vector<MatchCount> counts;
    MatchCount c;
    while (in >> c.winsA >> c.winsB >> c.undecided)
        counts.push_back(c);
    return counts;
}

} // namespace morvane
