// The ladder's pages and API: the ranking, an entry with its chart and match-ups,
// entering, withdrawing and replacing a team. The ladder itself (ratings, records,
// refusals) is the core's; these only read requests and draw answers.

#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Html.h"
#include "common/Json.h"
#include "ladder/Ladder.h"
#include "server/PageTemplate.h"
#include "server/WebAnswer.h"
#include "server/WebFront.h"
#include "server/WebText.h"
#include "stats/Statistics.h"

#include <httplib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace morvane {

namespace {

constexpr size_t LadderPageSize = 50;
constexpr size_t ShownMatchUps = 5;
constexpr std::string_view OwnCookie = "morvane_entries";
constexpr size_t OwnRemembered = 50;

// A ranking moves with every counted battle: never kept by a cache.
void secureLadder(httplib::Response& res) {
    secure(res);
    res.set_header("Cache-Control", "no-store");
}

std::string entryName(uint32_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "%04u", number);
    return text;
}

// An entry number as a path spells it: digits only, at most nine.
std::optional<uint32_t> entryNumber(std::string_view text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const auto number = static_cast<uint32_t>(std::stoul(std::string(text)));
    return number == 0 ? std::nullopt : std::optional<uint32_t>(number);
}

std::string percent(double share) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", 100 * share);
    return text;
}

std::string intervalText(const Interval& interval) {
    char text[48];
    std::snprintf(text, sizeof text, "（%.1f〜%.1f）", 100 * interval.low, 100 * interval.high);
    return text;
}

std::string changeText(const LadderRow& row) {
    if (!row.dayAgo)
        return "—";
    char text[16];
    std::snprintf(text, sizeof text, "%+.1f", 100 * (row.rating.rating - *row.dayAgo));
    return text;
}

std::string queryText(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~' || c == ':') {
            out.push_back(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", byte);
            out += hex;
        }
    }
    return out;
}

Json intervalJson(const Interval& interval) {
    return Json::array({interval.low, interval.high});
}

Json rowJson(const LadderRow& row) {
    Json body = {{"entry", row.entry.number},
                 {"url", "/ladder/" + entryName(row.entry.number)},
                 {"name", row.entry.name},
                 {"deck", cp932ToUtf8(formatDeckLine(row.entry.team, 0))},
                 {"rank", row.rank},
                 {"rating", row.rating.rating},
                 {"interval", intervalJson(row.rating.interval)},
                 {"battles", row.rating.battles},
                 {"opponents", row.rating.opponents},
                 {"uncertain", row.uncertain},
                 {"active", row.entry.active()}};
    if (row.dayAgo)
        body["day_ago"] = *row.dayAgo;
    return body;
}

// The numbers this browser entered, as its cookie remembers them.
std::set<uint32_t> ownEntries(const httplib::Request& req) {
    std::set<uint32_t> own;
    const std::string cookies = req.get_header_value("Cookie");
    const std::string key = std::string(OwnCookie) + "=";
    size_t at = 0;
    while ((at = cookies.find(key, at)) != std::string::npos) {
        if (at == 0 || cookies[at - 1] == ' ' || cookies[at - 1] == ';')
            break;
        at += key.size();
    }
    if (at == std::string::npos)
        return own;
    const std::string value = cookies.substr(at + key.size(), cookies.find(';', at) - at - key.size());
    size_t start = 0;
    while (start <= value.size() && own.size() < OwnRemembered) {
        const size_t end = std::min(value.find('.', start), value.size());
        if (const auto number = entryNumber(std::string_view(value).substr(start, end - start)))
            own.insert(*number);
        start = end + 1;
    }
    return own;
}

void rememberOwn(const httplib::Request& req, httplib::Response& res, uint32_t number) {
    std::set<uint32_t> own = ownEntries(req);
    own.insert(number);
    while (own.size() > OwnRemembered)
        own.erase(own.begin());
    std::string value;
    for (const uint32_t n : own)
        value.append(value.empty() ? "" : ".").append(std::to_string(n));
    res.set_header("Set-Cookie",
                   std::string(OwnCookie) + "=" + value + "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Strict");
}

