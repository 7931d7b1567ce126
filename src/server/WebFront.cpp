#include "server/WebFront.h"

#include "batch/BatchScan.h"
#include "cards/CardFields.h"
#include "cards/Team.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Html.h"
#include "common/Json.h"
#include "server/WebText.h"

#include <httplib.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace fs = std::filesystem;

namespace morvane {

namespace {

// Our own pages load nothing but our own scripts and styles, and are never framed.
constexpr const char* PageSecurity = "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                                     "connect-src 'self'; frame-src 'self'; form-action 'self'; base-uri 'none'; "
                                     "frame-ancestors 'none'";
constexpr int HistoryPageSize = 20;
constexpr const char* SideNames[2] = {"top", "bottom"};

const char* stateName(BattleView::State state) {
    switch (state) {
    case BattleView::Waiting:
        return "waiting";
    case BattleView::Playing:
        return "playing";
    case BattleView::Done:
        return "done";
    case BattleView::Failed:
        return "failed";
    }
    return "waiting";
}

std::string folderName(int number) {
    return BatchFolder{number, {}}.name();
}

// "top", "bottom" or "none" (a battle stopped at the turn cap).
const char* winnerName(const BattleOutcome& outcome) {
    return outcome.winner == 0 ? "top" : outcome.winner == 1 ? "bottom" : "none";
}

std::string resultText(const BattleOutcome& outcome) {
    if (outcome.status != BattleStatus::Ended)
        return std::string(web::NoWinner);
    return std::string(outcome.winner == 0 ? web::TopWins : web::BottomWins);
}

// "（18ターン）"
std::string turnsText(const BattleOutcome& outcome) {
    return std::string(web::TurnsOpen) + std::to_string(outcome.turns) + std::string(web::TurnsClose);
}

// Parameter values in links: deck lines are plain ASCII, but any byte is encoded.
std::string encodeQuery(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == ':')
            out.push_back(c);
        else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", byte);
            out += hex;
        }
    }
    return out;
}

// A request path or query as one line of the access log.
std::string logSafe(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, 512)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// A whole number of at most nine digits; nothing otherwise.
std::optional<long> smallNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stol(text);
}

void secure(httplib::Response& res) {
    res.set_header("Content-Security-Policy", PageSecurity);
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "same-origin");
}

void json(httplib::Response& res, int status, const Json& body) {
    res.status = status;
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Cache-Control", "no-store");
    res.set_content(body.dump(), "application/json");
}

// Pieces of a page, put together without a temporary string for each +.
std::string join(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (const std::string_view piece : pieces)
        out.append(piece);
    return out;
}

std::string statText(const cardRecordType& card) {
    return cardStatText(card.line);
}

} // namespace

bool RateLimiter::allow(const std::string& client, int* retryAfter) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    // Buckets that have filled up again are dropped, so clients that came once cost
    // nothing for long.
    if (now - swept_ > std::chrono::seconds(60)) {
        for (auto it = buckets_.begin(); it != buckets_.end();)
            it = now - it->second.at > std::chrono::seconds(60) ? buckets_.erase(it) : std::next(it);
        swept_ = now;
    }
    const double capacity = std::max(1.0, rate_);
    auto [it, fresh] = buckets_.try_emplace(client, Bucket{capacity, now});
    Bucket& bucket = it->second;
    if (!fresh) {
        bucket.tokens =
            std::min(capacity, bucket.tokens + std::chrono::duration<double>(now - bucket.at).count() * rate_);
        bucket.at = now;
    }
    if (bucket.tokens >= 1) {
        bucket.tokens -= 1;
        return true;
    }
    *retryAfter = std::max(1, static_cast<int>(std::ceil((1 - bucket.tokens) / rate_)));
    return false;
}

