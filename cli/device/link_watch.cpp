#include "cli/device/link_watch.h"

#include <cstdio>
#include <thread>

#include "cli/console/exit_codes.h"
#include "cli/console/status_line.h"
#include "cli/device/device_session.h"
#include "link/command_frames.h"
#include "link/live_state.h"
#include "link/serial_link.h"

namespace {

using Ms = std::chrono::milliseconds;

constexpr int FIRST_LINE_TIMEOUT_MS = 3000;
constexpr int GAP_AFTER_MS = 1000;  // the device streams every 20 ms

}  // namespace

LinkWatch::LinkWatch(const std::string& port, std::function<bool()> stopDue,
                     std::function<void(const std::string&)> note)
    : port_(port), stopDue_(std::move(stopDue)), note_(std::move(note)) {}

bool LinkWatch::lineArrived() { return liveState.linkWatchdog.exchange(0, std::memory_order_relaxed) != 0; }

bool LinkWatch::open() {
    if (!openDevicePort(port_)) return false;
    // The text and the limit types make the active-limit text; the answer
    // comes in beside the stream, nothing waits for it.
    sendRequest();
    start_ = lastLine_ = Clock::now();
    heard_ = false;
    lineArrived();
    return true;
}

void LinkWatch::close() { closeLink(); }

int LinkWatch::look() {
    std::this_thread::sleep_for(Ms(LOOK_MS));
    Clock::time_point now = Clock::now();
    if (lineArrived()) {
        lastLine_ = now;
        heard_ = true;
    }
    if (!heard_ && now - start_ >= Ms(FIRST_LINE_TIMEOUT_MS)) {
        closeLink();
        std::fprintf(stderr, "elq770ctl: %s: no answer from the device\n", port_.c_str());
        return EXIT_NO_ANSWER;
    }
    if (heard_ && now - lastLine_ >= Ms(GAP_AFTER_MS)) rideOutGap();
    return EXIT_DONE;
}

// The link is silent: close the port and try it again every two seconds
// until lines arrive again or the run ends. A reopened port that stays
// silent is closed again for the next try.
void LinkWatch::rideOutGap() {
    Clock::time_point gapStart = lastLine_;
    int64_t gapStartEpoch = nowEpochMs() - std::chrono::duration_cast<Ms>(Clock::now() - gapStart).count();
    note_("elq770ctl: " + port_ + ": link lost at " + isoTimestamp(gapStartEpoch) +
          "; trying the port again every 2 s");
    closeLink();
    if (hooks_.lost) hooks_.lost();
    while (!stopDue_()) {
        Clock::time_point attempt = Clock::now();
        bool open = openLinkByName(port_.c_str(), BAUD_RATE) != 0;
        if (open) {
            sendRequest();  // the device may be another one now
            lineArrived();
        }
        while (!stopDue_() && Clock::now() - attempt < Ms(RETRY_MS)) {
            std::this_thread::sleep_for(Ms(LOOK_MS));
            if (hooks_.waiting) hooks_.waiting();
            if (!open || !lineArrived()) continue;
            lastLine_ = Clock::now();
            double seconds = std::chrono::duration<double>(lastLine_ - gapStart).count();
            ++gaps_;
            gapSeconds_ += seconds;
            char text[160];
            std::snprintf(text, sizeof text, "elq770ctl: %s: link back after %.1f s", port_.c_str(), seconds);
            note_(text);
            if (hooks_.back) hooks_.back();
            return;
        }
        if (open) closeLink();
    }
    // The run ended inside the gap: it counts up to the end.
    ++gaps_;
    gapSeconds_ += std::chrono::duration<double>(Clock::now() - gapStart).count();
}
