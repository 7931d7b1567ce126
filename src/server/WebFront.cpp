#include "server/WebFront.h"

#include "batch/BatchScan.h"
#include "cards/CardFields.h"
#include "cards/Deck.h"
#include "cards/NumberRule.h"
#include "cards/Team.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Html.h"
#include "common/Json.h"
#include "common/TextLines.h"
#include "server/ClientGroup.h"
#include "server/HttpServer.h"
#include "server/PageTemplate.h"
#include "server/PublicText.h"
#include "server/WebAnswer.h"
#include "server/WebFiles.h"
#include "server/WebText.h"
#include "stats/Statistics.h"
#include "tournament/TournamentJson.h"

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
constexpr std::string_view ApiPrefix = "/api/";
constexpr std::string_view StaticPrefix = "/static/";
constexpr std::string_view BattlePrefix = "/battles/";
constexpr std::string_view BattleApiPrefix = "/api/battles/";
constexpr std::string_view ReportSuffix = "/report";
constexpr const char* SideNames[2] = {"top", "bottom"};
constexpr std::string_view EventPrefix = "/tournaments/";
constexpr std::string_view EventApiPrefix = "/api/tournaments/";
constexpr std::string_view CancelSuffix = "/cancel";

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

const char* entryStateName(BattleEntry::State state) {
    return state == BattleEntry::Done ? "done" : state == BattleEntry::Failed ? "failed" : "waiting";
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

// A battle's result as the API gives it: the winner and turns of one that is done,
// why one failed.
void addResult(Json& body, const BattleEntry& entry) {
    if (entry.state == BattleEntry::Done) {
        body["winner"] = winnerName(entry.outcome);
        body["turns"] = entry.outcome.turns;
        body["report"] = "/battles/" + folderName(entry.number) + "/report";
    }
    if (entry.state == BattleEntry::Failed)
        body["error"] = entry.problem;
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

// "'C099'": an id as a deck line spells it.
std::string quotedId(bool vehicle, int32_t id) {
    char text[24];
    std::snprintf(text, sizeof text, "'%c%03d'", vehicle ? 'V' : 'C', id);
    return text;
}

// Why a team's size total is over its vehicle's deck size, in words; empty when it
// is not.
std::string overSizeText(const CardCatalogue& cards, const SideSelection& team) {
    const int64_t total = sizeTotal(cards, team);
    const int32_t deck = deckSize(cards, team);
    if (team.vehicle == 0 || total <= deck)
        return {};
    return std::string(web::OverOpen)
        .append(std::to_string(deck))
        .append(web::OverMiddle)
        .append(std::to_string(total - deck))
        .append(web::OverClose);
}

// What is wrong with a deck line (code page 932), named by the id at fault; empty
// when every id it names is a card the selectors offer. The line rules are the
// program's own: an id no selector offers would only leave its slot empty, and the
// battle's refusal would name the slot, not what was typed.
std::string deckLineProblem(const CardCatalogue& cards, const std::string& line) {
    SideSelection selection;
    try {
        applyDeckLine(line, selection, cards);
    } catch (const MorvaneError& e) {
        return utf8Text(e);
    }
    const SideSelection named = deckLineIds(line);
    if (selection.vehicle == 0 && named.vehicle != 0)
        return quotedId(true, named.vehicle).append(web::NotInCatalogue);
    for (size_t k = 0; k < named.characters.size(); ++k)
        if (selection.characters[k] == 0 && named.characters[k] != 0)
            return quotedId(false, named.characters[k]).append(web::NotInCatalogue);
    return {};
}

} // namespace

namespace {

// An event id as the store spells them; anything else names no event.
std::optional<std::string> eventIdOf(std::string_view text) {
    if (text.size() != 12 || text.find_first_not_of("0123456789abcdef") != std::string_view::npos)
        return std::nullopt;
    return std::string(text);
}

} // namespace

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

void badBody(httplib::Response& res, std::string_view fields) {
    json(res, 400, {{"error", web::BadBody}, {"detail", fields}});
}

bool RateLimiter::allow(const std::string& client, int* retryAfter) {
    const Clock::TimePoint now = clock_.now();
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
        // A clock set back never takes tokens away.
        const double elapsed = std::max(0.0, std::chrono::duration<double>(now - bucket.at).count());
        bucket.tokens = std::min(capacity, bucket.tokens + elapsed * rate_);
        bucket.at = now;
    }
    if (bucket.tokens >= 1) {
        bucket.tokens -= 1;
        return true;
    }
    *retryAfter = std::max(1, static_cast<int>(std::ceil((1 - bucket.tokens) / rate_)));
    return false;
}

ConnectionLimits serviceConnectionLimits(const WebOptions& options) {
    ConnectionLimits limits;
    limits.connectionsPerClient = options.connectionsPerClient;
    if (!options.trustedProxy.empty())
        limits.unboundedClients.push_back(options.trustedProxy);
    return limits;
}

