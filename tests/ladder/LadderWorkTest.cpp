// The ladder's units of work: their texts, their counts against the battles played one
// by one, and their runners on a batch root (two threads, a stale claim, bad units,
// the window's runner beside them).

#include "ladder/LadderWork.h"
#include "batch/BatchClaim.h"
#include "batch/BatchRunner.h"
#include "batch/BatchSubmit.h"
#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "common/Clock.h"
#include "common/Errors.h"
#include "common/Random.h"
#include "stats/Statistics.h"

#include "batch/BatchTesting.h"

#include <map>
#include <thread>

namespace morvane::test {
namespace {

SideSelection team(const std::string& line) {
    return deckLineIds(line);
}

MatchOrder order(const std::string& a, const std::string& b, unsigned battles, uint32_t seed) {
    return {team(a), team(b), battles, seed};
}

bool sameCounts(const std::vector<MatchCount>& x, const std::vector<MatchCount>& y) {
    if (x.size() != y.size())
        return false;
    for (size_t i = 0; i < x.size(); ++i)
        if (x[i].winsA != y[i].winsA || x[i].winsB != y[i].winsB || x[i].undecided != y[i].undecided)
            return false;
    return true;
}

const std::vector<MatchOrder> SomeMatches{order(TopDeck, BottomDeck, 7, 4242), order(OtherTopDeck, TopDeck, 2, 0),
                                          order(BottomDeck, OtherBottomDeck, 1, 4294967295u)};

TEST(LadderWorkText, OrdersAndCountsRoundTripAndEveryCutOrBadTextIsRefused) {
    const std::string orders = formatMatchOrders(SomeMatches);
    EXPECT_EQ(orders.substr(0, orders.find('\n', orders.find('\n') + 1) + 1),
              "orders 3\nV001C001C002C003C004C005C006C007C008:000 V002C008C007C006C005C004C003C002C001:000 7 4242\n");
    const std::vector<MatchOrder> back = parseMatchOrders(orders);
    ASSERT_EQ(back.size(), SomeMatches.size());
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].a, SomeMatches[i].a);
        EXPECT_EQ(back[i].b, SomeMatches[i].b);
        EXPECT_EQ(back[i].battles, SomeMatches[i].battles);
        EXPECT_EQ(back[i].seed, SomeMatches[i].seed);
    }
    const std::vector<MatchCount> counts{{3, 2, 2}, {0, 2, 0}, {1000, 0, 0}};
    const std::string countText = formatMatchCounts(counts);
    EXPECT_EQ(countText, "counts 3\n3 2 2\n0 2 0\n1000 0 0\nend\n");
    EXPECT_TRUE(sameCounts(parseMatchCounts(countText), counts));
    EXPECT_TRUE(parseMatchOrders("orders 0\nend\n").empty());

    // Every text cut short anywhere is refused, never read as fewer matches.
    for (const std::string& whole : {orders, countText})
        for (size_t n = 0; n < whole.size(); ++n)
            EXPECT_THROW(whole == orders ? (void)parseMatchOrders(whole.substr(0, n))
                                         : (void)parseMatchCounts(whole.substr(0, n)),
                         InputError)
                << n << " bytes";

    const std::string a = "V001C001C002C003C004C005C006C007C008:000";
    const std::string b = "V002C008C007C006C005C004C003C002C001:000";
    for (const std::string& bad : std::vector<std::string>{
             "orders 1\n" + a + " " + b + " 7 42\nend\nend\n",                       // more after the end
             "orders 2\n" + a + " " + b + " 7 42\nend\n",                            // fewer than said
             "orders 1\n" + a + " " + b + " 7 42\n" + a + " " + b + " 7 42\nend\n",  // more than said
             "orders 1\r\n" + a + " " + b + " 7 42\r\nend\r\n",                      // CR LF
             "orders 1\n" + a + "  " + b + " 7 42\nend\n",                           // two blanks
             "orders 1\n" + a + " " + b + " 0 42\nend\n",                            // no battle
             "orders 1\n" + a + " " + b + " 1001 42\nend\n",                         // too many
             "orders 1\n" + a + " " + b + " 07 42\nend\n",                           // a second spelling
             "orders 1\n" + a + " " + b + " 7 4294967296\nend\n",                    // past 32 bits
             "orders 1\n" + a + " " + b + " -7 42\nend\n",                           //
             "orders 1\n" + a + " " + b + " 7\nend\n",                               // no seed
             "orders 1\nV001C001C002C003C004C005C006C007C008 " + b + " 7 42\nend\n", // no list number
             "orders 1\nV001C001C002C003C004C005C006C007Cxyz:000 " + b + " 7 42\nend\n",
             "orders 4097\nend\n", // past the bound
             "counts 1\nend\n",
             "matches 1\n" + a + " " + b + " 7 42\nend\n",
             "",
         })
        EXPECT_THROW(parseMatchOrders(bad), InputError) << bad;
    for (const std::string bad : {"counts 1\n1 2\nend\n", "counts 1\n1000 1 0\nend\n", "counts 1\n1 2 3\n",
                                  "counts 1\n1 x 3\nend\n", "counts 2\n1 2 3\nend\n"})
        EXPECT_THROW(parseMatchCounts(bad), InputError) << bad;
    EXPECT_THROW(parseMatchOrders(std::string(MaxWorkFileBytes + 1, 'x')), InputError);
    EXPECT_THROW(formatMatchOrders({order(a, b, 0, 1)}), InputError);
}

