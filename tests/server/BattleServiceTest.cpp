// The battle service in this process against a full disk: what a refusal leaves, what
// becomes of a battle whose report could not be stored, and the order of the history
// once numbers are used again.

#include "server/BattleService.h"
#include "batch/BatchScan.h"
#include "batch/StoredReport.h"
#include "common/Errors.h"
#include "common/Json.h"
#include "ladder/LadderWork.h"
#include "server/WebFront.h"
#include "stats/Statistics.h"
#include "tournament/EventWork.h"

#include "batch/BatchTesting.h"
#include "support/Process.h"

#include <httplib.h>

#include <thread>

namespace morvane::test {
namespace {

const std::string Classic = (fs::path(MORVANE_SOURCE_DIR) / "tests" / "data" / "classic" / "card.dat").string();
const std::string Top = "V001C003C011C012C007C021C019C020C005:000";
const std::string Bottom = "V004C018C016C024C022C025C039C044C002:000";

class BattleServiceTest : public BatchFolderTest {
protected:
    ServiceOptions options(int runners, const fs::path& index) const {
        ServiceOptions o;
        o.root = rootText();
        o.cards = Classic;
        o.index = index;
        o.runners = runners;
        o.seed = 1;
        return o;
    }
    // Where the battle stands within the time given, once it is in state (or at the end).
    static BattleView::State waitFor(BattleService& service, int number, BattleView::State state,
                                     std::chrono::milliseconds time) {
        BattleView::State now = BattleView::Waiting;
        for (const auto end = std::chrono::steady_clock::now() + time; std::chrono::steady_clock::now() < end;) {
            if (const std::optional<BattleView> view = service.view(number))
                now = view->state;
            if (now == state)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return now;
    }
    // Battle folders: the ladder keeps its records in a folder of its own.
    size_t folderCount() const {
        size_t count = 0;
        for (const auto& entry : fs::directory_iterator(root))
            count += entry.is_directory() && batchFolderNumber(entry.path().filename().string()).has_value();
        return count;
    }
};

TEST_F(BattleServiceTest, AFullDiskRefusesWithNothingLeftAndAStoredBattleIsPlayedOnceThereIsRoom) {
    // The index in memory, so that only the folders meet the full disk.
    BattleService service(options(1, ":memory:"));
    const auto decks = service.checkDecks(Top, Bottom);
    {
        FileSizeLimit full(16);
        for (int i = 0; i < 3; ++i)
            EXPECT_THROW(service.submit(decks), MorvaneError);
    }
    EXPECT_EQ(folderCount(), 0u) << "a refusal leaves no folder";
    EXPECT_EQ(service.battleCount(), 0);

    // Room for a deck pair and a claim, not for a report: the battle is taken and
    // played, its report refused.
    FileSizeLimit nearlyFull(4096);
    const int number = service.submit(decks);
    EXPECT_EQ(number, 0) << "the refused numbers are used again";
    EXPECT_NE(waitFor(service, number, BattleView::Failed, std::chrono::milliseconds(1500)), BattleView::Failed)
        << "a battle the disk could not take is not failed";
    EXPECT_FALSE(fs::exists(folder(number) / "battle.html"));
    EXPECT_FALSE(fs::exists(folder(number) / ".morvane-claim"));

    // Room again: played and stored without a restart.
    nearlyFull.lift();
    EXPECT_EQ(waitFor(service, number, BattleView::Done, std::chrono::seconds(10)), BattleView::Done);
    EXPECT_TRUE(fs::exists(folder(number) / "battle.html"));
}

TEST_F(BattleServiceTest, AStoredPairIsTakenWhenOnlyTheIndexCannotBeWritten) {
    BattleService service(options(1, base / "index.sqlite"));
    const auto decks = service.checkDecks(Top, Bottom);
    int number = -1;
    {
        // The deck pair fits, the index's pages do not.
        FileSizeLimit full(1024);
        number = service.submit(decks);
    }
    EXPECT_EQ(number, 0);
    EXPECT_EQ(readAll(folder(0) / "deck.dat"), decks.first + "\r\n" + decks.second + "\r\n");
    EXPECT_EQ(waitFor(service, number, BattleView::Done, std::chrono::seconds(10)), BattleView::Done);
}

TEST_F(BattleServiceTest, TheHistoryIsNewestSubmissionFirstWhenNumbersAreUsedAgain) {
    const fs::path index = root / ".morvane-index.sqlite";
    {
        BattleService service(options(0, index));
        const auto decks = service.checkDecks(Top, Bottom);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(service.submit(decks), i);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    // The host clears the two oldest battles; after a restart their numbers go to the
    // next ones, which are still the newest.
    fs::remove_all(folder(0));
    fs::remove_all(folder(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    BattleService service(options(0, index));
    const auto decks = service.checkDecks(Top, Bottom);
    EXPECT_EQ(service.submit(decks), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(service.submit(decks), 1);
    std::vector<int> order;
    for (const BattleEntry& entry : service.history(0, 10))
        order.push_back(entry.number);
    EXPECT_EQ(order, (std::vector<int>{1, 0, 2}));
    // Paged the same way.
    EXPECT_EQ(service.history(1, 1).at(0).number, 0);
}

TEST_F(BattleServiceTest, RunnersPlayLadderWorkOnceNoBattleWaitsAndAnswerEachUnitOnce) {
    // Battles dropped before the start and a ladder unit: with one runner the battles
    // go first, then the unit.
    for (int n = 0; n < 4; ++n)
        dropDecks(n, Top, Bottom);
    CardCatalogue catalogue;
    catalogue.load(Classic);
    std::vector<std::vector<MatchOrder>> units;
    for (uint32_t u = 0; u < 6; ++u) {
        units.push_back(
            {{deckLineIds(Top), deckLineIds(Bottom), 3 + u, u}, {deckLineIds(Bottom), deckLineIds(Top), 2, 9}});
        submitWork(root, {"u" + std::to_string(u), WorkKind::Matches, formatMatchOrders(units.back())});
    }
    auto answer = [&](size_t u) { return root / "ladder" / "work" / ("u" + std::to_string(u)) / "answer.dat"; };
    {
        BattleService service(options(1, ":memory:"));
        for (int i = 0; i < 500 && !fs::exists(answer(units.size() - 1)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (size_t u = 0; u < units.size(); ++u) {
        ASSERT_TRUE(fs::exists(answer(u))) << u;
        EXPECT_EQ(readAll(answer(u)), formatMatchCounts(playMatches(catalogue, units[u], 1)));
        for (int n = 0; n < 4; ++n)
            EXPECT_LE(fs::last_write_time(folder(n) / "battle.html"), fs::last_write_time(answer(u)))
                << "battle " << n << " before unit " << u;
    }
}

TEST_F(BattleServiceTest, AnEventsAnswerIsStoredOnceItsUnitRetiredAndEachBattleWatchedAsTheCliPlaysIt) {
    const FixedClock clock("12:00:00");
    BattleService service(options(0, ":memory:"), clock);
    EventPlan plan;
    plan.name = "test";
    plan.format = TournamentFormat::RoundRobin;
    plan.battles = 1;
    plan.seed = 3;
    for (const std::string& line : {Top, Bottom, Top}) {
        EntrantSource entrant;
        applyDeckLine(line, entrant.team, service.catalogue());
        plan.entrants.push_back(entrant);
    }
    const EventStore::Created created = service.createEvent(plan);
    const fs::path unit = ladderWorkFolder(root) / EventStore::unitId(created.id);
    ASSERT_TRUE(fs::exists(unit));
    // A runner's answer, placed beside its unit.
    const EventRecord waiting = *service.event(created.id);
    writeAll(unit / "answer.dat", *answerEventWork(service.catalogue(), formatEventOrder(waiting.order), 1));
    service.absorbAnsweredWork();
    const EventRecord played = *service.event(created.id);
    ASSERT_EQ(played.state, EventRecord::State::Played);
    EXPECT_FALSE(fs::exists(unit)) << "a counted unit is retired";

    // Best of one: battle 0 of each match decided it, the first entrant on top.
    const std::vector<Match>& round = played.result->rounds.at(0).matches;
    const Match& m = *std::find_if(round.begin(), round.end(), [](const Match& match) { return !match.bye(); });
    const std::string a = formatDeckLine(played.order.request.entrants[m.a], 0);
    const std::string b = formatDeckLine(played.order.request.entrants[m.b], 0);
    const uint32_t seed = battleSeed(m.seed, 0);
    const std::string report = service.replay(service.checkDecks(a, b), seed, service.maxTurns());
    const BattleOutcome outcome = outcomeOfReport(report);
    EXPECT_EQ(outcome.wonBy(0), m.winsA == 1);
    EXPECT_EQ(outcome.wonBy(1), m.winsB == 1);
    const fs::path cliReport = base / "cli.html";
    const ProgramRun cli = runProgram(std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli",
                                      {"battle", "--cards", Classic, "--top", a, "--bottom", b, "--seed",
                                       std::to_string(seed), "--time", "12:00:00", "-o", cliReport.string()});
    ASSERT_NE(cli.out.find("winner="), std::string::npos) << cli.err;
    EXPECT_EQ(readAll(cliReport), report) << "the same battle, byte for byte";
}

// An organizer names ladder entries by number; the event takes each one's team and
// name from the service's own ladder, and a withdrawn entry enters no event.
TEST_F(BattleServiceTest, AnEventOfLadderEntriesShowsTheirNamesAndTeams) {
    BattleService service(options(0, ":memory:"));
    Ladder& ladder = *service.ladder();
    const std::string third = "V007C011C026C005C044C028C034C041C019:000";
    const uint32_t red = ladder.enter("赤の<軍>", deckLineIds(Top), "a").number;
    const uint32_t blue = ladder.enter("青", deckLineIds(Bottom), "a").number;
    const uint32_t green = ladder.enter("緑", deckLineIds(third), "a").number;
    const Ladder::Entered gone = ladder.enter("去った", deckLineIds("V004C005C020C005C028C044C039C028C011:000"), "a");
    ladder.withdraw(gone.number, gone.key);

    WebOptions web;
    web.webFolder = MORVANE_WEB_DIR;
    web.rate = 1000;
    WebFront front(service, web);
    const auto ask = [&](const std::string& method, const std::string& path, const std::string& body,
                         const httplib::Params& params = {}) {
        httplib::Request req;
        req.method = method;
        req.path = path;
        req.body = body;
        req.params = params;
        req.remote_addr = "10.2.2.2";
        httplib::Response res;
        front.answer(req, res);
        return res;
    };
    const auto event = [&](const std::string& id) {
        return Json::parse(ask("GET", "/api/tournaments/" + id, "").body, nullptr, false);
    };

    // The API's entry object, and lines as the form takes them: "#N", and "N NAME".
    const Json entrants =
        Json::array({Json{{"entry", red}}, "#" + std::to_string(blue), std::to_string(green) + " 緑の別名"});
    const httplib::Response created = ask(
        "POST", "/api/tournaments",
        Json{{"name", "ラダー杯"}, {"format", "swiss"}, {"battles", 1}, {"seed", 4}, {"entrants", entrants}}.dump());
    ASSERT_EQ(created.status, 201) << created.body;
    const std::string id = Json::parse(created.body)["id"];
    const Json shown = event(id)["entrants"];
    ASSERT_EQ(shown.size(), 3u) << shown.dump();
    EXPECT_EQ(shown[0]["name"], "赤の<軍>");
    EXPECT_EQ(shown[0]["deck"], Top);
    EXPECT_EQ(shown[1]["name"], "青");
    EXPECT_EQ(shown[1]["deck"], Bottom);
    EXPECT_EQ(shown[2]["name"], "緑の別名");
    EXPECT_EQ(shown[2]["deck"], third);
    const std::string page = ask("GET", "/tournaments/" + id, "").body;
    EXPECT_NE(page.find("赤の&lt;軍&gt;"), std::string::npos);
    EXPECT_EQ(page.find("赤の<軍>"), std::string::npos);
    EXPECT_NE(page.find(cp932ToUtf8(service.catalogue().vehicle(7).name)), std::string::npos) << "the team's cards";

    const httplib::Response form = ask("POST", "/tournaments", "",
                                       {{"name", "フォーム杯"},
                                        {"format", "knockout"},
                                        {"battles", "1"},
                                        {"entrants", "#" + std::to_string(blue) + "\r\n" + std::to_string(red)}});
    ASSERT_EQ(form.status, 201) << form.body;
    const Json fromForm = event(form.get_header_value("Location").substr(std::string("/tournaments/").size()));
    EXPECT_EQ(fromForm["entrants"][0]["name"], "青");
    EXPECT_EQ(fromForm["entrants"][1]["deck"], Top);

    // Withdrawn, or never entered: refused, naming the line.
    for (const uint32_t number : {gone.number, gone.number + 1}) {
        const httplib::Response refused =
            ask("POST", "/api/tournaments",
                Json{{"name", "x"},
                     {"format", "swiss"},
                     {"entrants", Json::array({"#" + std::to_string(red), "#" + std::to_string(number)})}}
                    .dump());
        EXPECT_EQ(refused.status, 400) << number;
        EXPECT_EQ(Json::parse(refused.body, nullptr, false).value("error", ""),
                  "参加チーム 2 行目: そのラダー登録はありません")
            << number;
    }
    EXPECT_EQ(service.eventCount(), 2u);
}

} // namespace
} // namespace morvane::test