WebFront::WebFront(BattleService& service, WebOptions options)
    : service_(service), options_(std::move(options)), limiter_(options_.rate),
      server_(std::make_unique<httplib::Server>()) {
    for (const char* name : {"builder.html", "battle.html", "history.html", "message.html", "app.js", "style.css"})
        files_[name] = readFileBytes(options_.webFolder / name, 1 << 20);

    httplib::Server& s = *server_;
    s.set_payload_max_length(options_.maxBody);
    s.set_keep_alive_max_count(1000);
    // Each connection holds a worker while it is open; more workers than the
    // library's eight keep a few slow or idle clients from shutting everyone out
    // (a proxy in front buffers slow clients further).
    s.new_task_queue = [] { return new httplib::ThreadPool(32); };
    s.set_read_timeout(5, 0);
    // An answer goes out as its head and then its body: with Nagle's algorithm the
    // body would wait for the client's delayed acknowledgement of the head.
    s.set_tcp_nodelay(true);
    s.set_keep_alive_timeout(2);
    // Every page and answer is made here, without the library's pattern matching of
    // paths: a path is looked at as plain text only.
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (req.method != "GET" && req.method != "HEAD")
            return httplib::Server::HandlerResponse::Unhandled;
        if (!answerGet(req, res))
            errorPage(res, 404, std::string(web::NotFound));
        return httplib::Server::HandlerResponse::Handled;
    });
    s.Post("/api/battles", [this](const httplib::Request& req, httplib::Response& res) { postBattle(req, res, true); });
    s.Post("/battles", [this](const httplib::Request& req, httplib::Response& res) { postBattle(req, res, false); });
    s.set_error_handler([this](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return;
        if (res.status == 413)
            errorPage(res, 413, std::string(web::TooLarge));
        else if (res.status == 404 || res.status == 405)
            errorPage(res, res.status, std::string(web::NotFound));
    });
    s.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        ++service_.metrics().requests;
        char when[32];
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        gmtime_r(&now, &utc);
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
        std::string line = std::string(when) + " " + logSafe(clientOf(req)) + " \"" + logSafe(req.method) + " " +
                           logSafe(req.path) + "\" " + std::to_string(res.status) + " " +
                           std::to_string(res.body.size()) + "\n";
        std::cerr << line << std::flush;
    });
}

WebFront::~WebFront() = default;

std::string WebFront::clientOf(const httplib::Request& req) const {
    if (options_.trustedProxy.empty() || req.remote_addr != options_.trustedProxy)
        return req.remote_addr;
    // The last entry is the one the proxy added; earlier ones are the client's word.
    const std::string forwarded = req.get_header_value("X-Forwarded-For");
    const size_t comma = forwarded.rfind(',');
    std::string client = forwarded.substr(comma == std::string::npos ? 0 : comma + 1);
    client.erase(0, client.find_first_not_of(' '));
    return client.empty() ? req.remote_addr : client.substr(0, 64);
}

int WebFront::bind(const std::string& host, int port) {
    const int bound = port == 0                                   ? server_->bind_to_any_port(host.c_str())
                      : server_->bind_to_port(host.c_str(), port) ? port
                                                                  : -1;
    if (bound <= 0)
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));
    return bound;
}

void WebFront::listen() {
    server_->listen_after_bind();
}

void WebFront::stop() {
    server_->stop();
}

std::string WebFront::page(const std::string& name, const std::map<std::string, std::string>& values) const {
    std::string text = files_.at(name);
    std::string out;
    out.reserve(text.size() * 2);
    size_t at = 0;
    for (size_t open; (open = text.find("{{", at)) != std::string::npos;) {
        const size_t close = text.find("}}", open);
        if (close == std::string::npos)
            break;
        out.append(text, at, open - at);
        const auto value = values.find(text.substr(open + 2, close - open - 2));
        if (value != values.end())
            out += value->second;
        at = close + 2;
    }
    return out.append(text, at, std::string::npos);
}

void WebFront::errorPage(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    secure(res);
    res.set_content(page("message.html", {{"status", std::to_string(status)}, {"message", escapeHtml(message)}}),
                    "text/html; charset=utf-8");
}

