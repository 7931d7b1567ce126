#pragma once
// The battle service's HTTP front: the team builder, battle and history pages, the
// JSON API, the report files, /healthz and /metrics. Handlers parse and check the
// request, ask the service, and answer; every refusal says why, in the words the
// command line tool would use for the same input.

#include "server/BattleService.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace morvane {

// Submissions per second and client: a bucket that fills at rate and holds one
// second's worth.
class RateLimiter {
public:
    explicit RateLimiter(double rate) : rate_(rate) {}
    // True when the client may submit now; otherwise the seconds to wait.
    bool allow(const std::string& client, int* retryAfter);

private:
    struct Bucket {
        double tokens = 0;
        std::chrono::steady_clock::time_point at;
    };
    double rate_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
    std::chrono::steady_clock::time_point swept_;
};

struct WebOptions {
    double rate = 5;
    std::filesystem::path webFolder; // the pages, scripts and styles
    size_t maxBody = 4096;
    // Requests from this address come through a proxy that names the client as the
    // last entry of X-Forwarded-For; empty: no proxy is trusted.
    std::string trustedProxy;
};

class WebFront {
public:
    // Reads the page files. Throws IoError naming a file that is missing.
    WebFront(BattleService& service, WebOptions options);
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

private:
    bool answerGet(const httplib::Request& req, httplib::Response& res);
    void postBattle(const httplib::Request& req, httplib::Response& res, bool api);
    void builderPage(const httplib::Request& req, httplib::Response& res);
    void battlePage(const BattleView& battle, httplib::Response& res);
    void historyPage(const httplib::Request& req, httplib::Response& res);
    void errorPage(httplib::Response& res, int status, const std::string& message);
    // The client's address, as the trusted proxy says it.
    std::string clientOf(const httplib::Request& req) const;
    std::string page(const std::string& name, const std::map<std::string, std::string>& values) const;

    BattleService& service_;
    WebOptions options_;
    RateLimiter limiter_;
    std::map<std::string, std::string> files_; // the web folder's files by name
    std::unique_ptr<httplib::Server> server_;
};

} // namespace morvane