TEST(LadderWorkText, UnitsAndErrorAnswersReadBackAndIdsAreChecked) {
    const WorkUnit unit{"u-1", WorkKind::Matches, formatMatchOrders(SomeMatches)};
    const std::string text = formatWorkUnit(unit);
    EXPECT_EQ(text.substr(0, 8), "matches\n");
    const WorkUnit back = parseWorkUnit("u-1", text);
    EXPECT_EQ(back.kind, WorkKind::Matches);
    EXPECT_EQ(back.body, unit.body);
    EXPECT_EQ(parseWorkUnit("e", formatWorkUnit({"e", WorkKind::Event, "x\n"})).kind, WorkKind::Event);
    EXPECT_THROW(parseWorkUnit("u", "matches"), InputError) << "no whole first line";
    EXPECT_THROW(parseWorkUnit("u", "rating\nx\n"), InputError);
    EXPECT_THROW(parseWorkUnit("u", ""), InputError);

    EXPECT_EQ(workError(errorAnswer("match 1 deck a: bad\nline")), "match 1 deck a: bad line");
    EXPECT_FALSE(workError(formatMatchCounts({{1, 0, 0}})));

    EXPECT_TRUE(validWorkId("0"));
    EXPECT_TRUE(validWorkId("l-00042-abc"));
    EXPECT_TRUE(validWorkId(std::string(32, 'z')));
    for (const std::string& bad :
         std::vector<std::string>{"", std::string(33, 'a'), "A", "a_b", ".", "..", "a/b", ".retired-a"})
        EXPECT_FALSE(validWorkId(bad)) << bad;
}

class LadderRootTest : public BatchFolderTest {
protected:
    void SetUp() override {
        BatchFolderTest::SetUp();
        catalogue.load(cards);
    }

    // The counts of playing each battle alone, as 'morvane-cli battle' would.
    std::vector<MatchCount> oneByOne(const std::vector<MatchOrder>& matches) const {
        std::vector<MatchCount> counts;
        for (const MatchOrder& m : matches) {
            MatchCount c;
            for (unsigned k = 0; k < m.battles; ++k) {
                Teams teams;
                teams.side[k % 2] = m.a;
                teams.side[1 - k % 2] = m.b;
                Random random(battleSeed(m.seed, k));
                Battle battle(catalogue, random);
                const BattleOutcome o = battle.play(teams);
                const int aSide = static_cast<int>(k % 2);
                (o.wonBy(aSide) ? c.winsA : o.lostBy(aSide) ? c.winsB : c.undecided) += 1;
            }
            counts.push_back(c);
        }
        return counts;
    }

    fs::path unitFolder(const std::string& id) const { return root / "ladder" / "work" / id; }
    std::string answerOf(const std::string& id) const { return readAll(unitFolder(id) / "answer.dat"); }

