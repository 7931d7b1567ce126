// morvane-server: a web front door to the batch runner's folders. Players build teams
// in the browser and challenge others; each battle goes into a numbered folder as any
// deck pair does, is played by the same batch runner (here, or by other runners
// sharing the folder), and its report is served from there.

#include "common/Errors.h"
#include "common/Files.h"
#include "common/Paths.h"
#include "frontend/FrontEnd.h"
#include "server/BattleService.h"
#include "server/PublicText.h"
#include "server/WebFront.h"

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <thread>

namespace {

using namespace morvane;

const char* const Usage = R"(usage: morvane-server [--root DIR] [--listen ADDR:PORT] [--cards FILE] [--runners N]
                      [--max-queue N] [--rate PER_SECOND] [--seed S] [--index FILE]
                      [--max-turns N] [--trusted-proxy ADDR] [--max-client-connections N]

Serves the team builder, the battle pages, the history and the JSON API, and drops
each battle asked for into the next free numbered folder of DIR as deck.dat, where
the batch runner plays it and stores its report as battle.html.

  --root DIR         the batch root (default: battles/ in the program folder)
  --listen ADDR:PORT where to answer (default 127.0.0.1:8080; port 0 picks a free one)
  --cards FILE       the card catalogue (default: card.dat in the program folder)
  --runners N        battles played at once by this service, 0 to 64 (default 1); 0
                     leaves them to other runners sharing DIR (morvane-cli batch
                     --watch DIR, the window's batch runner)
  --max-queue N      battles that may wait before submissions are refused with 503
                     (default 1000)
  --rate PER_SECOND  submissions a client may make per second before 429 (default 5)
  --seed S           starting value of runner i's generator is S + i (default: the
                     milliseconds of the time of day)
  --index FILE       the history index, a cache of the folders (default: DIR/.morvane-index.sqlite;
                     keep it on a local disk when DIR is a network folder)
  --max-turns N      stop a battle that has not ended after N turns (default 10000)
  --trusted-proxy ADDR
                     requests from ADDR (a TLS proxy in front) come from the client
                     its X-Forwarded-For names last, for the rate limit and the log
  --max-client-connections N
                     connections one client (an IPv4 address, an IPv6 /64) may
                     hold open at once, 1 to 4096 (default 64); more are
                     answered 429 (the trusted proxy: no bound)

SIGTERM or Ctrl-C stops accepting requests, lets the battles in play finish and
store their reports, and exits 0. A restart plays every folder still waiting.
Exit status: 0 stopped; 2 a bad option or catalogue; 1 the address cannot be used,
or the root or index cannot be made.
)";

// ADDR:PORT, with IPv6 addresses in brackets: [::1]:8080.
std::pair<std::string, int> listenAddress(const std::string& text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw front::UsageError("--listen wants ADDR:PORT, not '" + text + "'");
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return {host, static_cast<int>(front::parseCount("--listen port", text.substr(colon + 1), 0, 65535))};
}

double rateOption(const std::string& text) {
    char* end = nullptr;
    const double rate = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(rate >= 0.01 && rate <= 1e6))
        throw front::UsageError("--rate wants a number of submissions per second from 0.01 to 1000000, not '" + text +
                                "'");
    return rate;
}

int serve(const std::vector<std::string>& args) {
    const front::Options options(args,
                                 {"--root", "--listen", "--cards", "--runners", "--max-queue", "--rate", "--seed",
                                  "--index", "--max-turns", "--trusted-proxy", "--max-client-connections"},
                                 {"--help", "-h"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << Usage;
        return 0;
    }
    if (!options.positional().empty())
        throw front::UsageError("unexpected argument '" + options.positional().front() + "'");
    const auto [host, port] = listenAddress(options.value("--listen").value_or("127.0.0.1:8080"));
    ServiceOptions service;
    service.runners = options.value("--runners")
                          ? static_cast<int>(front::parseCount("--runners", *options.value("--runners"), 0, 64))
                          : 1;
    service.maxQueue = options.value("--max-queue")
                           ? front::parseCount("--max-queue", *options.value("--max-queue"), 1, 100000000)
                           : 1000;
    service.seed = front::seedOption(options);
    service.maxTurns = front::maxTurnsOption(options);
    WebOptions web;
    web.rate = options.value("--rate") ? rateOption(*options.value("--rate")) : 5;
    web.webFolder = thisProgramSite().installedData / "web";
    web.trustedProxy = options.value("--trusted-proxy").value_or("");
    if (const auto bound = options.value("--max-client-connections"))
        web.connectionsPerClient = static_cast<size_t>(front::parseCount("--max-client-connections", *bound, 1, 4096));

    // The program folder is looked for only when a default needs it: an installed
    // service given its own root and catalogue needs no user data folder.
    const bool needsFolder = !options.value("--root") || !options.value("--cards");
    const std::string folder = needsFolder ? ProgramFolder() : std::string();
    service.root = options.value("--root").value_or(folder + "battles");
    if (service.root.empty())
        throw front::UsageError("--root wants a folder");
    if (service.root.back() != '/')
        service.root += '/';
    service.cards = front::cardsPath(options);
    service.index = options.value("--index").value_or(service.root + ".morvane-index.sqlite");

    // Signals are taken by one thread of their own, so no other thread is ever
    // interrupted in the middle of a write.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A file size limit (ulimit -f) fails the write that passes it, as a full disk
    // does, instead of ending the service in the middle of it.
    std::signal(SIGXFSZ, SIG_IGN);

    BattleService battles(service);
    WebFront front(battles, web);
    const int bound = front.bind(host, port);
    logLine(std::string("listening on http://")
                .append(host.find(':') != std::string::npos ? "[" + host + "]" : host)
                .append(":")
                .append(std::to_string(bound))
                .append("/ (root ")
                .append(service.root)
                .append(", ")
                .append(std::to_string(service.runners))
                .append(" runners)"));

    std::atomic<bool> listening{true};
    std::thread signals([&] {
        const timespec tick{0, 200'000'000};
        while (listening && sigtimedwait(&stopSignals, nullptr, &tick) < 0) {
        }
        front.stop();
    });
    front.listen();
    // Also when it ended otherwise than by a signal.
    listening = false;
    signals.join();
    logLine("stopping, finishing the battles in play");
    battles.stop();
    logLine("stopped");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The report's time of day follows the user's locale. Set before any thread starts.
    std::setlocale(LC_ALL, ""); // NOLINT(concurrency-mt-unsafe)
    try {
        return serve(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        const front::Failure failure = front::describeFailure(e);
        logLine(front::escapeControls(failure.text));
        return failure.status;
    }
}
