// The web front against a fake service: every route, refusal and failure answered as
// a page or as JSON by the form of its path, without folders, runners or processes;
// and its HTTP server on a loopback socket, against clients that send too much or
// too slowly.

#include "server/WebFront.h"
#include "cards/CardFields.h"
#include "cards/Team.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Html.h"
#include "common/Json.h"
#include "server/ClientGroup.h"
#include "server/HttpServer.h"
#include "server/PageTemplate.h"
#include "server/WebText.h"
#include "stats/Statistics.h"
#include "tournament/EventWork.h"

#include "batch/BatchTesting.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace morvane::test {
namespace {

const std::string Classic = (fs::path(MORVANE_SOURCE_DIR) / "tests" / "data" / "classic" / "card.dat").string();
const std::string Top = "V001C003C011C012C007C021C019C020C005:000";
const std::string Bottom = "V004C018C016C024C022C025C039C044C002:001";

class FakeDesk final : public BattleDesk {
public:
    FakeDesk() {
        catalogue_.load(Classic);
        std::string pattern = (fs::temp_directory_path() / "morvane-front-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("no temporary folder");
        root_ = pattern;
        events_ = std::make_unique<EventStore>(root_, catalogue_, clock_);
    }
    ~FakeDesk() override {
        events_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // The program's own rules, as the service checks a pair.
    std::pair<std::string, std::string> checkDecks(const std::string& top, const std::string& bottom) const override {
        checkPlayable(catalogue_, applyDeckLines(catalogue_, {top, "top deck line"}, {bottom, "bottom deck line"}));
        return {top, bottom};
    }
    int submit(const std::pair<std::string, std::string>& decks) override {
        if (refuseWith)
            std::rethrow_exception(refuseWith);
        submitted.push_back(decks);
        return static_cast<int>(submitted.size()) - 1;
    }
    std::optional<BattleView> view(int number) override {
        for (const BattleEntry& e : entries)
            if (e.number == number) {
                BattleView v;
                v.entry = e;
                v.state = e.state == BattleEntry::Done     ? BattleView::Done
                          : e.state == BattleEntry::Failed ? BattleView::Failed
                                                           : BattleView::Waiting;
                v.place = 1;
                return v;
            }
        return std::nullopt;
    }
    std::vector<BattleEntry> history(int64_t, int) override {
        if (historyFails)
            throw IoError("index", "/srv/morvane/.morvane-index.sqlite\r\nX-Evil: 1");
        return {entries.rbegin(), entries.rend()};
    }
    int64_t battleCount() override { return static_cast<int64_t>(entries.size()); }
    std::optional<std::string> report(int number) const override {
        return number == 0 ? std::optional<std::string>("<html>report</html>") : std::nullopt;
    }
    std::string metricsText() override { return "morvane_queue_length 0\n"; }
    std::string replay(const std::pair<std::string, std::string>& decks, uint32_t seed,
                       long long maxTurns) const override {
        return "<html>" + decks.first + " " + decks.second + " " + std::to_string(seed) + " " +
               std::to_string(maxTurns) + "</html>";
    }
    long long maxTurns() const override { return 500; }
    EventStore::Created createEvent(const EventPlan& plan) override { return events_->create(plan, 500); }
    void cancelEvent(const std::string& id, std::string_view key) override { events_->cancel(id, key); }
    std::optional<EventRecord> event(const std::string& id) override { return events_->event(id); }
    std::vector<EventRecord> events(size_t first, size_t count) override { return events_->list(first, count); }
    size_t eventCount() override { return events_->count(); }
    // What a runner and the service's absorbing step do with an event's unit.
    void play(const std::string& id) {
        const std::string body = formatEventOrder(events_->event(id)->order);
        events_->absorb({{{EventStore::unitId(id), WorkKind::Event, body}, *answerEventWork(catalogue_, body, 1)}});
    }
    const CardCatalogue& catalogue() const override { return catalogue_; }
    const std::array<std::string, 2>& defaultDecks() const override { return decks_; }
    ServiceMetrics& metrics() override { return metrics_; }

    std::vector<BattleEntry> entries;
    std::vector<std::pair<std::string, std::string>> submitted;
    std::exception_ptr refuseWith;
    bool historyFails = false;

private:
    CardCatalogue catalogue_;
    std::array<std::string, 2> decks_{Top, Bottom};
    ServiceMetrics metrics_;
    FixedClock clock_{"12:00:00", 0, Clock::TimePoint(std::chrono::seconds(1800000000))};
    fs::path root_;
    std::unique_ptr<EventStore> events_;
};

BattleEntry entry(int number, BattleEntry::State state) {
    BattleEntry e;
    e.number = number;
    e.top = Top;
    e.bottom = Bottom;
    e.state = state;
    if (state == BattleEntry::Done) {
        e.outcome.status = BattleStatus::Ended;
        e.outcome.winner = 1;
        e.outcome.turns = 27;
    }
    if (state == BattleEntry::Failed)
        e.problem = "0002/deck.dat: bad";
    return e;
}

class WebFrontTest : public ::testing::Test {
protected:
    WebFrontTest() : front(desk, options(), clock) {
        desk.entries = {entry(0, BattleEntry::Done), entry(1, BattleEntry::Waiting), entry(2, BattleEntry::Failed)};
    }
    static WebOptions options() {
        WebOptions o;
        o.webFolder = MORVANE_WEB_DIR;
        o.rate = 2;
        return o;
    }
    httplib::Response ask(const std::string& method, const std::string& path, const std::string& body = "",
                          const httplib::Params& params = {}) {
        httplib::Request req;
        req.method = method;
        req.path = path;
        req.body = body;
        req.params = params;
        req.remote_addr = from;
        httplib::Response res;
        front.answer(req, res);
        return res;
    }
    static Json json(const httplib::Response& res) { return Json::parse(res.body, nullptr, false); }

    FixedClock clock{"12:00:00"};
    FakeDesk desk;
    WebFront front;
    std::string from = "10.1.1.1"; // the address requests come from
};

TEST_F(WebFrontTest, EveryPathAnswersAsItsRouteSaysAndUnknownOnesInTheFormOfTheirPath) {
    EXPECT_NE(ask("GET", "/").body.find("id=\"top_v\""), std::string::npos);
    EXPECT_EQ(ask("GET", "/healthz").body, "ok\n");
    EXPECT_EQ(ask("GET", "/metrics").body, "morvane_queue_length 0\n");
    EXPECT_NE(ask("GET", "/battles").body.find("/battles/0002"), std::string::npos);
    EXPECT_EQ(ask("HEAD", "/battles/0000/report").body, "<html>report</html>");
    EXPECT_NE(ask("GET", "/battles/0000").body.find("/battles/0000/report"), std::string::npos);
    EXPECT_EQ(ask("GET", "/static/app.js").get_header_value("Content-Type"), "text/javascript; charset=utf-8");
    for (const char* icon : {"/favicon.ico", "/static/icon.svg"}) {
        const httplib::Response res = ask("GET", icon);
        EXPECT_EQ(res.status, -1) << icon; // the library makes it 200
        EXPECT_EQ(res.get_header_value("Content-Type"), "image/svg+xml") << icon;
        EXPECT_NE(res.body.find("<svg"), std::string::npos) << icon;
    }

    // Under /api/ every refusal is JSON, elsewhere a page; a number is a folder name.
    for (const char* path :
         {"/api/battles/0009", "/api/battles/9", "/api/battles/abc", "/api/nothing", "/api/battles/0000/report"}) {
        const httplib::Response res = ask("GET", path);
        EXPECT_EQ(res.status, 404) << path;
        EXPECT_EQ(json(res)["error"], "ページが見つかりません") << path;
    }
    for (const char* path : {"/battles/9", "/battles/0009", "/battles/0001/report", "/static/builder.html", "/nothing",
                             "/battles/0000/reportx"}) {
        const httplib::Response res = ask("GET", path);
        EXPECT_EQ(res.status, 404) << path;
        EXPECT_NE(res.body.find("<html lang=\"ja\">"), std::string::npos) << path;
    }

    // Other methods: 405 and what the path allows.
    for (const char* method : {"PUT", "PATCH", "DELETE", "OPTIONS"}) {
        const httplib::Response api = ask(method, "/api/battles");
        EXPECT_EQ(api.status, 405) << method;
        EXPECT_EQ(api.get_header_value("Allow"), "GET, HEAD, POST") << method;
        EXPECT_TRUE(json(api).contains("error")) << method;
        const httplib::Response page = ask(method, "/battles/0000");
        EXPECT_EQ(page.status, 405) << method;
        EXPECT_EQ(page.get_header_value("Allow"), "GET, HEAD") << method;
    }
    EXPECT_EQ(ask("POST", "/healthz").status, 405);
    EXPECT_TRUE(desk.submitted.empty());
}

TEST_F(WebFrontTest, TheHistoryApiCarriesEachBattlesStateAndResult) {
    const Json history = json(ask("GET", "/api/battles"));
    ASSERT_EQ(history["battles"].size(), 3u);
    EXPECT_EQ(history["total"], 3);
    const Json& failed = history["battles"][0];
    EXPECT_EQ(failed["state"], "failed");
    EXPECT_EQ(failed["error"], "0002/deck.dat: bad");
    EXPECT_FALSE(failed.contains("winner"));
    const Json& waiting = history["battles"][1];
    EXPECT_EQ(waiting["state"], "waiting");
    EXPECT_FALSE(waiting.contains("winner"));
    const Json& done = history["battles"][2];
    EXPECT_EQ(done["state"], "done");
    EXPECT_EQ(done["winner"], "bottom");
    EXPECT_EQ(done["turns"], 27);
    EXPECT_EQ(done["report"], "/battles/0000/report");
    // The battle's own answer says the same.
    EXPECT_EQ(json(ask("GET", "/api/battles/0000")), (Json{{"number", 0},
                                                           {"url", "/battles/0000"},
                                                           {"state", "done"},
                                                           {"top", Top},
                                                           {"bottom", Bottom},
                                                           {"winner", "bottom"},
                                                           {"turns", 27},
                                                           {"report", "/battles/0000/report"}}));
}

TEST_F(WebFrontTest, RefusalsAndFailuresHaveABodyInTheFormOfThePathAndNoDetail) {
    const std::string pair = Json{{"top", Top}, {"bottom", Bottom}}.dump();
    // The library's own refusals get our words.
    for (const auto& [path, api] : {std::pair{"/api/battles", true}, std::pair{"/battles", false}}) {
        httplib::Request req;
        req.path = path;
        for (const int status : {400, 413, 500}) {
            httplib::Response res;
            res.status = status;
            front.fillError(req, res);
            EXPECT_FALSE(res.body.empty()) << path << status;
            EXPECT_EQ(json(res).is_object(), api) << path << status;
        }
        // An exception: 500 with our words; its text, which may name the host's
        // files or carry any byte, goes to the log only.
        httplib::Response res;
        front.failed(req, res, std::make_exception_ptr(IoError("x", "/srv/secret\r\nX: 1")));
        EXPECT_EQ(res.status, 500);
        EXPECT_EQ(res.body.find("secret"), std::string::npos);
        EXPECT_EQ(api ? json(res)["error"].get<std::string>() : res.body.substr(0, 16),
                  api ? "サーバーで問題が起きました。しばらくしてから試してください" : "<!DOCTYPE html>\n");
    }

    // Storage that fails (a full disk): 503 and when to try again, not a 500.
    desk.refuseWith = std::make_exception_ptr(IoError("full", "0003/deck.dat"));
    const httplib::Response full = ask("POST", "/api/battles", pair);
    EXPECT_EQ(full.status, 503);
    EXPECT_EQ(full.get_header_value("Retry-After"), "30");
    EXPECT_FALSE(full.has_header("Location"));
    desk.refuseWith = std::make_exception_ptr(QueueFullError());
    const httplib::Response queue = ask("POST", "/battles", "", {{"top", Top}, {"bottom", Bottom}});
    EXPECT_EQ(queue.status, 503);
    EXPECT_EQ(queue.get_header_value("Retry-After"), "5");
    EXPECT_NE(queue.body.find("順番待ちがいっぱい"), std::string::npos);
}

TEST_F(WebFrontTest, TheRateLimitFollowsTheClockItIsGiven) {
    const std::string pair = Json{{"top", Top}, {"bottom", Bottom}}.dump();
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 201);
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 201);
    const httplib::Response limited = ask("POST", "/api/battles", pair);
    EXPECT_EQ(limited.status, 429);
    EXPECT_EQ(limited.get_header_value("Retry-After"), "1");
    // Half a second at two a second is one more; a clock set back takes none away.
    clock.setNow(clock.now() + std::chrono::milliseconds(500));
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 201);
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 429);
    clock.setNow(clock.now() - std::chrono::hours(1));
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 429);
    clock.setNow(clock.now() + std::chrono::hours(1) + std::chrono::seconds(1));
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 201);
    EXPECT_EQ(desk.submitted.size(), 4u);
}

