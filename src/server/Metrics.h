#pragma once
// The battle service's counters, in the Prometheus text format: names in base units,
// counters ending in _total, the time from submission to report as a histogram.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace morvane {

class ServiceMetrics {
public:
    // Upper bounds of the latency buckets, in seconds.
    static constexpr std::array<double, 14> Buckets{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5,
                                                    1,     2.5,  5,     10,   30,  60,   300};

    std::atomic<uint64_t> submissions{0};
    std::atomic<uint64_t> refusedBadDeck{0};
    std::atomic<uint64_t> refusedRate{0};
    std::atomic<uint64_t> refusedQueue{0};
    std::atomic<uint64_t> battlesHere{0};   // played by this service's runners
    std::atomic<uint64_t> battlesOthers{0}; // played by runners elsewhere, seen finished
    std::atomic<uint64_t> battlesFailed{0};
    std::atomic<uint64_t> requests{0};

    void observeLatency(double seconds);
    // The whole exposition; queue is the number of battles that wait.
    std::string text(int64_t queue, int playing) const;

private:
    mutable std::mutex mutex_;
    std::array<uint64_t, Buckets.size()> counts_{};
    uint64_t count_ = 0;
    double sum_ = 0;
};

} // namespace morvane