bool WebFront::answerGet(const httplib::Request& req, httplib::Response& res) {
    const std::string& path = req.path;
    if (path == "/") {
        builderPage(req, res);
        return true;
    }
    if (path == "/healthz") {
        res.set_content("ok\n", "text/plain; charset=utf-8");
        return true;
    }
    if (path == "/metrics") {
        res.set_content(service_.metricsText(), "text/plain; version=0.0.4; charset=utf-8");
        return true;
    }
    if (path == "/battles") {
        historyPage(req, res);
        return true;
    }
    if (path.rfind("/static/", 0) == 0) {
        const std::string name = path.substr(8);
        const auto file = files_.find(name);
        if (file == files_.end() || name.find(".html") != std::string::npos)
            return false;
        secure(res);
        res.set_header("Cache-Control", "no-cache");
        res.set_content(file->second, name.size() > 3 && name.substr(name.size() - 3) == ".js"
                                          ? "text/javascript; charset=utf-8"
                                          : "text/css; charset=utf-8");
        return true;
    }
    if (path == "/api/cards") {
        Json cards = Json::object();
        for (const char* kind : {"vehicles", "characters"}) {
            Json list = Json::array();
            const bool vehicles = kind[0] == 'v';
            for (const SelectorEntry& entry :
                 vehicles ? service_.catalogue().vehicleEntries() : service_.catalogue().characterEntries()) {
                const cardRecordType& card =
                    vehicles ? service_.catalogue().vehicle(entry.id) : service_.catalogue().character(entry.id);
                list.push_back({{"id", entry.id},
                                {"name", cp932ToUtf8(card.name)},
                                {"size", card.size},
                                {"stats", cp932ToUtf8(statText(card))}});
            }
            cards[kind] = std::move(list);
        }
        json(res, 200, cards);
        return true;
    }
    if (path == "/api/battles") {
        const long pageNumber = req.has_param("page") ? smallNumber(req.get_param_value("page")).value_or(1) : 1;
        Json list = Json::array();
        for (const BattleEntry& e : service_.history((std::max(1L, pageNumber) - 1) * HistoryPageSize, HistoryPageSize))
            list.push_back({{"number", e.number},
                            {"url", "/battles/" + folderName(e.number)},
                            {"top", cp932ToUtf8(e.top)},
                            {"bottom", cp932ToUtf8(e.bottom)}});
        json(res, 200, {{"battles", list}, {"total", service_.battleCount()}});
        return true;
    }
    // /battles/NNNN, /battles/NNNN/report, /api/battles/NNNN: the number is read as
    // a folder name and spelled again, so no request text reaches a path.
    const bool api = path.rfind("/api/battles/", 0) == 0;
    if (!api && path.rfind("/battles/", 0) != 0)
        return false;
    std::string rest = path.substr(api ? 13 : 9);
    const bool wantsReport = !api && rest.size() > 7 && rest.substr(rest.size() - 7) == "/report";
    if (wantsReport)
        rest.resize(rest.size() - 7);
    const std::optional<int> number = batchFolderNumber(rest);
    if (!number)
        return false;
    if (wantsReport) {
        std::optional<std::string> report = service_.report(*number);
        if (!report)
            return false;
        // As the runner stored it. The page shows card names as the catalogue holds
        // them, markup included, so it runs sandboxed, never in our origin.
        res.set_header("Content-Security-Policy", "sandbox");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.body = std::move(*report);
        res.set_header("Content-Type", "text/html; charset=Shift_JIS");
        return true;
    }
    if (!api) {
        // One look at the battle serves the whole page: its folder may change meanwhile.
        const std::optional<BattleView> view = service_.view(*number);
        if (!view)
            return false;
        battlePage(*view, res);
        return true;
    }
    const std::optional<BattleView> view = service_.view(*number);
    if (!view) {
        json(res, 404, {{"error", "no battle " + folderName(*number)}});
        return true;
    }
    Json body = {{"number", *number},
                 {"url", "/battles/" + folderName(*number)},
                 {"state", stateName(view->state)},
                 {"top", cp932ToUtf8(view->entry.top)},
                 {"bottom", cp932ToUtf8(view->entry.bottom)}};
    if (view->state == BattleView::Waiting)
        body["place"] = view->place;
    if (view->state == BattleView::Done) {
        body["winner"] = winnerName(view->entry.outcome);
        body["turns"] = view->entry.outcome.turns;
        body["report"] = "/battles/" + folderName(*number) + "/report";
    }
    if (view->state == BattleView::Failed)
        body["error"] = view->entry.problem;
    json(res, 200, body);
    return true;
}