TEST(ClientGroup, AnIPv6ClientIsItsSlash64AndAMappedIPv4OneItsAddress) {
    EXPECT_EQ(clientGroup("10.1.1.1"), "10.1.1.1");
    EXPECT_EQ(clientGroup("2001:db8:1:2::a"), "2001:db8:1:2::/64");
    EXPECT_EQ(clientGroup("2001:DB8:1:2:ffff:ffff:ffff:1"), "2001:db8:1:2::/64");
    EXPECT_EQ(clientGroup("2001:db8:1:3::a"), "2001:db8:1:3::/64");
    EXPECT_EQ(clientGroup("::1"), "::/64");
    EXPECT_EQ(clientGroup("::ffff:10.1.1.1"), "10.1.1.1");
    // Not an address (a proxy's word, cut to 64 bytes): counted as written.
    EXPECT_EQ(clientGroup("unknown"), "unknown");
    EXPECT_EQ(clientGroup("2001:db8::zz"), "2001:db8::zz");
    EXPECT_EQ(clientGroup(""), "");
}

TEST_F(WebFrontTest, AnIPv6ClientHasOneLimitForItsWholeSlash64) {
    const std::string pair = Json{{"top", Top}, {"bottom", Bottom}}.dump();
    from = "2001:db8:1:2::a";
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 201);
    from = "2001:db8:1:2::b";
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 201);
    from = "2001:db8:1:2:ffff:ffff:ffff:1";
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 429);
    from = "2001:db8:1:3::a";
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 201);
    from = "10.1.1.1";
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 201);
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 201);
    from = "::ffff:10.1.1.1";
    EXPECT_EQ(ask("POST", "/api/battles", pair).status, 429);
}

