#include "tests/cli/mqtt_broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "tests/cli/cli_harness.h"
#include "tests/cli/ser2net.h"

namespace clitest {

namespace {

constexpr const char* BROKER_BINARY = "/usr/sbin/mosquitto";

struct Library {
    Library() { mosquitto_lib_init(); }
    ~Library() { mosquitto_lib_cleanup(); }
};

void onMessage(mosquitto*, void* object, const mosquitto_message* message) {
    static_cast<MqttSubscriber*>(object)->received(
        {message->topic, std::string(static_cast<const char*>(message->payload), static_cast<size_t>(message->payloadlen)),
         message->retain, message->qos});
}

void onConnect(mosquitto*, void* object, int code) {
    if (code == 0) static_cast<MqttSubscriber*>(object)->connected();
}

// MQTT control packets: the type in the first byte's high nibble, then the
// remaining length in one to four 7-bit groups.
constexpr uint8_t CONNECT = 1;
constexpr uint8_t PUBLISH = 3;

// A whole packet at the front of bytes: its type and body, removed from
// bytes; false while it is not all there.
bool takePacket(std::string* bytes, uint8_t* type, std::string* body) {
    std::size_t length = 0;
    std::size_t at = 1;
    for (int shift = 0;; shift += 7, ++at) {
        if (at >= bytes->size()) return false;
        length |= static_cast<std::size_t>(static_cast<uint8_t>((*bytes)[at]) & 0x7f) << shift;
        if ((static_cast<uint8_t>((*bytes)[at]) & 0x80) == 0) break;
    }
    if (bytes->size() < at + 1 + length) return false;
    *type = static_cast<uint8_t>((*bytes)[0]) >> 4;
    *body = bytes->substr(at + 1, length);
    bytes->erase(0, at + 1 + length);
    return true;
}

}  // namespace

int freePort() { return peers::freeLoopbackPort(); }

MqttBroker::MqttBroker(const std::string& dir, const std::vector<std::string>& lines)
    : dir_(dir), port_(freePort()) {
    std::ofstream conf(dir_ + "/broker.conf");
    conf << "per_listener_settings true\n";
    // Started as root, the broker would become the user "mosquitto", who
    // may not write the work folder.
    if (const passwd* user = getpwuid(getuid())) conf << "user " << user->pw_name << "\n";
    conf << "persistence true\npersistence_location " << dir_ << "/\n";
    conf << "log_dest stdout\nlog_type all\n";
    conf << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n";
    for (const std::string& line : lines) conf << line << "\n";
}

bool MqttBroker::installed() { return access(BROKER_BINARY, X_OK) == 0; }

bool MqttBroker::start() {
    std::string run = dir_ + "/broker." + std::to_string(++starts_);
    pid_ = spawn({BROKER_BINARY, "-c", dir_ + "/broker.conf"}, run + ".out", run + ".err");
    for (int i = 0; i < 500; ++i) {
        if (peers::acceptsOnLoopback(port_)) return true;
        sleepMs(10);
    }
    return false;
}

void MqttBroker::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitExit(pid_, 5000);
    pid_ = 0;
}

std::string MqttBroker::url(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
}

MqttSubscriber::MqttSubscriber(int port, const std::string& clientId, const std::string& filter)
    : port_(port), filter_(filter) {
    static Library library;
    mosq_ = mosquitto_new(clientId.c_str(), false, this);
    mosquitto_message_callback_set(mosq_, onMessage);
    mosquitto_connect_callback_set(mosq_, onConnect);
    reconnect();
    waitFor(3000, [this] { return connected_; });
}

MqttSubscriber::~MqttSubscriber() {
    mosquitto_disconnect(mosq_);
    mosquitto_destroy(mosq_);
}

void MqttSubscriber::reconnect() {
    connected_ = false;
    if (mosquitto_connect(mosq_, "127.0.0.1", port_, 30) == MOSQ_ERR_SUCCESS)
        mosquitto_subscribe(mosq_, nullptr, filter_.c_str(), 1);
}

bool MqttSubscriber::waitFor(int timeoutMs, const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto nextAttempt = std::chrono::steady_clock::now();
    while (!done()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= end) return false;
        if (mosquitto_loop(mosq_, 10, 1) != MOSQ_ERR_SUCCESS) {
            sleepMs(10);
            if (now >= nextAttempt) {
                nextAttempt = now + std::chrono::milliseconds(250);
                reconnect();
            }
        }
    }
    return true;
}

DroppingBroker::DroppingBroker(int holdMs, int refuseFrom)
    : listener_(socket(AF_INET, SOCK_STREAM, 0)), port_(freePort()), holdMs_(holdMs), refuseFrom_(refuseFrom) {
    int yes = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = peers::loopbackAt(port_);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 4);
    thread_ = std::thread([this] { serve(); });
}

std::string DroppingBroker::url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

void DroppingBroker::stop() {
    if (!thread_.joinable()) return;
    stopping_.store(true, std::memory_order_relaxed);
    thread_.join();
    close(listener_);
}

void DroppingBroker::serve() {
    while (!stopping_.load(std::memory_order_relaxed)) {
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) continue;
        int fd = accept(listener_, nullptr, nullptr);
        if (fd >= 0) serveOne(fd);
    }
}

void DroppingBroker::serveOne(int fd) {
    Connection connection{std::chrono::steady_clock::now(), {}};
    bool refuse = refuseFrom_ >= 0 && static_cast<int>(connections_.size()) >= refuseFrom_;
    auto end = connection.start + std::chrono::milliseconds(holdMs_);
    std::string bytes;
    while (!stopping_.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < end) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 10) <= 0) continue;
        char chunk[4096];
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) break;
        bytes.append(chunk, static_cast<std::size_t>(got));
        uint8_t type = 0;
        std::string body;
        while (takePacket(&bytes, &type, &body)) {
            if (type == CONNECT) {
                const char connack[] = {0x20, 0x02, 0x00, static_cast<char>(refuse ? 5 : 0)};
                if (write(fd, connack, sizeof connack) != sizeof connack) break;
            } else if (type == PUBLISH && body.size() >= 2) {
                std::size_t length = static_cast<std::size_t>(static_cast<uint8_t>(body[0])) << 8 | static_cast<uint8_t>(body[1]);
                connection.topics.push_back(body.substr(2, length));
            }
        }
    }
    close(fd);
    connections_.push_back(connection);
    served_.fetch_add(1, std::memory_order_release);
}

std::vector<ReceivedMessage> MqttSubscriber::on(const std::string& topic) const {
    std::vector<ReceivedMessage> found;
    for (const ReceivedMessage& message : messages_)
        if (message.topic == topic) found.push_back(message);
    return found;
}

}  // namespace clitest
