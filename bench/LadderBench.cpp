// The ladder at the service's scale (a program, not a test; a few minutes): a field of
// random legal decks of the bundled catalogue is entered one at a time, each placed for
// real (its matches played here with the battle pool, as a runner would, and so are
// the top-ups of entries whose intervals widen as the field grows), in a ladder
// built in a memory-backed folder. The records are then copied to the disk and read
// again by a fresh process (whose memory then holds only that ladder), and one more
// entry is placed there, its records synced as the service syncs them. Prints the time to build and to rebuild, the
// placement of the last entry (until its 95% interval is below ±3 points, and below the ladder's own ±2.5), the time of
// the first leaderboard page, and the resident memory.
//
//   build/bench/morvane_ladder_bench [--entries 10000] [--threads 2] [--build /dev/shm]
//                                    [--disk /tmp] [--keep yes]
//
// For the service's figures (bench/ladder_service_bench.sh): --decks FILE writes the
// field's deck lines (the entries', then ten more) to FILE; --prepare ROOT enters the
// field in ROOT's ladder, nothing played, for a service to place.

#include "cards/CardCatalogue.h"
#include "common/Random.h"
#include "ladder/Ladder.h"
#include "ladder/LadderPlay.h"
#include "optimize/TeamSpace.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>

using namespace morvane;
namespace fs = std::filesystem;

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// VmRSS and VmHWM of this process, in MiB.
std::pair<double, double> memory() {
    std::ifstream status("/proc/self/status");
    double rss = 0, peak = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::stod(line.substr(6)) / 1024;
        else if (line.rfind("VmHWM:", 0) == 0)
            peak = std::stod(line.substr(6)) / 1024;
    }
    return {rss, peak};
}

struct Placement {
    double seconds3 = 0; // until the interval is below ±3 points
    double seconds = 0;  // until the ladder hands out no more placement for it
    uint64_t battles3 = 0;
    uint64_t battles = 0;
    uint32_t opponents = 0;
};

// Plays what the ladder hands out until the entry's interval is below ±2.5 points.
Placement place(Ladder& ladder, const CardCatalogue& catalogue, uint32_t number, unsigned threads) {
    const auto start = std::chrono::steady_clock::now();
    Placement p;
    for (int round = 0; round < 200; ++round) {
        const LadderRating r = ladder.row(number)->rating;
        const double half = (r.interval.high - r.interval.low) / 2;
        if (half < 0.03 && p.seconds3 == 0) {
            p.seconds3 = seconds(start);
            p.battles3 = p.battles;
        }
        if (half <= 0.025)
            break;
        const std::vector<WorkUnit> units = ladder.nextWork(8192);
        if (units.empty())
            break;
        for (const WorkUnit& unit : units)
            for (const MatchOrder& m : parseMatchOrders(unit.body))
                p.battles += m.battles;
        ladder.absorbAnswers(testing::playUnits(catalogue, units, threads));
    }
    p.seconds = seconds(start);
    p.opponents = ladder.row(number)->rating.opponents;
    return p;
}

} // namespace

