// The MQTT gateway's parts that need neither the network nor the device:
// the broker address, one interval's measurements, the messages' JSON, the
// queue that holds QoS 1 messages while the broker is away, the retained
// state topics, the reconnect backoff and the reports that must not flood
// the log. Main thread only; they take time as an argument.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

// mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883).
struct BrokerAddress {
    std::string host;
    int port = 0;
    bool tls = false;
};

// False for anything else: another scheme, no host, a port outside 1..65535
// or not a number, a path, user information or a query.
bool parseBrokerUrl(const std::string& url, BrokerAddress* address);

// The measurements and alarm words of one interval. The peaks and the active
// limit are the device's own, read when the interval ends.
class IntervalAggregate {
public:
    void addSample(int32_t percent);
    void addAlarm() { ++alarms_; }
    int64_t samples() const { return samples_; }
    // {"time", "last", "min", "max", "mean", "samples", "activeLimit",
    // "maxPeak", "minPeak", "alarms"}; a peak of NO_VALUE is null. The
    // mean is rounded to two decimals. Then the next interval starts.
    nlohmann::ordered_json close(const std::string& time, int activeLimit, int32_t maxPeak, int32_t minPeak);

private:
    int64_t samples_ = 0;
    int32_t last_ = 0;
    int32_t minimum_ = 0;
    int32_t maximum_ = 0;
    int64_t sum_ = 0;
    int64_t alarms_ = 0;
};

nlohmann::ordered_json alarmJson(const std::string& time, uint16_t word);

// The parameters (and device text) that differ between two answers:
// [{"parameter": "limit1Setpoint", "old": 50, "new": 60}, ...] in the
// record's order; empty when none does.
struct ParameterSet;
nlohmann::ordered_json parameterChanges(const ParameterSet& before, const ParameterSet& after);
// The audit message of changes made through the share:
// {"time": ..., "client": "HOST:PORT", "changes": [...]}.
nlohmann::ordered_json auditJson(const std::string& time, const std::string& client,
                                 const nlohmann::ordered_json& changes);

struct OutboundMessage {
    std::string topic;
    std::string payload;
    int mid = 0;          // libmosquitto's message id once handed over
    bool handed = false;  // with the library, which sends it until its PUBACK
};

// QoS 1 messages in the order they were made, until the broker has taken
// them. A message handed to the library stays here until its PUBACK, but is
// never handed again (the library itself sends it again after a reconnect),
// and is never dropped (it is no longer ours to drop). When the queue holds
// capacity messages, a new one drops the oldest not yet handed over.
class OutboundQueue {
public:
    explicit OutboundQueue(std::size_t capacity) : capacity_(capacity) {}

    void push(std::string topic, std::string payload);
    // The oldest message not yet handed over, or nullptr.
    OutboundMessage* nextToHand();
    std::size_t handedCount() const { return handed_; }
    void markHanded(OutboundMessage* message, int mid);
    // A message not yet handed that the library will never take.
    void discard(OutboundMessage* message);
    // The broker has the message of this id; false for an id not here.
    bool acknowledge(int mid);
    std::size_t size() const { return messages_.size(); }
    // Dropped since the last call.
    uint64_t takeDropped();
    uint64_t droppedPending() const { return dropped_; }

private:
    std::size_t capacity_;
    std::deque<OutboundMessage> messages_;
    std::size_t handed_ = 0;
    uint64_t dropped_ = 0;
};

// When to try the broker again. A failed attempt waits 1 s, doubling to at
// most 30 s. A connection counts as good only once it has stayed up
// STABLE_SECONDS; only then do the waits start again at 1 s, so that a broker
// that accepts and drops (a rule against the client, or a second client with
// the same id taking the session over) is not asked every second. Seen
// SHORT_CONNECTIONS times in a row, and after a refusal, the wait is the
// refusal's (--refused-retry). Staying up is the test rather than the first
// acknowledgement: two gateways with one client id each get their messages
// acknowledged before the other takes the session back.
class ReconnectBackoff {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int FIRST_SECONDS = 1;
    static constexpr int MOST_SECONDS = 30;
    static constexpr int STABLE_SECONDS = 30;
    static constexpr int SHORT_CONNECTIONS = 3;

    explicit ReconnectBackoff(Clock::duration afterRefusal) : afterRefusal_(afterRefusal) {}

    // The wait before the next attempt after one that failed at now.
    Clock::duration failed(Clock::time_point now);
    // The broker turned the gateway away at now.
    Clock::duration refused(Clock::time_point now);
    void connected(Clock::time_point now);
    // The connection made at connected() ended at now.
    Clock::duration lost(Clock::time_point now);
    // The connection made at connected() has stayed up STABLE_SECONDS by now:
    // the waits start again at 1 s. True the one time this ends a run of
    // short connections (flapping()).
    bool confirmStable(Clock::time_point now);
    bool flapping() const { return shortConnections_ >= SHORT_CONNECTIONS; }
    bool due(Clock::time_point now) const { return now >= nextAttempt_; }

private:
    Clock::duration wait(Clock::time_point now, Clock::duration length);

    Clock::duration afterRefusal_;
    int nextSeconds_ = FIRST_SECONDS;
    int shortConnections_ = 0;
    bool up_ = false;
    Clock::time_point connectedAt_{};
    Clock::time_point nextAttempt_{};
};

// The retained state topics (status, info). The newest payload of each goes
// to the broker once per connection (the broker may have put the last will
// in status, or lost info in a restart), but never while an earlier copy is
// still with the library unacknowledged: the library sends that one again
// itself after a reconnect, and a second copy would pile up behind it at
// every connection. A newer payload waits for that acknowledgement.
class RetainedTopics {
public:
    void set(const std::string& topic, const std::string& payload);
    // A new connection: every topic not in flight is due again.
    void connectionStarted();
    // The topics to hand over now, each with its newest payload.
    std::vector<std::pair<std::string, std::string>> due() const;
    void handed(const std::string& topic, int mid);
    // The library would not take it: not tried again before a new payload.
    void notHanded(const std::string& topic);
    // False for an id not here.
    bool acknowledge(int mid);
    // Its newest payload is acknowledged (or was not taken).
    bool settled(const std::string& topic) const;
    bool allSettled() const;

private:
    struct Entry {
        std::string payload;
        bool due = true;
        bool inFlight = false;
        int mid = 0;
    };
    std::map<std::string, Entry> topics_;
};

// Something that may happen many times a second (messages dropped from a
// full queue, publishes the library refused), told at most once a period
// with the count: the first at once, the rest when the period is over.
class ThrottledCount {
public:
    using Clock = std::chrono::steady_clock;
    explicit ThrottledCount(Clock::duration period) : period_(period) {}

    void add(uint64_t count) {
        pending_ += count;
        total_ += count;
    }
    // The count to tell now, or 0 (nothing new, or told less than a period
    // ago); the count starts again.
    uint64_t take(Clock::time_point now);
    // What is not told yet, at once (the end of the run).
    uint64_t takeRest();
    uint64_t total() const { return total_; }

private:
    Clock::duration period_;
    uint64_t pending_ = 0;
    uint64_t total_ = 0;
    bool told_ = false;
    Clock::time_point nextTell_{};
};
