// libmosquitto driven from the caller's loop (mosquitto_loop with no wait),
// so that its callbacks run on the main thread; see mqtt_client.h.
//
// Ordering after a reconnect: libmosquitto sends the messages that were in
// flight again itself once the CONNACK is handled, after our connect
// callback. So the callback only notes the new connection, and the retained
// state and the queue are handed on after mosquitto_loop has returned,
// behind those resent messages (and a retained topic among them is not
// handed again: RetainedTopics).
//
// MQTT 3.1.1 rather than 5: a version 5 broker may say "session taken over"
// when a second client takes the gateway's client id, but Mosquitto 2.0.11
// (Debian 12's) just closes the connection, and a 3.1.1-only broker would
// need a fallback. The backoff's rule (a connection counts once it has
// stayed up 30 s) notices a taken-over session with every broker.
#include "cli/gateway/mqtt_client.h"

#include <mosquitto.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/console/exit_codes.h"
#include "cli/console/platform.h"
#include "cli/console/report.h"
#include "cli/gateway/password.h"

namespace {

constexpr int KEEPALIVE_SECONDS = 30;
constexpr int CONNECT_TIMEOUT_MS = 10000;
// Messages with the library at once; the rest wait in our queue, where the
// oldest can still be dropped.
constexpr std::size_t IN_FLIGHT = 20;
constexpr const char* OFFLINE = "offline";
constexpr const char* SYSTEM_CERTIFICATES = "/etc/ssl/certs";
constexpr const char* RETRY_NOTE = "trying again, at most every 30 s; QoS 1 messages are kept meanwhile";
constexpr auto REPORT_PERIOD = std::chrono::minutes(1);

struct Library {
    Library() { mosquitto_lib_init(); }
    ~Library() { mosquitto_lib_cleanup(); }
};

MqttClient* clientOf(void* object) { return static_cast<MqttClient*>(object); }

void onConnect(mosquitto*, void* object, int code) { clientOf(object)->connected(code); }
void onDisconnect(mosquitto*, void* object, int code) { clientOf(object)->disconnected(code); }
void onPublish(mosquitto*, void* object, int mid) { clientOf(object)->acknowledged(mid); }
void onLog(mosquitto*, void* object, int level, const char* text) { clientOf(object)->logged(level, text); }
void onMessageArrived(mosquitto*, void* object, const mosquitto_message* message) {
    clientOf(object)->received(message->topic,
                               std::string(static_cast<const char*>(message->payload),
                                           static_cast<std::size_t>(message->payloadlen)));
}

double epochSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string reasonOf(int code) {
    if (code == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(code);
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// CONNACK codes that trying again at once cannot mend: a protocol version
// or client id the broker will not take, wrong credentials, not authorized.
// At the first connection they are the options' fault; later, the broker's.
bool refusedForGood(int code) { return code == 1 || code == 2 || code == 4 || code == 5; }

// "5 min", "0.5 min".
std::string minutesText(std::chrono::steady_clock::duration length) {
    char text[32];
    std::snprintf(text, sizeof text, "%g min", std::chrono::duration<double, std::ratio<60>>(length).count());
    return text;
}

}  // namespace

MqttClient::MqttClient(const MqttSettings& settings, std::function<void(const std::string&)> note)
    : settings_(settings),
      note_(std::move(note)),
      backoff_(settings.refusedRetry),
      queue_(settings.buffer),
      dropped_(REPORT_PERIOD),
      refusedPublishes_(REPORT_PERIOD) {
    static Library library;
    // A broker that goes away mid-write must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    mosq_ = mosquitto_new(settings_.clientId.c_str(), false, this);
}

MqttClient::~MqttClient() {
    if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

int MqttClient::start(Password* password) {
    int prepared = prepare(password);
    password->wipe();
    if (prepared != EXIT_DONE) return prepared;
    attempt();
    return fatal_ != 0 ? fatal_ : EXIT_DONE;
}

// The will's topic and the user name are checked as options already; the
// library's own refusal is reported all the same, rather than a gateway
// that connects without a will or without its user.
int MqttClient::prepare(Password* password) {
    if (mosq_ == nullptr) {
        refuse("cannot make a client: " + std::string(std::strerror(errno)));
        return fatal_;
    }
    mosquitto_connect_callback_set(mosq_, onConnect);
    mosquitto_disconnect_callback_set(mosq_, onDisconnect);
    mosquitto_publish_callback_set(mosq_, onPublish);
    mosquitto_log_callback_set(mosq_, onLog);
    mosquitto_message_callback_set(mosq_, onMessageArrived);
    mosquitto_int_option(mosq_, MOSQ_OPT_SEND_MAXIMUM, static_cast<int>(IN_FLIGHT));
    int rc = settings_.willTopic.empty()
                 ? MOSQ_ERR_SUCCESS
                 : mosquitto_will_set(mosq_, settings_.willTopic.c_str(), static_cast<int>(std::strlen(OFFLINE)),
                                      OFFLINE, 1, true);
    if (rc != MOSQ_ERR_SUCCESS) {
        report(settings_.willTopic, std::string("cannot set the last will: ") + reasonOf(rc));
        return EXIT_USAGE;
    }
    if (!settings_.username.empty()) {
        rc = mosquitto_username_pw_set(mosq_, settings_.username.c_str(),
                                       password->given() ? password->text() : nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            report(std::string("--username: ") + reasonOf(rc));
            return EXIT_USAGE;
        }
    }
    if (!settings_.brokers.front().tls) return EXIT_DONE;
    int unreadable = unreadableTlsFile();
    if (unreadable != EXIT_DONE) return unreadable;
    const char* ca = settings_.tlsCa.empty() ? nullptr : settings_.tlsCa.c_str();
    rc = mosquitto_tls_set(mosq_, ca, ca == nullptr ? SYSTEM_CERTIFICATES : nullptr,
                           settings_.tlsCert.empty() ? nullptr : settings_.tlsCert.c_str(),
                           settings_.tlsKey.empty() ? nullptr : settings_.tlsKey.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        report(url(), std::string("cannot use the TLS files: ") + reasonOf(rc));
        return EXIT_FILE_REFUSED;
    }
    return EXIT_DONE;
}

// libmosquitto says only "invalid arguments" for a file it cannot open;
// the user is told which file and why. A key others may read is used, with
// a warning.
int MqttClient::unreadableTlsFile() const {
    for (const std::string* path : {&settings_.tlsCa, &settings_.tlsCert, &settings_.tlsKey}) {
        if (path->empty()) continue;
        std::FILE* file = openFile(*path, "r");
        if (file != nullptr) {
            if (path == &settings_.tlsKey) warnWhenOthersMayRead(*path, fileno(file));
            std::fclose(file);
            continue;
        }
        int error = lastSystemError();
        report(*path, std::string("cannot read file: ") + systemErrorText(error));
        return EXIT_FILE_REFUSED;
    }
    return EXIT_DONE;
}

void MqttClient::attempt() {
    lastTlsError_.clear();
    loadError_.clear();
    attemptStart_ = Clock::now();
    // Connecting anew to the same host or another keeps the messages with the
    // library: those in flight go again once the CONNACK is handled.
    const BrokerAddress& broker = settings_.brokers[current_];
    int rc = mosquitto_connect_async(mosq_, broker.host.c_str(), broker.port, KEEPALIVE_SECONDS);
    if (rc == MOSQ_ERR_SUCCESS) {
        state_ = State::CONNECTING;
        return;
    }
    // The client's own certificate or key that does not load is ours to mend.
    if (rc == MOSQ_ERR_TLS && !loadError_.empty()) {
        report(url(), std::string("TLS set-up failed: ") + loadError_ + " (" + lastTlsError_ + ")");
        fatal_ = EXIT_FILE_REFUSED;
        return;
    }
    failed(reasonOf(rc));
}

// A TLS failure the library logged decides whether the broker turned us
// away: our certificate refused, or its certificate unverifiable.
void MqttClient::failed(const std::string& reason) {
    state_ = State::IDLE;
    std::string refusal;
    if (contains(lastTlsError_, "certificate verify failed"))
        refusal = "the broker's certificate does not verify (" + lastTlsError_ + ")";
    else if (contains(lastTlsError_, "alert") &&
             (contains(lastTlsError_, "certificate") || contains(lastTlsError_, "unknown ca")))
        refusal = "the broker refused the client certificate (" + lastTlsError_ + ")";
    if (!refusal.empty()) return everConnected_ ? refusedAfterConnected(refusal) : refuse(refusal);
    backoff_.failed(Clock::now());
    if (!awayReported_) note_("elq770ctl: " + url() + ": broker not reachable (" + reason + "); " + RETRY_NOTE);
    awayReported_ = true;
    moveOn();
}

// With several brokers, the next attempt goes to the next in the list, in
// a ring; with one, to the same. The connection's own line names the broker
// that answered.
void MqttClient::moveOn() { current_ = (current_ + 1) % settings_.brokers.size(); }

void MqttClient::refuse(const std::string& reason) {
    state_ = State::IDLE;
    if (fatal_ != 0) return;
    fatal_ = EXIT_BROKER_REFUSED;
    tell(reason);
}

// A broker restarted without its password file, or a certificate briefly
// wrong, must not end a plant's monitoring: once the gateway has been
// connected, the options were right, so it waits and asks again.
void MqttClient::refusedAfterConnected(const std::string& reason) {
    state_ = State::IDLE;
    backoff_.refused(Clock::now());
    if (refusalReported_) return;
    refusalReported_ = true;
    awayReported_ = true;
    tell(reason + "; connected before, so the gateway goes on: trying again every " +
         minutesText(settings_.refusedRetry) + ", keeping up to " + std::to_string(settings_.buffer) +
         " QoS 1 messages meanwhile");
}

void MqttClient::tell(const std::string& text) {
    report(url(), text);
    std::fflush(stderr);
}

void MqttClient::connected(int code) {
    if (code == 0) {
        state_ = State::CONNECTED;
        freshConnection_ = true;
        if (everConnected_) ++reconnects_;
        everConnected_ = true;
        backoff_.connected(Clock::now());
        awayReported_ = false;
        refusalReported_ = false;
        // While the broker drops every connection soon, one line said so.
        if (!backoff_.flapping()) note_("elq770ctl: " + url() + ": connected as " + settings_.clientId);
        return;
    }
    std::string reason = std::string("the broker refused the connection: ") + mosquitto_connack_string(code);
    if (!refusedForGood(code)) return failed(reason);
    if (everConnected_) return refusedAfterConnected(reason);
    refuse(reason);
}

void MqttClient::disconnected(int code) {
    if (state_ == State::IDLE) return;
    if (state_ == State::CONNECTED) return lost(code);
    failed(reasonOf(code));
}

// A broker that accepts and drops at once (a rule against this client, or a
// second gateway with the same client id taking the session over, which
// MQTT 3.1.1 does not name) is told once, and asked no more than every
// --refused-retry minutes until a connection stays up.
void MqttClient::lost(int code) {
    state_ = State::IDLE;
    awayReported_ = true;
    bool wasFlapping = backoff_.flapping();
    backoff_.lost(Clock::now());
    std::string lostUrl = url();
    moveOn();
    if (wasFlapping) return;
    if (!backoff_.flapping()) {
        std::string next = settings_.urls.size() > 1 ? "the next broker is " + url() + "; " : "";
        note_("elq770ctl: " + lostUrl + ": connection lost (" + reasonOf(code) + "); " + next + RETRY_NOTE);
        return;
    }
    tell("the broker closed the connection " + std::to_string(ReconnectBackoff::SHORT_CONNECTIONS) +
         " times in a row within " + std::to_string(ReconnectBackoff::STABLE_SECONDS) +
         " s of accepting it: another client with the client id " + settings_.clientId +
         " (a second gateway with the same --name?) or a rule of the broker's against it; trying again every " +
         minutesText(settings_.refusedRetry) + " until a connection lasts, keeping up to " +
         std::to_string(settings_.buffer) + " QoS 1 messages meanwhile");
}

void MqttClient::acknowledged(int mid) {
    if (queue_.acknowledge(mid) || retained_.acknowledge(mid)) lastPublish_ = epochSeconds();
}

void MqttClient::received(const std::string& topic, const std::string& payload) {
    if (onMessage_) onMessage_(topic, payload);
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
    reportDropped(false);
    reportRefusedPublish(MOSQ_ERR_SUCCESS, false);
    if (state_ == State::CONNECTED) connectionServed();
}

void MqttClient::connectionServed() {
    if (backoff_.confirmStable(Clock::now()))
        note_("elq770ctl: " + url() + ": connected as " + settings_.clientId + " for " +
              std::to_string(ReconnectBackoff::STABLE_SECONDS) + " s: the broker keeps the connection again");
    if (freshConnection_) {
        freshConnection_ = false;
        retained_.connectionStarted();
        for (const std::string& topic : settings_.subscriptions) {
            int rc = mosquitto_subscribe(mosq_, nullptr, topic.c_str(), 1);
            if (rc != MOSQ_ERR_SUCCESS) note_("elq770ctl: " + url() + ": cannot subscribe to " + topic + ": " + reasonOf(rc));
        }
    }
    handRetained();
    handQueued();
}

void MqttClient::reportDropped(bool all) {
    dropped_.add(queue_.takeDropped());
    uint64_t dropped = all ? dropped_.takeRest() : dropped_.take(Clock::now());
    if (dropped == 0) return;
    note_("elq770ctl: " + url() + ": the queue of " + std::to_string(settings_.buffer) +
          " messages is full: dropped the " + std::to_string(dropped) + " oldest messages (" +
          std::to_string(dropped_.total()) + " in all; told at most once a minute)");
}

// rc: a publish the library refused just now, to be counted; then what is
// due is told.
void MqttClient::reportRefusedPublish(int rc, bool all) {
    if (rc != MOSQ_ERR_SUCCESS) {
        refusedPublishes_.add(1);
        refusedPublishReason_ = reasonOf(rc);
    }
    uint64_t refused = all ? refusedPublishes_.takeRest() : refusedPublishes_.take(Clock::now());
    if (refused == 0) return;
    note_("elq770ctl: " + url() + ": the library refused " + std::to_string(refused) + " messages (" +
          refusedPublishReason_ + "; " + std::to_string(refusedPublishes_.total()) + " in all)");
}

// Without a connection the library still keeps a QoS 1 message and sends it
// after the reconnect: it is handed over all the same. Out of memory, the
// message stays for the next look; any other refusal would come back every
// time, so the message goes, counted.
void MqttClient::handQueued() {
    while (queue_.handedCount() < IN_FLIGHT) {
        OutboundMessage* message = queue_.nextToHand();
        if (message == nullptr) return;
        int mid = 0;
        int rc = mosquitto_publish(mosq_, &mid, message->topic.c_str(), static_cast<int>(message->payload.size()),
                                   message->payload.data(), 1, false);
        if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN) {
            queue_.markHanded(message, mid);
            if (rc == MOSQ_ERR_NO_CONN) return;
            continue;
        }
        reportRefusedPublish(rc, false);
        if (rc == MOSQ_ERR_NOMEM) return;
        queue_.discard(message);
    }
}

void MqttClient::handRetained() {
    for (const auto& [topic, payload] : retained_.due()) {
        int mid = 0;
        int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, true);
        if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN) {
            retained_.handed(topic, mid);
            continue;
        }
        reportRefusedPublish(rc, false);
        if (rc == MOSQ_ERR_NOMEM) return;
        retained_.notHanded(topic);
    }
}

