#pragma once
// cpp-httplib's request handling with the connections kept apart from the workers.
// One thread watches every open connection (epoll) and gathers its request head,
// bounded in bytes, header lines and time; only a whole head takes a worker, and a
// connection kept alive goes back to the watch between requests. A client that
// sends slowly, keeps a connection idle or sends endless headers so costs one socket
// and a small buffer, never a worker, and nobody else waits for it.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace morvane {

struct ConnectionLimits {
    size_t headBytes = 16384; // the request line and every header
    size_t headerCount = 100;
    // From a connection's start, or its last answer, to the whole head of a request.
    std::chrono::milliseconds headTime{10000};
    // A connection kept alive with no request under way.
    std::chrono::seconds idleTime{5};
    // One read or write of a request's body or answer.
    std::chrono::seconds ioTime{5};
    size_t requestsPerConnection = 100;
    size_t maxConnections = 4096;
    // Connections open at once from one client (an IPv4 address, an IPv6 /64), so that one client cannot take every
    // socket; more are refused with 429. A proxy in front speaks for many clients and
    // is not bounded.
    size_t connectionsPerClient = 64;
    std::vector<std::string> unboundedClients;
    int workers = 16;
};

// What a request head gathered so far is.
enum class HeadState { Incomplete, Whole, TooLarge };
HeadState checkHead(std::string_view received, const ConnectionLimits& limits);

class HttpServer : public httplib::Server {
public:
    // The answer to a request refused before it reaches the library (431: a head over
    // the limits; 429: too many connections from its client), from the status and the
    // head's first bytes: the body and its content type.
    using RefusalAnswer = std::function<std::pair<std::string, std::string>(int status, std::string_view head)>;

    HttpServer(ConnectionLimits limits, RefusalAnswer refusal);
    ~HttpServer() override;
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Answers requests until stop(); the requests whose heads are whole by then are
    // answered, every other connection closed.
    void serve();

private:
    struct Connection {
        int fd = -1;
        std::string received; // bytes read and not yet taken by a request
        std::chrono::steady_clock::time_point deadline;
        size_t served = 0;
        bool draining = false; // refused: the rest of what it sends is read and dropped
        std::string client;    // the peer's clientGroup; empty when it is not bounded
        // One connection too many from its client: its head is awaited only to answer
        // it in the form of its path, never served.
        bool overLimit = false;
    };

    bool process_and_close_socket(socket_t sock) override;
    // Watches a connection for its next request head.
    void watch(Connection connection);
    void watchLoop();
    void readFrom(Connection& connection);
    void refuse(Connection& connection, int status);
    // Counts a new connection against its client's bound; false when it is one too many.
    bool admit(Connection& connection);
    void workerLoop();
    void answer(Connection connection);
    void close(const Connection& connection);

    ConnectionLimits limits_;
    RefusalAnswer refusal_;
    int epoll_ = -1;
    std::mutex mutex_;
    std::condition_variable ready_;
    bool stopping_ = false;
    std::map<int, Connection> watched_;
    std::deque<Connection> heads_; // whole heads waiting for a worker
    size_t open_ = 0;              // connections watched or answered
    // Per client: connections served, and ones refused still being answered.
    struct ClientCount {
        size_t served = 0;
        size_t refused = 0;
    };
    std::unordered_map<std::string, ClientCount> clients_;
    std::thread watcher_;
    std::vector<std::thread> workers_;
};

} // namespace morvane
