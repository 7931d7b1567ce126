#pragma once
// A progress line on stderr for long runs, shown only on a terminal: redrawn in place
// at most ten times a second, and wiped before anything else is printed so that it
// never splits another line.

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace morvane::cli {

class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;

    ProgressLine() : ProgressLine(::isatty(STDERR_FILENO) == 1) {}
    explicit ProgressLine(bool shown)
        : shown_(shown), start_(Clock::now()), drawnAt_(start_ - std::chrono::seconds(1)) {}

    bool shown() const { return shown_; }
    double seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

    // Draws text unless the line was drawn less than 100 ms ago (now: draw anyway).
    // text() is only called when the line is drawn.
    template <class Text> void update(const Text& text, bool now = false) {
        if (!shown_)
            return;
        const auto time = Clock::now();
        if (!now && time - drawnAt_ < std::chrono::milliseconds(100))
            return;
        const std::string line = text();
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        drawn_ = true;
        drawnAt_ = time;
    }
    void wipe() {
        if (drawn_)
            std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }
    // Leaves the last figures on the terminal.
    template <class Text> void finish(const Text& text) {
        if (!shown_)
            return;
        update(text, true);
        std::fputs("\n", stderr);
        drawn_ = false;
    }

private:
    bool shown_;
    bool drawn_ = false;
    Clock::time_point start_;
    Clock::time_point drawnAt_;
};

// "stats: 1200 of 10000 battles, 1.4 s, about 10 s left"
std::string battlesProgressText(const char* command, uint64_t done, uint64_t total, double seconds);

} // namespace morvane::cli