void WebFront::postBattle(const httplib::Request& req, httplib::Response& res, bool api) {
    auto refuse = [&](int status, const std::string& message) {
        if (api)
            json(res, status, {{"error", message}});
        else
            errorPage(res, status, message);
    };
    int retryAfter = 1;
    if (!limiter_.allow(clientOf(req), &retryAfter)) {
        ++service_.metrics().refusedRate;
        res.set_header("Retry-After", std::to_string(retryAfter));
        refuse(429, std::string(web::TooMany));
        return;
    }
    std::array<std::string, 2> lines;
    if (api) {
        const Json body = Json::parse(req.body, nullptr, false);
        if (!body.is_object() || !body.contains("top") || !body.contains("bottom") || !body["top"].is_string() ||
            !body["bottom"].is_string()) {
            refuse(400, "the body must be a JSON object with the deck lines \"top\" and \"bottom\"");
            return;
        }
        lines = {body["top"].get<std::string>(), body["bottom"].get<std::string>()};
    } else {
        // The deck line box when filled (pasted, or kept in step by the page's
        // script), else the selectors, so the form works without scripts too.
        for (int side = 0; side < 2; ++side) {
            const std::string name = SideNames[side];
            std::string line = req.get_param_value(name);
            if (line.find_first_not_of(" \t") == std::string::npos) {
                SideSelection selection;
                auto id = [&](const std::string& field) {
                    return static_cast<int32_t>(smallNumber(req.get_param_value(join({name, "_", field}))).value_or(0));
                };
                selection.vehicle = id("v");
                for (int k = 0; k < 8; ++k)
                    selection.characters[static_cast<size_t>(k)] = id("c" + std::to_string(k + 1));
                line = formatDeckLine(selection, side);
            }
            lines[static_cast<size_t>(side)] = line;
        }
    }
    std::pair<std::string, std::string> decks;
    try {
        decks = service_.checkDecks(utf8ToCp932(lines[0]), utf8ToCp932(lines[1]));
    } catch (const MorvaneError& e) {
        ++service_.metrics().refusedBadDeck;
        refuse(400, e.where().empty() ? cp932ToUtf8(e.message()) : e.where() + ": " + cp932ToUtf8(e.message()));
        return;
    }
    int number = 0;
    try {
        number = service_.submit(decks);
    } catch (const QueueFullError&) {
        res.set_header("Retry-After", "5");
        refuse(503, std::string(web::QueueFull));
        return;
    } catch (const MorvaneError& e) {
        std::cerr << "morvane-server: " << e.where() << ": " << cp932ToUtf8(e.message()) << std::endl;
        refuse(500, std::string(web::NotTaken));
        return;
    }
    const std::string url = "/battles/" + folderName(number);
    res.set_header("Location", url);
    if (api) {
        json(res, 201, {{"number", number}, {"url", url}, {"api", "/api/battles/" + folderName(number)}});
    } else {
        res.status = 303;
        secure(res);
    }
}

void WebFront::builderPage(const httplib::Request& req, httplib::Response& res) {
    const CardCatalogue& cards = service_.catalogue();
    const std::vector<SelectorEntry> vehicles = cards.vehicleEntries();
    const std::vector<SelectorEntry> characters = cards.characterEntries();
    std::map<std::string, std::string> values;
    for (int side = 0; side < 2; ++side) {
        const std::string name = SideNames[side];
        // The team of a rematch or challenge link, else the deck file's first line as
        // the window starts with it.
        std::string line = req.has_param(name) ? utf8ToCp932(req.get_param_value(name))
                                               : service_.defaultDecks()[static_cast<size_t>(side)];
        SideSelection selection;
        try {
            applyDeckLine(line, selection, cards);
        } catch (const MorvaneError&) {
            selection = {};
        }
        std::string cells;
        // Column by column, as the window's keyboard order goes.
        for (const int index : KeyboardOrder) {
            const bool vehicle = index == VehicleSelector;
            const int32_t selected = vehicle ? selection.vehicle : selection.characters[static_cast<size_t>(index)];
            const std::string field = name + (vehicle ? "_v" : "_c" + std::to_string(index + 1));
            const std::string selector = selectorName(selectorSlot(side, index));
            const cardRecordType& card = vehicle ? cards.vehicle(selected) : cards.character(selected);
            cells += join({"<div class=\"cell", vehicle ? " vehicle" : "", "\"><label for=\"", field, "\">", selector,
                           "</label><select id=\"", field, "\" name=\"", field, "\" data-kind=\"", vehicle ? "V" : "C",
                           "\">"});
            if (selected == 0)
                cells += "<option value=\"0\" selected></option>";
            for (const SelectorEntry& entry : vehicle ? vehicles : characters)
                cells += "<option value=\"" + std::to_string(entry.id) + "\"" +
                         (entry.id == selected ? " selected" : "") + ">" + escapeHtml(cp932ToUtf8(entry.text)) +
                         "</option>";
            cells += "</select><span class=\"stats\" id=\"" + field + "_stats\">" +
                     (selected ? escapeHtml(cp932ToUtf8(statText(card))) : std::string()) + "</span></div>";
        }
        values[name + "_cells"] = cells;
        values[name + "_size"] = sizeText(cards, selection);
    }
    secure(res);
    res.set_content(page("builder.html", values), "text/html; charset=utf-8");
}

