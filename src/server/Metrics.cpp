#include "server/Metrics.h"

#include <cstdio>

namespace morvane {

void ServiceMetrics::observeLatency(double seconds) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < Buckets.size(); ++i)
        if (seconds <= Buckets[i])
            ++counts_[i];
    ++count_;
    sum_ += seconds;
}

std::string ServiceMetrics::text(int64_t queue, int playing) const {
    std::string out;
    char line[256];
    auto add = [&](const char* help, const char* type, const char* name) {
        out.append("# HELP ").append(name).append(" ").append(help).append("\n");
        out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
    };
    auto value = [&](const char* name, const char* labels, uint64_t v) {
        std::snprintf(line, sizeof line, "%s%s %llu\n", name, labels, static_cast<unsigned long long>(v));
        out += line;
    };
    add("Deck pairs accepted and stored in a batch folder.", "counter", "morvane_submissions_total");
    value("morvane_submissions_total", "", submissions);
    add("Submissions refused, by reason.", "counter", "morvane_submissions_refused_total");
    value("morvane_submissions_refused_total", "{reason=\"bad_deck\"}", refusedBadDeck);
    value("morvane_submissions_refused_total", "{reason=\"rate\"}", refusedRate);
    value("morvane_submissions_refused_total", "{reason=\"queue\"}", refusedQueue);
    add("Battles whose report was stored, by who played them.", "counter", "morvane_battles_total");
    value("morvane_battles_total", "{runner=\"service\"}", battlesHere);
    value("morvane_battles_total", "{runner=\"other\"}", battlesOthers);
    add("Battles that could not be played (a deck pair or card the runner refused).", "counter",
        "morvane_battles_failed_total");
    value("morvane_battles_failed_total", "", battlesFailed);
    add("Battles waiting for a runner, those in play included.", "gauge", "morvane_queue_length");
    value("morvane_queue_length", "", static_cast<uint64_t>(queue < 0 ? 0 : queue));
    add("Battles this service's runners are playing.", "gauge", "morvane_battles_playing");
    value("morvane_battles_playing", "", static_cast<uint64_t>(playing));
    add("HTTP requests answered.", "counter", "morvane_http_requests_total");
    value("morvane_http_requests_total", "", requests);

    add("Time from a submission to its stored report.", "histogram", "morvane_submission_seconds");
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < Buckets.size(); ++i) {
        std::snprintf(line, sizeof line, "morvane_submission_seconds_bucket{le=\"%g\"} %llu\n", Buckets[i],
                      static_cast<unsigned long long>(counts_[i]));
        out += line;
    }
    value("morvane_submission_seconds_bucket", "{le=\"+Inf\"}", count_);
    std::snprintf(line, sizeof line, "morvane_submission_seconds_sum %.6f\n", sum_);
    out += line;
    value("morvane_submission_seconds_count", "", count_);
    return out;
}

} // namespace morvane
