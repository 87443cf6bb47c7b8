// What monitor, record and the relay share about a run on the console: when
// it is over, and how a note stands apart from a status line. Main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

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