void MqttClient::publishQueued(const std::string& topic, const std::string& payload) {
    queue_.push(topic, payload);
    if (state_ == State::CONNECTED) handQueued();
}

void MqttClient::publishAtMostOnce(const std::string& topic, const std::string& payload) {
    if (state_ != State::CONNECTED) return;
    int rc = mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 0, false);
    if (rc == MOSQ_ERR_SUCCESS) lastPublish_ = epochSeconds();
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) reportRefusedPublish(rc, false);
}

void MqttClient::setRetained(const std::string& topic, const std::string& payload) {
    retained_.set(topic, payload);
    if (state_ == State::CONNECTED && !freshConnection_) handRetained();
}

void MqttClient::finish(int flushMs) {
    reportDropped(true);
    reportRefusedPublish(MOSQ_ERR_SUCCESS, true);
    if (fatal_ != 0 || state_ != State::CONNECTED) {
        if (queue_.size() > 0)
            note_("elq770ctl: " + url() + ": not connected at the end: " + std::to_string(queue_.size()) +
                  " queued messages not sent");
        return;
    }
    if (!settings_.willTopic.empty()) setRetained(settings_.willTopic, OFFLINE);
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(flushMs);
    while (Clock::now() < end && state_ == State::CONNECTED && (queue_.size() > 0 || !retained_.allSettled())) {
        mosquitto_loop(mosq_, 10, 1);
        if (state_ == State::CONNECTED) connectionServed();
    }
    if (queue_.size() > 0)
        note_("elq770ctl: " + url() + ": " + std::to_string(queue_.size()) + " queued messages not sent");
    state_ = State::IDLE;
    mosquitto_disconnect(mosq_);
    mosquitto_loop(mosq_, 100, 1);
}
