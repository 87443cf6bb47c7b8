// The gateway's one connection to its MQTT broker (libmosquitto, Linux
// only: mqtt_client_posix.cpp): connects in the background and reconnects
// with the backoff, sends the retained state messages again at each
// connection, holds QoS 1 messages in the bounded queue while the broker is
// away, and says when the broker's refusal is final.
//
// Threads: none of its own. The caller's main thread calls service() every
// few milliseconds; libmosquitto runs its network I/O and its callbacks
// inside that call (mosquitto_loop), so the callbacks touch this object
// on the main thread and nothing is shared.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "cli/publish_parts.h"

struct MqttSettings {
    std::string url;  // as given, for the messages
    BrokerAddress broker;
    std::string clientId;
    std::string username;  // "" for none
    std::string password;
    bool hasPassword = false;
    std::string tlsCa;  // "" with mqtts: the system's certificate authorities
    std::string tlsCert;
    std::string tlsKey;
    std::string willTopic;  // takes "offline", retained, when the gateway vanishes
    std::size_t buffer = 3600;
};

class MqttClient {
public:
    using Clock = std::chrono::steady_clock;

    MqttClient(const MqttSettings& settings, std::function<void(const std::string&)> note);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Prepares the connection (last will, credentials, TLS) and makes the
    // first attempt. EXIT_DONE, or EXIT_FILE_REFUSED when a TLS file does not
    // load (reported on stderr).
    int start();
    // Network I/O, a due reconnect, and the queue handed on; every look.
    void service();

    // QoS 1, not retained, through the queue: kept while the broker is away.
    void publishQueued(const std::string& topic, const std::string& payload);
    // QoS 0, not retained: sent when connected, else gone.
    void publishAtMostOnce(const std::string& topic, const std::string& payload);
    // QoS 1, retained: sent now when connected, and again at each connection.
    void setRetained(const std::string& topic, const std::string& payload);

    // EXIT_BROKER_REFUSED once the broker has refused for good (reported on
    // stderr); the gateway then ends. EXIT_DONE otherwise.
    int fatal() const { return fatal_; }

    // The clean end: the will's topic set to "offline" by ourselves, the
    // queue flushed for at most flushMs, then a disconnect (no will).
    void finish(int flushMs);

    // libmosquitto's callbacks land here (public for the C trampolines).
    void connected(int code);
    void disconnected(int code);
    void acknowledged(int mid);
    void logged(int level, const char* text);

private:
    enum class State { IDLE, CONNECTING, CONNECTED };

    int unreadableTlsFile() const;
    void attempt();
    void failed(const std::string& reason);
    void handQueued();
    void sendRetained();
    void refuse(const std::string& reason);
    void reportDropped();

    MqttSettings settings_;
    std::function<void(const std::string&)> note_;
    struct mosquitto* mosq_ = nullptr;
    State state_ = State::IDLE;
    bool everAttempted_ = false;
    bool freshConnection_ = false;
    bool awayReported_ = false;
    bool fullNoted_ = false;
    Clock::time_point attemptStart_;
    ReconnectBackoff backoff_;
    OutboundQueue queue_;
    std::map<std::string, std::string> retained_;
    int lastRetainedMid_ = -1;
    bool lastRetainedAcknowledged_ = false;
    std::string lastTlsError_;
    std::string loadError_;  // the client certificate or key that did not load
    uint64_t droppedTotal_ = 0;
    int fatal_ = 0;
};
