#pragma once
// What a stored report tells of its battle's result, for readers that did not play it
// (a battle service showing battles that other runners played): the side that won
// and the number of turns, read from the page's last lines. A report ends with the
// closing lines of the victory when a vehicle fell, and without them when the battle
// was stopped at the turn cap.

#include "battle/BattleOutcome.h"

#include <filesystem>
#include <string_view>

namespace morvane {

// The outcome a report's text shows: Ended with its winner when it ends with the
// victory lines, Capped otherwise; turns from its last turn heading.
BattleOutcome outcomeOfReport(std::string_view text);

// The same from the end of a stored report: only its last bytes are read, so that
// long reports cost no more than short ones. Throws IoError naming the file.
BattleOutcome outcomeOfReportFile(const std::filesystem::path& path);

} // namespace morvane
