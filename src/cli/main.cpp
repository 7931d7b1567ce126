// morvane-cli: plays Morvane battles without windows, reproducibly from a seed.

#include "cli/CliCommon.h"
#include "cli/Commands.h"

#include <clocale>
#include <csignal>
#include <cstring>
#include <iostream>

namespace {

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>&);
    const char* summary;
};

const Command Commands[] = {
    {"battle", morvane::cli::runBattle, "play one battle between two decks and write its report"},
    {"stats", morvane::cli::runStats, "win rates of two decks over many battles"},
    {"league", morvane::cli::runLeague, "rank a file of decks by playing each against each, both ways round"},
    {"batch", morvane::cli::runBatch, "play the deck pairs dropped into numbered folders"},
    {"merge", morvane::cli::runMerge, "put together the shards of a stats, league or measurement run"},
    {"optimize", morvane::cli::runOptimize, "search for the team that wins most often against a file of decks"},
    {"cards", morvane::cli::runCards, "check a card catalogue, or export it as a table and import it back"},
    {"balance", morvane::cli::runBalance,
     "how a card set plays: the cards its best teams lean on, and those nobody plays"},
    {"rank", morvane::cli::runRank, "rate many decks against the field, with intervals, for a fraction of a league"},
    {"tournament", morvane::cli::runTournament, "play a round robin, Swiss or knockout event between decks"},
};

void printUsage(std::ostream& out) {
    out << "usage: morvane-cli COMMAND [OPTIONS]\n\ncommands:\n";
    for (const Command& c : Commands)
        out << "  " << c.name << std::string(12 - std::strlen(c.name), ' ') << c.summary << "\n";
    out << "\n'morvane-cli COMMAND --help' describes a command.\n";
}

int runCommand(int argc, char** argv) {
    if (argc < 2) {
        printUsage(std::cerr);
        return morvane::cli::ExitBadInput;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(std::cout);
        return morvane::cli::ExitOk;
    }
    for (const Command& c : Commands) {
        if (name == c.name) {
            try {
                return c.run(std::vector<std::string>(argv + 2, argv + argc));
            } catch (const std::exception& e) {
                return morvane::cli::reportFailure(e);
            }
        }
    }
    std::cerr << "morvane-cli: unknown command '" << name << "'\n";
    printUsage(std::cerr);
    return morvane::cli::ExitBadInput;
}

} // namespace

int main(int argc, char** argv) {
    // The report's time of day follows the user's locale. Set before any thread starts.
    std::setlocale(LC_ALL, ""); // NOLINT(concurrency-mt-unsafe)
    // Past the file size limit (ulimit -f) a write fails, and the command says so and
    // removes its temporary file, rather than ending without a word and leaving it.
    std::signal(SIGXFSZ, SIG_IGN);
    const int status = runCommand(argc, argv);
    // Output that never arrived (a full disk) is a failure, whatever the command
    // thought of its own work; a failure it reported already keeps its status.
    std::cout.flush();
    if (!std::cout && (status == morvane::cli::ExitOk || status == morvane::cli::ExitTurnCap)) {
        std::cerr << "morvane-cli: the standard output cannot be written" << std::endl;
        return morvane::cli::ExitFailure;
    }
    return status;
}
