// The gateway's one connection to its MQTT broker (libmosquitto, Linux
// only: mqtt_client.cpp): connects in the background and reconnects
// with the backoff, sends the retained state messages again at each
// connection (never a second copy of one still unacknowledged), holds QoS 1
// messages in the bounded queue while the broker is away, and says when the
// broker's refusal is final: at the first connection only. Once connected,
// a refusal is told once and tried again every --refused-retry minutes.
//
// Threads: none of its own. The caller's main thread calls service() every
// few milliseconds; libmosquitto runs its network I/O and its callbacks
// inside that call (mosquitto_loop), so the callbacks touch this object
// on the main thread and nothing is shared.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/gateway/messages.h"

struct MqttSettings {
    // The brokers in the order given, each with its URL as given (for the
    // messages): the first that answers is used; when it fails, the next,
    // after the backoff's wait. All of them mqtt:// or all mqtts://.
    std::vector<std::string> urls;
    std::vector<BrokerAddress> brokers;
    std::string clientId;
    std::string username;  // "" for none; the password comes to start()
    std::string tlsCa;  // "" with mqtts: the system's certificate authorities
    std::string tlsCert;
    std::string tlsKey;
    std::string willTopic;  // takes "offline", retained, when the gateway vanishes; "" for none
    std::vector<std::string> subscriptions;  // QoS 1, at every connection
    std::size_t buffer = 3600;
    std::chrono::steady_clock::duration refusedRetry = std::chrono::minutes(5);
};

class Password;

class MqttClient {
public:
    using Clock = std::chrono::steady_clock;

    MqttClient(const MqttSettings& settings, std::function<void(const std::string&)> note);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Prepares the connection (last will, credentials, TLS) and makes the
    // first attempt; the password is wiped once the library has its copy.
    // EXIT_DONE, EXIT_USAGE when the library will not take the will or the
    // user name, or EXIT_FILE_REFUSED when a TLS file does not load (each
    // reported on stderr).
    int start(Password* password);
    // Network I/O, a due reconnect, and the queue handed on; every look.
    void service();

    // QoS 1, not retained, through the queue: kept while the broker is away.
    void publishQueued(const std::string& topic, const std::string& payload);
    // QoS 0, not retained: sent when connected, else gone.
    void publishAtMostOnce(const std::string& topic, const std::string& payload);
    // QoS 1, retained: sent now when connected, and again at each connection.
    void setRetained(const std::string& topic, const std::string& payload);

    // What arrives on the subscriptions, inside service().
    void onMessage(std::function<void(const std::string& topic, const std::string& payload)> handler) {
        onMessage_ = std::move(handler);
    }

    // For the metrics page.
    bool isConnected() const { return state_ == State::CONNECTED; }
    std::size_t queued() const { return queue_.size(); }
    uint64_t droppedTotal() const { return dropped_.total() + queue_.droppedPending(); }
    uint64_t reconnects() const { return reconnects_; }
    double lastPublish() const { return lastPublish_; }  // seconds since the epoch; 0 before the first
    // The retained topics all acknowledged (or not taken).
    bool settled() const { return retained_.allSettled(); }

    // EXIT_BROKER_REFUSED once the broker has refused the first connection
    // for good (reported on stderr); the gateway then ends. EXIT_DONE
    // otherwise.
    int fatal() const { return fatal_; }

    // The clean end: the will's topic set to "offline" by ourselves, the
    // queue flushed for at most flushMs, then a disconnect (no will).
    void finish(int flushMs);

    // libmosquitto's callbacks land here (public for the C trampolines).
    void connected(int code);
    void disconnected(int code);
    void acknowledged(int mid);
    void logged(int level, const char* text);
    void received(const std::string& topic, const std::string& payload);

private:
    enum class State { IDLE, CONNECTING, CONNECTED };

    int prepare(Password* password);
    int unreadableTlsFile() const;
    void attempt();
    void failed(const std::string& reason);
    void refuse(const std::string& reason);
    void refusedAfterConnected(const std::string& reason);
    void lost(int code);
    void connectionServed();
    void handQueued();
    void handRetained();
    void reportDropped(bool all);
    void reportRefusedPublish(int rc, bool all);
    void tell(const std::string& text);
    const std::string& url() const { return settings_.urls[current_]; }
    void moveOn();

    MqttSettings settings_;
    std::function<void(const std::string&)> note_;
    struct mosquitto* mosq_ = nullptr;
    State state_ = State::IDLE;
    bool everConnected_ = false;
    bool freshConnection_ = false;
    bool awayReported_ = false;
    bool refusalReported_ = false;
    Clock::time_point attemptStart_;
    ReconnectBackoff backoff_;
    OutboundQueue queue_;
    RetainedTopics retained_;
    ThrottledCount dropped_;
    ThrottledCount refusedPublishes_;
    std::string refusedPublishReason_;
    std::string lastTlsError_;
    std::string loadError_;  // the client certificate or key that did not load
    int fatal_ = 0;
    std::size_t current_ = 0;  // the broker in use or tried next
    uint64_t reconnects_ = 0;
    double lastPublish_ = 0;
    std::function<void(const std::string&, const std::string&)> onMessage_;
};
