// What monitor, record and publish share: the port opened with a request
// for the device's parameters, a look every LOOK_MS at whether lines
// arrive, the first line awaited for a few seconds, and a silent link
// ridden out by closing the port and trying it again every two seconds.
// The relay, which passes bytes on without the parser, rides out its gaps
// with the same LinkGaps: the same times and the same words.
//
// Main thread only. Any valid line refreshes liveState.linkWatchdog; the
// watch takes it back to 0 at each look, so a non-zero value means "a line
// arrived since the last look".
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

// A link's gaps: when silence is a gap, when the port is due to be tried
// again, what the user is told, and the count and length of the gaps.
// Times come from the caller, so that a test can hand in its own clock.
class LinkGaps {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int GAP_AFTER_MS = 1000;  // the device streams every 20 ms
    static constexpr int RETRY_MS = 2000;      // between two opens of a silent port

    explicit LinkGaps(std::string port) : port_(std::move(port)) {}

    // Bytes or a line came from the device at now.
    void heardAt(Clock::time_point now);
    bool heard() const { return heard_; }
    // Heard before and silent for GAP_AFTER_MS, outside a gap.
    bool silent(Clock::time_point now) const;
    // The gap begins: it counts from the last line (from now when nothing
    // was heard); nowEpochMs dates it. The note to show.
    std::string lost(Clock::time_point now, int64_t nowEpochMs);
    bool inside() const { return inside_; }
    // Inside a gap: the port is to be tried again (at once after lost, then
    // every RETRY_MS); tried() says it was.
    bool retryDue(Clock::time_point now) const;
    void tried(Clock::time_point now) { lastTry_ = now; }
    // The device is heard again at now: the gap ends. The note to show.
    std::string back(Clock::time_point now);
    // The run ended inside a gap: it counts up to now.
    void endInside(Clock::time_point now);

    int gaps() const { return gaps_; }
    double seconds() const { return seconds_; }
    // "2 link gaps (3.5 s)", for a run's summary.
    std::string summaryText() const;

private:
    std::string port_;
    bool heard_ = false;
    bool inside_ = false;
    Clock::time_point lastLine_{};
    Clock::time_point gapStart_{};
    Clock::time_point lastTry_{};
    int gaps_ = 0;
    double seconds_ = 0;
};

class LinkWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int LOOK_MS = 10;
    static constexpr int RETRY_MS = LinkGaps::RETRY_MS;

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
    bool heard() const { return gaps_.heard(); }
    const LinkGaps& gaps() const { return gaps_; }

private:
    bool lineArrived();
    void rideOutGap();

    std::string port_;
    std::function<bool()> stopDue_;
    std::function<void(const std::string&)> note_;
    GapHooks hooks_;
    Clock::time_point start_;
    LinkGaps gaps_;
};