// The rating over time: its interval as a band, the estimate as a line.
std::string ratingChart(const std::vector<RatingPoint>& points) {
    if (points.empty())
        return "<p>まだ対戦がありません。</p>";
    constexpr double Width = 600, Height = 200, Left = 40, Right = 10, Top = 10, Bottom = 20;
    double low = 1, high = 0;
    for (const RatingPoint& p : points) {
        low = std::min(low, p.interval.low);
        high = std::max(high, p.interval.high);
    }
    low = std::max(0.0, std::floor(low * 10) / 10);
    high = std::min(1.0, std::ceil(high * 10) / 10);
    if (high - low < 0.1)
        high = std::min(1.0, low + 0.1), low = high - 0.1;
    const double t0 = std::chrono::duration<double>(points.front().time.time_since_epoch()).count();
    const double t1 = std::chrono::duration<double>(points.back().time.time_since_epoch()).count();
    const auto x = [&](const RatingPoint& p) {
        const double t = std::chrono::duration<double>(p.time.time_since_epoch()).count();
        return t1 > t0 ? Left + (Width - Left - Right) * (t - t0) / (t1 - t0) : Width / 2;
    };
    const auto y = [&](double v) { return Top + (Height - Top - Bottom) * (high - v) / (high - low); };
    std::string svg;
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "<svg class=\"chart\" viewBox=\"0 0 %.0f %.0f\" role=\"img\" ", Width, Height);
    svg += buffer;
    svg += "aria-label=\"レーティングの推移\">";
    for (const double v : {low, (low + high) / 2, high}) {
        std::snprintf(buffer, sizeof buffer, "<line class=\"axis\" x1=\"%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\"/>",
                      Left, y(v), Width - Right, y(v));
        svg += buffer;
        std::snprintf(buffer, sizeof buffer, "<text x=\"2\" y=\"%.1f\">%.0f%%</text>", y(v) + 4, 100 * v);
        svg += buffer;
    }
    std::string band = "<polygon class=\"band\" points=\"";
    for (const RatingPoint& p : points) {
        std::snprintf(buffer, sizeof buffer, "%.1f,%.1f ", x(p), y(p.interval.high));
        band += buffer;
    }
    // The band's lower edge runs back from the newest point.
    for (size_t i = points.size(); i-- > 0;) {
        std::snprintf(buffer, sizeof buffer, "%.1f,%.1f ", x(points[i]), y(points[i].interval.low));
        band += buffer;
    }
    svg += band + "\"/>";
    // A single point has no line to draw: its estimate and interval as a mark.
    if (points.size() == 1) {
        const RatingPoint& p = points.front();
        std::snprintf(buffer, sizeof buffer, "<line class=\"line\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>",
                      x(p), y(p.interval.low), x(p), y(p.interval.high));
        svg += buffer;
        std::snprintf(buffer, sizeof buffer, "<circle class=\"point\" cx=\"%.1f\" cy=\"%.1f\" r=\"4\"/>", x(p),
                      y(p.rating));
        svg += buffer;
    }
    svg += "<polyline class=\"line\" points=\"";
    for (const RatingPoint& p : points) {
        std::snprintf(buffer, sizeof buffer, "%.1f,%.1f ", x(p), y(p.rating));
        svg += buffer;
    }
    svg += "\"/></svg>";
    return svg;
}

// Links that replay battles of a pair: the first two, one with the entry on each side.
std::vector<PageFill> watchLinks(const LadderEntry& entry, const LadderEntry& opponent, const MatchUp& m) {
    std::vector<PageFill> links;
    const std::string entryLine = queryText(cp932ToUtf8(formatDeckLine(entry.team, 0)));
    const std::string opponentLine = queryText(cp932ToUtf8(formatDeckLine(opponent.team, 1)));
    for (unsigned k = 0; k < std::min(2u, m.battles); ++k) {
        const bool aOnTop = k % 2 == 0;
        const bool entryOnTop = aOnTop == m.entryIsA;
        const std::string& top = entryOnTop ? entryLine : opponentLine;
        const std::string& bottom = entryOnTop ? opponentLine : entryLine;
        std::string url = std::string("/watch?top=")
                              .append(top)
                              .append("&amp;bottom=")
                              .append(bottom)
                              .append("&amp;seed=")
                              .append(std::to_string(battleSeed(m.seed, k)));
        links.push_back(PageFill{{{"url", std::move(url)}, {"label", entryOnTop ? "上で観戦" : "下で観戦"}}, {}});
    }
    return links;
}

} // namespace

