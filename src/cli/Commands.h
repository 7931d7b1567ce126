#pragma once
// The commands of morvane-cli; each takes the arguments after its name and returns
// the exit status. Failures are thrown and reported by main.

#include <string>
#include <vector>

namespace morvane::cli {

int runBattle(const std::vector<std::string>& args);
int runStats(const std::vector<std::string>& args);
int runLeague(const std::vector<std::string>& args);
int runBatch(const std::vector<std::string>& args);
int runMerge(const std::vector<std::string>& args);
int runOptimize(const std::vector<std::string>& args);
int runCards(const std::vector<std::string>& args);
int runBalance(const std::vector<std::string>& args);
int runTournament(const std::vector<std::string>& args);
int runRank(const std::vector<std::string>& args);

} // namespace morvane::cli
