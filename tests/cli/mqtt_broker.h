// A Mosquitto broker of the test's own on a free port of 127.0.0.1, with its
// configuration, persistence and log in the test's work folder, and an MQTT
// subscriber that records what arrives. The subscriber is polled from the
// test's thread (mosquitto_loop), so its callbacks run there too.
//
// DroppingBroker, a broker that accepts and drops, runs on a thread of its
// own, which alone writes its records; the test's thread reads them only
// after stop() has joined it, and meanwhile only the atomic count of
// connections (release by the server, acquire by the test).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;

namespace clitest {

// A port the system has just handed out and taken back.
int freePort();

class MqttBroker {
public:
    // The broker's own port takes anonymous clients without TLS; lines add
    // further listeners, each with its settings (TLS files, a password
    // file, allow_anonymous ...), which apply per listener.
    MqttBroker(const std::string& dir, const std::vector<std::string>& lines = {});
    ~MqttBroker() { stop(); }
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    // The broker is in the system (CI installs it).
    static bool installed();
    // Starts it (its log in broker.N.out) and waits until it takes connections; false after 5 s.
    bool start();
    // SIGTERM: it saves its sessions and ends; the port stays this broker's.
    void stop();
    int port() const { return port_; }
    std::string url(const char* scheme = "mqtt") const;

private:
    std::string dir_;
    int port_;
    pid_t pid_ = 0;
    int starts_ = 0;  // each run logs into broker.N.out
};

struct ReceivedMessage {
    std::string topic;
    std::string payload;
    bool retained;
    int qos;  // as delivered: the lower of the publisher's and the subscription's (1)
};

class MqttSubscriber {
public:
    // A session the broker keeps (clean session off) under clientId, with
    // filter subscribed at QoS 1.
    MqttSubscriber(int port, const std::string& clientId, const std::string& filter = "elq770/#");
    ~MqttSubscriber();
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    // Serves the connection, reconnecting while the broker is away, until
    // done() holds or timeoutMs has passed; done()'s last answer.
    bool waitFor(int timeoutMs, const std::function<bool()>& done);
    const std::vector<ReceivedMessage>& messages() const { return messages_; }
    std::vector<ReceivedMessage> on(const std::string& topic) const;

    // libmosquitto's callbacks (public for the C trampolines).
    void received(const ReceivedMessage& message) { messages_.push_back(message); }
    void connected() { connected_ = true; }

private:
    void reconnect();

    mosquitto* mosq_;
    int port_;
    std::string filter_;
    bool connected_ = false;
    std::vector<ReceivedMessage> messages_;
};

// A broker of the test's own on a free port of 127.0.0.1 that answers each
// CONNECT with a CONNACK and closes the connection holdMs later, without
// acknowledging anything: a broker whose rules drop the client, or where a
// second client takes the session. From connection refuseFrom on (counted
// from 0; -1 for never) the CONNACK refuses instead ("not authorised").
// It records what arrives, one connection at a time.
class DroppingBroker {
public:
    struct Connection {
        std::chrono::steady_clock::time_point start;
        std::vector<std::string> topics;  // of the PUBLISH packets, in order
    };

    explicit DroppingBroker(int holdMs, int refuseFrom = -1);
    ~DroppingBroker() { stop(); }
    DroppingBroker(const DroppingBroker&) = delete;
    DroppingBroker& operator=(const DroppingBroker&) = delete;

    std::string url() const;
    // Connections over and recorded so far.
    int served() const { return served_.load(std::memory_order_acquire); }
    void stop();
    // After stop().
    const std::vector<Connection>& connections() const { return connections_; }

private:
    void serve();
    void serveOne(int fd);

    int listener_;
    int port_;
    int holdMs_;
    int refuseFrom_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> served_{0};
    std::vector<Connection> connections_;
    std::thread thread_;
};

}  // namespace clitest
