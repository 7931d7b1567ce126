// The ladder's pages and API over a real ladder in a temporary root: what a player
// sends is refused with the status a client can act on, a key is shown only once,
// names are escaped, and the match-ups link to battles that replay their own seeds.

#include "cards/Deck.h"
#include "common/Json.h"
#include "ladder/Ladder.h"
#include "server/WebFront.h"
#include "server/WebText.h"
#include "stats/Statistics.h"

#include "support/Process.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace morvane::test {
namespace {

const std::string Classic =
    (std::filesystem::path(MORVANE_SOURCE_DIR) / "tests" / "data" / "classic" / "card.dat").string();
const std::array<std::string, 4> Teams = {
    "V001C003C011C012C007C021C019C020C005:000", "V004C018C016C024C022C025C039C044C002:000",
    "V007C011C026C005C044C028C034C041C019:000", "V004C005C020C005C028C044C039C028C011:000"};

// Only what the ladder's pages ask of the service.
class LadderDesk final : public BattleDesk {
public:
    explicit LadderDesk(const std::filesystem::path& root) {
        catalogue_.load(Classic);
        ladder_ = std::make_unique<Ladder>(root, catalogue_, clock_);
    }
    std::pair<std::string, std::string> checkDecks(const std::string& top, const std::string& bottom) const override {
        return {top, bottom};
    }
    int submit(const std::pair<std::string, std::string>&) override { return 0; }
    std::optional<BattleView> view(int) override { return std::nullopt; }
    std::vector<BattleEntry> history(int64_t, int) override { return {}; }
    int64_t battleCount() override { return 0; }
    std::optional<std::string> report(int) const override { return std::nullopt; }
    std::string metricsText() override { return {}; }
    std::string replay(const std::pair<std::string, std::string>&, uint32_t, long long) const override { return {}; }
    long long maxTurns() const override { return DefaultMaxTurns; }
    EventStore::Created createEvent(const EventPlan&) override { throw std::logic_error("no events here"); }
    void cancelEvent(const std::string&, std::string_view) override {}
    std::optional<EventRecord> event(const std::string&) override { return std::nullopt; }
    std::vector<EventRecord> events(size_t, size_t) override { return {}; }
    size_t eventCount() override { return 0; }
    const CardCatalogue& catalogue() const override { return catalogue_; }
    const std::array<std::string, 2>& defaultDecks() const override { return decks_; }
    ServiceMetrics& metrics() override { return metrics_; }
    Ladder* ladder() override { return ladder_.get(); }

private:
    FixedClock clock_{"12:00:00", 0, Clock::TimePoint(std::chrono::hours(24 * 20000))};
    CardCatalogue catalogue_;
    std::unique_ptr<Ladder> ladder_;
    std::array<std::string, 2> decks_{Teams[0], Teams[1]};
    ServiceMetrics metrics_;
};

class LadderPagesTest : public ::testing::Test {
protected:
    LadderPagesTest() : desk(root.path()), front(desk, options()) {}
    static WebOptions options() {
        WebOptions o;
        o.webFolder = MORVANE_WEB_DIR;
        o.rate = 1000;
        return o;
    }
    httplib::Response ask(const std::string& method, const std::string& path, const std::string& body = "",
                          const httplib::Params& params = {}, const std::string& cookie = {},
                          const std::string& client = "10.1.1.1") {
        httplib::Request req;
        req.method = method;
        req.path = path;
        req.body = body;
        req.params = params;
        req.remote_addr = client;
        if (!cookie.empty())
            req.headers.emplace("Cookie", cookie);
        httplib::Response res;
        front.answer(req, res);
        return res;
    }
    Json enter(const std::string& name, const std::string& deck, int status = 201) {
        const httplib::Response res = ask("POST", "/api/ladder", Json{{"name", name}, {"deck", deck}}.dump());
        EXPECT_EQ(res.status, status) << res.body;
        return Json::parse(res.body, nullptr, false);
    }
    // Plays every unit the ladder hands out as if a runner had: each match's first
    // entrant wins every battle.
    void playOut(int rounds = 20) {
        Ladder& ladder = *desk.ladder();
        for (int round = 0; round < rounds; ++round) {
            std::vector<AnsweredWork> answers;
            for (WorkUnit& unit : ladder.nextWork(100000)) {
                std::vector<MatchCount> counts;
                for (const MatchOrder& order : parseMatchOrders(unit.body))
                    counts.push_back(MatchCount{order.battles, 0, 0});
                answers.push_back({std::move(unit), formatMatchCounts(counts)});
            }
            if (answers.empty())
                return;
            ladder.absorbAnswers(answers);
        }
    }

