// What monitor and record share: the port opened with a request for the
// device's parameters, a look every LOOK_MS at whether lines arrive, the
// first line awaited for a few seconds, and a silent link ridden out by
// closing the port and trying it again every two seconds.
//
// Main thread only. Any valid line refreshes liveState.linkWatchdog; the
// watch takes it back to 0 at each look, so a non-zero value means "a line
// arrived since the last look".
#pragma once

#include <chrono>
#include <functional>
#include <string>

class LinkWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int LOOK_MS = 10;
    static constexpr int RETRY_MS = 2000;  // between two opens of a silent port

    // stopDue ends a gap's retries; note shows one line to the user.
    LinkWatch(const std::string& port, std::function<bool()> stopDue,
              std::function<void(const std::string&)> note);

    // Opens the port and asks for the parameters; false (reported on stderr)
    // when the port does not open.
    bool open();
    // Sleeps LOOK_MS and looks. EXIT_DONE to go on; EXIT_NO_ANSWER, the link
    // closed and reported, when no line came within the first seconds. A
    // silent link is ridden out before it returns.
    int look();
    void close();

    // For a caller that must keep working while a gap is ridden out (the
    // MQTT gateway): lost when the gap is noticed, waiting every LOOK_MS
    // while the port is tried again, back when lines arrive again. Unset
    // hooks are not called.
    struct GapHooks {
        std::function<void()> lost;
        std::function<void()> waiting;
        std::function<void()> back;
    };
    void setGapHooks(GapHooks hooks) { hooks_ = std::move(hooks); }

    // A line has arrived since open().
    bool heard() const { return heard_; }
    int gaps() const { return gaps_; }
    double gapSeconds() const { return gapSeconds_; }

private:
    bool lineArrived();
    void rideOutGap();

    std::string port_;
    std::function<bool()> stopDue_;
    std::function<void(const std::string&)> note_;
    GapHooks hooks_;
    Clock::time_point start_;
    Clock::time_point lastLine_;
    bool heard_ = false;
    int gaps_ = 0;
    double gapSeconds_ = 0;
};
