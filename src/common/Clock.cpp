#include "common/Clock.h"

#include "common/Codec.h"

#include <ctime>
#include <langinfo.h>
#include <stdexcept>

namespace morvane {

namespace {

std::tm localTime(std::time_t t) {
    std::tm local{};
    if (!localtime_r(&t, &local))
        throw std::runtime_error("the local time of day cannot be read");
    return local;
}

} // namespace

Clock::TimePoint SystemClock::now() const {
    return std::chrono::system_clock::now();
}

std::string SystemClock::timeOfDayText() const {
    const std::tm local = localTime(std::time(nullptr));
    char buffer[128];
    const size_t n = std::strftime(buffer, sizeof buffer, "%X", &local);
    if (n == 0)
        throw std::runtime_error("the time of day cannot be formatted");
    std::string text(buffer, n);
    bool ascii = true;
    for (const char c : text)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        return text;
    // A locale whose time format has non-ASCII text (21時03分40秒): from the locale's
    // own encoding into the report's code page.
    // The locale is set once, before any thread starts, and nothing else asks for
    // locale data, so the buffer nl_langinfo answers in is not overwritten.
    const char* codeset = nl_langinfo(CODESET); // NOLINT(concurrency-mt-unsafe)
    return TextConverter("CP932", codeset && *codeset ? codeset : "UTF-8", "?")(text);
}

uint32_t SystemClock::timeSeed() const {
    using namespace std::chrono;
    const auto time = system_clock::now();
    const std::tm local = localTime(system_clock::to_time_t(time));
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000;
    return static_cast<uint32_t>(((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + ms);
}

const Clock& systemClock() {
    static const SystemClock clock;
    return clock;
}

} // namespace morvane