// A card's name and stats as our pages show them.
std::string shownName(const cardRecordType& card) {
    return escapeHtml(cp932ToUtf8(card.name));
}
std::string shownStats(const cardRecordType& card) {
    return escapeHtml(cp932ToUtf8(cardStatText(card.line)));
}

TEST_F(WebFrontTest, TeamsAreShownByCardNameStatsAndSizeOnTheBattleHistoryAndRefusalPages) {
    const CardCatalogue& cards = desk.catalogue();
    // A team over its vehicle's deck size: the smallest vehicle, the largest characters.
    SideSelection big;
    for (const SelectorEntry& v : cards.vehicleEntries())
        if (big.vehicle == 0 || cards.vehicle(v.id).size < cards.vehicle(big.vehicle).size)
            big.vehicle = v.id;
    int32_t largest = 0;
    for (const SelectorEntry& c : cards.characterEntries())
        if (largest == 0 || cards.character(c.id).size > cards.character(largest).size)
            largest = c.id;
    big.characters.fill(largest);
    ASSERT_GT(sizeTotal(cards, big), deckSize(cards, big));
    desk.entries[1].top = formatDeckLine(big, 0);
    const std::string why = "デッキサイズ" + std::to_string(deckSize(cards, big)) + "を" +
                            std::to_string(sizeTotal(cards, big) - deckSize(cards, big)) + "超えています";

    SideSelection bottom;
    applyDeckLine(Bottom, bottom, cards);
    for (const char* path : {"/battles/0000", "/battles"}) {
        const std::string page = ask("GET", path).body;
        // The bottom team of every battle: its vehicle and characters by name and stats,
        // its size, and the deck line still there to copy.
        EXPECT_NE(page.find(shownName(cards.vehicle(bottom.vehicle))), std::string::npos) << path;
        for (const int32_t id : bottom.characters) {
            EXPECT_NE(page.find(shownName(cards.character(id))), std::string::npos) << path << " " << id;
            EXPECT_NE(page.find(shownStats(cards.character(id))), std::string::npos) << path << " " << id;
        }
        EXPECT_NE(page.find(sizeText(cards, bottom)), std::string::npos) << path;
        EXPECT_NE(page.find("<code>" + Bottom + "</code>"), std::string::npos) << path;
    }
    EXPECT_NE(ask("GET", "/battles").body.find(why), std::string::npos) << "an over-size team says why";
    EXPECT_NE(ask("GET", "/battles/0001").body.find(why), std::string::npos);
    EXPECT_EQ(ask("GET", "/battles/0000").body.find("超えています"), std::string::npos);

    // The builder says it of a team it starts from, beside the red size.
    const std::string builder = ask("GET", "/", "", {{"top", formatDeckLine(big, 0)}}).body;
    EXPECT_NE(builder.find("class=\"size over\" id=\"top_size\""), std::string::npos);
    EXPECT_NE(builder.find("id=\"top_why\" aria-live=\"polite\">" + why + "<"), std::string::npos);
    EXPECT_NE(builder.find("id=\"bottom_why\" aria-live=\"polite\"><"), std::string::npos);

    // A refused form shows both teams as sent: the card missing is named where it stands.
    const std::string missing = Top.substr(0, 4) + "C999" + Top.substr(8);
    const httplib::Response refused = ask("POST", "/battles", "", {{"top", missing}, {"bottom", Bottom}});
    EXPECT_EQ(refused.status, 400);
    EXPECT_NE(refused.body.find("&#39;C999&#39; はカード一覧にありません</span>"), std::string::npos) << refused.body;
    EXPECT_NE(refused.body.find(shownName(cards.vehicle(bottom.vehicle))), std::string::npos);
}