bool WebFront::ladderPage(const httplib::Request& req, httplib::Response& res, std::string_view) {
    Ladder* ladder = service_.ladder();
    if (!ladder)
        return false;
    const long pageNumber = req.has_param("page") ? entryNumber(req.get_param_value("page")).value_or(1) : 1;
    const size_t total = ladder->activeCount();
    const std::set<uint32_t> own = ownEntries(req);
    PageFill fill;
    fill.values = {{"total", std::to_string(total)}, {"page", std::to_string(pageNumber)}};
    std::vector<PageFill>& rows = fill.lists["rows"];
    for (const LadderRow& row : ladder->page(static_cast<size_t>(pageNumber - 1) * LadderPageSize, LadderPageSize)) {
        PageFill r{{{"rank", std::to_string(row.rank)},
                    {"number", entryName(row.entry.number)},
                    {"name", escapeHtml(row.entry.name)},
                    {"team", teamView(formatDeckLine(row.entry.team, 0), 0)},
                    {"rating", percent(row.rating.rating)},
                    {"interval", intervalText(row.rating.interval)},
                    {"battles", std::to_string(row.rating.battles)},
                    {"change", changeText(row)}},
                   {}};
        r.lists["uncertain"] = PageFill::shown(row.uncertain);
        r.lists["own"] = PageFill::shown(own.count(row.entry.number) != 0);
        rows.push_back(std::move(r));
    }
    if (pageNumber > 1)
        fill.lists["newer"].push_back(PageFill{{{"page", std::to_string(pageNumber - 1)}}, {}});
    if (static_cast<size_t>(pageNumber) * LadderPageSize < total)
        fill.lists["older"].push_back(PageFill{{{"page", std::to_string(pageNumber + 1)}}, {}});
    secureLadder(res);
    res.set_content(page("ladder.html", fill), "text/html; charset=utf-8");
    return true;
}

void WebFront::entryPage(const httplib::Request&, httplib::Response& res, uint32_t number, const std::string& key,
                         int status) {
    Ladder& ladder = *service_.ladder();
    const std::optional<LadderEntry> entry = ladder.entry(number);
    const std::optional<LadderRow> row = ladder.row(number);
    const std::string line = formatDeckLine(entry->team, 0);
    PageFill fill;
    fill.values = {{"number", entryName(number)},
                   {"name", escapeHtml(entry->name)},
                   {"team", teamView(line, 0)},
                   {"line", escapeHtml(cp932ToUtf8(line))},
                   {"line_query", queryText(cp932ToUtf8(line))},
                   {"total", std::to_string(ladder.activeCount())},
                   {"chart", ratingChart(ladder.history(number))}};
    if (row) {
        fill.values["rating"] = percent(row->rating.rating);
        fill.values["interval"] = intervalText(row->rating.interval);
        fill.values["battles"] = std::to_string(row->rating.battles);
        fill.values["opponents"] = std::to_string(row->rating.opponents);
        fill.values["rank"] = std::to_string(row->rank);
        PageFill ranked;
        ranked.lists["uncertain"] = PageFill::shown(row->uncertain);
        fill.lists["ranked"].push_back(ranked);
        const double half = (row->rating.interval.high - row->rating.interval.low) / 2;
        fill.lists["placing"] = PageFill::shown(half > 0.03);
    } else {
        fill.values["rating"] = "—";
        fill.values["battles"] = "0";
        fill.values["opponents"] = "0";
    }
    std::vector<MatchUp> matchUps = ladder.matchUps(number);
    const auto fillMatchUps = [&](std::vector<PageFill>& rows, auto first, auto last, size_t most) {
        for (auto m = first; m != last && rows.size() < most; ++m) {
            const std::optional<LadderEntry> opponent = ladder.entry(m->opponent);
            if (!opponent)
                continue;
            PageFill r{{{"opponent", entryName(m->opponent)},
                        {"opponent_name", escapeHtml(opponent->name)},
                        {"score", percent(m->score)},
                        {"interval", intervalText(m->interval)},
                        {"battles", std::to_string(m->battles)}},
                       {}};
            r.lists["watch"] = watchLinks(*entry, *opponent, *m);
            rows.push_back(std::move(r));
        }
    };
    // With few opponents the best and the worst would share some: the better half goes
    // to one list and the rest to the other, so no opponent is both.
    const size_t better = std::min(ShownMatchUps, (matchUps.size() + 1) / 2);
    const size_t worse = std::min(ShownMatchUps, matchUps.size() / 2);
    fillMatchUps(fill.lists["best"], matchUps.begin(), matchUps.begin() + static_cast<std::ptrdiff_t>(better), better);
    fillMatchUps(fill.lists["worst"], matchUps.rbegin(), matchUps.rbegin() + static_cast<std::ptrdiff_t>(worse), worse);
    if (!key.empty())
        fill.lists["key"].push_back(PageFill{{{"key", escapeHtml(key)}}, {}});
    fill.lists["active"] = PageFill::shown(entry->active());
    fill.lists["withdrawn"] = PageFill::shown(!entry->active());
    res.status = status;
    secureLadder(res);
    res.set_content(page("entry.html", fill), "text/html; charset=utf-8");
}

