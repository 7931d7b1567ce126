#pragma once
// The program's one view of the time. The report header shows the time of day, the
// desktop program seeds its generator from it, batch claims age by it. Everything
// that reads the time takes a Clock, so tests and reproducible runs put a fixed one
// in its place; the system clock throws rather than make up a time it cannot read.

#include <chrono>
#include <cstdint>
#include <string>

namespace morvane {

class Clock {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    // The time of day in the locale's long time format, code page 932 ("21:03:40").
    virtual std::string timeOfDayText() const = 0;
    // Seed of the generator from the time of day, local time:
    // ((hours * 60 + minutes) * 60 + seconds) * 1000 + milliseconds.
    virtual uint32_t timeSeed() const = 0;
};

class SystemClock final : public Clock {
public:
    TimePoint now() const override;
    std::string timeOfDayText() const override;
    uint32_t timeSeed() const override;
};

// The real clock; it holds no state, so one object serves every caller.
const Clock& systemClock();

// A clock that always says the same: for tests, and for runs given a time text.
class FixedClock final : public Clock {
public:
    explicit FixedClock(std::string timeOfDay, uint32_t seed = 0, TimePoint now = {})
        : text_(std::move(timeOfDay)), seed_(seed), now_(now) {}

    TimePoint now() const override { return now_; }
    std::string timeOfDayText() const override { return text_; }
    uint32_t timeSeed() const override { return seed_; }
    void setNow(TimePoint now) { now_ = now; }

private:
    std::string text_;
    uint32_t seed_;
    TimePoint now_;
};

} // namespace morvane