    CardCatalogue catalogue;
    FixedClock clock{"12:00:00", 0, std::chrono::system_clock::now()};
};

// Matches of the test decks, some long, each with its own seed.
std::vector<MatchOrder> matchesFor(unsigned unit, size_t count) {
    const std::string decks[] = {TopDeck, BottomDeck, OtherTopDeck, OtherBottomDeck};
    std::vector<MatchOrder> matches;
    for (size_t i = 0; i < count; ++i)
        matches.push_back(order(decks[(unit + i) % 4], decks[(unit + 2 * i + 1) % 4], 1 + (unit * 7 + i) % 9,
                                unit * 1000 + static_cast<uint32_t>(i)));
    return matches;
}

TEST_F(LadderRootTest, CountsAreThoseOfTheBattlesPlayedOneByOneOnAnyNumberOfThreads) {
    std::vector<MatchOrder> matches = matchesFor(0, 12);
    matches.push_back(order(TopDeck, TopDeck, 40, 99));
    const std::vector<MatchCount> expected = oneByOne(matches);
    EXPECT_TRUE(sameCounts(playMatches(catalogue, matches, 1), expected));
    EXPECT_TRUE(sameCounts(playMatches(catalogue, matches, 3), expected));
    unsigned a = 0, b = 0;
    for (const MatchCount& c : expected) {
        a += c.winsA;
        b += c.winsB;
    }
    EXPECT_GT(a, 0u);
    EXPECT_GT(b, 0u) << "both decks of a match win some: the sides are not mixed up";

    const std::atomic<bool> cancelled{true};
    EXPECT_TRUE(playMatches(catalogue, matches, 2, DefaultMaxTurns, &cancelled).empty());
    const WorkUnit unit{"u", WorkKind::Matches, formatMatchOrders(matches)};
    EXPECT_FALSE(answerWork(catalogue, unit, 2, &cancelled));
    EXPECT_EQ(answerWork(catalogue, unit, 2), formatMatchCounts(expected));
    EXPECT_THROW(playMatches(catalogue, {order(TopDeck, EmptySlotDeck, 2, 1)}, 1), InputError);
}

TEST_F(LadderRootTest, AUnitIsClaimedPlayedAnsweredOnceAndRetired) {
    const std::vector<MatchOrder> matches = matchesFor(3, 5);
    submitWork(root, {"u1", WorkKind::Matches, formatMatchOrders(matches)});
    EXPECT_THROW(submitWork(root, {"u1", WorkKind::Matches, formatMatchOrders(matches)}), IoError);
    EXPECT_THROW(submitWork(root, {"U1", WorkKind::Matches, ""}), InputError);
    EXPECT_TRUE(fs::exists(unitFolder("u1") / "unit.dat"));

    ClaimSightings sightings;
    const std::optional<PlayedWork> played =
        playNextWorkUnit(root, catalogue, clock, sightings, 2, std::chrono::seconds(600));
    ASSERT_TRUE(played);
    EXPECT_EQ(played->id, "u1");
    EXPECT_TRUE(played->placed);
    EXPECT_FALSE(played->error);
    EXPECT_EQ(answerOf("u1"), formatMatchCounts(oneByOne(matches)));
    EXPECT_FALSE(fs::exists(unitFolder("u1") / ".morvane-claim"));
    EXPECT_FALSE(playOneWorkUnit(root, catalogue, clock, sightings, 2, std::chrono::seconds(600)))
        << "an answered unit is never played again";

    const std::vector<AnsweredWork> answered = answeredWork(root);
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].unit.id, "u1");
    EXPECT_EQ(answered[0].answer, answerOf("u1"));
    retireWork(root, "u1");
    EXPECT_FALSE(fs::exists(unitFolder("u1")));
    EXPECT_TRUE(answeredWork(root).empty());
    retireWork(root, "../..");
    EXPECT_TRUE(fs::exists(root));
}

