// libmosquitto driven from the caller's loop (mosquitto_loop with no wait),
// so that its callbacks run on the main thread; see mqtt_client.h.
//
// Ordering after a reconnect: libmosquitto sends the messages that were in
// flight again itself once the CONNACK is handled, after our connect
// callback. So the callback only notes the new connection, and the retained
// state and the queue are handed on after mosquitto_loop has returned,
// behind those resent messages.
#include "cli/mqtt_client.h"

#include <mosquitto.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/exit_codes.h"
#include "cli/platform.h"

namespace {

constexpr int KEEPALIVE_SECONDS = 30;
constexpr int CONNECT_TIMEOUT_MS = 10000;
// Messages with the library at once; the rest wait in our queue, where the
// oldest can still be dropped.
constexpr std::size_t IN_FLIGHT = 20;
constexpr const char* OFFLINE = "offline";
constexpr const char* SYSTEM_CERTIFICATES = "/etc/ssl/certs";
constexpr const char* RETRY_NOTE = "trying again, at most every 30 s; QoS 1 messages are kept meanwhile";

struct Library {
    Library() { mosquitto_lib_init(); }
    ~Library() { mosquitto_lib_cleanup(); }
};

MqttClient* clientOf(void* object) { return static_cast<MqttClient*>(object); }

void onConnect(mosquitto*, void* object, int code) { clientOf(object)->connected(code); }
void onDisconnect(mosquitto*, void* object, int code) { clientOf(object)->disconnected(code); }
void onPublish(mosquitto*, void* object, int mid) { clientOf(object)->acknowledged(mid); }
void onLog(mosquitto*, void* object, int level, const char* text) { clientOf(object)->logged(level, text); }

std::string reasonOf(int code) {
    if (code == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(code);
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// CONNACK codes after which trying again cannot help: a protocol version
// or client id the broker will not take, wrong credentials, not authorized.
bool refusedForGood(int code) { return code == 1 || code == 2 || code == 4 || code == 5; }

}  // namespace

MqttClient::MqttClient(const MqttSettings& settings, std::function<void(const std::string&)> note)
    : settings_(settings), note_(std::move(note)), queue_(settings.buffer) {
    static Library library;
    // A broker that goes away mid-write must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    mosq_ = mosquitto_new(settings_.clientId.c_str(), false, this);
}

MqttClient::~MqttClient() {
    if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

int MqttClient::start() {
    if (mosq_ == nullptr) {
        refuse("cannot make a client: " + std::string(std::strerror(errno)));
        return fatal_;
    }
    mosquitto_connect_callback_set(mosq_, onConnect);
    mosquitto_disconnect_callback_set(mosq_, onDisconnect);
    mosquitto_publish_callback_set(mosq_, onPublish);
    mosquitto_log_callback_set(mosq_, onLog);
    mosquitto_int_option(mosq_, MOSQ_OPT_SEND_MAXIMUM, static_cast<int>(IN_FLIGHT));
    mosquitto_will_set(mosq_, settings_.willTopic.c_str(), static_cast<int>(std::strlen(OFFLINE)), OFFLINE, 1, true);
    if (!settings_.username.empty())
        mosquitto_username_pw_set(mosq_, settings_.username.c_str(),
                                  settings_.hasPassword ? settings_.password.c_str() : nullptr);
    if (settings_.broker.tls) {
        int unreadable = unreadableTlsFile();
        if (unreadable != EXIT_DONE) return unreadable;
        const char* ca = settings_.tlsCa.empty() ? nullptr : settings_.tlsCa.c_str();
        int rc = mosquitto_tls_set(mosq_, ca, ca == nullptr ? SYSTEM_CERTIFICATES : nullptr,
                                   settings_.tlsCert.empty() ? nullptr : settings_.tlsCert.c_str(),
                                   settings_.tlsKey.empty() ? nullptr : settings_.tlsKey.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            std::fprintf(stderr, "elq770ctl: %s: cannot use the TLS files: %s\n", settings_.url.c_str(),
                         reasonOf(rc).c_str());
            return EXIT_FILE_REFUSED;
        }
    }
    attempt();
    return fatal_ != 0 ? fatal_ : EXIT_DONE;
}

// libmosquitto says only "invalid arguments" for a file it cannot open;
// the user is told which file and why.
int MqttClient::unreadableTlsFile() const {
    for (const std::string* path : {&settings_.tlsCa, &settings_.tlsCert, &settings_.tlsKey}) {
        if (path->empty()) continue;
        std::FILE* file = openFile(*path, "r");
        if (file != nullptr) {
            std::fclose(file);
            continue;
        }
        int error = lastSystemError();
        std::fprintf(stderr, "elq770ctl: %s: cannot read file: %s\n", path->c_str(), systemErrorText(error).c_str());
        return EXIT_FILE_REFUSED;
    }
    return EXIT_DONE;
}

void MqttClient::attempt() {
    lastTlsError_.clear();
    loadError_.clear();
    attemptStart_ = Clock::now();
    int rc = everAttempted_ ? mosquitto_reconnect_async(mosq_)
                            : mosquitto_connect_async(mosq_, settings_.broker.host.c_str(), settings_.broker.port,
                                                      KEEPALIVE_SECONDS);
    everAttempted_ = true;
    if (rc == MOSQ_ERR_SUCCESS) {
        state_ = State::CONNECTING;
        return;
    }
    // The client's own certificate or key that does not load is ours to mend.
    if (rc == MOSQ_ERR_TLS && !loadError_.empty()) {
        std::fprintf(stderr, "elq770ctl: %s: TLS set-up failed: %s (%s)\n", settings_.url.c_str(), loadError_.c_str(),
                     lastTlsError_.c_str());
        fatal_ = EXIT_FILE_REFUSED;
        return;
    }
    failed(reasonOf(rc));
}

// A TLS failure the library logged decides whether the broker turned us
// away for good: our certificate refused, or its certificate unverifiable.
void MqttClient::failed(const std::string& reason) {
    state_ = State::IDLE;
    if (contains(lastTlsError_, "certificate verify failed"))
        return refuse("the broker's certificate does not verify (" + lastTlsError_ + ")");
    if (contains(lastTlsError_, "alert") && (contains(lastTlsError_, "certificate") || contains(lastTlsError_, "unknown ca")))
        return refuse("the broker refused the client certificate (" + lastTlsError_ + ")");
    backoff_.failed(Clock::now());
    if (!awayReported_) {
        note_("elq770ctl: " + settings_.url + ": broker not reachable (" + reason + "); " + RETRY_NOTE);
        awayReported_ = true;
    }
}

void MqttClient::refuse(const std::string& reason) {
    state_ = State::IDLE;
    if (fatal_ != 0) return;
    fatal_ = EXIT_BROKER_REFUSED;
    std::fprintf(stderr, "elq770ctl: %s: %s\n", settings_.url.c_str(), reason.c_str());
    std::fflush(stderr);
}

void MqttClient::connected(int code) {
    if (code == 0) {
        state_ = State::CONNECTED;
        freshConnection_ = true;
        backoff_.succeeded();
        awayReported_ = false;
        note_("elq770ctl: " + settings_.url + ": connected as " + settings_.clientId);
        return;
    }
    std::string reason = std::string("the broker refused the connection: ") + mosquitto_connack_string(code);
    if (refusedForGood(code)) return refuse(reason);
    failed(reason);
}

void MqttClient::disconnected(int code) {
    if (state_ == State::IDLE) return;
    if (state_ == State::CONNECTED) {
        note_("elq770ctl: " + settings_.url + ": connection lost (" + reasonOf(code) + "); " + RETRY_NOTE);
        awayReported_ = true;
    }
    failed(reasonOf(code));
}

void MqttClient::acknowledged(int mid) {
    if (queue_.acknowledge(mid)) return;
    if (mid == lastRetainedMid_) lastRetainedAcknowledged_ = true;
}

void MqttClient::logged(int level, const char* text) {
    if ((level & MOSQ_LOG_ERR) == 0) return;
    // The library names the file that does not load first, then OpenSSL's
    // reasons: a garbage file, or a key that is not the certificate's.
    if (contains(text, "Unable to load")) {
        if (loadError_.empty()) loadError_ = text;
    } else if (contains(text, "OpenSSL Error")) {
        lastTlsError_ = text;
    }
}

void MqttClient::service() {
    if (fatal_ != 0) return;
    if (state_ == State::IDLE && backoff_.due(Clock::now())) attempt();
    if (state_ != State::IDLE) {
        int rc = mosquitto_loop(mosq_, 0, 1);
        if (rc != MOSQ_ERR_SUCCESS && state_ != State::IDLE) {
            disconnected(rc);
        } else if (state_ == State::CONNECTING && Clock::now() - attemptStart_ > std::chrono::milliseconds(CONNECT_TIMEOUT_MS)) {
            state_ = State::IDLE;  // the disconnect's callback is not a second failure
            mosquitto_disconnect(mosq_);
            failed("no answer within 10 s");
        }
    }
    if (state_ != State::CONNECTED) return;
    if (freshConnection_) {
        freshConnection_ = false;
        reportDropped();
        sendRetained();
    }
    handQueued();
}

void MqttClient::reportDropped() {
    uint64_t dropped = queue_.takeDropped();
    fullNoted_ = false;
    if (dropped == 0) return;
    droppedTotal_ += dropped;
    note_("elq770ctl: " + settings_.url + ": the queue was full: dropped the " + std::to_string(dropped) +
          " oldest messages (" + std::to_string(droppedTotal_) + " in all)");
}

void MqttClient::handQueued() {
    while (queue_.handedCount() < IN_FLIGHT) {
        OutboundMessage* message = queue_.nextToHand();
        if (message == nullptr) return;
        int mid = 0;
        int rc = mosquitto_publish(mosq_, &mid, message->topic.c_str(), static_cast<int>(message->payload.size()),
                                   message->payload.data(), 1, false);
        // Without a connection the library still keeps a QoS 1 message and
        // sends it after the reconnect: it is handed over all the same.
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) return;
        queue_.markHanded(message, mid);
        if (rc == MOSQ_ERR_NO_CONN) return;
    }
}

void MqttClient::sendRetained() {
    for (const auto& [topic, payload] : retained_)
        mosquitto_publish(mosq_, &lastRetainedMid_, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                          true);
}

void MqttClient::publishQueued(const std::string& topic, const std::string& payload) {
    queue_.push(topic, payload);
    if (state_ == State::CONNECTED) {
        reportDropped();
        handQueued();
    } else if (!fullNoted_ && queue_.size() >= settings_.buffer) {
        // Once while the broker is away; the count follows at the reconnect.
        fullNoted_ = true;
        note_("elq770ctl: " + settings_.url + ": the queue of " + std::to_string(settings_.buffer) +
              " messages is full: the oldest go");
    }
}

void MqttClient::publishAtMostOnce(const std::string& topic, const std::string& payload) {
    if (state_ != State::CONNECTED) return;
    mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 0, false);
}

void MqttClient::setRetained(const std::string& topic, const std::string& payload) {
    retained_[topic] = payload;
    if (state_ != State::CONNECTED) return;
    lastRetainedAcknowledged_ = false;
    mosquitto_publish(mosq_, &lastRetainedMid_, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                      true);
}

void MqttClient::finish(int flushMs) {
    reportDropped();
    if (fatal_ != 0 || state_ != State::CONNECTED) {
        if (queue_.size() > 0)
            note_("elq770ctl: " + settings_.url + ": not connected at the end: " + std::to_string(queue_.size()) +
                  " queued messages not sent");
        return;
    }
    setRetained(settings_.willTopic, OFFLINE);
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(flushMs);
    while (Clock::now() < end && state_ == State::CONNECTED && (queue_.size() > 0 || !lastRetainedAcknowledged_)) {
        mosquitto_loop(mosq_, 10, 1);
        if (state_ == State::CONNECTED) handQueued();
    }
    if (queue_.size() > 0)
        note_("elq770ctl: " + settings_.url + ": " + std::to_string(queue_.size()) + " queued messages not sent");
    state_ = State::IDLE;
    mosquitto_disconnect(mosq_);
    mosquitto_loop(mosq_, 100, 1);
}