bool WebFront::ladderEntryOrApi(const httplib::Request& req, httplib::Response& res, std::string_view rest) {
    Ladder* ladder = service_.ladder();
    if (!ladder)
        return false;
    const bool api = req.path.rfind("/api/", 0) == 0;
    const std::optional<uint32_t> number = entryNumber(rest);
    if (!number || !ladder->entry(*number))
        return false;
    if (!api) {
        entryPage(req, res, *number, {}, 200);
        return true;
    }
    const std::optional<LadderEntry> entry = ladder->entry(*number);
    Json body;
    if (const std::optional<LadderRow> row = ladder->row(*number))
        body = rowJson(*row);
    else
        body = {{"entry", *number},
                {"name", entry->name},
                {"deck", cp932ToUtf8(formatDeckLine(entry->team, 0))},
                {"active", entry->active()}};
    Json history = Json::array();
    for (const RatingPoint& p : ladder->history(*number))
        history.push_back(
            {{"time", std::chrono::duration_cast<std::chrono::seconds>(p.time.time_since_epoch()).count()},
             {"rating", p.rating},
             {"interval", intervalJson(p.interval)}});
    body["history"] = std::move(history);
    Json matchUps = Json::array();
    for (const MatchUp& m : ladder->matchUps(*number))
        matchUps.push_back({{"opponent", m.opponent},
                            {"score", m.score},
                            {"interval", intervalJson(m.interval)},
                            {"battles", m.battles},
                            {"seed", m.seed},
                            {"entry_is_a", m.entryIsA}});
    body["match_ups"] = std::move(matchUps);
    json(res, 200, body);
    return true;
}

bool WebFront::ladderApi(const httplib::Request& req, httplib::Response& res, std::string_view) {
    Ladder* ladder = service_.ladder();
    if (!ladder)
        return false;
    // Whole numbers of at most nine digits; anything else takes the default.
    const auto number = [&](const char* name, size_t otherwise) -> size_t {
        const std::string text = req.get_param_value(name);
        if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
            return otherwise;
        return std::stoul(text);
    };
    const size_t first = number("offset", 0);
    const size_t count = std::clamp<size_t>(number("count", LadderPageSize), 1, 500);
    Json rows = Json::array();
    for (const LadderRow& row : ladder->page(first, count))
        rows.push_back(rowJson(row));
    json(res, 200, {{"total", ladder->activeCount()}, {"offset", first}, {"entries", std::move(rows)}});
    return true;
}

void WebFront::refuseLadder(const httplib::Request& req, httplib::Response& res, const LadderRefusal& refusal) {
    int status = 400;
    switch (refusal.kind()) {
    case LadderRefusal::Kind::Duplicate:
        status = 409;
        res.set_header("Location", "/ladder/" + entryName(refusal.entry()));
        break;
    case LadderRefusal::Kind::DailyLimit:
        status = 429;
        res.set_header("Retry-After", "3600");
        break;
    case LadderRefusal::Kind::NoEntry:
        status = 404;
        break;
    case LadderRefusal::Kind::WrongKey:
        status = 403;
        break;
    case LadderRefusal::Kind::Withdrawn:
        status = 410;
        break;
    case LadderRefusal::Kind::BadName:
    case LadderRefusal::Kind::BadTeam:
        break;
    }
    const std::string message = utf8Text(refusal);
    if (req.path.rfind("/api/", 0) == 0) {
        Json body = {{"error", message}};
        if (refusal.kind() == LadderRefusal::Kind::Duplicate)
            body["entry"] = "/ladder/" + entryName(refusal.entry());
        json(res, status, body);
        return;
    }
    std::string shown = escapeHtml(message);
    if (refusal.kind() == LadderRefusal::Kind::Duplicate)
        shown.append(" <a href=\"/ladder/")
            .append(entryName(refusal.entry()))
            .append("\">登録")
            .append(entryName(refusal.entry()))
            .append("を見る</a>");
    res.status = status;
    secureLadder(res);
    res.set_content(page("message.html", PageFill{{{"status", std::to_string(status)}, {"message", shown}}, {}}),
                    "text/html; charset=utf-8");
}