    TempFolder root;
    LadderDesk desk;
    WebFront front;
};

TEST_F(LadderPagesTest, AFormEntryShowsItsKeyOnceAndIsMarkedAsTheClientsOwn) {
    enter("先客", Teams[0]);
    const httplib::Response entered = ask("POST", "/ladder", "", {{"name", "テスト隊"}, {"top", Teams[1]}});
    ASSERT_EQ(entered.status, 201) << entered.body;
    std::smatch key;
    ASSERT_TRUE(std::regex_search(entered.body, key, std::regex("id=\"entry-key\">([0-9a-f]{32})<")));
    const std::string location = entered.get_header_value("Location");
    EXPECT_EQ(location, "/ladder/0002");
    const std::string cookie = entered.get_header_value("Set-Cookie");
    ASSERT_NE(cookie.find("morvane_entries=2"), std::string::npos) << cookie;

    const httplib::Response again = ask("GET", location);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body.find(key[1].str()), std::string::npos) << "the key is shown only once";

    const std::string sent = cookie.substr(0, cookie.find(';'));
    const std::string ranking = ask("GET", "/ladder", "", {}, sent).body;
    EXPECT_NE(ranking.find("<tr class=\"own\">"), std::string::npos);
    EXPECT_EQ(ask("GET", "/ladder").body.find("<tr class=\"own\">"), std::string::npos);

    // The key withdraws the entry; a wrong one does not, and says so.
    EXPECT_EQ(ask("POST", location + "/withdraw", "", {{"key", std::string(32, '0')}}).status, 403);
    EXPECT_EQ(desk.ladder()->activeCount(), 2u);
    EXPECT_EQ(ask("POST", location + "/withdraw", "", {{"key", key[1].str()}}).status, 303);
    EXPECT_EQ(desk.ladder()->activeCount(), 1u);
    EXPECT_NE(ask("GET", location).body.find("取り下げ済み"), std::string::npos);
}

