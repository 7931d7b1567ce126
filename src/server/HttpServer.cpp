#include "server/HttpServer.h"

#include "server/ClientGroup.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace morvane {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::string_view HeadEnd = "\r\n\r\n";
// A refused connection's further bytes are read for this long, so that it gets our
// answer rather than a reset for unread data.
constexpr std::chrono::seconds DrainTime{1};

int millisecondsUntil(SteadyClock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

bool waitFor(int fd, short events, int milliseconds) {
    pollfd p{fd, events, 0};
    int n = 0;
    while ((n = ::poll(&p, 1, milliseconds)) < 0 && errno == EINTR) {
    }
    return n > 0;
}

void addressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
    if ((peer ? ::getpeername(fd, any, &length) : ::getsockname(fd, any, &length)) != 0)
        return;
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address); // NOLINT
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address); // NOLINT
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        port = ntohs(v6->sin6_port);
    }
    ip = text;
}

// A connection as httplib reads and writes it: first the bytes the watch gathered,
// then the socket, each wait bounded.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int fd, std::string received, std::chrono::seconds ioTime, SteadyClock::time_point readDeadline)
        : fd_(fd), received_(std::move(received)),
          ioMs_(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(ioTime).count())),
          readDeadline_(readDeadline) {}

    bool is_readable() const override { return at_ < received_.size() || waitFor(fd_, POLLIN, ioMs_); }
    bool is_writable() const override { return waitFor(fd_, POLLOUT, ioMs_); }
    ssize_t read(char* ptr, size_t size) override {
        if (at_ < received_.size()) {
            const size_t n = std::min(size, received_.size() - at_);
            std::memcpy(ptr, received_.data() + at_, n);
            at_ += n;
            return static_cast<ssize_t>(n);
        }
        // A body sent slowly holds a worker: it gets as long as a head does.
        for (;;) {
            if (!waitFor(fd_, POLLIN, std::min(ioMs_, millisecondsUntil(readDeadline_))))
                return -1;
            const ssize_t n = ::recv(fd_, ptr, size, 0);
            if (n >= 0 || (errno != EAGAIN && errno != EINTR))
                return n;
        }
    }
    ssize_t write(const char* ptr, size_t size) override {
        for (;;) {
            if (!waitFor(fd_, POLLOUT, ioMs_))
                return -1;
            const ssize_t n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
            if (n >= 0 || (errno != EAGAIN && errno != EINTR))
                return n;
        }
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { addressOf(fd_, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { addressOf(fd_, false, ip, port); }
    socket_t socket() const override { return fd_; }

    // What was received past the request: the start of a next one.
    std::string rest() const { return received_.substr(std::min(at_, received_.size())); }

private:
    int fd_;
    std::string received_;
    size_t at_ = 0;
    int ioMs_;
    SteadyClock::time_point readDeadline_;
};

} // namespace

HeadState checkHead(std::string_view received, const ConnectionLimits& limits) {
    const size_t end = received.find(HeadEnd);
    const std::string_view head = received.substr(0, end == std::string_view::npos ? received.size() : end);
    // The request line is no header.
    const auto lines = static_cast<size_t>(std::count(head.begin(), head.end(), '\n'));
    if (head.size() > limits.headBytes || lines > limits.headerCount)
        return HeadState::TooLarge;
    return end == std::string_view::npos ? HeadState::Incomplete : HeadState::Whole;
}

HttpServer::HttpServer(ConnectionLimits limits, RefusalAnswer refusal)
    : limits_(std::move(limits)), refusal_(std::move(refusal)), epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
    if (epoll_ < 0)
        throw std::runtime_error("cannot watch connections");
    // The library's own workers only hand each accepted connection over.
    new_task_queue = [] { return new httplib::ThreadPool(2); };
    set_keep_alive_max_count(limits_.requestsPerConnection);
    set_keep_alive_timeout(limits_.idleTime.count());
    set_read_timeout(limits_.ioTime.count(), 0);
    set_write_timeout(limits_.ioTime.count(), 0);
}

HttpServer::~HttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    if (watcher_.joinable())
        watcher_.join();
    for (std::thread& worker : workers_)
        worker.join();
    for (const auto& [fd, connection] : watched_)
        ::close(fd);
    ::close(epoll_);
}

void HttpServer::serve() {
    // The library listens with a backlog of five: a burst of connections beyond it
    // is dropped by the kernel before a worker could ever see it. Listening again
    // on the bound socket widens it.
    ::listen(svr_sock_, SOMAXCONN);
    watcher_ = std::thread([this] { watchLoop(); });
    for (int i = 0; i < limits_.workers; ++i)
        workers_.emplace_back([this] { workerLoop(); });
    listen_after_bind();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    watcher_.join();
    for (std::thread& worker : workers_)
        worker.join();
    workers_.clear();
}

bool HttpServer::process_and_close_socket(socket_t sock) {
    Connection connection;
    connection.fd = sock;
    int port = 0;
    addressOf(sock, true, connection.client, port);
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || open_ >= limits_.maxConnections || !admit(connection)) {
            ::close(sock);
            return false;
        }
        ++open_;
    }
    ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK);
    // A connection over its client's bound gets a moment to say what it asks for, so
    // that the refusal comes in its form rather than as a bare reset.
    connection.deadline = SteadyClock::now() + (connection.overLimit ? DrainTime : limits_.headTime);
    watch(std::move(connection));
    return true;
}

