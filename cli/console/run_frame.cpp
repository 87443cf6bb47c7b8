#include "cli/console/run_frame.h"

#include "cli/console/platform.h"

std::atomic<int> runStopRequested{0};

void catchRunStops() { catchStopRequests(&runStopRequested); }

bool RunFrame::endDue() const {
    if (runStopRequested.load(std::memory_order_relaxed) != 0) return true;
    if (durationSeconds_ <= 0) return false;
    return Clock::now() - start_ >= std::chrono::duration<double>(durationSeconds_);
}

void RunFrame::showStatus(bool force, const std::function<std::string()>& text) {
    if (status_.due(force)) status_.show(text());
}

void RunFrame::summarize(const std::function<std::string()>& status, const std::string& summary) {
    showStatus(true, status);
    note(summary);
}
