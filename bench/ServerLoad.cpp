// A bounded load client for morvane-server on loopback (a program, not a test):
//
//   morvane_server_load latency PORT COUNT DECK0 DECK1
//       submits COUNT battles one at a time, each once the last is done, and prints the
//       time from sending the submission to the API saying "done" (polled every 0.5 ms):
//       the latency of an idle service.
//   morvane_server_load throughput PORT COUNT CONNECTIONS DECK0 DECK1
//       submits COUNT battles over CONNECTIONS connections as fast as they are taken
//       (waiting as told on 503), then waits for the last report; prints submissions
//       and battles per second, and the numbers of the first and last battle.
//
// The battles pair the lines of the two deck files in turn, so they differ.

#include "common/Json.h"
#include "common/TextLines.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using morvane::Json;

std::vector<std::string> deckLines(const char* path) {
    std::vector<std::string> lines;
    for (const morvane::TextLine& line : morvane::readTextLines(path))
        lines.push_back(line.text);
    return lines;
}

struct Pairs {
    std::vector<std::string> tops, bottoms;
    std::string body(long i) const {
        const size_t t = static_cast<size_t>(i) % tops.size();
        const size_t b = (static_cast<size_t>(i) / tops.size()) % bottoms.size();
        return Json{{"top", tops[t]}, {"bottom", bottoms[b]}}.dump();
    }
};

// Submits one battle, waiting while the queue is full; its number, or -1 (a refusal,
// such as 429: give the service a --rate the load does not reach).
int submit(httplib::Client& client, const std::string& body) {
    for (int attempt = 0; attempt < 100000; ++attempt) {
        const httplib::Result r = client.Post("/api/battles", body, "application/json");
        if (r && r->status == 201)
            return Json::parse(r->body)["number"].get<int>();
        if (!r || r->status != 503)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

bool done(httplib::Client& client, int number) {
    char path[64];
    std::snprintf(path, sizeof path, "/api/battles/%.4d", number);
    const httplib::Result r = client.Get(path);
    return r && r->status == 200 && r->body.find("\"state\":\"done\"") != std::string::npos;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

int latency(int port, long count, const Pairs& pairs) {
    httplib::Client client("127.0.0.1", port);
    client.set_tcp_nodelay(true);
    std::vector<double> ms;
    for (long i = 0; i < count; ++i) {
        const auto start = Clock::now();
        const int number = submit(client, pairs.body(i));
        if (number < 0)
            return 1;
        for (int polls = 0; !done(client, number) && polls < 200000; ++polls)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("%ld battles one at a time: submission to report median %.1f ms, 99th percentile %.1f ms, "
                "max %.1f ms\n",
                count, percentile(ms, 0.5), percentile(ms, 0.99), *std::max_element(ms.begin(), ms.end()));
    return 0;
}

int throughput(int port, long count, int connections, const Pairs& pairs) {
    std::atomic<long> next{0};
    std::atomic<int> last{-1};
    std::atomic<int> first{1 << 30};
    std::atomic<bool> failed{false};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(connections));
    for (int c = 0; c < connections; ++c)
        threads.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            client.set_tcp_nodelay(true);
            for (long i; (i = next++) < count && !failed;) {
                const int number = submit(client, pairs.body(i));
                if (number < 0)
                    failed = true;
                for (int seen = last; number > seen && !last.compare_exchange_weak(seen, number);)
                    ;
                for (int seen = first; number < seen && !first.compare_exchange_weak(seen, number);)
                    ;
            }
        });
    for (std::thread& t : threads)
        t.join();
    if (failed)
        return 1;
    const double submitted = std::chrono::duration<double>(Clock::now() - start).count();
    // The last report: every battle before it is done too, or the queue says so.
    httplib::Client client("127.0.0.1", port);
    client.set_tcp_nodelay(true);
    for (;;) {
        const httplib::Result r = client.Get("/metrics");
        if (r && r->body.find("\nmorvane_queue_length 0\n") != std::string::npos && done(client, last))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double all = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%ld battles over %d connections: submitted in %.2f s (%.0f submissions/s), all reports stored "
                "after %.2f s (%.0f battles/s); folders %d to %d\n",
                count, connections, submitted, static_cast<double>(count) / submitted, all,
                static_cast<double>(count) / all, first.load(), last.load());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "latency" && argc == 6)
            return latency(std::stoi(argv[2]), std::stol(argv[3]), {deckLines(argv[4]), deckLines(argv[5])});
        if (mode == "throughput" && argc == 7)
            return throughput(std::stoi(argv[2]), std::stol(argv[3]), std::stoi(argv[4]),
                              {deckLines(argv[5]), deckLines(argv[6])});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvane_server_load: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: morvane_server_load latency PORT COUNT DECK0 DECK1\n"
                         "       morvane_server_load throughput PORT COUNT CONNECTIONS DECK0 DECK1\n");
    return 2;
}
