// A whole battle from any bytes: a seed (4 bytes), the top and the bottom deck line
// (40 bytes each) and then card.dat. The battle is played to its end or to a turn
// cap twice, once writing its report to memory and once without a report; both must
// end alike (winner, turns, the program's error if one stopped it, and the
// generator's state, which counts every draw), since the report must never change
// the battle. Anything but the program's own errors escaping is a fault.

#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Clock.h"
#include "common/Errors.h"
#include "common/Random.h"
#include "report/ReportSink.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Enough turns for every rule to come up, few enough to keep each run short.
constexpr long long MaxTurns = 100;

struct Ending {
    morvane::BattleOutcome outcome;
    std::string error;
    uint32_t seed = 0;
    bool operator==(const Ending& other) const {
        return outcome.winner == other.outcome.winner && outcome.turns == other.outcome.turns &&
               outcome.capped() == other.outcome.capped() && error == other.error && seed == other.seed;
    }
};

Ending play(const morvane::CardCatalogue& catalogue, const morvane::Teams& teams, uint32_t seed,
            morvane::ReportSink* sink) {
    using namespace morvane;
    Random random(seed);
    const FixedClock clock("12:00:00");
    Battle battle(catalogue, random, sink);
    battle.report().setClock(clock);
    Ending ending;
    try {
        ending.outcome = battle.play(teams, MaxTurns);
    } catch (const MorvaneError& e) {
        ending.error = e.message();
        ending.outcome.turns = battle.state().TurnNo;
    }
    ending.seed = random.seed();
    return ending;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace morvane;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    uint32_t seed = 0;
    std::memcpy(&seed, input.data(), std::min<size_t>(4, input.size()));
    const std::string_view top = input.substr(std::min<size_t>(4, input.size()), 40);
    const std::string_view bottom = input.substr(std::min<size_t>(44, input.size()), 40);
    const std::string_view cards = input.substr(std::min<size_t>(84, input.size()));

    CardCatalogue catalogue;
    try {
        catalogue.loadBytes(cards);
    } catch (const MorvaneError&) {
        // The window goes on with the rows read before the failing line; so does this.
    }
    Teams teams;
    try {
        Deck0Set(top, teams, catalogue);
        Deck1Set(bottom, teams, catalogue);
    } catch (const InputError&) {
    }

    MemoryReportSink report;
    const Ending written = play(catalogue, teams, seed, &report);
    const Ending unwritten = play(catalogue, teams, seed, nullptr);
    if (!(written == unwritten))
        __builtin_trap();
    // A report that was opened starts with its head.
    if (!report.text().empty() && report.text().rfind("<html>\r\n", 0) != 0)
        __builtin_trap();
    return 0;
}