TEST_F(LadderRootTest, UnitsThatCannotBePlayedAreAnsweredWithTheirErrorNeverCrashing) {
    const std::string whole = formatWorkUnit({"x", WorkKind::Matches, formatMatchOrders(matchesFor(1, 3))});
    writeAll(unitFolder("cut") / "unit.dat", whole.substr(0, whole.size() - 3));
    writeAll(unitFolder("empty") / "unit.dat", "");
    writeAll(unitFolder("kind") / "unit.dat", "rating\n" + formatMatchOrders(matchesFor(1, 3)));
    writeAll(unitFolder("nocard") / "unit.dat",
             formatWorkUnit({"x", WorkKind::Matches, formatMatchOrders({order(TopDeck, EmptySlotDeck, 2, 1)})}));
    writeAll(unitFolder("halts") / "unit.dat",
             formatWorkUnit({"x", WorkKind::Matches, formatMatchOrders({order(TopDeck, HaltingDeck, 2, 1)})}));
    writeAll(unitFolder("large") / "unit.dat", "matches\n" + std::string(MaxWorkFileBytes, 'x'));
    fs::create_directories(unitFolder("folder") / "unit.dat");
    writeAll(unitFolder("NotAnId") / "unit.dat", "left alone");
    writeAll(unitFolder("made") / ".unit.dat.1.tmp", "a unit being made");

    ClaimSightings sightings;
    std::map<std::string, std::string> errors;
    while (const std::optional<PlayedWork> played =
               playNextWorkUnit(root, catalogue, clock, sightings, 1, std::chrono::seconds(600))) {
        ASSERT_TRUE(played->error) << played->id;
        EXPECT_EQ(workError(answerOf(played->id)), *played->error);
        errors[played->id] = *played->error;
    }
    EXPECT_EQ(errors.size(), 7u);
    for (const char* id : {"cut", "empty", "kind", "nocard", "halts", "large", "folder"})
        EXPECT_TRUE(errors.count(id)) << id;
    EXPECT_NE(errors["cut"].find("cut short"), std::string::npos) << errors["cut"];
    EXPECT_NE(errors["nocard"].find("match 1 deck b"), std::string::npos) << errors["nocard"];
    EXPECT_FALSE(fs::exists(unitFolder("NotAnId") / "answer.dat"));
    EXPECT_FALSE(fs::exists(unitFolder("made") / "answer.dat"));
}

TEST_F(LadderRootTest, TwoRunnersOnOneRootAnswerEveryUnitExactlyOnce) {
    constexpr unsigned Units = 40;
    std::map<std::string, std::string> expected;
    for (unsigned u = 0; u < Units; ++u) {
        const std::vector<MatchOrder> matches = matchesFor(u, 1 + u % 6);
        const std::string id = "unit-" + std::to_string(u);
        submitWork(root, {id, WorkKind::Matches, formatMatchOrders(matches)});
        expected[id] = formatMatchCounts(oneByOne(matches));
    }
    std::vector<std::string> played[2];
    auto runner = [&](int r) {
        ClaimSightings sightings;
        while (const std::optional<PlayedWork> unit =
                   playNextWorkUnit(root, catalogue, systemClock(), sightings, 1, std::chrono::seconds(600)))
            if (unit->placed)
                played[r].push_back(unit->id);
    };
    std::thread first(runner, 0), second(runner, 1);
    first.join();
    second.join();

    std::map<std::string, int> times;
    for (const auto& list : played)
        for (const std::string& id : list)
            ++times[id];
    EXPECT_EQ(times.size(), Units);
    for (const auto& [id, answer] : expected) {
        EXPECT_EQ(times[id], 1) << id;
        EXPECT_EQ(answerOf(id), answer) << id;
        EXPECT_FALSE(fs::exists(unitFolder(id) / ".morvane-claim")) << id;
    }
    EXPECT_EQ(answeredWork(root).size(), Units);
}

