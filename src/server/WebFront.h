#pragma once
// The battle service's HTTP front: the team builder, battle and history pages, the
// JSON API, the report files, /healthz and /metrics. Handlers parse and check the
// request, ask the service, and answer; every refusal says why, in the words the
// command line tool would use for the same input, as a page or, under /api/, as JSON.

#include "common/Clock.h"
#include "server/BattleDesk.h"

#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace morvane {

class HttpServer;
class LadderRefusal;
struct PageFill;
struct ConnectionLimits;

// Submissions per second and client: a bucket that fills at rate and holds one
// second's worth.
class RateLimiter {
public:
    RateLimiter(double rate, const Clock& clock) : rate_(rate), clock_(clock) {}
    // True when the client may submit now; otherwise the seconds to wait.
    bool allow(const std::string& client, int* retryAfter);

private:
    struct Bucket {
        double tokens = 0;
        Clock::TimePoint at;
    };
    double rate_;
    const Clock& clock_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
    Clock::TimePoint swept_;
};

struct WebOptions {
    double rate = 5;
    std::filesystem::path webFolder; // the pages, scripts and styles
    size_t maxBody = 4096;
    // A tournament's creation: up to 256 entrants' lines with their names.
    size_t maxEventBody = 64 * 1024;
    // Requests from this address come through a proxy that names the client as the
    // last entry of X-Forwarded-For; empty: no proxy is trusted.
    std::string trustedProxy;
    // Connections open at once from one address (the trusted proxy has no bound).
    size_t connectionsPerClient = 64;
};

class WebFront {
public:
    // Reads the page files. Throws IoError naming a file that is missing.
    WebFront(BattleDesk& service, WebOptions options, const Clock& clock = systemClock());
    ~WebFront();
    WebFront(const WebFront&) = delete;
    WebFront& operator=(const WebFront&) = delete;

    // Binds to host and port (0: any free port) and returns the port. Throws
    // std::runtime_error when the address cannot be bound.
    int bind(const std::string& host, int port);
    // Answers requests until stop().
    void listen();
    // Stops accepting; requests under way are answered. Safe from another thread.
    void stop();

    // Answers one request whose body has been read: what the server does for every
    // request, callable without a socket.
    void answer(const httplib::Request& req, httplib::Response& res);
    // Fills in the body of an answer that has only its status (from the HTTP layer:
    // 400, 413, ...), in the form of the request's path.
    void fillError(const httplib::Request& req, httplib::Response& res);
    // An answer to a request that failed with an exception: 500, no detail shown.
    void failed(const httplib::Request& req, httplib::Response& res, const std::exception_ptr& error);

private:
    // One GET route: the path's rest past the route's path is given to the answer,
    // which returns false for a path it does not know.
    using GetAnswer = bool (WebFront::*)(const httplib::Request&, httplib::Response&, std::string_view rest);
    struct GetRoute {
        std::string_view path;
        bool prefix; // path is the start of the paths it answers
        GetAnswer answer;
    };
    static const GetRoute GetRoutes[];

    bool builderPage(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool health(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool metrics(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool historyPage(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool historyApi(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool cardsApi(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool deckLineApi(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool favicon(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool staticFile(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool battleApi(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool battleOrReport(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    // The ladder (LadderPages.cpp).
    bool ladderPage(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool ladderApi(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool ladderEntryOrApi(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    void postLadder(const httplib::Request& req, httplib::Response& res);
    // An entry's page; with its key (shown once, right after entering) and status.
    void entryPage(const httplib::Request& req, httplib::Response& res, uint32_t number, const std::string& key,
                   int status);
    void refuseLadder(const httplib::Request& req, httplib::Response& res, const LadderRefusal& refusal);
    bool eventsPage(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool eventsApi(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool eventApi(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool eventPage(const httplib::Request& req, httplib::Response& res, std::string_view rest);
    bool watch(const httplib::Request& req, httplib::Response& res, std::string_view rest);

    void postEvent(const httplib::Request& req, httplib::Response& res, bool api);
    // DELETE /api/tournaments/ID, POST /tournaments/ID/cancel.
    void cancelEvent(const httplib::Request& req, httplib::Response& res, const std::string& id, bool api);
    // The list of events with the creation form; problem, when set, is shown above the
    // form, which keeps what req sent.
    void eventsList(const httplib::Request& req, httplib::Response& res, int status, const std::string& problem);
    // An event's page; key is the organizer key shown once, on the answer to creation.
    void eventView(const httplib::Request& req, httplib::Response& res, const EventRecord& event,
                   const std::string& key);

    void answerGet(const httplib::Request& req, httplib::Response& res);
    void postBattle(const httplib::Request& req, httplib::Response& res, bool api);
    void battlePage(const BattleView& battle, httplib::Response& res);
    // A refusal page; with the deck lines (code page 932) of a form that was sent, their
    // teams as well.
    void errorPage(httplib::Response& res, int status, const std::string& message,
                   const std::array<std::string, 2>* lines = nullptr);
    // A side's team as the builder shows it, by card name with HP, AP and SP and the
    // size against the deck size; empty for a line that cannot be read.
    std::string teamView(const std::string& line, int side) const;
    // A refusal in the form of the path: JSON under /api/, else a page.
    void refuse(const httplib::Request& req, httplib::Response& res, int status, const std::string& message);
    // The client's address, as the trusted proxy says it.
    std::string clientOf(const httplib::Request& req) const;
    // The client as the limits count it (clientGroup of clientOf).
    std::string limitedClientOf(const httplib::Request& req) const;
    std::string page(const std::string& name, const PageFill& fill) const;

    BattleDesk& service_;
    WebOptions options_;
    const Clock& clock_;
    RateLimiter limiter_;
    std::map<std::string, std::string> files_; // the web folder's files by name
    std::unique_ptr<HttpServer> server_;
};

// The deck lines of the builder's form: the deck line box when filled (pasted, or
// kept in step by the page's script), else the selectors, so the form works without
// scripts too.
std::array<std::string, 2> builderFormLines(const httplib::Request& req);

// The limits the service's HTTP server keeps to.
ConnectionLimits serviceConnectionLimits(const WebOptions& options);

} // namespace morvane