TEST_F(WebFrontTest, ABadDeckLineIsNamedByItsIdInJapaneseForTheBuilderAndTheRefusalPage) {
    const std::string missing = Top.substr(0, 4) + "C999" + Top.substr(8);
    const std::string missingVehicle = "V999" + Top.substr(4);
    const std::string shortLast = Top.substr(0, 35);
    const std::string notNumber = "V001Cxyz" + Top.substr(8);
    struct Case {
        std::string line;
        std::string problem;
    };
    for (const Case& c :
         {Case{missing, "'C999' はカード一覧にありません"}, Case{missingVehicle, "'V999' はカード一覧にありません"},
          Case{shortLast, "'C00' はカード番号の桁が足りません"}, Case{notNumber, "'xyz' は整数ではありません"}}) {
        // The builder's box asks while the player stays in the builder.
        const httplib::Response checked = ask("GET", "/api/deckline", "", {{"line", c.line}});
        EXPECT_EQ(checked.status, 400) << c.line;
        EXPECT_EQ(json(checked)["error"], c.problem) << c.line;
        // The form's refusal says the same, of the side it is on, in Japanese only.
        clock.setNow(clock.now() + std::chrono::seconds(1));
        const httplib::Response page = ask("POST", "/battles", "", {{"top", Top}, {"bottom", c.line}});
        EXPECT_EQ(page.status, 400) << c.line;
        EXPECT_NE(page.body.find(escapeHtml("下チームのデッキ行: " + c.problem)), std::string::npos) << page.body;
        EXPECT_EQ(page.body.find("deck line"), std::string::npos) << c.line;
    }
    // The API keeps the command line tool's words.
    clock.setNow(clock.now() + std::chrono::seconds(1));
    const httplib::Response api = ask("POST", "/api/battles", Json{{"top", missing}, {"bottom", Bottom}}.dump());
    EXPECT_EQ(json(api)["error"], "C01のカードが選ばれていません");
    // A line that is fine gives the ids it selects.
    const Json fine = json(ask("GET", "/api/deckline", "", {{"line", Bottom}}));
    EXPECT_EQ(fine["vehicle"], 4);
    EXPECT_EQ(fine["characters"], (Json{18, 16, 24, 22, 25, 39, 44, 2}));
    EXPECT_TRUE(desk.submitted.empty());
}

// Tournaments: the API from creation to cancellation, the pages of a played event, and
// every refusal with its reason and status.
class TournamentFront : public WebFrontTest {
protected:
    // Each request a second after the last, clear of the rate limit.
    httplib::Response send(const std::string& method, const std::string& path, const std::string& body = "",
                           const httplib::Params& params = {}, const std::string& key = "") {
        clock.setNow(clock.now() + std::chrono::seconds(1));
        httplib::Request req;
        req.method = method;
        req.path = path;
        req.body = body;
        req.params = params;
        req.remote_addr = "10.1.1.2";
        if (!key.empty())
            req.set_header("X-Organizer-Key", key);
        httplib::Response res;
        front.answer(req, res);
        return res;
    }
    static std::string body(const std::string& format, const Json& entrants, unsigned battles = 3) {
        return Json{
            {"name", "春の<大会>"}, {"format", format}, {"battles", battles}, {"seed", 9}, {"entrants", entrants}}
            .dump();
    }
    static Json fiveEntrants() {
        return Json::array({Top + " 赤の<軍>", Bottom, Json{{"deck", Top}, {"name", "青"}}, Bottom + " 緑", Top});
    }
};