// POST /ladder, /api/ladder: a new entry; /ladder/NNNN/withdraw, /ladder/NNNN/replace
// and their API forms (DELETE /api/ladder/NNNN, POST /api/ladder/NNNN/replace) with
// the entry's key.
void WebFront::postLadder(const httplib::Request& req, httplib::Response& res) {
    Ladder* ladder = service_.ladder();
    const bool api = req.path.rfind("/api/", 0) == 0;
    if (!ladder) {
        refuse(req, res, 404, std::string(web::NotFound));
        return;
    }
    int retryAfter = 1;
    if (!limiter_.allow(limitedClientOf(req), &retryAfter)) {
        res.set_header("Retry-After", std::to_string(retryAfter));
        refuse(req, res, 429, std::string(web::TooMany));
        return;
    }
    std::string name, line, key;
    if (api) {
        const Json body = req.body.empty() ? Json::object() : Json::parse(req.body, nullptr, false);
        const auto text = [&](const char* field) {
            return body.is_object() && body.contains(field) && body[field].is_string() ? body[field].get<std::string>()
                                                                                       : std::string();
        };
        if (!body.is_object()) {
            badBody(res, "the body must be a JSON object with \"name\" and \"deck\"");
            return;
        }
        name = text("name");
        line = text("deck");
        key = text("key");
        if (key.empty())
            key = req.get_header_value("X-Entry-Key");
    } else {
        name = req.get_param_value("name");
        line = builderFormLines(req)[0];
        key = req.get_param_value("key");
    }
    const std::string_view prefix = api ? "/api/ladder" : "/ladder";
    std::string_view rest = std::string_view(req.path).substr(prefix.size());
    std::string action;
    if (!rest.empty()) {
        rest.remove_prefix(1);
        const size_t slash = rest.find('/');
        action = slash == std::string_view::npos ? "" : std::string(rest.substr(slash + 1));
        rest = rest.substr(0, slash);
    }
    // 0: no entry named (a new entry), or a name that is no entry number.
    const uint32_t number = rest.empty() ? 0 : entryNumber(rest).value_or(0);
    if (!rest.empty() && number == 0) {
        refuse(req, res, 404, std::string(web::NotFound));
        return;
    }
    const bool withdraw = req.method == "DELETE" || action == "withdraw";
    try {
        if (number != 0 && withdraw) {
            ladder->withdraw(number, key);
            if (api) {
                json(res, 200, {{"entry", number}, {"withdrawn", true}});
            } else {
                res.status = 303;
                res.set_header("Location", "/ladder/" + entryName(number));
                secureLadder(res);
            }
            return;
        }
        SideSelection team;
        // The line's own parser would call an empty line's vehicle field no number.
        if (line.find_first_not_of(" \t\r\n") == std::string::npos)
            throw LadderRefusal(LadderRefusal::Kind::BadTeam, utf8ToCp932(web::NoDeckLine), 0);
        try {
            applyDeckLine(utf8ToCp932(line), team, service_.catalogue());
        } catch (const MorvaneError& e) {
            throw LadderRefusal(LadderRefusal::Kind::BadTeam, e.message(), 0);
        }
        Ladder::Entered entered;
        if (number != 0 && action == "replace")
            entered = ladder->replace(number, key, team, limitedClientOf(req));
        else if (number == 0 && action.empty())
            entered = ladder->enter(name, team, limitedClientOf(req));
        else {
            refuse(req, res, 404, std::string(web::NotFound));
            return;
        }
        const std::string url = "/ladder/" + entryName(entered.number);
        res.set_header("Location", url);
        rememberOwn(req, res, entered.number);
        if (api)
            json(res, 201, {{"entry", entered.number}, {"url", url}, {"key", entered.key}});
        else
            entryPage(req, res, entered.number, entered.key, 201);
    } catch (const LadderRefusal& refusal) {
        refuseLadder(req, res, refusal);
    }
}

} // namespace morvane