void WebFront::battlePage(const BattleView& battle, httplib::Response& res) {
    const BattleView* view = &battle;
    const std::string name = folderName(battle.entry.number);
    std::string state;
    switch (view->state) {
    case BattleView::Waiting:
        state = std::string(web::Waiting).append(web::PlaceOpen) + std::to_string(view->place) +
                std::string(web::PlaceClose);
        break;
    case BattleView::Playing:
        state = web::Playing;
        break;
    case BattleView::Done:
        state = resultText(view->entry.outcome) + turnsText(view->entry.outcome);
        break;
    case BattleView::Failed:
        state = std::string(web::Failed) + ": " + view->entry.problem;
        break;
    }
    const bool pending = view->state == BattleView::Waiting || view->state == BattleView::Playing;
    const std::string top = encodeQuery(cp932ToUtf8(view->entry.top));
    const std::string bottom = encodeQuery(cp932ToUtf8(view->entry.bottom));
    std::map<std::string, std::string> values{
        {"number", name},
        {"state", stateName(view->state)},
        {"state_text", escapeHtml(state)},
        {"winner", view->state == BattleView::Done ? winnerName(view->entry.outcome) : ""},
        {"top", escapeHtml(cp932ToUtf8(view->entry.top))},
        {"bottom", escapeHtml(cp932ToUtf8(view->entry.bottom))},
        {"rematch", "/?top=" + top + "&amp;bottom=" + bottom},
        {"challenge_top", "/?bottom=" + top},
        {"challenge_bottom", "/?top=" + bottom},
        {"refresh", pending ? "<noscript><meta http-equiv=\"refresh\" content=\"2\"></noscript>" : ""},
        {"report", view->state == BattleView::Done
                       ? "<iframe class=\"report\" src=\"/battles/" + name + "/report\" title=\"" +
                             std::string(web::ReportTitle) + "\"></iframe><p><a href=\"/battles/" + name +
                             "/report\">" + std::string(web::OpenReport) + "</a></p>"
                       : ""},
    };
    secure(res);
    res.set_header("Cache-Control", "no-store");
    res.set_content(page("battle.html", values), "text/html; charset=utf-8");
}

void WebFront::historyPage(const httplib::Request& req, httplib::Response& res) {
    const long pageNumber =
        std::max(1L, req.has_param("page") ? smallNumber(req.get_param_value("page")).value_or(1) : 1);
    const int64_t total = service_.battleCount();
    std::string rows;
    for (const BattleEntry& e : service_.history((pageNumber - 1) * HistoryPageSize, HistoryPageSize)) {
        const std::string name = folderName(e.number);
        const std::string top = cp932ToUtf8(e.top);
        const std::string bottom = cp932ToUtf8(e.bottom);
        const std::string result = e.state == BattleEntry::Done     ? resultText(e.outcome) + turnsText(e.outcome)
                                   : e.state == BattleEntry::Failed ? std::string(web::Failed)
                                                                    : std::string(web::Waiting);
        rows += join({"<tr><td><a href=\"/battles/",
                      name,
                      "\">",
                      name,
                      "</a></td><td>",
                      escapeHtml(result),
                      "</td><td class=\"line\">",
                      escapeHtml(top),
                      " <a href=\"/?bottom=",
                      encodeQuery(top),
                      "\">",
                      web::Challenge,
                      "</a></td><td class=\"line\">",
                      escapeHtml(bottom),
                      " <a href=\"/?top=",
                      encodeQuery(bottom),
                      "\">",
                      web::Challenge,
                      "</a></td><td><a href=\"/?top=",
                      encodeQuery(top),
                      "&amp;bottom=",
                      encodeQuery(bottom),
                      "\">",
                      web::Rematch,
                      "</a></td></tr>"});
    }
    std::string pager;
    if (pageNumber > 1)
        pager += "<a rel=\"prev\" href=\"/battles?page=" + std::to_string(pageNumber - 1) + "\">" +
                 std::string(web::Newer) + "</a> ";
    if (pageNumber * HistoryPageSize < total)
        pager += "<a rel=\"next\" href=\"/battles?page=" + std::to_string(pageNumber + 1) + "\">" +
                 std::string(web::Older) + "</a>";
    secure(res);
    res.set_header("Cache-Control", "no-store");
    res.set_content(
        page(
            "history.html",
            {{"rows", rows}, {"pager", pager}, {"total", std::to_string(total)}, {"page", std::to_string(pageNumber)}}),
        "text/html; charset=utf-8");
}

} // namespace morvane