// Called under the lock.
bool HttpServer::admit(Connection& connection) {
    const std::vector<std::string>& unbounded = limits_.unboundedClients;
    if (connection.client.empty() ||
        std::find(unbounded.begin(), unbounded.end(), connection.client) != unbounded.end()) {
        connection.client.clear();
        return true;
    }
    connection.client = clientGroup(connection.client);
    ClientCount& count = clients_[connection.client];
    if (count.served < limits_.connectionsPerClient) {
        ++count.served;
        return true;
    }
    // Refusals are answered while no more of them wait than the bound; past that a
    // flood costs only an accept and a close.
    if (count.refused < limits_.connectionsPerClient) {
        ++count.refused;
        connection.overLimit = true;
        return true;
    }
    return false;
}

void HttpServer::watch(Connection connection) {
    std::unique_lock lock(mutex_);
    if (stopping_) {
        close(connection);
        return;
    }
    // Bytes of a next request may have come with the last one.
    if (!connection.overLimit && checkHead(connection.received, limits_) == HeadState::Whole) {
        heads_.push_back(std::move(connection));
        lock.unlock();
        ready_.notify_one();
        return;
    }
    const int fd = connection.fd;
    watched_[fd] = std::move(connection);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.fd = fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
}

void HttpServer::watchLoop() {
    std::vector<epoll_event> events(256);
    for (;;) {
        const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 100);
        std::lock_guard lock(mutex_);
        if (stopping_) {
            for (const auto& [fd, connection] : watched_)
                close(connection);
            watched_.clear();
            return;
        }
        for (int i = 0; i < n; ++i) {
            const auto it = watched_.find(events[static_cast<size_t>(i)].data.fd);
            if (it != watched_.end())
                readFrom(it->second);
        }
        const auto now = SteadyClock::now();
        for (auto it = watched_.begin(); it != watched_.end();) {
            Connection& c = it->second;
            const HeadState state = c.fd < 0 || c.draining ? HeadState::Incomplete : checkHead(c.received, limits_);
            if (c.fd >= 0 && c.overLimit && state != HeadState::Incomplete) {
                refuse(c, 429);
                ++it;
                continue;
            }
            if (c.fd >= 0 && state == HeadState::Whole) {
                ::epoll_ctl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
                heads_.push_back(std::move(c));
                ready_.notify_one();
            } else if (c.fd >= 0 && state == HeadState::TooLarge) {
                refuse(c, 431);
                ++it;
                continue;
            } else if (c.fd >= 0 && now < c.deadline) {
                ++it;
                continue;
            } else {
                close(c);
            }
            it = watched_.erase(it);
        }
    }
}

// Called under the lock; a connection closed by its client is marked with fd -1
// after it is closed.
void HttpServer::readFrom(Connection& connection) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(connection.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            if (!connection.draining)
                connection.received.append(buffer, static_cast<size_t>(n));
            // Never more than the limit and one read: the rest waits in the socket.
            if (connection.received.size() > limits_.headBytes)
                return;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // A client may close its side once its request is sent: it still gets the answer.
        if (n == 0 && !connection.draining && checkHead(connection.received, limits_) == HeadState::Whole) {
            ::epoll_ctl(epoll_, EPOLL_CTL_DEL, connection.fd, nullptr);
            return;
        }
        close(connection);
        connection.fd = -1;
        return;
    }
}

void HttpServer::refuse(Connection& connection, int status) {
    const auto [body, type] = refusal_(status, connection.received);
    std::string answer = status == 429 ? "HTTP/1.1 429 Too Many Requests\r\nRetry-After: 1"
                                       : "HTTP/1.1 431 Request Header Fields Too Large";
    answer.append("\r\nContent-Type: ")
        .append(type)
        .append("\r\nContent-Length: ")
        .append(std::to_string(body.size()))
        .append("\r\nConnection: close\r\n\r\n")
        .append(body);
    // Small enough for any socket buffer; a client that reads nothing loses it.
    (void)::send(connection.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    ::shutdown(connection.fd, SHUT_WR);
    connection.received.clear();
    connection.received.shrink_to_fit();
    connection.draining = true;
    connection.deadline = SteadyClock::now() + DrainTime;
}

void HttpServer::workerLoop() {
    for (;;) {
        Connection connection;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !heads_.empty(); });
            if (heads_.empty())
                return;
            connection = std::move(heads_.front());
            heads_.pop_front();
        }
        answer(std::move(connection));
    }
}

void HttpServer::answer(Connection connection) {
    bool stopping = false;
    {
        std::lock_guard lock(mutex_);
        stopping = stopping_;
    }
    ++connection.served;
    const bool last = stopping || connection.served >= limits_.requestsPerConnection;
    ConnectionStream stream(connection.fd, std::move(connection.received), limits_.ioTime,
                            SteadyClock::now() + limits_.headTime);
    bool closed = false;
    bool ok = false;
    try {
        ok = process_request(stream, last, closed, nullptr);
    } catch (...) {
        ok = false;
    }
    if (!ok || closed || last) {
        std::lock_guard lock(mutex_);
        close(connection);
        return;
    }
    connection.received = stream.rest();
    connection.deadline = SteadyClock::now() + limits_.idleTime;
    watch(std::move(connection));
}

// Called under the lock.
void HttpServer::close(const Connection& connection) {
    if (connection.fd < 0)
        return;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, connection.fd, nullptr);
    ::shutdown(connection.fd, SHUT_RDWR);
    ::close(connection.fd);
    --open_;
    if (const auto it = clients_.find(connection.client); it != clients_.end()) {
        size_t& count = connection.overLimit ? it->second.refused : it->second.served;
        count -= count > 0 ? 1 : 0;
        if (it->second.served == 0 && it->second.refused == 0)
            clients_.erase(it);
    }
}

} // namespace morvane
