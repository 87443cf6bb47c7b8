// What monitor, record and the relay share about a run on the console: when
// it is over, its status line, and how a note stands apart from that line.
// Main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/console/clock.h"
#include "cli/console/platform.h"

// The run is over once its stop was requested (Ctrl-C, SIGTERM, a console
// event) or, with a duration, once that much time has passed since start.
inline bool runEndDue(const std::atomic<int>& stopRequested, std::chrono::steady_clock::time_point start,
                      double durationSeconds) {
    if (stopRequested.load(std::memory_order_relaxed) != 0) return true;
    if (durationSeconds <= 0) return false;
    return std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(durationSeconds);
}

// A line of its own: on a terminal the status line it follows is ended first.
inline void printNote(std::FILE* out, bool terminal, const std::string& text) {
    if (terminal) std::fputs("\n", stdout);
    std::fprintf(out, "%s\n", text.c_str());
    std::fflush(out);
}

// The one line a run rewrites in place while stdout is a terminal, at most
// every STATUS_MS; off a terminal, or hidden, there is none.
class StatusLine {
public:
    static constexpr int STATUS_MS = 200;

    StatusLine() : shown_(stdoutIsTerminal()) {}
    bool shown() const { return shown_; }
    void hide() { shown_ = false; }
    // True when a new line is to be shown: on a terminal, forced or after
    // STATUS_MS since the last.
    bool due(bool force) {
        if (!shown_) return false;
        std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
        if (!force && now - last_ < std::chrono::milliseconds(STATUS_MS)) return false;
        last_ = now;
        return true;
    }
    // Blanks behind the text cover a longer earlier line.
    void show(const std::string& text) const {
        std::printf("\r%s   ", text.c_str());
        std::fflush(stdout);
    }
    void note(std::FILE* out, const std::string& text) const { printNote(out, shown_, text); }

private:
    bool shown_;
    std::chrono::steady_clock::time_point last_{};
};