WebFront::WebFront(BattleDesk& service, WebOptions options, const Clock& clock)
    : service_(service), options_(std::move(options)), clock_(clock), limiter_(options_.rate, clock) {
    for (const std::string_view name : web::Files)
        files_[std::string(name)] = readFileBytes(options_.webFolder / name, 1 << 20);

    // A head over the limits, or a connection over its client's bound, is refused
    // before it reaches the library: in the form of its path, as far as its first line
    // tells.
    server_ = std::make_unique<HttpServer>(serviceConnectionLimits(options_), [this](int status,
                                                                                     std::string_view head) {
        const bool api = head.substr(0, head.find('\n')).find(" /api/") != std::string_view::npos;
        const std::string message(status == 429 ? web::TooManyConnections : web::HeadTooLarge);
        if (api)
            return std::pair<std::string, std::string>{Json{{"error", message}}.dump(), "application/json"};
        return std::pair<std::string, std::string>{
            page("message.html", PageFill{{{"status", std::to_string(status)}, {"message", escapeHtml(message)}}, {}}),
            "text/html; charset=utf-8"};
    });
    HttpServer& s = *server_;
    s.set_payload_max_length(std::max(options_.maxBody, options_.maxEventBody));
    // An answer goes out as its head and then its body: with Nagle's algorithm the
    // body would wait for the client's delayed acknowledgement of the head.
    s.set_tcp_nodelay(true);
    // Every page and answer is made by answer(), without the library's pattern
    // matching of paths: a path is looked at as plain text only. Requests with a body
    // reach it once the library has read the body (or refused it as too large).
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        // The library takes a PUT, PATCH or DELETE without a body for a bad request.
        const bool body = req.has_header("Content-Length") || req.has_header("Transfer-Encoding");
        if (req.method != "GET" && req.method != "HEAD" && (req.method == "POST" || body))
            return httplib::Server::HandlerResponse::Unhandled;
        answer(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    const auto any = [this](const httplib::Request& req, httplib::Response& res) { answer(req, res); };
    s.Post(".*", any);
    s.Put(".*", any);
    s.Patch(".*", any);
    s.Delete(".*", any);
    s.Options(".*", any);
    s.set_error_handler([this](const httplib::Request& req, httplib::Response& res) { fillError(req, res); });
    // Without it the library answers an exception with its text in a header.
    s.set_exception_handler([this](const httplib::Request& req, httplib::Response& res,
                                   const std::exception_ptr& error) { failed(req, res, error); });
    s.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        ++service_.metrics().requests;
        char when[32];
        const std::time_t now = Clock::TimePoint::clock::to_time_t(clock_.now());
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

std::string WebFront::limitedClientOf(const httplib::Request& req) const {
    return clientGroup(clientOf(req));
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
    server_->serve();
}

void WebFront::stop() {
    server_->stop();
}

std::string WebFront::page(const std::string& name, const PageFill& fill) const {
    return fillPage(files_.at(name), fill);
}

void WebFront::errorPage(httplib::Response& res, int status, const std::string& message,
                         const std::array<std::string, 2>* lines) {
    res.status = status;
    secure(res);
    PageFill fill{{{"status", std::to_string(status)}, {"message", escapeHtml(message)}}, {}};
    if (lines) {
        PageFill teams;
        for (int side = 0; side < 2; ++side) {
            const std::string& line = (*lines)[static_cast<size_t>(side)];
            teams.values[SideNames[side]] = escapeHtml(cp932ToUtf8(line));
            teams.values[std::string(SideNames[side]).append("_team")] = teamView(line, side);
        }
        fill.lists["teams"].push_back(std::move(teams));
    }
    res.set_content(page("message.html", fill), "text/html; charset=utf-8");
}

std::string WebFront::teamView(const std::string& line, int side) const {
    const CardCatalogue& cards = service_.catalogue();
    SideSelection selection;
    try {
        applyDeckLine(line, selection, cards);
    } catch (const MorvaneError&) {
        return {};
    }
    const SideSelection named = deckLineIds(line);
    PageFill fill;
    for (const int index : KeyboardOrder) {
        const bool vehicle = index == VehicleSelector;
        const auto k = static_cast<size_t>(vehicle ? 0 : index);
        const int32_t id = vehicle ? selection.vehicle : selection.characters[k];
        const int32_t typed = vehicle ? named.vehicle : named.characters[k];
        PageFill cell;
        cell.values["selector"] = selectorName(selectorSlot(side, index));
        if (id != 0) {
            const cardRecordType& card = vehicle ? cards.vehicle(id) : cards.character(id);
            cell.values["name"] = escapeHtml(cp932ToUtf8(card.name));
            cell.values["stats"] = escapeHtml(cp932ToUtf8(statText(card)));
        } else {
            cell.values["name"] = typed != 0 ? escapeHtml(quotedId(vehicle, typed).append(web::NotInCatalogue))
                                             : std::string(web::NoCard);
            cell.lists["missing"] = PageFill::shown(true);
        }
        cell.lists["vehicle"] = PageFill::shown(vehicle);
        fill.lists["cells"].push_back(std::move(cell));
    }
    const std::string over = overSizeText(cards, selection);
    fill.values = {{"size", sizeText(cards, selection)}, {"why", over}};
    fill.lists["over"] = PageFill::shown(!over.empty());
    return page("team.html", fill);
}

void WebFront::refuse(const httplib::Request& req, httplib::Response& res, int status, const std::string& message) {
    if (req.path.rfind(ApiPrefix, 0) == 0)
        json(res, status, {{"error", message}});
    else
        errorPage(res, status, message);
}

void WebFront::fillError(const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty())
        return;
    const int status = res.status;
    std::string_view message = web::BadRequest;
    if (status == 413)
        message = web::TooLarge;
    else if (status == 404)
        message = web::NotFound;
    else if (status == 405)
        message = web::NotAllowed;
    else if (status >= 500)
        message = web::ServerFault;
    refuse(req, res, status, std::string(message));
}

void WebFront::failed(const httplib::Request& req, httplib::Response& res, const std::exception_ptr& error) {
    // The detail goes to the log only: it may name the host's files.
    std::string text = "unknown error";
    try {
        std::rethrow_exception(error);
    } catch (const MorvaneError& e) {
        text = utf8Text(e);
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
    }
    logLine(logSafe(req.path).append(": ").append(logSafe(text)));
    res.headers.erase("Location");
    res.set_header("Retry-After", "5");
    refuse(req, res, 500, std::string(web::ServerFault));
}

const WebFront::GetRoute WebFront::GetRoutes[] = {
    {"/", false, &WebFront::builderPage},
    {"/healthz", false, &WebFront::health},
    {"/metrics", false, &WebFront::metrics},
    {"/battles", false, &WebFront::historyPage},
    {"/api/battles", false, &WebFront::historyApi},
    {"/api/cards", false, &WebFront::cardsApi},
    {"/api/deckline", false, &WebFront::deckLineApi},
    {"/favicon.ico", false, &WebFront::favicon},
    {"/ladder", false, &WebFront::ladderPage},
    {"/api/ladder", false, &WebFront::ladderApi},
    {"/ladder/", true, &WebFront::ladderEntryOrApi},
    {"/api/ladder/", true, &WebFront::ladderEntryOrApi},
    {StaticPrefix, true, &WebFront::staticFile},
    {BattleApiPrefix, true, &WebFront::battleApi},
    {BattlePrefix, true, &WebFront::battleOrReport},
    {"/tournaments", false, &WebFront::eventsPage},
    {"/api/tournaments", false, &WebFront::eventsApi},
    {"/api/tournaments/", true, &WebFront::eventApi},
    {"/tournaments/", true, &WebFront::eventPage},
    {"/watch", false, &WebFront::watch},
};

void WebFront::answer(const httplib::Request& req, httplib::Response& res) {
    const std::string_view path = req.path;
    const bool posts = path == "/battles" || path == "/api/battles";
    const bool events = path == "/tournaments" || path == "/api/tournaments";
    const bool ladder = path == "/ladder" || path.substr(0, 8) == "/ladder/" || path == "/api/ladder" ||
                        path.substr(0, 12) == "/api/ladder/";
    // /tournaments/ID/cancel and /api/tournaments/ID: the id, when the path has one.
    std::optional<std::string> cancels;
    if (path.size() > EventPrefix.size() + CancelSuffix.size() && path.substr(0, EventPrefix.size()) == EventPrefix &&
        path.substr(path.size() - CancelSuffix.size()) == CancelSuffix)
        cancels = eventIdOf(path.substr(EventPrefix.size(), path.size() - EventPrefix.size() - CancelSuffix.size()));
    std::optional<std::string> deletes;
    if (path.substr(0, EventApiPrefix.size()) == EventApiPrefix)
        deletes = eventIdOf(path.substr(EventApiPrefix.size()));
    // The server takes bodies up to the larger limit, which only an event's creation
    // may use.
    if (!events && req.body.size() > options_.maxBody) {
        refuse(req, res, 413, std::string(web::TooLarge));
        return;
    }
    if (req.method == "GET" || req.method == "HEAD") {
        answerGet(req, res);
    } else if (ladder && (req.method == "POST" || (req.method == "DELETE" && path.substr(0, 5) == "/api/"))) {
        postLadder(req, res);
    } else if (req.method == "POST" && posts) {
        postBattle(req, res, path == "/api/battles");
    } else if (req.method == "POST" && events) {
        postEvent(req, res, path == "/api/tournaments");
    } else if (req.method == "POST" && cancels) {
        cancelEvent(req, res, *cancels, false);
    } else if (req.method == "DELETE" && deletes) {
        cancelEvent(req, res, *deletes, true);
    } else {
        res.set_header("Allow", posts || events || cancels || ladder ? "GET, HEAD, POST"
                                : deletes                            ? "GET, HEAD, DELETE"
                                                                     : "GET, HEAD");
        refuse(req, res, 405, std::string(web::NotAllowed));
    }
}

void WebFront::answerGet(const httplib::Request& req, httplib::Response& res) {
    const std::string_view path = req.path;
    for (const GetRoute& route : GetRoutes) {
        const bool matches = route.prefix ? path.substr(0, route.path.size()) == route.path : path == route.path;
        if (!matches)
            continue;
        if ((this->*route.answer)(req, res, path.substr(route.path.size())))
            return;
        break;
    }
    refuse(req, res, 404, std::string(web::NotFound));
}

bool WebFront::health(const httplib::Request&, httplib::Response& res, std::string_view) {
    res.set_content("ok\n", "text/plain; charset=utf-8");
    return true;
}

bool WebFront::metrics(const httplib::Request&, httplib::Response& res, std::string_view) {
    res.set_content(service_.metricsText(), "text/plain; version=0.0.4; charset=utf-8");
    return true;
}

bool WebFront::favicon(const httplib::Request& req, httplib::Response& res, std::string_view) {
    return staticFile(req, res, "icon.svg");
}

bool WebFront::staticFile(const httplib::Request&, httplib::Response& res, std::string_view rest) {
    const std::string name(rest);
    const auto file = files_.find(name);
    if (file == files_.end() || name.find(".html") != std::string::npos)
        return false;
    const auto endsWith = [&](std::string_view suffix) {
        return name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    secure(res);
    res.set_header("Cache-Control", "no-cache");
    res.set_content(file->second, endsWith(".js")    ? "text/javascript; charset=utf-8"
                                  : endsWith(".svg") ? "image/svg+xml"
                                                     : "text/css; charset=utf-8");
    return true;
}

bool WebFront::cardsApi(const httplib::Request&, httplib::Response& res, std::string_view) {
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

// A deck line read as a submission reads it, for the builder's box: the ids it
// selects, or what is wrong with it in words a page can show.
bool WebFront::deckLineApi(const httplib::Request& req, httplib::Response& res, std::string_view) {
    const std::string line = utf8ToCp932(req.get_param_value("line"));
    const std::string problem = deckLineProblem(service_.catalogue(), line);
    if (!problem.empty()) {
        json(res, 400, {{"error", problem}});
        return true;
    }
    SideSelection selection;
    applyDeckLine(line, selection, service_.catalogue());
    json(res, 200, {{"vehicle", selection.vehicle}, {"characters", selection.characters}});
    return true;
}

bool WebFront::historyApi(const httplib::Request& req, httplib::Response& res, std::string_view) {
    const long pageNumber =
        std::max(1L, req.has_param("page") ? smallNumber(req.get_param_value("page")).value_or(1) : 1);
    Json list = Json::array();
    for (const BattleEntry& e : service_.history((pageNumber - 1) * HistoryPageSize, HistoryPageSize)) {
        Json battle = {{"number", e.number},
                       {"url", "/battles/" + folderName(e.number)},
                       {"state", entryStateName(e.state)},
                       {"top", cp932ToUtf8(e.top)},
                       {"bottom", cp932ToUtf8(e.bottom)}};
        addResult(battle, e);
        list.push_back(std::move(battle));
    }
    json(res, 200, {{"battles", list}, {"total", service_.battleCount()}});
    return true;
}

// /api/battles/NNNN, /battles/NNNN, /battles/NNNN/report: the number is read as a
// folder name and spelled again, so no request text reaches a path.
bool WebFront::battleApi(const httplib::Request&, httplib::Response& res, std::string_view rest) {
    const std::optional<int> number = batchFolderNumber(std::string(rest));
    const std::optional<BattleView> view = number ? service_.view(*number) : std::nullopt;
    if (!view)
        return false;
    Json body = {{"number", *number},
                 {"url", "/battles/" + folderName(*number)},
                 {"state", stateName(view->state)},
                 {"top", cp932ToUtf8(view->entry.top)},
                 {"bottom", cp932ToUtf8(view->entry.bottom)}};
    if (view->state == BattleView::Waiting)
        body["place"] = view->place;
    addResult(body, view->entry);
    json(res, 200, body);
    return true;
}

bool WebFront::battleOrReport(const httplib::Request&, httplib::Response& res, std::string_view rest) {
    const bool wantsReport =
        rest.size() > ReportSuffix.size() && rest.substr(rest.size() - ReportSuffix.size()) == ReportSuffix;
    if (wantsReport)
        rest.remove_suffix(ReportSuffix.size());
    const std::optional<int> number = batchFolderNumber(std::string(rest));
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
    // One look at the battle serves the whole page: its folder may change meanwhile.
    const std::optional<BattleView> view = service_.view(*number);
    if (!view)
        return false;
    battlePage(*view, res);
    return true;
}

std::array<std::string, 2> builderFormLines(const httplib::Request& req) {
    std::array<std::string, 2> lines;
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
    return lines;
}

void WebFront::postBattle(const httplib::Request& req, httplib::Response& res, bool api) {
    int retryAfter = 1;
    if (!limiter_.allow(limitedClientOf(req), &retryAfter)) {
        ++service_.metrics().refusedRate;
        res.set_header("Retry-After", std::to_string(retryAfter));
        refuse(req, res, 429, std::string(web::TooMany));
        return;
    }
    std::array<std::string, 2> lines;
    if (api) {
        const Json body = Json::parse(req.body, nullptr, false);
        if (!body.is_object() || !body.contains("top") || !body.contains("bottom") || !body["top"].is_string() ||
            !body["bottom"].is_string()) {
            badBody(res, "the body must be a JSON object with the deck lines \"top\" and \"bottom\"");
            return;
        }
        lines = {body["top"].get<std::string>(), body["bottom"].get<std::string>()};
    } else {
        lines = builderFormLines(req);
    }
    std::array<std::string, 2> sent{utf8ToCp932(lines[0]), utf8ToCp932(lines[1])};
    // A form's refusal shows the teams that were sent beside the reason.
    const auto refuse = [&](int status, const std::string& message) {
        if (api)
            this->refuse(req, res, status, message);
        else
            errorPage(res, status, message, &sent);
    };
    std::pair<std::string, std::string> decks;
    try {
        decks = service_.checkDecks(sent[0], sent[1]);
    } catch (const MorvaneError& e) {
        ++service_.metrics().refusedBadDeck;
        std::string message = utf8Text(e);
        // The API keeps the command line tool's words; a page names the side in
        // Japanese and the id at fault.
        for (size_t side = 0; side < 2 && !api; ++side)
            if (const std::string problem = deckLineProblem(service_.catalogue(), sent[side]); !problem.empty()) {
                message = std::string(web::SideLine[side]).append(problem);
                break;
            }
        refuse(400, message);
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
        // A full disk or the like: nothing was taken, and it may pass.
        logLine(utf8Text(e));
        res.set_header("Retry-After", "30");
        refuse(503, std::string(web::NotTaken));
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

bool WebFront::builderPage(const httplib::Request& req, httplib::Response& res, std::string_view) {
    const CardCatalogue& cards = service_.catalogue();
    // Each card's option, its text escaped once for all the selectors that list it.
    std::array<std::vector<PageFill>, 2> options; // vehicles, characters
    for (const bool vehicles : {true, false})
        for (const SelectorEntry& entry : vehicles ? cards.vehicleEntries() : cards.characterEntries())
            options[vehicles ? 0 : 1].push_back(
                PageFill{{{"id", std::to_string(entry.id)}, {"text", escapeHtml(cp932ToUtf8(entry.text))}}, {}});
    PageFill fill;
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
        std::vector<PageFill>& cells = fill.lists[name + "_cells"];
        // Column by column, as the window's keyboard order goes.
        for (const int index : KeyboardOrder) {
            const bool vehicle = index == VehicleSelector;
            const int32_t selected = vehicle ? selection.vehicle : selection.characters[static_cast<size_t>(index)];
            const cardRecordType& card = vehicle ? cards.vehicle(selected) : cards.character(selected);
            PageFill cell;
            cell.values = {{"field", name + (vehicle ? "_v" : "_c" + std::to_string(index + 1))},
                           {"selector", selectorName(selectorSlot(side, index))},
                           {"kind", vehicle ? "V" : "C"},
                           {"stats", selected ? escapeHtml(cp932ToUtf8(statText(card))) : std::string()}};
            cell.lists["vehicle"] = PageFill::shown(vehicle);
            cell.lists["unselected"] = PageFill::shown(selected == 0);
            std::vector<PageFill>& choices = cell.lists["options"] = options[vehicle ? 0 : 1];
            for (PageFill& choice : choices)
                choice.lists["selected"] = PageFill::shown(choice.values["id"] == std::to_string(selected));
            cells.push_back(std::move(cell));
        }
        fill.values[name + "_size"] = sizeText(cards, selection);
        const std::string over = overSizeText(cards, selection);
        fill.values[name + "_why"] = over;
        fill.lists[name + "_over"] = PageFill::shown(!over.empty());
    }
    secure(res);
    res.set_content(page("builder.html", fill), "text/html; charset=utf-8");
    return true;
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
    PageFill fill;
    fill.values = {
        {"number", name},
        {"state", stateName(view->state)},
        {"state_text", escapeHtml(state)},
        {"winner", view->state == BattleView::Done ? winnerName(view->entry.outcome) : ""},
        {"top", escapeHtml(cp932ToUtf8(view->entry.top))},
        {"bottom", escapeHtml(cp932ToUtf8(view->entry.bottom))},
        {"top_team", teamView(view->entry.top, 0)},
        {"bottom_team", teamView(view->entry.bottom, 1)},
        {"rematch", "/?top=" + top + "&amp;bottom=" + bottom},
        {"challenge_top", "/?bottom=" + top},
        {"challenge_bottom", "/?top=" + bottom},
    };
    fill.lists["pending"] = PageFill::shown(pending);
    fill.lists["done"] = PageFill::shown(view->state == BattleView::Done);
    secure(res);
    res.set_header("Cache-Control", "no-store");
    res.set_content(page("battle.html", fill), "text/html; charset=utf-8");
}

bool WebFront::historyPage(const httplib::Request& req, httplib::Response& res, std::string_view) {
    const long pageNumber =
        std::max(1L, req.has_param("page") ? smallNumber(req.get_param_value("page")).value_or(1) : 1);
    const int64_t total = service_.battleCount();
    PageFill fill;
    fill.values = {{"total", std::to_string(total)}, {"page", std::to_string(pageNumber)}};
    std::vector<PageFill>& rows = fill.lists["rows"];
    for (const BattleEntry& e : service_.history((pageNumber - 1) * HistoryPageSize, HistoryPageSize)) {
        const std::string top = cp932ToUtf8(e.top);
        const std::string bottom = cp932ToUtf8(e.bottom);
        const std::string result = e.state == BattleEntry::Done     ? resultText(e.outcome) + turnsText(e.outcome)
                                   : e.state == BattleEntry::Failed ? std::string(web::Failed)
                                                                    : std::string(web::Waiting);
        rows.push_back(PageFill{{{"name", folderName(e.number)},
                                 {"result", escapeHtml(result)},
                                 {"top", escapeHtml(top)},
                                 {"bottom", escapeHtml(bottom)},
                                 {"top_team", teamView(e.top, 0)},
                                 {"bottom_team", teamView(e.bottom, 1)},
                                 {"top_query", encodeQuery(top)},
                                 {"bottom_query", encodeQuery(bottom)}},
                                {}});
    }
    if (pageNumber > 1)
        fill.lists["newer"].push_back(PageFill{{{"page", std::to_string(pageNumber - 1)}}, {}});
    if (pageNumber * HistoryPageSize < total)
        fill.lists["older"].push_back(PageFill{{{"page", std::to_string(pageNumber + 1)}}, {}});
    secure(res);
    res.set_header("Cache-Control", "no-store");
    res.set_content(page("history.html", fill), "text/html; charset=utf-8");
    return true;
}

// Tournaments.

namespace {

constexpr size_t EventPageSize = 50;
// An event with more matches than this shows one round at a time.
constexpr size_t MatchesOnOnePage = 300;

const char* eventStateName(EventRecord::State state) {
    switch (state) {
    case EventRecord::State::Waiting:
        return "waiting";
    case EventRecord::State::Played:
        return "played";
    case EventRecord::State::Failed:
        return "failed";
    case EventRecord::State::Cancelled:
        return "cancelled";
    }
    return "waiting";
}

std::string eventStateText(const EventRecord& event) {
    switch (event.state) {
    case EventRecord::State::Waiting:
        return std::string(web::EventWaiting);
    case EventRecord::State::Played:
        return std::string(web::EventPlayed);
    case EventRecord::State::Failed:
        return std::string(web::EventFailed).append(": ").append(event.problem);
    case EventRecord::State::Cancelled:
        return std::string(web::EventCancelled);
    }
    return {};
}

std::string utcText(Clock::TimePoint time) {
    const std::time_t t = Clock::TimePoint::clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
    return text;
}

std::string isoText(Clock::TimePoint time) {
    const std::time_t t = Clock::TimePoint::clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string pointsText(double points) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", points);
    return text;
}

// "#3 赤の軍", or "#3" for an entrant without a name; not escaped.
std::string entrantLabel(const EventRecord& event, size_t entrant) {
    std::string label = std::string("#").append(std::to_string(entrant + 1));
    if (entrant < event.order.names.size() && !event.order.names[entrant].empty())
        label.append(" ").append(event.order.names[entrant]);
    return label;
}

std::string eventDeckLine(const EventRecord& event, size_t entrant) {
    return formatDeckLine(event.order.request.entrants[entrant], 0);
}

// The address that plays battle k of a match again: the first entrant on top for even k.
std::string watchUrl(const EventRecord& event, const Match& m, unsigned k) {
    const bool aTop = k % 2 == 0;
    const std::string top = eventDeckLine(event, aTop ? m.a : m.b);
    const std::string bottom = eventDeckLine(event, aTop ? m.b : m.a);
    return std::string("/watch?top=")
        .append(encodeQuery(top))
        .append("&bottom=")
        .append(encodeQuery(bottom))
        .append("&seed=")
        .append(std::to_string(battleSeed(m.seed, k)))
        .append("&turns=")
        .append(std::to_string(event.order.request.maxTurns));
}

Json eventJson(const EventRecord& event, bool full) {
    const TournamentRequest& r = event.order.request;
    Json body = {{"id", event.id},
                 {"url", std::string("/tournaments/").append(event.id)},
                 {"name", event.name},
                 {"format", formatName(r.format)},
                 {"battles", r.battles},
                 {"rounds", r.rounds},
                 {"seed", r.seed},
                 {"state", eventStateName(event.state)},
                 {"created", isoText(event.created)},
                 {"entrants", r.entrants.size()}};
    if (event.state == EventRecord::State::Failed)
        body["error"] = event.problem;
    if (event.result)
        body["champion"] = event.result->champion + 1;
    if (!full)
        return body;
    Json entrants = Json::array();
    for (size_t i = 0; i < r.entrants.size(); ++i)
        entrants.push_back({{"number", i + 1}, {"name", event.order.names[i]}, {"deck", eventDeckLine(event, i)}});
    body["entrants"] = std::move(entrants);
    if (!event.result)
        return body;
    const TournamentResult& result = *event.result;
    Json rounds = Json::array();
    for (const TournamentRound& round : result.rounds) {
        Json matches = Json::array();
        for (const Match& m : round.matches) {
            Json match = matchJson(m);
            Json watch = Json::array();
            for (unsigned k = 0; k < m.played; ++k)
                watch.push_back(watchUrl(event, m, k));
            match["watch"] = std::move(watch);
            matches.push_back(std::move(match));
        }
        rounds.push_back(std::move(matches));
    }
    Json standings = Json::array();
    for (size_t i = 0; i < result.standings.size(); ++i) {
        const Standing& s = result.standings[i];
        Json standing{{"place", i + 1}, {"entrant", s.entrant + 1}};
        standing.update(standingFigures(s));
        standings.push_back(std::move(standing));
    }
    body["battles_played"] = result.battles;
    body["rounds_played"] = std::move(rounds);
    body["standings"] = std::move(standings);
    return body;
}

// The status and the words of a refusal of an organizer's request.
std::pair<int, std::string> refusalText(const EventRefusal& e) {
    using Kind = EventRefusal::Kind;
    const std::string entrant =
        std::string(web::EntrantOpen).append(std::to_string(e.entrant())).append(web::EntrantClose);
    switch (e.kind()) {
    case Kind::BadName:
        return {400, e.entrant() ? entrant + std::string(web::EventNameRule)
                                 : std::string(web::EventBadName).append(web::EventNameRule)};
    case Kind::BadEntrant:
        return {400, entrant + (e.detail().empty() ? std::string(web::EntrantNotALine) : e.detail())};
    case Kind::NoEntry:
        return {400, entrant + std::string(web::NoLadderEntry)};
    case Kind::Entrants:
        return {400, std::string(web::EntrantCount)};
    case Kind::Battles:
        return {400, std::string(web::EventBattles)};
    case Kind::Rounds:
        return {400, std::string(web::EventRounds)};
    case Kind::NoEvent:
        return {404, std::string(web::NoEvent)};
    case Kind::WrongKey:
        return {403, std::string(web::WrongKey)};
    case Kind::Played:
        return {409, std::string(web::EventAlreadyPlayed)};
    case Kind::Cancelled:
        return {409, std::string(web::EventAlreadyCancelled)};
    case Kind::Busy:
        return {429, std::string(web::EventsBusy)};
    }
    return {400, std::string(web::BadRequest)};
}

} // namespace

bool WebFront::eventsPage(const httplib::Request& req, httplib::Response& res, std::string_view) {
    eventsList(req, res, 200, {});
    return true;
}

void WebFront::eventsList(const httplib::Request& req, httplib::Response& res, int status, const std::string& problem) {
    const long pageNumber =
        std::max(1L, req.has_param("page") ? smallNumber(req.get_param_value("page")).value_or(1) : 1);
    const size_t total = service_.eventCount();
    PageFill fill;
    fill.values = {{"total", std::to_string(total)}, {"page", std::to_string(pageNumber)}};
    std::vector<PageFill>& rows = fill.lists["rows"];
    for (const EventRecord& e : service_.events(static_cast<size_t>(pageNumber - 1) * EventPageSize, EventPageSize))
        rows.push_back(PageFill{{{"id", e.id},
                                 {"name", escapeHtml(e.name)},
                                 {"format", std::string(formatTitle(e.order.request.format))},
                                 {"entrants", std::to_string(e.order.request.entrants.size())},
                                 {"state", escapeHtml(eventStateText(e))},
                                 {"champion", e.result ? escapeHtml(entrantLabel(e, e.result->champion)) : ""},
                                 {"created", utcText(e.created)}},
                                {}});
    if (pageNumber > 1)
        fill.lists["newer"].push_back(PageFill{{{"page", std::to_string(pageNumber - 1)}}, {}});
    if (static_cast<size_t>(pageNumber) * EventPageSize < total)
        fill.lists["older"].push_back(PageFill{{{"page", std::to_string(pageNumber + 1)}}, {}});
    // The form keeps what was sent, so a refusal costs the organizer nothing typed.
    const bool sent = req.method == "POST";
    const std::string format = sent ? req.get_param_value("format") : "round-robin";
    for (const TournamentFormat f :
         {TournamentFormat::RoundRobin, TournamentFormat::Swiss, TournamentFormat::Knockout}) {
        PageFill option{{{"value", std::string(formatName(f))}, {"label", std::string(formatTitle(f))}}, {}};
        option.lists["selected"] = PageFill::shown(format == formatName(f));
        fill.lists["formats"].push_back(std::move(option));
    }
    fill.values["name"] = sent ? escapeHtml(req.get_param_value("name")) : "";
    fill.values["battles"] = sent ? escapeHtml(req.get_param_value("battles")) : "3";
    fill.values["rounds"] = sent ? escapeHtml(req.get_param_value("rounds")) : "0";
    fill.values["entrants"] = sent ? escapeHtml(req.get_param_value("entrants")) : "";
    if (!problem.empty())
        fill.lists["problem"].push_back(PageFill{{{"message", escapeHtml(problem)}}, {}});
    res.status = status;
    secure(res);
    res.set_header("Cache-Control", "no-store");
    res.set_content(page("tournaments.html", fill), "text/html; charset=utf-8");
}

bool WebFront::eventsApi(const httplib::Request& req, httplib::Response& res, std::string_view) {
    const long pageNumber =
        std::max(1L, req.has_param("page") ? smallNumber(req.get_param_value("page")).value_or(1) : 1);
    Json list = Json::array();
    for (const EventRecord& e : service_.events(static_cast<size_t>(pageNumber - 1) * EventPageSize, EventPageSize))
        list.push_back(eventJson(e, false));
    json(res, 200, {{"tournaments", list}, {"total", service_.eventCount()}});
    return true;
}

bool WebFront::eventApi(const httplib::Request&, httplib::Response& res, std::string_view rest) {
    const std::optional<std::string> id = eventIdOf(rest);
    const std::optional<EventRecord> event = id ? service_.event(*id) : std::nullopt;
    if (!event)
        return false;
    json(res, 200, eventJson(*event, true));
    return true;
}

bool WebFront::eventPage(const httplib::Request& req, httplib::Response& res, std::string_view rest) {
    const std::optional<std::string> id = eventIdOf(rest);
    const std::optional<EventRecord> event = id ? service_.event(*id) : std::nullopt;
    if (!event)
        return false;
    eventView(req, res, *event, {});
    return true;
}

void WebFront::eventView(const httplib::Request& req, httplib::Response& res, const EventRecord& event,
                         const std::string& key) {
    const TournamentRequest& r = event.order.request;
    const auto label = [&](size_t entrant) { return escapeHtml(entrantLabel(event, entrant)); };
    PageFill fill;
    fill.values = {{"id", event.id},
                   {"name", escapeHtml(event.name)},
                   {"state", eventStateName(event.state)},
                   {"state_text", escapeHtml(eventStateText(event))},
                   {"format", std::string(formatTitle(r.format))},
                   {"battles", std::to_string(r.battles)},
                   {"seed", std::to_string(r.seed)},
                   {"created", utcText(event.created)},
                   {"entrant_count", std::to_string(r.entrants.size())}};
    if (!key.empty())
        fill.lists["key"].push_back(PageFill{{{"key", escapeHtml(key)}}, {}});
    if (r.format == TournamentFormat::Swiss)
        fill.lists["swiss"].push_back(PageFill{
            {{"rounds", r.rounds ? std::to_string(r.rounds) : std::to_string(defaultSwissRounds(r.entrants.size()))}},
            {}});
    fill.lists["waiting"] = PageFill::shown(event.state == EventRecord::State::Waiting);
    for (size_t i = 0; i < r.entrants.size(); ++i) {
        const std::string line = eventDeckLine(event, i);
        fill.lists["entrants"].push_back(PageFill{{{"number", std::to_string(i + 1)},
                                                   {"label", label(i)},
                                                   {"team", teamView(line, 0)},
                                                   {"deck", escapeHtml(line)}},
                                                  {}});
    }
    if (event.result) {
        const TournamentResult& result = *event.result;
        const bool knockout = r.format == TournamentFormat::Knockout;
        fill.lists["champion"].push_back(PageFill{{{"number", std::to_string(result.champion + 1)},
                                                   {"label", label(result.champion)},
                                                   {"team", teamView(eventDeckLine(event, result.champion), 0)}},
                                                  {}});
        PageFill standings;
        standings.lists["tiebreaks"] = PageFill::shown(!knockout);
        standings.lists["reached"] = PageFill::shown(knockout);
        for (size_t i = 0; i < result.standings.size(); ++i) {
            const Standing& s = result.standings[i];
            PageFill row{{{"place", std::to_string(i + 1)},
                          {"number", std::to_string(s.entrant + 1)},
                          {"label", label(s.entrant)},
                          {"points", pointsText(s.points)},
                          {"buchholz", pointsText(s.buchholz)},
                          {"sb", pointsText(s.sonnebornBerger)},
                          {"won", std::to_string(s.won)},
                          {"drawn", std::to_string(s.drawn)},
                          {"lost", std::to_string(s.lost)},
                          {"battles", std::to_string(s.battlesWon).append("-").append(std::to_string(s.battlesLost))},
                          {"reached", std::to_string(s.roundsReached)}},
                         {}};
            row.lists["tiebreaks"] = standings.lists["tiebreaks"];
            row.lists["reached"] = standings.lists["reached"];
            row.lists["first"] = PageFill::shown(i == 0);
            standings.lists["rows"].push_back(std::move(row));
        }
        fill.lists["standings"].push_back(std::move(standings));

        const auto roundTitle = [&](size_t round) {
            const bool final =
                knockout && round + 1 == result.rounds.size() && result.rounds[round].matches.size() == 1;
            return final ? std::string(web::FinalRound) : std::string(web::RoundWord).append(std::to_string(round + 1));
        };
        if (knockout) {
            PageFill bracket;
            for (size_t round = 0; round < result.rounds.size(); ++round) {
                PageFill column{{{"title", roundTitle(round)}}, {}};
                for (const Match& m : result.rounds[round].matches) {
                    PageFill cell{{{"a", label(m.a)},
                                   {"b", m.bye() ? std::string(web::Bye) : label(m.b)},
                                   {"a_wins", m.bye() ? "" : std::to_string(m.winsA)},
                                   {"b_wins", m.bye() ? "" : std::to_string(m.winsB)}},
                                  {}};
                    cell.lists["a_won"] = PageFill::shown(m.winner == 0);
                    cell.lists["b_won"] = PageFill::shown(m.winner == 1);
                    column.lists["cells"].push_back(std::move(cell));
                }
                bracket.lists["columns"].push_back(std::move(column));
            }
            bracket.values["champion"] = label(result.champion);
            fill.lists["bracket"].push_back(std::move(bracket));
        }

        // Every round on the page, or for a large event the one asked for.
        size_t matches = 0;
        for (const TournamentRound& round : result.rounds)
            matches += round.matches.size();
        const bool paged = matches > MatchesOnOnePage;
        size_t shown = 0;
        if (paged && req.has_param("round"))
            shown = static_cast<size_t>(std::max(1L, smallNumber(req.get_param_value("round")).value_or(1))) - 1;
        shown = std::min(shown, result.rounds.empty() ? 0 : result.rounds.size() - 1);
        for (size_t round = 0; round < result.rounds.size(); ++round) {
            if (paged) {
                PageFill link{{{"round", std::to_string(round + 1)}, {"title", roundTitle(round)}}, {}};
                link.lists["current"] = PageFill::shown(round == shown);
                link.lists["other"] = PageFill::shown(round != shown);
                fill.lists["round_links"].push_back(std::move(link));
                if (round != shown)
                    continue;
            }
            PageFill part{{{"title", roundTitle(round)}}, {}};
            for (const Match& m : result.rounds[round].matches) {
                PageFill row{{{"a", label(m.a)}}, {}};
                if (m.bye()) {
                    row.values["b"] = std::string(web::Bye);
                    row.values["winner"] = label(m.a);
                } else {
                    row.values["b"] = label(m.b);
                    std::string score = std::to_string(m.winsA).append("-").append(std::to_string(m.winsB));
                    if (m.undecided)
                        score.append(web::TurnsOpen)
                            .append(web::Drawn)
                            .append(" ")
                            .append(std::to_string(m.undecided))
                            .append("）");
                    row.values["score"] = escapeHtml(score);
                    row.values["winner"] = m.winner == -1
                                               ? std::string(web::Drawn)
                                               : label(m.winnerEntrant()).append(m.bySeed ? web::BySeed : "");
                    for (unsigned k = 0; k < m.played; ++k) {
                        PageFill battle{{{"url", escapeHtml(watchUrl(event, m, k))}, {"k", std::to_string(k + 1)}}, {}};
                        battle.lists["a_top"] = PageFill::shown(k % 2 == 0);
                        row.lists["watch"].push_back(std::move(battle));
                    }
                }
                part.lists["matches"].push_back(std::move(row));
            }
            fill.lists["rounds"].push_back(std::move(part));
        }
    }
    secure(res);
    res.set_header("Cache-Control", "no-store");
    res.set_content(page("tournament.html", fill), "text/html; charset=utf-8");
}

namespace {

// An entrant of the API's list: a line as the form takes it, or {"deck" or "entry",
// "name"}.
std::optional<EntrantSource> apiEntrant(const CardCatalogue& cards, const Json& item, size_t number) {
    std::string line;
    std::string name;
    bool named = false;
    if (item.is_string()) {
        line = item.get<std::string>();
        if (line.find_first_of("\r\n") != std::string::npos)
            return std::nullopt;
    } else if (item.is_object()) {
        if (item.contains("deck") && item["deck"].is_string())
            line = item["deck"].get<std::string>();
        else if (item.contains("entry") && item["entry"].is_number_unsigned())
            line = std::string("#").append(std::to_string(item["entry"].get<uint64_t>()));
        else
            return std::nullopt;
        if (line.find_first_of(" \t\r\n") != std::string::npos)
            return std::nullopt;
        if (item.contains("name")) {
            if (!item["name"].is_string())
                return std::nullopt;
            name = item["name"].get<std::string>();
            named = true;
        }
    } else {
        return std::nullopt;
    }
    std::vector<EntrantSource> parsed;
    try {
        parsed = parseEntrantLines(cards, line);
    } catch (const EventRefusal& e) {
        // Each item is read as a text of one line: the list's place is what names it.
        throw EventRefusal(e.kind(), e.message(), number, e.detail());
    }
    if (parsed.size() != 1)
        return std::nullopt;
    EntrantSource entrant = std::move(parsed.front());
    entrant.line = number;
    if (named) {
        try {
            checkEventName(name, false);
        } catch (const EventRefusal&) {
            throw EventRefusal(EventRefusal::Kind::BadName, "bad entrant name", number);
        }
        entrant.name = name;
    }
    return entrant;
}

} // namespace

void WebFront::postEvent(const httplib::Request& req, httplib::Response& res, bool api) {
    int retryAfter = 1;
    if (!limiter_.allow(limitedClientOf(req), &retryAfter)) {
        ++service_.metrics().refusedRate;
        res.set_header("Retry-After", std::to_string(retryAfter));
        refuse(req, res, 429, std::string(web::TooMany));
        return;
    }
    const auto refuseWith = [&](int status, const std::string& message) {
        if (api)
            refuse(req, res, status, message);
        else
            eventsList(req, res, status, message);
    };
    EventPlan plan;
    std::string formatText;
    try {
        if (api) {
            const Json body = Json::parse(req.body, nullptr, false);
            const auto number = [&](const char* field, unsigned fallback) -> std::optional<unsigned> {
                if (!body.contains(field))
                    return fallback;
                if (!body[field].is_number_unsigned() || body[field].get<uint64_t>() > 0xffffffffu)
                    return std::nullopt;
                return static_cast<unsigned>(body[field].get<uint64_t>());
            };
            if (!body.is_object() || !body.contains("name") || !body["name"].is_string() ||
                !body.contains("entrants") || !body["entrants"].is_array() ||
                (body.contains("format") && !body["format"].is_string())) {
                badBody(res, "the body must be a JSON object with \"name\", \"entrants\" (a list) and optionally "
                             "\"format\", \"battles\", \"rounds\", \"seed\"");
                return;
            }
            plan.name = body["name"].get<std::string>();
            formatText = body.value("format", std::string("round-robin"));
            const std::optional<unsigned> battles = number("battles", 3), rounds = number("rounds", 0);
            if (!battles || !rounds) {
                refuse(req, res, 400, std::string(!battles ? web::EventBattles : web::EventRounds));
                return;
            }
            plan.battles = *battles;
            plan.rounds = *rounds;
            if (body.contains("seed")) {
                const std::optional<unsigned> seed = number("seed", 0);
                if (!seed) {
                    refuse(req, res, 400, std::string(web::EventSeed));
                    return;
                }
                plan.seed = *seed;
            }
            const Json& list = body["entrants"];
            if (list.size() > MaxEventEntrants) {
                refuse(req, res, 400, std::string(web::EntrantCount));
                return;
            }
            for (size_t i = 0; i < list.size(); ++i) {
                std::optional<EntrantSource> entrant = apiEntrant(service_.catalogue(), list[i], i + 1);
                if (!entrant) {
                    refuse(req, res, 400,
                           std::string(web::EntrantOpen)
                               .append(std::to_string(i + 1))
                               .append(web::EntrantClose)
                               .append(web::EntrantNotALine));
                    return;
                }
                plan.entrants.push_back(std::move(*entrant));
            }
        } else {
            plan.name = req.get_param_value("name");
            formatText = req.get_param_value("format");
            const std::optional<long> battles = smallNumber(std::string(trimmed(req.get_param_value("battles"))));
            const std::string roundsText(trimmed(req.get_param_value("rounds")));
            const std::optional<long> rounds = roundsText.empty() ? 0L : smallNumber(roundsText);
            if (!battles || !rounds) {
                refuseWith(400, std::string(!battles ? web::EventBattles : web::EventRounds));
                return;
            }
            plan.battles = static_cast<unsigned>(*battles);
            plan.rounds = static_cast<unsigned>(*rounds);
            plan.entrants = parseEntrantLines(service_.catalogue(), req.get_param_value("entrants"));
        }
        const std::optional<TournamentFormat> format = tournamentFormat(formatText);
        if (!format) {
            refuseWith(400, std::string(web::EventFormat));
            return;
        }
        plan.format = *format;
        const EventStore::Created created = service_.createEvent(plan);
        const std::string url = std::string("/tournaments/").append(created.id);
        res.set_header("Location", url);
        if (api) {
            json(res, 201,
                 {{"id", created.id},
                  {"url", url},
                  {"api", std::string("/api/tournaments/").append(created.id)},
                  {"key", created.key}});
            return;
        }
        // The key is on this answer only: no redirect, which would lose it.
        const std::optional<EventRecord> event = service_.event(created.id);
        if (!event) {
            refuseWith(500, std::string(web::ServerFault));
            return;
        }
        res.status = 201;
        eventView(req, res, *event, created.key);
    } catch (const EventRefusal& e) {
        const auto [status, message] = refusalText(e);
        if (status == 429)
            res.set_header("Retry-After", "60");
        if (api) {
            json(res, status, {{"error", message}, {"detail", e.message()}});
            return;
        }
        refuseWith(status, message);
    } catch (const MorvaneError& e) {
        logLine(utf8Text(e));
        res.set_header("Retry-After", "30");
        refuseWith(503, std::string(web::EventNotTaken));
    }
}

void WebFront::cancelEvent(const httplib::Request& req, httplib::Response& res, const std::string& id, bool api) {
    int retryAfter = 1;
    if (!limiter_.allow(limitedClientOf(req), &retryAfter)) {
        ++service_.metrics().refusedRate;
        res.set_header("Retry-After", std::to_string(retryAfter));
        refuse(req, res, 429, std::string(web::TooMany));
        return;
    }
    const std::string key = req.has_header("X-Organizer-Key") ? req.get_header_value("X-Organizer-Key")
                                                              : std::string(trimmed(req.get_param_value("key")));
    try {
        service_.cancelEvent(id, key);
    } catch (const EventRefusal& e) {
        const auto [status, message] = refusalText(e);
        refuse(req, res, status, message);
        return;
    } catch (const MorvaneError& e) {
        logLine(utf8Text(e));
        res.set_header("Retry-After", "30");
        refuse(req, res, 503, std::string(web::ServerFault));
        return;
    }
    const std::string url = std::string("/tournaments/").append(id);
    if (api) {
        json(res, 200, {{"id", id}, {"url", url}, {"state", "cancelled"}});
    } else {
        res.status = 303;
        res.set_header("Location", url);
        secure(res);
    }
}

bool WebFront::watch(const httplib::Request& req, httplib::Response& res, std::string_view) {
    int retryAfter = 1;
    // A report is a battle played now: it costs what a submission costs.
    if (!limiter_.allow(limitedClientOf(req), &retryAfter)) {
        ++service_.metrics().refusedRate;
        res.set_header("Retry-After", std::to_string(retryAfter));
        refuse(req, res, 429, std::string(web::TooMany));
        return true;
    }
    const std::optional<long> seed = [&]() -> std::optional<long> {
        const std::string text = req.get_param_value("seed");
        if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const long long value = std::stoll(text);
        return value <= 0xffffffffLL ? std::optional<long>(static_cast<long>(value)) : std::nullopt;
    }();
    if (!seed) {
        refuse(req, res, 400, std::string(web::WatchSeed));
        return true;
    }
    long long turns = service_.maxTurns();
    if (req.has_param("turns")) {
        const std::optional<long> asked = smallNumber(req.get_param_value("turns"));
        // No battle longer than this service would play: a cap is what bounds the work.
        if (!asked || *asked < 1 || *asked > std::max(service_.maxTurns(), DefaultMaxTurns)) {
            refuse(req, res, 400, std::string(web::WatchTurns));
            return true;
        }
        turns = *asked;
    }
    std::string report;
    try {
        const auto decks =
            service_.checkDecks(utf8ToCp932(req.get_param_value("top")), utf8ToCp932(req.get_param_value("bottom")));
        report = service_.replay(decks, static_cast<uint32_t>(*seed), turns);
    } catch (const InputError& e) {
        refuse(req, res, 400, utf8Text(e));
        return true;
    }
    // As a stored report is served: the catalogue's names may hold markup.
    res.set_header("Content-Security-Policy", "sandbox");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.body = std::move(report);
    res.set_header("Content-Type", "text/html; charset=Shift_JIS");
    return true;
}

} // namespace morvane