TEST_F(LadderRootTest, AClaimLeftByARunnerElsewhereIsTakenOverOnceStaleAndTheUnitAnsweredAlike) {
    const std::vector<MatchOrder> matches = matchesFor(5, 4);
    submitWork(root, {"held", WorkKind::Matches, formatMatchOrders(matches)});
    // A runner on another machine that died mid-unit: only time tells.
    writeAll(unitFolder("held") / ".morvane-claim", claimOf(4242, "1", "another-boot"));
    writeAll(unitFolder("held") / "..morvane-claim.7.tmp", "its temporary file");

    ClaimSightings sightings;
    EXPECT_FALSE(playOneWorkUnit(root, catalogue, clock, sightings, 1, std::chrono::seconds(600)));
    clock.setNow(clock.now() + std::chrono::minutes(11));
    ASSERT_TRUE(playOneWorkUnit(root, catalogue, clock, sightings, 1, std::chrono::seconds(600)));
    EXPECT_EQ(answerOf("held"), formatMatchCounts(oneByOne(matches)));
    EXPECT_FALSE(fs::exists(unitFolder("held") / ".morvane-claim"));
    EXPECT_FALSE(fs::exists(unitFolder("held") / "..morvane-claim.7.tmp"));
}

TEST_F(LadderRootTest, TheWindowsRunnerAndTheSubmitterLeaveLadderWorkAlone) {
    submitWork(root, {"u", WorkKind::Matches, formatMatchOrders(matchesFor(2, 2))});
    dropDecks(0, TopDeck, BottomDeck);
    Random random(5);
    EngineBatchHost host(catalogue, random, rootText(), 3, DefaultMaxTurns);
    BatchOptions options;
    options.stopOnBadRoot = false; // as the window runs it
    BatchRunner runner(host, clock, options);
    std::vector<int> stored;
    for (int i = 0; i < 100000; ++i) {
        const BatchEvent event = runner.step();
        ASSERT_NE(event.kind, BatchEvent::Stopped);
        ASSERT_NE(event.kind, BatchEvent::FolderSkipped);
        if (event.kind == BatchEvent::ReportStored)
            stored.push_back(event.folder->number);
        if (event.kind == BatchEvent::ScanFinished)
            break;
    }
    EXPECT_EQ(stored, std::vector<int>{0});
    std::vector<std::string> inUnit;
    for (const auto& entry : fs::directory_iterator(unitFolder("u")))
        inUnit.push_back(entry.path().filename().string());
    EXPECT_EQ(inUnit, std::vector<std::string>{"unit.dat"}) << "neither claimed nor answered";
    std::vector<std::string> inLadder;
    for (const auto& entry : fs::directory_iterator(root / "ladder"))
        inLadder.push_back(entry.path().filename().string());
    EXPECT_EQ(inLadder, std::vector<std::string>{"work"});

    BatchSubmitter submitter(rootText());
    EXPECT_EQ(submitter.submit(TopDeck, BottomDeck), 1) << "ladder/ is no numbered folder";
    EXPECT_EQ(batchFolderNumber("ladder"), std::nullopt);
}

TEST_F(LadderRootTest, ABattleOfAMatchIsWatchedByItsReportMadeOnRequest) {
    const MatchOrder match = order(TopDeck, OtherBottomDeck, 4, 77);
    const std::vector<MatchCount> counts = oneByOne({match});
    unsigned winsA = 0;
    for (unsigned k = 0; k < match.battles; ++k) {
        const std::string report = matchBattleReport(catalogue, match, k, clock);
        // The same bytes as a battle of the engine from the battle's seed.
        Teams teams;
        teams.side[k % 2] = match.a;
        teams.side[1 - k % 2] = match.b;
        Random random(battleSeed(match.seed, k));
        MemoryReportSink sink;
        Battle battle(catalogue, random, &sink);
        battle.report().setClock(clock);
        winsA += battle.play(teams).wonBy(static_cast<int>(k % 2)) ? 1 : 0;
        EXPECT_EQ(report, sink.text()) << k;
        EXPECT_NE(matchBattleCommand(match, k).find(" --seed " + std::to_string(battleSeed(match.seed, k))),
                  std::string::npos);
    }
    EXPECT_EQ(winsA, counts[0].winsA);
    EXPECT_EQ(matchBattleCommand(match, 1), "morvane-cli battle --top " + formatDeckLine(match.b, 0) + " --bottom " +
                                                formatDeckLine(match.a, 0) + " --seed " +
                                                std::to_string(battleSeed(77, 1)));
    EXPECT_THROW(matchBattleReport(catalogue, match, 4, clock), InputError);
}

} // namespace
} // namespace morvane::test