TEST_F(TournamentFront, TheApiCreatesListsShowsAndCancelsOnlyWithTheKey) {
    const httplib::Response created = send("POST", "/api/tournaments", body("swiss", fiveEntrants()));
    ASSERT_EQ(created.status, 201) << created.body;
    const Json answer = json(created);
    const std::string id = answer["id"];
    const std::string key = answer["key"];
    EXPECT_EQ(answer["url"], "/tournaments/" + id);
    EXPECT_EQ(created.get_header_value("Location"), "/tournaments/" + id);
    EXPECT_EQ(key.size(), 32u);

    const Json list = json(send("GET", "/api/tournaments"));
    ASSERT_EQ(list["tournaments"].size(), 1u);
    EXPECT_EQ(list["tournaments"][0]["name"], "春の<大会>");
    EXPECT_EQ(list["tournaments"][0]["state"], "waiting");
    EXPECT_FALSE(list.dump().find(key) != std::string::npos) << "the key is shown once";
    const Json event = json(send("GET", "/api/tournaments/" + id));
    EXPECT_EQ(event["entrants"][0]["name"], "赤の<軍>");
    EXPECT_EQ(event["entrants"][2]["name"], "青");
    EXPECT_EQ(event["format"], "swiss");

    EXPECT_EQ(send("DELETE", "/api/tournaments/" + id).status, 403);
    EXPECT_EQ(send("DELETE", "/api/tournaments/" + id, "", {}, std::string(32, '0')).status, 403);
    EXPECT_EQ(send("DELETE", "/api/tournaments/000000000000", "", {}, key).status, 404);
    EXPECT_EQ(send("DELETE", "/api/tournaments/../../etc", "", {}, key).status, 405);
    const httplib::Response cancelled = send("DELETE", "/api/tournaments/" + id, "", {{"key", key}});
    EXPECT_EQ(cancelled.status, 200);
    EXPECT_EQ(json(send("GET", "/api/tournaments/" + id))["state"], "cancelled");
    const httplib::Response again = send("DELETE", "/api/tournaments/" + id, "", {}, key);
    EXPECT_EQ(again.status, 409);
    EXPECT_EQ(json(again)["error"], "大会はもう取り消されています");

    // Played: too late to cancel, and the result is all there.
    const std::string played = json(send("POST", "/api/tournaments", body("knockout", fiveEntrants())))["id"];
    desk.play(played);
    const Json result = json(send("GET", "/api/tournaments/" + played));
    EXPECT_EQ(result["state"], "played");
    EXPECT_EQ(result["standings"].size(), 5u);
    EXPECT_EQ(result["rounds_played"].size(), 3u) << "five entrants: a bracket of eight";
    const Json& final = result["rounds_played"][2][0];
    EXPECT_EQ(final["watch"].size(), final["played"]);
    EXPECT_EQ(result["champion"], final["winner"]);
    const httplib::Response late = send("POST", "/tournaments/" + played + "/cancel", "", {{"key", "x"}});
    EXPECT_EQ(late.status, 403);
}

TEST_F(TournamentFront, APlayedEventShowsItsTeamsStandingsBracketAndABattleOfEachMatchToWatch) {
    const httplib::Response form =
        send("POST", "/tournaments", "",
             {{"name", "春の<大会>"},
              {"format", "swiss"},
              {"battles", "3"},
              {"rounds", "2"},
              {"entrants", Top + " 赤の<軍>\r\n" + Bottom + "\r\n\r\n" + Top + "\r\n" + Bottom}});
    ASSERT_EQ(form.status, 201) << form.body;
    EXPECT_NE(form.body.find("id=\"organizer-key\""), std::string::npos) << "the key, on this answer only";
    const std::string id = form.get_header_value("Location").substr(std::string("/tournaments/").size());
    EXPECT_EQ(send("GET", "/tournaments/" + id).body.find("id=\"organizer-key\""), std::string::npos);
    EXPECT_NE(send("GET", "/tournaments").body.find("春の&lt;大会&gt;"), std::string::npos);

    desk.play(id);
    const std::string page = send("GET", "/tournaments/" + id).body;
    EXPECT_EQ(page.find("<大会>"), std::string::npos) << "names are escaped";
    EXPECT_NE(page.find("#1 赤の&lt;軍&gt;"), std::string::npos);
    EXPECT_NE(page.find("ブッフホルツ"), std::string::npos);
    EXPECT_NE(page.find("ゾンネボーン・ベルガー"), std::string::npos);
    EXPECT_NE(page.find("優勝"), std::string::npos);
    // Teams by their cards' names and stats, never the ids alone.
    const cardRecordType& vehicle = desk.catalogue().vehicle(1);
    EXPECT_NE(page.find(shownName(vehicle)), std::string::npos);
    EXPECT_NE(page.find(shownStats(desk.catalogue().character(3))), std::string::npos);
    // The first battle of the first match, as the link names it, and its replay.
    const EventRecord event = *desk.event(id);
    const Match& m = event.result->rounds[0].matches[0];
    const std::string top = formatDeckLine(event.order.request.entrants[m.a], 0);
    const std::string bottom = formatDeckLine(event.order.request.entrants[m.b], 0);
    const std::string seed = std::to_string(battleSeed(m.seed, 0));
    EXPECT_NE(page.find("/watch?top=" + top + "&amp;bottom=" + bottom + "&amp;seed=" + seed + "&amp;turns=500"),
              std::string::npos);
    const httplib::Response watched =
        send("GET", "/watch", "", {{"top", top}, {"bottom", bottom}, {"seed", seed}, {"turns", "500"}});
    EXPECT_EQ(watched.body, "<html>" + top + " " + bottom + " " + seed + " 500</html>");
    EXPECT_EQ(watched.get_header_value("Content-Security-Policy"), "sandbox");

    // A knockout draws its bracket.
    const std::string knockout = json(send("POST", "/api/tournaments", body("knockout", fiveEntrants())))["id"];
    desk.play(knockout);
    const std::string bracket = send("GET", "/tournaments/" + knockout).body;
    EXPECT_NE(bracket.find("class=\"bracket\""), std::string::npos);
    EXPECT_NE(bracket.find("決勝"), std::string::npos);
    EXPECT_NE(bracket.find(web::Bye), std::string::npos) << "five entrants: three byes";
}

