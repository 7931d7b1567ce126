#pragma once
// A whole optimizer run as every front end makes it: the search, then the found team
// and the start team measured on fresh seeds, the same battles for both. The command
// line tool, the window's dialog and the benchmark all call this, so a seed gives the
// same team and the same figures everywhere.

#include "optimize/Measure.h"
#include "optimize/Optimizer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace morvane {

class CardCatalogue;

struct Optimization {
    OptimizeResult search;
    // Counted for the team on the same fresh seeds; complete unless stopped.
    FieldScore best;
    FieldScore start;
    uint64_t finalBattles = 0; // per pairing
    double measureSeconds = 0;

    // Both teams measured in full: the figures can be compared.
    bool measured() const { return best.complete && start.complete; }
};

// How a caller watches and stops a run. The callbacks run on the thread that called
// optimizeAndMeasure. Setting *stopSearch ends the search soon, and its best team so
// far is still measured; setting *stopMeasurement ends the measurement as soon (set
// both to end the whole run).
struct OptimizationControl {
    std::atomic<bool>* stopSearch = nullptr;
    std::atomic<bool>* stopMeasurement = nullptr;
    std::function<void(const OptimizeProgress&)> searching;
    std::chrono::milliseconds progressInterval{100};
    // The measurement's battles done of all (both teams), now and then.
    std::function<void(uint64_t done, uint64_t total)> measuring;
};

// Battles per pairing of the measurement after a search, where the user says no other.
inline constexpr uint64_t DefaultFinalBattles = 1000;

// The most battles per pairing a measurement can give fresh seeds for a field of
// `pairings` pairings: its battles are numbered from FreshBase on, below 2^32.
uint64_t maxFinalBattles(size_t pairings);

// Searches from request.start, then measures the best team and the start team with
// finalBattles battles per pairing (at most maxFinalBattles). Throws as optimizeTeam
// does, and InputError for a measurement that would reuse seeds.
Optimization optimizeAndMeasure(const CardCatalogue& catalogue, const OptimizeRequest& request, uint64_t finalBattles,
                                const OptimizationControl& control = {});

// The field decks of a run, each applied and checked to stand in a battle; a failure
// names the line's place. Throws InputError (msg::NoFieldDeck) for an empty field.
std::vector<SideSelection> fieldDecks(const std::vector<DeckSource>& sources, const CardCatalogue& catalogue);

} // namespace morvane
