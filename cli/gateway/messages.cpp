#include "cli/gateway/messages.h"

#include <algorithm>
#include <cmath>

#include "cli/device/parameter_text.h"
#include "link/live_state.h"
#include "params/parameter_set.h"

namespace {

// A host name or an IPv4 address; an IPv6 literal would need brackets and
// is not taken.
bool validHost(const std::string& host) {
    if (host.empty()) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
               c == '_';
    });
}

bool parsePort(const std::string& text, int* port) {
    if (text.empty() || text.size() > 5) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    int value = std::stoi(text);
    if (value < 1 || value > 65535) return false;
    *port = value;
    return true;
}

nlohmann::ordered_json peakJson(int32_t peak) {
    return peak == NO_VALUE ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(peak);
}

}  // namespace

bool parseBrokerUrl(const std::string& url, BrokerAddress* address) {
    BrokerAddress parsed;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
        parsed.port = 1883;
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        parsed.port = 8883;
        parsed.tls = true;
    } else {
        return false;
    }
    std::size_t colon = rest.find(':');
    parsed.host = rest.substr(0, colon);
    if (!validHost(parsed.host)) return false;
    if (colon != std::string::npos && !parsePort(rest.substr(colon + 1), &parsed.port)) return false;
    *address = parsed;
    return true;
}

void IntervalAggregate::addSample(int32_t percent) {
    if (samples_ == 0 || percent < minimum_) minimum_ = percent;
    if (samples_ == 0 || percent > maximum_) maximum_ = percent;
    last_ = percent;
    sum_ += percent;
    ++samples_;
}

nlohmann::ordered_json IntervalAggregate::close(const std::string& time, int activeLimit, int32_t maxPeak,
                                                int32_t minPeak) {
    double mean = samples_ == 0 ? 0.0 : static_cast<double>(sum_) / static_cast<double>(samples_);
    nlohmann::ordered_json message = {{"time", time},
                                      {"last", last_},
                                      {"min", minimum_},
                                      {"max", maximum_},
                                      {"mean", std::round(mean * 100.0) / 100.0},
                                      {"samples", samples_},
                                      {"activeLimit", activeLimit},
                                      {"maxPeak", peakJson(maxPeak)},
                                      {"minPeak", peakJson(minPeak)},
                                      {"alarms", alarms_}};
    *this = IntervalAggregate{};
    return message;
}

nlohmann::ordered_json alarmJson(const std::string& time, uint16_t word) {
    return {{"time", time}, {"word", word}};
}

void OutboundQueue::push(std::string topic, std::string payload) {
    if (messages_.size() >= capacity_) {
        auto oldest = std::find_if(messages_.begin(), messages_.end(),
                                   [](const OutboundMessage& m) { return !m.handed; });
        ++dropped_;
        if (oldest == messages_.end()) return;  // all with the library: the new one goes
        messages_.erase(oldest);
    }
    messages_.push_back(OutboundMessage{std::move(topic), std::move(payload)});
}

// Handed messages form the front of the queue: they are handed in order
// and leave it in any order.
OutboundMessage* OutboundQueue::nextToHand() {
    for (OutboundMessage& message : messages_)
        if (!message.handed) return &message;
    return nullptr;
}

void OutboundQueue::markHanded(OutboundMessage* message, int mid) {
    message->handed = true;
    message->mid = mid;
    ++handed_;
}

void OutboundQueue::discard(OutboundMessage* message) {
    auto found = std::find_if(messages_.begin(), messages_.end(),
                              [message](const OutboundMessage& m) { return &m == message; });
    if (found != messages_.end() && !found->handed) messages_.erase(found);
}

bool OutboundQueue::acknowledge(int mid) {
    auto found = std::find_if(messages_.begin(), messages_.end(),
                              [mid](const OutboundMessage& m) { return m.handed && m.mid == mid; });
    if (found == messages_.end()) return false;
    messages_.erase(found);
    --handed_;
    return true;
}

uint64_t OutboundQueue::takeDropped() {
    uint64_t dropped = dropped_;
    dropped_ = 0;
    return dropped;
}