TEST_F(TournamentFront, EveryRefusalSaysWhyWithItsStatus) {
    const auto refusal = [&](const std::string& text) {
        const httplib::Response res = send("POST", "/api/tournaments", text);
        return std::pair<int, std::string>{res.status, json(res).value("error", std::string())};
    };
    EXPECT_EQ(refusal("nonsense"), (std::pair<int, std::string>{400, std::string(web::BadBody)}));
    EXPECT_EQ(json(send("POST", "/api/battles", "{\"top\": 1}"))["error"], web::BadBody);
    EXPECT_EQ(refusal(body("swiss", Json::array({Top}))),
              (std::pair<int, std::string>{400, "参加チームは2〜256にしてください"}));
    EXPECT_EQ(refusal(body("ladder", fiveEntrants())).first, 400);
    EXPECT_EQ(refusal(body("swiss", fiveEntrants(), 100)).second, std::string(web::EventBattles));
    Json tooManyRounds = Json::parse(body("swiss", fiveEntrants()));
    tooManyRounds["rounds"] = 6;
    EXPECT_EQ(refusal(tooManyRounds.dump()).second, std::string(web::EventRounds));
    EXPECT_EQ(refusal(body("swiss", Json::array({Top, "V001C003", Bottom}))),
              (std::pair<int, std::string>{400, "参加チーム 2 行目: デッキ行でもラダーの登録番号でもありません"}));
    EXPECT_EQ(refusal(body("swiss", Json::array({Top, "#12"}))),
              (std::pair<int, std::string>{400, "参加チーム 2 行目: そのラダー登録はありません"}));
    EXPECT_EQ(refusal(body("swiss", Json::array({Top, Json{{"deck", Bottom}, {"name", "a\nb"}}}))).first, 400);
    Json longName = Json::parse(body("swiss", fiveEntrants()));
    longName["name"] = std::string(61, 'x');
    EXPECT_EQ(refusal(longName.dump()).first, 400);
    EXPECT_EQ(desk.eventCount(), 0u) << "a refusal stores nothing";

    // A refused form keeps what was typed beside the reason.
    const httplib::Response form =
        send("POST", "/tournaments", "",
             {{"name", "秋"}, {"format", "knockout"}, {"battles", "3"}, {"entrants", Top + "\n<b>x</b>"}});
    EXPECT_EQ(form.status, 400);
    EXPECT_NE(form.body.find("参加チーム 2 行目"), std::string::npos);
    EXPECT_NE(form.body.find("&lt;b&gt;x&lt;/b&gt;</textarea>"), std::string::npos);
    EXPECT_NE(form.body.find("value=\"knockout\" selected"), std::string::npos);

    // Past the battle limit only an event's creation may send so much.
    std::string many;
    for (int i = 0; i < 200; ++i)
        many += Top + " チーム" + std::to_string(i) + "\n";
    const httplib::Response large = send(
        "POST", "/tournaments", many, {{"name", "大"}, {"format", "knockout"}, {"battles", "1"}, {"entrants", many}});
    EXPECT_EQ(large.status, 201);
    EXPECT_EQ(send("POST", "/api/battles", many).status, 413);

    EXPECT_EQ(send("GET", "/tournaments/000000000000").status, 404);
    EXPECT_EQ(send("GET", "/api/tournaments/nothing").status, 404);
    EXPECT_EQ(send("PUT", "/api/tournaments").get_header_value("Allow"), "GET, HEAD, POST");
    EXPECT_EQ(send("GET", "/watch", "", {{"top", Top}, {"bottom", Bottom}, {"seed", "4294967296"}}).status, 400);
    EXPECT_EQ(send("GET", "/watch", "", {{"top", Top}, {"bottom", "V001"}, {"seed", "1"}}).status, 400);
    EXPECT_EQ(send("GET", "/watch", "", {{"top", Top}, {"bottom", Bottom}, {"seed", "1"}, {"turns", "0"}}).status, 400);
}

TEST(PageTemplate, PartsRepeatPerFillAndNamesAreLookedUpFromTheInnermostFillOut) {
    PageFill fill{{{"page", "2"}, {"title", "T"}}, {}};
    fill.lists["rows"] = {PageFill{{{"name", "a"}}, {}}, PageFill{{{"name", "b"}, {"page", "9"}}, {}}};
    fill.lists["rows"][1].lists["mark"] = PageFill::shown(true);
    fill.lists["none"] = {};
    EXPECT_EQ(fillPage("{{title}}:{{#rows}}<{{name}}{{page}}{{#mark}}!{{/mark}}>{{/rows}}{{#none}}x{{/none}}{{page}}"
                       "{{unknown}}",
                       fill),
              "T:<a2><b9!>2");
    // Text that only looks like a place stays as it is.
    EXPECT_EQ(fillPage("a {{ b", fill), "a {{ b");
    EXPECT_EQ(fillPage("{{#rows}}unclosed", fill), "unclosed");
}

