#include "tests/cli/mqtt_broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "tests/cli/cli_harness.h"

namespace clitest {

namespace {

constexpr const char* BROKER_BINARY = "/usr/sbin/mosquitto";

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(port);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

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

}  // namespace

int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

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
        if (accepts(port_)) return true;
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

std::vector<ReceivedMessage> MqttSubscriber::on(const std::string& topic) const {
    std::vector<ReceivedMessage> found;
    for (const ReceivedMessage& message : messages_)
        if (message.topic == topic) found.push_back(message);
    return found;
}

}  // namespace clitest