ReconnectBackoff::Clock::duration ReconnectBackoff::wait(Clock::time_point now, Clock::duration length) {
    nextAttempt_ = now + length;
    return length;
}

ReconnectBackoff::Clock::duration ReconnectBackoff::failed(Clock::time_point now) {
    std::chrono::seconds step(nextSeconds_);
    nextSeconds_ = std::min(nextSeconds_ * 2, MOST_SECONDS);
    return wait(now, step);
}

ReconnectBackoff::Clock::duration ReconnectBackoff::refused(Clock::time_point now) {
    up_ = false;
    return wait(now, afterRefusal_);
}

void ReconnectBackoff::connected(Clock::time_point now) {
    up_ = true;
    connectedAt_ = now;
}

bool ReconnectBackoff::confirmStable(Clock::time_point now) {
    if (!up_ || now - connectedAt_ < std::chrono::seconds(STABLE_SECONDS)) return false;
    if (nextSeconds_ == FIRST_SECONDS && shortConnections_ == 0) return false;
    bool wasFlapping = flapping();
    nextSeconds_ = FIRST_SECONDS;
    shortConnections_ = 0;
    return wasFlapping;
}

ReconnectBackoff::Clock::duration ReconnectBackoff::lost(Clock::time_point now) {
    if (up_ && now - connectedAt_ < std::chrono::seconds(STABLE_SECONDS)) ++shortConnections_;
    confirmStable(now);
    up_ = false;
    if (flapping()) return wait(now, afterRefusal_);
    return failed(now);
}

void RetainedTopics::set(const std::string& topic, const std::string& payload) {
    Entry& entry = topics_[topic];
    entry.payload = payload;
    entry.due = true;
}

void RetainedTopics::connectionStarted() {
    for (auto& [topic, entry] : topics_)
        if (!entry.inFlight) entry.due = true;
}

std::vector<std::pair<std::string, std::string>> RetainedTopics::due() const {
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& [topic, entry] : topics_)
        if (entry.due && !entry.inFlight) found.emplace_back(topic, entry.payload);
    return found;
}

void RetainedTopics::handed(const std::string& topic, int mid) {
    Entry& entry = topics_[topic];
    entry.due = false;
    entry.inFlight = true;
    entry.mid = mid;
}

void RetainedTopics::notHanded(const std::string& topic) { topics_[topic].due = false; }

bool RetainedTopics::acknowledge(int mid) {
    for (auto& [topic, entry] : topics_) {
        if (!entry.inFlight || entry.mid != mid) continue;
        entry.inFlight = false;
        return true;
    }
    return false;
}

bool RetainedTopics::settled(const std::string& topic) const {
    auto found = topics_.find(topic);
    return found != topics_.end() && !found->second.inFlight && !found->second.due;
}

bool RetainedTopics::allSettled() const {
    for (const auto& [topic, entry] : topics_)
        if (entry.inFlight || entry.due) return false;
    return true;
}

uint64_t ThrottledCount::take(Clock::time_point now) {
    if (pending_ == 0 || (told_ && now < nextTell_)) return 0;
    told_ = true;
    nextTell_ = now + period_;
    return takeRest();
}

uint64_t ThrottledCount::takeRest() {
    uint64_t count = pending_;
    pending_ = 0;
    return count;
}

nlohmann::ordered_json parameterChanges(const ParameterSet& before, const ParameterSet& after) {
    nlohmann::ordered_json old = parameterJson(before);
    nlohmann::ordered_json now = parameterJson(after);
    nlohmann::ordered_json changes = nlohmann::ordered_json::array();
    for (const auto& item : now.items()) {
        if (item.key() == "activeLimit" || old[item.key()] == item.value()) continue;
        changes.push_back({{"parameter", item.key()}, {"old", old[item.key()]}, {"new", item.value()}});
    }
    return changes;
}

nlohmann::ordered_json auditJson(const std::string& time, const std::string& client,
                                 const nlohmann::ordered_json& changes) {
    return {{"time", time}, {"client", client}, {"changes", changes}};
}