TEST(HttpHead, AHeadIsWholeAtItsBlankLineAndTooLargePastEitherLimit) {
    ConnectionLimits limits;
    limits.headBytes = 64;
    limits.headerCount = 3;
    EXPECT_EQ(checkHead("GET / HTTP/1.1\r\nHost: a\r\n", limits), HeadState::Incomplete);
    EXPECT_EQ(checkHead("GET / HTTP/1.1\r\nHost: a\r\n\r\nbody", limits), HeadState::Whole);
    EXPECT_EQ(checkHead("GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\n", limits), HeadState::Whole);
    EXPECT_EQ(checkHead("GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n", limits), HeadState::TooLarge);
    EXPECT_EQ(checkHead("GET /" + std::string(60, 'a') + "\r\n\r\n", limits), HeadState::TooLarge);
    EXPECT_EQ(checkHead("GET /" + std::string(59, 'a') + "\r\n\r\n" + std::string(100, 'b'), limits), HeadState::Whole);
    EXPECT_EQ(checkHead(std::string(65, 'a'), limits), HeadState::TooLarge);
}

// The front on a loopback socket, answering until the test ends.
class ServedFront : public WebFrontTest {
protected:
    ServedFront() {
        port = front.bind("127.0.0.1", 0);
        serving = std::thread([this] { front.listen(); });
    }
    ~ServedFront() override {
        front.stop();
        serving.join();
    }

public:
    static int connectTo(int port, const char* from) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (from) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &source.sin_addr);
            EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source), 0); // NOLINT
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0); // NOLINT
        return fd;
    }

protected:
    // A connection from a loopback address of its own (127.0.0.N): another client.
    int connect(const char* from = nullptr) const { return connectTo(port, from); }
    // What the server sends until it closes, or for at most the time given.
    static std::string readAnswer(int fd, int milliseconds = 5000) {
        std::string answer;
        char buffer[4096];
        for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, milliseconds) > 0;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            answer.append(buffer, static_cast<size_t>(n));
        }
        return answer;
    }
    static long residentKb() {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0)
                return std::stol(line.substr(6));
        return 0;
    }

    int port = 0;
    std::thread serving;
};

TEST_F(ServedFront, EndlessHeadersAreRefusedWith431WithoutBeingKept) {
    const long before = residentKb();
    // Two megabytes of tiny headers: kept by the library, each would cost a map
    // entry of some hundred bytes.
    const int fd = connect();
    std::thread sender([fd] {
        const std::string head = "GET /api/battles HTTP/1.1\r\nHost: a\r\n";
        std::string lines;
        for (int i = 0; i < 4096; ++i)
            lines += "X: y\r\n";
        (void)::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        for (int i = 0; i < 80; ++i)
            if (::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL) < 0)
                break;
        ::shutdown(fd, SHUT_WR);
    });
    const std::string answer = readAnswer(fd);
    sender.join();
    ::close(fd);
    EXPECT_EQ(answer.substr(0, 44), "HTTP/1.1 431 Request Header Fields Too Large") << answer.substr(0, 200);
    EXPECT_NE(answer.find("{\"error\":"), std::string::npos);
    EXPECT_LT(residentKb() - before, 8 * 1024);

    // A request within the limits is answered as ever.
    httplib::Client client("127.0.0.1", port);
    httplib::Headers headers;
    for (int i = 0; i < 90; ++i)
        headers.emplace("X-" + std::to_string(i), std::string(100, 'v'));
    const httplib::Result ok = client.Get("/healthz", headers);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 200);
    // So is one whose client closes its side once the request is sent.
    const int halfClosed = connect();
    (void)::send(halfClosed, "GET /healthz HTTP/1.1\r\nHost: a\r\n\r\n", 35, MSG_NOSIGNAL);
    ::shutdown(halfClosed, SHUT_WR);
    EXPECT_EQ(readAnswer(halfClosed).substr(0, 15), "HTTP/1.1 200 OK");
    ::close(halfClosed);
}

TEST_F(ServedFront, ClientsThatSendSlowlyOrStayIdleKeepNobodyWaiting) {
    // 200 connections sending a head a byte at a time, 100 kept alive and idle: more
    // than there are workers.
    // Many clients, each under its bound of connections.
    const std::array<const char*, 5> clients{"127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14", "127.0.0.15"};
    std::vector<int> slow;
    for (int i = 0; i < 200; ++i) {
        slow.push_back(connect(clients[static_cast<size_t>(i) % 5]));
        (void)::send(slow.back(), "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
    }
    std::vector<int> idle;
    for (int i = 0; i < 100; ++i) {
        idle.push_back(connect(clients[static_cast<size_t>(i) % 5]));
        (void)::send(idle.back(), "GET /healthz HTTP/1.1\r\nHost: a\r\n\r\n", 35, MSG_NOSIGNAL);
    }
    char answer[15];
    for (const int fd : idle) {
        pollfd p{fd, POLLIN, 0};
        EXPECT_TRUE(::poll(&p, 1, 5000) == 1 && ::recv(fd, answer, sizeof answer, 0) == sizeof answer &&
                    std::string(answer, sizeof answer) == "HTTP/1.1 200 OK");
    }
    double slowest = 0;
    for (int round = 0; round < 3; ++round) {
        for (const int fd : slow)
            (void)::send(fd, "X", 1, MSG_NOSIGNAL);
        const auto start = std::chrono::steady_clock::now();
        httplib::Client client("127.0.0.1", port);
        const httplib::Result page = client.Get("/");
        slowest = std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, 200);
    }
    // Before, such clients held every worker and a visitor waited for seconds; the
    // figure is printed for the README, the bound is loose for a busy machine.
    std::cout << "slowest GET / among slow and idle clients: " << slowest * 1000 << " ms\n";
    EXPECT_LT(slowest, 1.0);
    for (const int fd : slow)
        ::close(fd);
    for (const int fd : idle)
        ::close(fd);
}