TEST_F(LadderPagesTest, EveryRefusalHasTheStatusAClientCanActOnAndNamesAreEscaped) {
    const Json first = enter("<script>alert(1)</script>", Teams[0]);
    const std::string page = ask("GET", "/ladder").body;
    EXPECT_EQ(page.find("<script>alert"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);

    // A team already on the ladder: 409, pointing at the entry that holds it, as a
    // page and in the API.
    const Json duplicate = enter("二番煎じ", Teams[0].substr(0, 36) + ":001", 409);
    EXPECT_EQ(duplicate["entry"], "/ladder/0001");
    const httplib::Response form = ask("POST", "/ladder", "", {{"name", "二番煎じ"}, {"top", Teams[0]}});
    EXPECT_EQ(form.status, 409);
    EXPECT_NE(form.body.find("href=\"/ladder/0001\""), std::string::npos);

    EXPECT_EQ(enter("", Teams[1], 400).count("error"), 1u);
    enter("改行\n入り", Teams[1], 400);
    enter(std::string(200, 'x'), Teams[1], 400);
    enter("名前", "V001Cxyz", 400);
    // In the pages' words, the English detail beside them.
    const httplib::Response array = ask("POST", "/api/ladder", "[1, 2]");
    EXPECT_EQ(array.status, 400);
    EXPECT_EQ(Json::parse(array.body)["error"], web::BadBody);
    EXPECT_TRUE(Json::parse(array.body).contains("detail"));
    EXPECT_EQ(enter("名前", "", 400)["error"], web::NoDeckLine);
    EXPECT_EQ(Json::parse(ask("POST", "/api/ladder", Json{{"name", "名前"}}.dump()).body)["error"], web::NoDeckLine);
    EXPECT_EQ(ask("GET", "/ladder/0099").status, 404);
    EXPECT_EQ(ask("GET", "/api/ladder/abc").status, 404);
    EXPECT_EQ(ask("DELETE", "/api/ladder/0099").status, 404);
    EXPECT_EQ(ask("POST", "/ladder/../etc").status, 404);

    const std::string key = first["key"];
    EXPECT_EQ(ask("DELETE", "/api/ladder/1", Json{{"key", "nope"}}.dump()).status, 403);
    EXPECT_EQ(ask("DELETE", "/api/ladder/1", Json{{"key", key}}.dump()).status, 200);
    EXPECT_EQ(ask("DELETE", "/api/ladder/1", Json{{"key", key}}.dump()).status, 410);

    // A client past its daily limit is told to come back later.
    int status = 0;
    for (unsigned k = 0; k <= 3 * EntriesPerClientPerDay && status != 429; ++k) {
        SideSelection team = deckLineIds(Teams[k % 4]);
        team.characters[7] = static_cast<int32_t>(1 + k);
        status = ask("POST", "/api/ladder", Json{{"name", "n"}, {"deck", formatDeckLine(team, 0)}}.dump(), {}, {},
                     "10.9.9.9")
                     .status;
    }
    EXPECT_EQ(status, 429);
}

// Four entries, every pair met and both battles of each won by one side: two
// battles are no proof, so no rating may claim to be known to the point.
TEST_F(LadderPagesTest, APairOfBattlesAlikeLeavesEveryIntervalOpen) {
    for (size_t k = 0; k < Teams.size(); ++k)
        enter("チーム" + std::to_string(k + 1), Teams[k]);
    playOut(1);
    const Json ranking = Json::parse(ask("GET", "/api/ladder").body, nullptr, false);
    ASSERT_EQ(ranking["entries"].size(), 4u);
    for (const Json& e : ranking["entries"]) {
        ASSERT_EQ(e["opponents"], 3) << e.dump();
        EXPECT_GT(e["interval"][1].get<double>() - e["interval"][0].get<double>(), 0.2) << e.dump();
    }
}

TEST_F(LadderPagesTest, AnEntrysPageAndApiShowItsRatingMatchUpsAndBattlesThatReplayTheirSeeds) {
    for (size_t k = 0; k < Teams.size(); ++k)
        enter("チーム" + std::to_string(k + 1), Teams[k]);
    playOut();
    const Json ranking = Json::parse(ask("GET", "/api/ladder", "", {{"count", "2"}}).body, nullptr, false);
    EXPECT_EQ(ranking["total"], 4);
    ASSERT_EQ(ranking["entries"].size(), 2u);
    EXPECT_EQ(ranking["entries"][0]["rank"], 1);
    EXPECT_GE(ranking["entries"][0]["rating"].get<double>(), ranking["entries"][1]["rating"].get<double>());

    const Json entry = Json::parse(ask("GET", "/api/ladder/2").body, nullptr, false);
    ASSERT_TRUE(entry["match_ups"].is_array());
    ASSERT_FALSE(entry["match_ups"].empty());
    EXPECT_FALSE(entry["history"].empty());
    const Json& m = entry["match_ups"][0];
    const double low = entry["interval"][0], high = entry["interval"][1];
    EXPECT_LE(low, entry["rating"].get<double>());
    EXPECT_GE(high, entry["rating"].get<double>());

    // The first battle of the pair: the first entrant on top, the pair's first seed.
    const std::string page = ask("GET", "/ladder/0002").body;
    const auto seed = battleSeed(m["seed"].get<uint32_t>(), 0);
    EXPECT_NE(page.find("seed=" + std::to_string(seed) + "\""), std::string::npos) << page;
    EXPECT_NE(page.find("<svg class=\"chart\""), std::string::npos);

    // Three opponents: two in the better list, one in the worse, none in both.
    const size_t worse = page.find("相性の悪い相手");
    ASSERT_NE(worse, std::string::npos);
    const std::regex opponent("href=\"/ladder/(\\d{4})\"");
    auto opponents = [&](size_t from, size_t to) {
        std::set<std::string> found;
        const std::string part = page.substr(from, to - from);
        for (auto it = std::sregex_iterator(part.begin(), part.end(), opponent); it != std::sregex_iterator(); ++it)
            found.insert((*it)[1]);
        return found;
    };
    const std::set<std::string> best = opponents(page.find("相性の良い相手"), worse);
    const std::set<std::string> worst = opponents(worse, page.size());
    EXPECT_EQ(best.size(), 2u);
    EXPECT_EQ(worst.size(), 1u);
    for (const std::string& o : worst)
        EXPECT_EQ(best.count(o), 0u) << o;
}

} // namespace
} // namespace morvane::test
