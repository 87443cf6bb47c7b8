// The MQTT gateway's parts that need neither the network nor the device:
// the broker address, one interval's measurements, the messages' JSON, the
// queue that holds QoS 1 messages while the broker is away, and the
// reconnect backoff. Main thread only; they take time as an argument.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

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
    // The broker has the message of this id; false for an id not here.
    bool acknowledge(int mid);
    std::size_t size() const { return messages_.size(); }
    // Dropped since the last call.
    uint64_t takeDropped();

private:
    std::size_t capacity_;
    std::deque<OutboundMessage> messages_;
    std::size_t handed_ = 0;
    uint64_t dropped_ = 0;
};

// 1 s after the first failed attempt, doubling to at most 30 s; back to 1 s
// once a connection is accepted.
class ReconnectBackoff {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int FIRST_SECONDS = 1;
    static constexpr int MOST_SECONDS = 30;

    // The wait before the next attempt after a failure at now.
    std::chrono::seconds failed(Clock::time_point now);
    void succeeded() { nextSeconds_ = FIRST_SECONDS; }
    bool due(Clock::time_point now) const { return now >= nextAttempt_; }

private:
    int nextSeconds_ = FIRST_SECONDS;
    Clock::time_point nextAttempt_{};
};
