#include "cli/device/link_watch.h"

#include <cstdio>
#include <thread>

#include "cli/console/clock.h"
#include "cli/console/exit_codes.h"
#include "cli/console/report.h"
#include "cli/device/device_session.h"
#include "link/command_frames.h"
#include "link/live_state.h"
#include "link/serial_link.h"

namespace {

using Ms = std::chrono::milliseconds;

constexpr int FIRST_LINE_TIMEOUT_MS = 3000;

double secondsBetween(LinkGaps::Clock::time_point from, LinkGaps::Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

void LinkGaps::heardAt(Clock::time_point now) {
    heard_ = true;
    lastLine_ = now;
}

bool LinkGaps::silent(Clock::time_point now) const {
    return heard_ && !inside_ && now - lastLine_ >= Ms(GAP_AFTER_MS);
}

std::string LinkGaps::lost(Clock::time_point now, int64_t nowEpochMs) {
    inside_ = true;
    gapStart_ = heard_ ? lastLine_ : now;
    lastTry_ = now - Ms(RETRY_MS);
    int64_t startEpochMs = nowEpochMs - std::chrono::duration_cast<Ms>(now - gapStart_).count();
    return "elq770ctl: " + port_ + ": link lost at " + isoTimestamp(startEpochMs) + "; trying the port again every 2 s";
}

bool LinkGaps::retryDue(Clock::time_point now) const { return inside_ && now - lastTry_ >= Ms(RETRY_MS); }

std::string LinkGaps::back(Clock::time_point now) {
    double seconds = secondsBetween(gapStart_, now);
    endInside(now);
    heardAt(now);
    char text[160];
    std::snprintf(text, sizeof text, "elq770ctl: %s: link back after %.1f s", port_.c_str(), seconds);
    return text;
}

void LinkGaps::endInside(Clock::time_point now) {
    if (!inside_) return;
    inside_ = false;
    ++gaps_;
    seconds_ += secondsBetween(gapStart_, now);
}

std::string LinkGaps::summaryText() const {
    char text[80];
    std::snprintf(text, sizeof text, "%d link gaps (%.1f s)", gaps_, seconds_);
    return text;
}

LinkWatch::LinkWatch(const std::string& port, std::function<bool()> stopDue,
                     std::function<void(const std::string&)> note)
    : port_(port), stopDue_(std::move(stopDue)), note_(std::move(note)), gaps_(port) {}

bool LinkWatch::lineArrived() { return liveState.linkWatchdog.exchange(0, std::memory_order_relaxed) != 0; }

bool LinkWatch::open() {
    if (!openDevicePort(port_)) return false;
    // The text and the limit types make the active-limit text; the answer
    // comes in beside the stream, nothing waits for it.
    sendRequest();
    start_ = Clock::now();
    gaps_ = LinkGaps(port_);
    lineArrived();
    return true;
}

void LinkWatch::close() { closeLink(); }

int LinkWatch::look() {
    std::this_thread::sleep_for(Ms(LOOK_MS));
    Clock::time_point now = Clock::now();
    if (lineArrived()) gaps_.heardAt(now);
    if (!gaps_.heard() && now - start_ >= Ms(FIRST_LINE_TIMEOUT_MS)) {
        closeLink();
        report(port_, "no answer from the device");
        return EXIT_NO_ANSWER;
    }
    if (gaps_.silent(now)) rideOutGap();
    return EXIT_DONE;
}

// The link is silent: close the port and try it again every two seconds
// until lines arrive again or the run ends. A reopened port that stays
// silent is closed again for the next try.
void LinkWatch::rideOutGap() {
    note_(gaps_.lost(Clock::now(), nowEpochMs()));
    closeLink();
    if (hooks_.lost) hooks_.lost();
    bool open = false;
    while (!stopDue_()) {
        Clock::time_point now = Clock::now();
        if (gaps_.retryDue(now)) {
            if (open) closeLink();
            gaps_.tried(now);
            open = openLinkByName(port_.c_str(), BAUD_RATE) != 0;
            if (open) {
                sendRequest();  // the device may be another one now
                lineArrived();
            }
        }
        std::this_thread::sleep_for(Ms(LOOK_MS));
        if (hooks_.waiting) hooks_.waiting();
        if (!open || !lineArrived()) continue;
        note_(gaps_.back(Clock::now()));
        if (hooks_.back) hooks_.back();
        return;
    }
    // The run ended inside the gap: it counts up to the end.
    gaps_.endInside(Clock::now());
}
