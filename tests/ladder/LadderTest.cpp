// The ladder's model: its intervals must hold against a field played out in full, both
// while each entry has met only a sample of the field and once it has met everyone;
// what it refuses, with the reason and (for a team already entered) its entry; and its
// records, which must rebuild the same ladder and never count an answer twice.

#include "ladder/Ladder.h"

#include "batch/BatchClaim.h"
#include "cards/CardCatalogue.h"
#include "common/Random.h"
#include "ladder/LadderPlay.h"
#include "optimize/TeamSpace.h"
#include "tournament/Rank.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <thread>
#include <unistd.h>

namespace morvane {
namespace {

namespace fs = std::filesystem;
using Kind = LadderRefusal::Kind;
using testing::playUnits;

const fs::path DataFolder = fs::path(MORVANE_SOURCE_DIR) / "data";

class LadderTest : public ::testing::Test {
protected:
    void SetUp() override {
        catalogue.load(DataFolder / "card.dat");
        // Memory-backed where there is one: the records sync every step, and a slow
        // disk would make the many small ladders here take minutes.
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        root = base / ("morvane-ladder-" + std::to_string(::getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }

    std::vector<SideSelection> field(size_t n, uint32_t seed) const {
        TeamSpace space(catalogue, TeamRules{}, SideSelection{});
        Random random(seed);
        std::vector<SideSelection> teams;
        std::set<std::string> seen;
        while (teams.size() < n)
            if (auto team = space.randomTeam(random); team && seen.insert(formatDeckLine(*team, 0)).second)
                teams.push_back(*team);
        return teams;
    }

    // Plays what the ladder hands out until it has played about `battles` more.
    static uint64_t run(Ladder& ladder, const CardCatalogue& catalogue, uint64_t battles) {
        uint64_t played = 0;
        while (played < battles) {
            const std::vector<WorkUnit> units = ladder.nextWork(battles - played);
            if (units.empty())
                break;
            for (const WorkUnit& unit : units)
                for (const MatchOrder& m : parseMatchOrders(unit.body))
                    played += m.battles;
            ladder.absorbAnswers(playUnits(catalogue, units));
        }
        return played;
    }

    static Clock::TimePoint at(int hours) { return Clock::TimePoint{} + std::chrono::hours(24 * 365 * 56 + hours); }

    CardCatalogue catalogue;
    fs::path root;
};

TEST_F(LadderTest, IntervalsCoverTheWinRateAgainstTheWholeField) {
    // The truth: every pair of 40 decks, 400 battles a pair from seeds of the truth's
    // own; a rating's own error is then about a thirtieth of a ladder run's.
    const std::vector<SideSelection> decks = field(40, 20261209);
    RankRequest truthRequest;
    truthRequest.decks = decks;
    truthRequest.budget = 400 * 40 * 39 / 2;
    truthRequest.evenShare = 1;
    truthRequest.seed = 3999999999u;
    truthRequest.threads = 2;
    std::vector<double> truth(decks.size());
    for (const RankedDeck& d : rankDecks(catalogue, truthRequest).ranking)
        truth[d.deck] = d.rating;

    // Each run is a ladder of its own seed; an entry places until its interval is
    // below ±20 points, so it meets about half the field: the sampled case. Then the
    // runs go on until every pair has played several times: the case of a full field.
    LadderTuning tuning;
    tuning.halfWidth = 0.2;
    tuning.focus = 0;
    unsigned sampled = 0, sampledCovered = 0, full = 0, fullCovered = 0;
    double opponents = 0;
    for (uint32_t seed = 1; seed <= 30; ++seed) {
        const fs::path folder = root / std::to_string(seed);
        FixedClock clock("", seed * 7919);
        Ladder ladder(folder, catalogue, clock, tuning);
        std::vector<uint32_t> numbers;
        for (size_t i = 0; i < decks.size(); ++i)
            numbers.push_back(
                ladder.enter("deck " + std::to_string(i), decks[i], "client " + std::to_string(i)).number);
        run(ladder, catalogue, 1'000'000);
        for (size_t i = 0; i < decks.size(); ++i) {
            const LadderRating r = ladder.row(numbers[i])->rating;
            opponents += r.opponents;
            ++sampled;
            sampledCovered += r.interval.low <= truth[i] && truth[i] <= r.interval.high;
        }
        LadderTuning narrow = tuning;
        narrow.halfWidth = 0.06;
        Ladder longer(folder, catalogue, clock, narrow);
        run(longer, catalogue, 40 * 39 / 2 * 12);
        for (size_t i = 0; i < decks.size(); ++i) {
            const LadderRating r = longer.row(numbers[i])->rating;
            ++full;
            fullCovered += r.interval.low <= truth[i] && truth[i] <= r.interval.high;
        }
    }
    const double meanOpponents = opponents / sampled;

    EXPECT_GT(meanOpponents, 10);
    EXPECT_LT(meanOpponents, 32) << "placement should have met a sample, not the whole field";
    EXPECT_GE(double(sampledCovered) / sampled, 0.90) << sampledCovered << " of " << sampled;
    EXPECT_GE(double(fullCovered) / full, 0.90) << fullCovered << " of " << full;
    EXPECT_LE(double(fullCovered) / full, 0.995) << "intervals too wide to be of use";
}

TEST_F(LadderTest, SeedsOfPairsAreTheirOwn) {
    std::set<uint32_t> seeds;
    for (uint32_t b = 2; b <= 400; ++b)
        for (uint32_t a = 1; a < b; ++a)
            seeds.insert(ladderMatchSeed(77, a, b));
    EXPECT_EQ(seeds.size(), 400u * 399 / 2);
    EXPECT_EQ(ladderMatchSeed(77, 5, 9), ladderMatchSeed(77, 9, 5));
}

TEST_F(LadderTest, RefusesWithTheReason) {
    FixedClock clock("", 1, at(0));
    Ladder ladder(root, catalogue, clock);
    const std::vector<SideSelection> teams = field(25, 5);
    const auto refusal = [&](auto&& call) -> std::optional<Kind> {
        try {
            call();
        } catch (const LadderRefusal& e) {
            EXPECT_FALSE(e.message().empty());
            return e.kind();
        }
        return std::nullopt;
    };

    // Names: empty or blank, too long, no valid UTF-8, control characters and
    // direction overrides.
    for (const std::string& bad :
         std::vector<std::string>{"", "   ", std::string(61, 'x'), "a\xff", "a\x01", "tab\there", "c1\xc2\x85",
                                  "over\xc0\xaf", "sur\xed\xa0\x80", "line\xe2\x80\xa8", "rlo\xe2\x80\xae"})
        EXPECT_EQ(refusal([&] { ladder.enter(bad, teams[0], "c"); }), Kind::BadName) << bad;
    // Twenty Japanese characters fit exactly.
    std::string twenty;
    for (int i = 0; i < 20; ++i)
        twenty += "\xe3\x81\x82";
    EXPECT_NO_THROW(checkEntryName(twenty));
    EXPECT_EQ(refusal([&] { checkEntryName(twenty + "a"); }), Kind::BadName);

    EXPECT_EQ(refusal([&] { ladder.enter("empty", SideSelection{}, "c"); }), Kind::BadTeam);

    const Ladder::Entered first = ladder.enter("first", teams[0], "c");
    EXPECT_EQ(first.key.size(), 32u);
    try {
        ladder.enter("again", teams[0], "other client");
        ADD_FAILURE() << "a team already entered";
    } catch (const LadderRefusal& e) {
        EXPECT_EQ(e.kind(), Kind::Duplicate);
        EXPECT_EQ(e.entry(), first.number);
    }

    // Twenty entries a client a day: the 21st waits for the first to be a day old.
    for (size_t i = 1; i < EntriesPerClientPerDay; ++i)
        ladder.enter("t" + std::to_string(i), teams[i], "c");
    EXPECT_EQ(refusal([&] { ladder.enter("late", teams[21], "c"); }), Kind::DailyLimit);
    EXPECT_NO_THROW(ladder.enter("another", teams[21], "d"));
    clock.setNow(at(25));
    EXPECT_NO_THROW(ladder.enter("tomorrow", teams[22], "c"));

    // The key withdraws and replaces; a wrong key, no entry, a withdrawn one do not.
    EXPECT_EQ(refusal([&] { ladder.withdraw(first.number, "0123456789abcdef0123456789abcdef"); }), Kind::WrongKey);
    EXPECT_EQ(refusal([&] { ladder.withdraw(first.number, ""); }), Kind::WrongKey);
    EXPECT_EQ(refusal([&] { ladder.withdraw(9999, first.key); }), Kind::NoEntry);
    const Ladder::Entered replaced = ladder.replace(first.number, first.key, teams[23], "c");
    EXPECT_EQ(replaced.key, first.key);
    EXPECT_EQ(ladder.entry(replaced.number)->replaces, first.number);
    EXPECT_EQ(ladder.entry(replaced.number)->name, "first");
    EXPECT_FALSE(ladder.entry(first.number)->active());
    EXPECT_EQ(ladder.row(first.number)->rank, 0u);
    EXPECT_EQ(refusal([&] { ladder.withdraw(first.number, first.key); }), Kind::Withdrawn);
    // The withdrawn team may enter again; the replacement's may not.
    EXPECT_NO_THROW(ladder.enter("back", teams[0], "e"));
    EXPECT_EQ(refusal([&] { ladder.enter("copy", teams[23], "e"); }), Kind::Duplicate);
    ladder.withdraw(replaced.number, first.key);
    EXPECT_EQ(ladder.activeCount(), 22u);

    // The same after a restart: keys, teams and withdrawals come from the records.
    Ladder rebuilt(root, catalogue, clock);
    EXPECT_EQ(rebuilt.activeCount(), 22u);
    EXPECT_EQ(refusal([&] { rebuilt.withdraw(replaced.number, first.key); }), Kind::Withdrawn);
    EXPECT_EQ(refusal([&] { rebuilt.enter("dup", teams[5], "f"); }), Kind::Duplicate);
    // "c" entered twice in the last day (a replacement is an entry too).
    const std::vector<SideSelection> more = field(60, 6);
    for (size_t i = 0; i + 2 < EntriesPerClientPerDay; ++i)
        rebuilt.enter("more" + std::to_string(i), more[40 + i], "c");
    EXPECT_EQ(refusal([&] { rebuilt.enter("late", teams[24], "c"); }), Kind::DailyLimit);
}

// The rows that must come out the same from a ladder rebuilt from its records.
std::string pageText(const Ladder& ladder) {
    std::string text;
    for (const LadderRow& r : ladder.page(0, 1000)) {
        char line[200];
        std::snprintf(line, sizeof line, "%u %u %.12f %.12f %.12f %llu %u %d\n", r.rank, r.entry.number,
                      r.rating.rating, r.rating.interval.low, r.rating.interval.high,
                      static_cast<unsigned long long>(r.rating.battles), r.rating.opponents, r.uncertain);
        text += line;
    }
    return text;
}

std::string matchUpText(const Ladder& ladder, uint32_t number) {
    std::string text;
    for (const MatchUp& m : ladder.matchUps(number))
        text += std::to_string(m.opponent) + ":" + std::to_string(m.battles) + ":" + std::to_string(m.score) + ":" +
                std::to_string(m.seed) + " ";
    for (const RatingPoint& p : ladder.history(number))
        text += std::to_string(p.time.time_since_epoch().count()) + "=" + std::to_string(p.rating) + " ";
    return text;
}

TEST_F(LadderTest, RecordsRebuildTheLadderAndCountEachAnswerOnce) {
    FixedClock clock("", 42, at(0));
    LadderTuning tuning;
    tuning.halfWidth = 0.15;
    const std::vector<SideSelection> teams = field(30, 9);
    std::string before;
    std::string ups;
    uint64_t outstanding = 0;
    std::vector<AnsweredWork> counted;
    std::vector<WorkUnit> handedOut;
    {
        Ladder ladder(root, catalogue, clock, tuning);
        std::vector<Ladder::Entered> entered;
        for (size_t i = 0; i < teams.size(); ++i)
            entered.push_back(ladder.enter("e" + std::to_string(i), teams[i], std::to_string(i)));
        run(ladder, catalogue, 3000);
        ladder.withdraw(entered[2].number, entered[2].key);
        clock.setNow(at(1));

        // Answers counted, then offered again (a crash before their folders were
        // retired): the ids come back to be retired, the counts stay.
        const std::vector<WorkUnit> units = ladder.nextWork(600);
        ASSERT_FALSE(units.empty());
        counted = playUnits(catalogue, units);
        EXPECT_EQ(ladder.absorbAnswers(counted).size(), units.size());
        const std::string once = pageText(ladder);
        EXPECT_EQ(ladder.absorbAnswers(counted).size(), units.size());
        EXPECT_EQ(pageText(ladder), once);
        // A unit the ladder never handed out is left alone.
        AnsweredWork stranger = counted.front();
        stranger.unit.id = "l-999999";
        EXPECT_TRUE(ladder.absorbAnswers({stranger}).empty());

        handedOut = ladder.nextWork(600);
        ASSERT_FALSE(handedOut.empty());
        outstanding = ladder.battlesOutstanding();
        EXPECT_GT(outstanding, 0u);
        before = pageText(ladder);
        ups = matchUpText(ladder, 1);
        EXPECT_FALSE(ladder.matchUps(1).empty());
    }
    // The tail of an append that a crash cut short.
    std::ofstream(root / "ladder" / "journal.dat", std::ios::app) << "l-77 0 1 1,4,2,3,1,1,0";

    Ladder rebuilt(root, catalogue, clock, tuning);
    EXPECT_EQ(pageText(rebuilt), before);
    EXPECT_EQ(matchUpText(rebuilt, 1), ups);
    EXPECT_EQ(rebuilt.battlesOutstanding(), outstanding);
    EXPECT_EQ(rebuilt.absorbAnswers(counted).size(), counted.size());
    EXPECT_EQ(pageText(rebuilt), before);

    // Units handed out before the restart count after it, once, even when a kill came
    // between the journal's line and the removal of their pending records.
    const fs::path pending = root / "ladder" / "pending";
    const fs::path kept = root / "kept";
    fs::copy(pending, kept);
    const std::vector<AnsweredWork> answers = playUnits(catalogue, handedOut);
    EXPECT_EQ(rebuilt.absorbAnswers(answers).size(), handedOut.size());
    EXPECT_EQ(rebuilt.battlesOutstanding(), 0u);
    const std::string after = pageText(rebuilt);
    EXPECT_NE(after, before);
    for (const auto& f : fs::directory_iterator(kept))
        fs::copy_file(f.path(), pending / f.path().filename());

    Ladder again(root, catalogue, clock, tuning);
    EXPECT_EQ(pageText(again), after);
    EXPECT_EQ(again.battlesOutstanding(), 0u);
    EXPECT_TRUE(fs::is_empty(pending));
    EXPECT_EQ(again.absorbAnswers(answers).size(), answers.size());
    EXPECT_EQ(pageText(again), after);
}

TEST_F(LadderTest, UnitsRecordedButNeverPlacedGoOutAtStartAndLostOnesGoStale) {
    FixedClock clock("", 5, at(0));
    LadderTuning tuning;
    tuning.halfWidth = 0.1;
    tuning.matchesPerUnit = 20;
    std::vector<WorkUnit> recorded;
    {
        Ladder ladder(root, catalogue, clock, tuning);
        for (const SideSelection& team : field(20, 7))
            ladder.enter("e", team, "c");
        // Recorded as handed out, and the service killed after placing only the first.
        recorded = ladder.nextWork(4000);
        ASSERT_GE(recorded.size(), 2u);
        submitWork(root, recorded[0]);
    }
    Ladder again(root, catalogue, clock, tuning);
    for (const WorkUnit& unit : recorded) {
        std::ifstream in(ladderWorkFolder(root) / unit.id / WorkUnitFile, std::ios::binary);
        EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == formatWorkUnit(unit)) << unit.id;
    }
    // Played by a runner from the root, each counts once.
    ClaimSightings sightings;
    while (playOneWorkUnit(root, catalogue, clock, sightings, 2, std::chrono::seconds(600))) {
    }
    EXPECT_EQ(again.absorbAnswers(answeredWork(root)).size(), recorded.size());
    EXPECT_EQ(again.battlesOutstanding(), 0u);

    // A unit lost for good (a folder removed by hand, a disk that refused it) is
    // outstanding until it goes stale, and then its pairs go out again: an owner that
    // asks for work only below a backlog would otherwise never ask again.
    const std::vector<WorkUnit> lost = again.nextWork(4000);
    ASSERT_FALSE(lost.empty());
    EXPECT_GT(again.battlesOutstanding(), 0u);
    clock.setNow(at(0) + tuning.staleAfter + std::chrono::seconds(1));
    EXPECT_EQ(again.battlesOutstanding(), 0u);
    EXPECT_FALSE(again.nextWork(4000).empty());
}

TEST_F(LadderTest, WithdrawnOpponentsDropOutAndFailedUnitsGoOutAgain) {
    FixedClock clock("", 3, at(0));
    LadderTuning tuning;
    tuning.halfWidth = 0.15;
    tuning.focus = 0;
    Ladder ladder(root, catalogue, clock, tuning);
    std::vector<Ladder::Entered> entered;
    for (const SideSelection& team : field(20, 11))
        entered.push_back(ladder.enter("e", team, "c"));

    // An answer that cannot be read (a runner's error) counts nothing, and is retired;
    // the same pairs are handed out again, with the same seeds.
    const std::vector<WorkUnit> units = ladder.nextWork(100);
    ASSERT_EQ(units.size(), 1u);
    const uint64_t outstanding = ladder.battlesOutstanding();
    EXPECT_EQ(outstanding, 100u);
    AnsweredWork failed{units[0], "error: no such card"};
    EXPECT_EQ(ladder.absorbAnswers({failed}), std::vector<std::string>{units[0].id});
    EXPECT_EQ(ladder.battlesOutstanding(), 0u);
    EXPECT_EQ(ladder.row(entered[0].number)->rating.battles, 0u);
    const std::vector<WorkUnit> again = ladder.nextWork(100);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_NE(again[0].id, units[0].id);
    // The first entry met the whole field in both, so with the same seeds.
    const auto seedsOfFirst = [&](const WorkUnit& unit) {
        std::set<uint32_t> seeds;
        for (const MatchOrder& m : parseMatchOrders(unit.body))
            if (m.a == ladder.entry(entered[0].number)->team || m.b == ladder.entry(entered[0].number)->team)
                seeds.insert(m.seed);
        return seeds;
    };
    EXPECT_EQ(seedsOfFirst(again[0]).size(), 19u);
    EXPECT_EQ(seedsOfFirst(again[0]), seedsOfFirst(units[0]));
    // Counts that do not add up to the battles asked for are no answer either.
    AnsweredWork short_ = playUnits(catalogue, again)[0];
    short_.answer = formatMatchCounts({MatchCount{1, 0, 0}});
    ladder.absorbAnswers({short_});
    EXPECT_EQ(ladder.row(entered[0].number)->rating.battles, 0u);

    run(ladder, catalogue, 20000);
    const uint32_t gone = entered[4].number;
    const auto metGone = [&](uint32_t n) {
        for (const MatchUp& m : ladder.matchUps(n))
            if (m.opponent == gone)
                return true;
        return false;
    };
    std::vector<std::pair<uint32_t, uint32_t>> opponents;
    for (const Ladder::Entered& e : entered)
        if (e.number != gone && metGone(e.number))
            opponents.emplace_back(e.number, ladder.row(e.number)->rating.opponents);
    ASSERT_FALSE(opponents.empty());
    ladder.withdraw(gone, entered[4].key);
    for (const auto& [n, before] : opponents) {
        EXPECT_FALSE(metGone(n));
        EXPECT_EQ(ladder.row(n)->rating.opponents, before - 1);
    }
    EXPECT_EQ(ladder.page(0, 100).size(), 19u);
}

TEST_F(LadderTest, ReadsFromOtherThreadsWhileWorkIsCounted) {
    // The service's HTTP workers read while its ladder loop counts; under
    // ThreadSanitizer (ctest -L threaded) a read that skipped the lock shows here.
    FixedClock clock("", 8, at(0));
    LadderTuning tuning;
    tuning.halfWidth = 0.1;
    Ladder ladder(root, catalogue, clock, tuning);
    const std::vector<SideSelection> teams = field(24, 13);
    for (size_t i = 0; i < 12; ++i)
        ladder.enter("e", teams[i], "c");
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            for (const LadderRow& r : ladder.page(0, 50)) {
                EXPECT_LE(r.rating.interval.low, r.rating.interval.high);
                ladder.matchUps(r.entry.number);
                ladder.history(r.entry.number);
            }
            ladder.battlesOutstanding();
        }
    });
    for (size_t i = 12; i < teams.size(); ++i) {
        ladder.enter("e", teams[i], "d");
        run(ladder, catalogue, 2000);
    }
    done = true;
    reader.join();
    EXPECT_EQ(ladder.page(0, 50).size(), teams.size());
}

} // namespace
} // namespace morvane
