// The one line a long run rewrites in place on a terminal, and how a note
// stands apart from it (run_frame.h uses both). Main thread.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "cli/console/platform.h"

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

    using Clock = std::chrono::steady_clock;

    StatusLine() : StatusLine(stdoutIsTerminal()) {}
    explicit StatusLine(bool shown) : shown_(shown) {}
    bool shown() const { return shown_; }
    void hide() { shown_ = false; }
    // True when a new line is to be shown: on a terminal, forced or after
    // STATUS_MS since the last.
    bool due(bool force) { return due(force, Clock::now()); }
    bool due(bool force, Clock::time_point now) {
        if (!shown_) return false;
        if (!force && shownOnce_ && now - last_ < std::chrono::milliseconds(STATUS_MS)) return false;
        last_ = now;
        shownOnce_ = true;
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
    bool shownOnce_ = false;
    Clock::time_point last_{};
};