// The whole answer to a request sent on a new connection from an address.
std::string askOnce(int port, const char* from, const std::string& request) {
    const int fd = ServedFront::connectTo(port, from);
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, 5000) > 0;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return answer;
}

TEST_F(ServedFront, OneClientHoldingManyConnectionsIsRefusedPromptlyAndOthersAreServed) {
    const std::string health = "GET /healthz HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n";
    // One client takes its 64 connections and sends nothing whole on them.
    std::vector<int> held;
    for (int i = 0; i < 64; ++i) {
        held.push_back(connect("127.0.0.21"));
        (void)::send(held.back(), "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
    }
    // Its next ones are refused at once, in the form of their path. The service's
    // workers take connections in from the accept queue side by side, so a probe sent
    // at once could be taken in before the last of the 64 (which would then be the one
    // refused); it waits until the service has had time to take them all.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string probe = "GET /api/battles HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n";
    const auto start = std::chrono::steady_clock::now();
    const std::string api = askOnce(port, "127.0.0.21", probe);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Not held for the second a refused client is given to finish its request line.
    EXPECT_LT(elapsed, std::chrono::seconds(1));
    EXPECT_EQ(api.substr(0, 30), "HTTP/1.1 429 Too Many Requests") << api;
    EXPECT_NE(api.find("Retry-After: 1\r\n"), std::string::npos);
    EXPECT_NE(api.find("{\"error\":\"このアドレスからの接続が多すぎます"), std::string::npos) << api;
    const std::string page = askOnce(port, "127.0.0.21", "GET / HTTP/1.1\r\nHost: a\r\n\r\n");
    EXPECT_EQ(page.substr(0, 12), "HTTP/1.1 429");
    EXPECT_NE(page.find("<h1>429</h1>"), std::string::npos) << page;
    // Another client is served as ever.
    EXPECT_EQ(askOnce(port, "127.0.0.22", health).substr(0, 15), "HTTP/1.1 200 OK");
    // Once the client lets one of its connections go, it is served again.
    ::close(held.back());
    held.pop_back();
    std::string again;
    for (int i = 0; i < 50 && again.substr(0, 15) != "HTTP/1.1 200 OK"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        again = askOnce(port, "127.0.0.21", health);
    }
    EXPECT_EQ(again.substr(0, 15), "HTTP/1.1 200 OK") << again;
    for (const int fd : held)
        ::close(fd);

    // A trusted proxy speaks for many clients: it has no bound.
    WebOptions proxied = options();
    proxied.trustedProxy = "127.0.0.23";
    proxied.connectionsPerClient = 2;
    WebFront behindProxy(desk, proxied, clock);
    const int proxiedPort = behindProxy.bind("127.0.0.1", 0);
    std::thread serving([&] { behindProxy.listen(); });
    std::vector<int> fromProxy;
    for (int i = 0; i < 5; ++i)
        fromProxy.push_back(connectTo(proxiedPort, "127.0.0.23"));
    EXPECT_EQ(askOnce(proxiedPort, "127.0.0.23", health).substr(0, 15), "HTTP/1.1 200 OK");
    std::vector<int> fromOne{connectTo(proxiedPort, "127.0.0.24"), connectTo(proxiedPort, "127.0.0.24")};
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // both taken in, as above
    EXPECT_EQ(askOnce(proxiedPort, "127.0.0.24", health).substr(0, 12), "HTTP/1.1 429");
    for (const int fd : fromProxy)
        ::close(fd);
    for (const int fd : fromOne)
        ::close(fd);
    behindProxy.stop();
    serving.join();
}

TEST_F(ServedFront, AnExceptionIsAnswered500WithABodyAndNoHeaderOfItsText) {
    desk.historyFails = true;
    httplib::Client client("127.0.0.1", port);
    const httplib::Result api = client.Get("/api/battles");
    ASSERT_TRUE(api);
    EXPECT_EQ(api->status, 500);
    EXPECT_FALSE(api->has_header("EXCEPTION_WHAT"));
    EXPECT_FALSE(api->has_header("X-Evil"));
    EXPECT_TRUE(json(*api).contains("error")) << api->body;
    const httplib::Result page = client.Get("/battles");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 500);
    EXPECT_FALSE(page->has_header("EXCEPTION_WHAT"));
    EXPECT_NE(page->body.find("サーバーで問題が起きました"), std::string::npos);
    // And the service goes on.
    desk.historyFails = false;
    EXPECT_EQ(client.Get("/api/battles")->status, 200);
}

} // namespace
} // namespace morvane::test
