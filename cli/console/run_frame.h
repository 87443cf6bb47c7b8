// The frame of the tool's long runs (monitor, record, the relay, publish):
// the one stop request, the duration, the status line, the notes and the
// summary at the end. Each run keeps its own work; the frame keeps how a
// run starts, shows itself and ends. Main thread, except the stop request,
// which the system's context sets (platform.h).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "cli/console/status_line.h"

// Set by the stop requests once a run has caught them (catchRunStops); a
// run ends cleanly at the next look.
extern std::atomic<int> runStopRequested;

// From here on Ctrl-C and the other stop requests end the run instead of
// the tool (catchStopRequests in platform.h).
void catchRunStops();

class RunFrame {
public:
    using Clock = std::chrono::steady_clock;

    // durationSeconds 0 runs until a stop request.
    explicit RunFrame(double durationSeconds = 0) : durationSeconds_(durationSeconds) {}

    // The duration counts from here.
    void start() { start_ = Clock::now(); }
    // A stop was requested or the duration has passed.
    bool endDue() const;

    // Notes go to stdout unless the rows do; then to stderr.
    void setNotesTo(std::FILE* out) { notes_ = out; }
    // No status line (a run from a file, or publish, whose output is a log).
    void hideStatus() { status_.hide(); }
    bool statusShown() const { return status_.shown(); }
    // The status line, forced or when StatusLine::STATUS_MS have passed;
    // text is asked for only then.
    void showStatus(bool force, const std::function<std::string()>& text);
    // A line of its own, apart from the status line.
    void note(const std::string& text) const { status_.note(notes_, text); }
    // The last status line, then the summary.
    void summarize(const std::function<std::string()>& status, const std::string& summary);

private:
    double durationSeconds_;
    Clock::time_point start_ = Clock::now();
    StatusLine status_;
    std::FILE* notes_ = stdout;
};