int main(int argc, char** argv) {
    size_t entries = 10000;
    unsigned threads = 2;
    fs::path buildBase = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path diskBase = fs::temp_directory_path();
    fs::path measured; // the second process: the ladder to read
    fs::path decksFile;
    fs::path prepared;
    bool keep = false; // leave the records for another look
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--measure")
            measured = argv[i + 1];
        else if (name == "--decks")
            decksFile = argv[i + 1];
        else if (name == "--prepare")
            prepared = argv[i + 1];
        else if (name == "--keep")
            keep = std::string(argv[i + 1]) == "yes";
        else if (name == "--entries")
            entries = std::stoul(argv[i + 1]);
        else if (name == "--threads")
            threads = static_cast<unsigned>(std::stoul(argv[i + 1]));
        else if (name == "--build")
            buildBase = argv[i + 1];
        else if (name == "--disk")
            diskBase = argv[i + 1];
        else {
            std::fprintf(stderr, "unknown option %s\n", name.c_str());
            return 2;
        }
    }
    CardCatalogue catalogue;
    catalogue.load(std::string(MORVANE_DATA_DIR) + "/card.dat");
    TeamSpace space(catalogue, TeamRules{}, SideSelection{});
    Random random(20261209);
    std::vector<SideSelection> teams;
    std::set<std::string> seen;
    while (teams.size() < entries + 10)
        if (auto team = space.randomTeam(random); team && seen.insert(formatDeckLine(*team, 0)).second)
            teams.push_back(*team);

    if (!decksFile.empty()) {
        std::ofstream out(decksFile);
        for (const SideSelection& team : teams)
            out << formatDeckLine(team, 0) << '\n';
    }
    if (!prepared.empty()) {
        // Entered in memory and copied: the disk's syncs of ten thousand entries would
        // take minutes, and the service reads the records all the same.
        const fs::path built = buildBase / ("morvane-ladder-prepare-" + std::to_string(::getpid()));
        {
            Ladder ladder(built, catalogue, systemClock());
            for (size_t i = 0; i < entries; ++i)
                ladder.enter("entry " + std::to_string(i), teams[i], std::to_string(i));
        }
        fs::create_directories(prepared);
        fs::copy(built / "ladder", prepared / "ladder", fs::copy_options::recursive);
        fs::remove_all(built);
    }
    if (!decksFile.empty() || !prepared.empty())
        return 0;

    FixedClock clock("", 20261209, std::chrono::system_clock::now());
    if (measured.empty()) {
        const std::string name = "morvane-ladder-bench-" + std::to_string(::getpid());
        const fs::path built = buildBase / name;
        const fs::path disk = diskBase / name;
        uint64_t battles = 0;
        {
            // Built without the extra battles for the top places, which would only slow
            // the building; the ladder read again from the disk has them.
            LadderTuning building;
            building.focus = 0;
            Ladder ladder(built, catalogue, clock, building);
            const auto start = std::chrono::steady_clock::now();
            for (size_t i = 0; i < entries; ++i) {
                // A client of its own for each entry; a second of the clock between them.
                clock.setNow(clock.now() + std::chrono::seconds(1));
                const uint32_t n = ladder.enter("entry " + std::to_string(i), teams[i], std::to_string(i)).number;
                battles += place(ladder, catalogue, n, threads).battles;
                if ((i + 1) % 1000 == 0) {
                    std::printf("%zu entries, %llu battles, %.0f s\n", i + 1, static_cast<unsigned long long>(battles),
                                seconds(start));
                    std::fflush(stdout);
                }
            }
            std::printf("built: %zu entries placed, %llu battles, %.0f s on %u threads\n", entries,
                        static_cast<unsigned long long>(battles), seconds(start), threads);
        }
        fs::copy(built, disk, fs::copy_options::recursive);
        fs::remove_all(built);
        std::fflush(stdout);
        const std::string entriesText = std::to_string(entries);
        const std::string threadsText = std::to_string(threads);
        const std::string diskText = disk.string();
        ::execl("/proc/self/exe", argv[0], "--entries", entriesText.c_str(), "--threads", threadsText.c_str(), "--keep",
                keep ? "yes" : "no", "--measure", diskText.c_str(), static_cast<char*>(nullptr));
        std::perror("exec");
        return 1;
    }
    const fs::path disk = measured;
    clock.setNow(clock.now() + std::chrono::hours(24 * 365));
    uintmax_t bytes = 0;
    for (const auto& f : fs::recursive_directory_iterator(disk / "ladder"))
        if (f.is_regular_file())
            bytes += f.file_size();

    auto start = std::chrono::steady_clock::now();
    Ladder ladder(disk, catalogue, clock);
    const auto [rebuiltRss, rebuiltPeak] = memory();
    std::printf("records: %.0f MiB; rebuilt from them on the disk in %.2f s (resident %.0f MiB, peak %.0f MiB)\n",
                double(bytes) / (1 << 20), seconds(start), rebuiltRss, rebuiltPeak);

    start = std::chrono::steady_clock::now();
    ladder.page(0, 50);
    const double firstPage = seconds(start);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i)
        ladder.page(0, 50);
    const double page = seconds(start) / 100;

    clock.setNow(clock.now() + std::chrono::seconds(1));
    const auto entered = std::chrono::steady_clock::now();
    // Records kept from an earlier look already hold the first new team or more.
    uint32_t n = 0;
    for (size_t t = entries; n == 0; ++t) {
        try {
            n = ladder.enter("new entry", teams[t], "new " + std::to_string(t)).number;
        } catch (const LadderRefusal& e) {
            if (e.kind() != LadderRefusal::Kind::Duplicate || t + 1 == teams.size())
                throw;
        }
    }
    const Placement p = place(ladder, catalogue, n, threads);
    const double total = seconds(entered);
    std::printf("new entry: below ±3 points after %.2f s (%llu battles); below ±2.5 after %.2f s (%llu battles, "
                "%u opponents); entering included %.2f s\n",
                p.seconds3, static_cast<unsigned long long>(p.battles3), p.seconds,
                static_cast<unsigned long long>(p.battles), p.opponents, total);
    const LadderRow row = *ladder.row(n);
    std::printf("its rating %.1f%% [%.1f, %.1f], rank %u of %zu\n", row.rating.rating * 100,
                row.rating.interval.low * 100, row.rating.interval.high * 100, row.rank, ladder.activeCount());

    // One more round of work counted, and the page read right after it: the order is
    // sorted again first.
    ladder.absorbAnswers(testing::playUnits(catalogue, ladder.nextWork(8192), threads));
    start = std::chrono::steady_clock::now();
    ladder.page(0, 50);
    const double changedPage = seconds(start);
    std::printf("page(0, 50): %.2f ms after a change (the order sorted again), %.3f ms otherwise; first after "
                "the rebuild %.2f ms\n",
                changedPage * 1000, page * 1000, firstPage * 1000);
    const auto [rss, peak] = memory();
    std::printf("memory: resident %.0f MiB, peak %.0f MiB\n", rss, peak);
    if (keep)
        std::printf("records kept in %s\n", disk.c_str());
    else
        fs::remove_all(disk);
    return 0;
}
