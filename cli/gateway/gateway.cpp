// The MQTT gateway's run. Main thread only: the link watch's looks, the
// intervals, the parameter answers and the broker connection (whose
// libmosquitto callbacks run inside MqttClient::service) all take turns in
// one loop every LinkWatch::LOOK_MS; during a link gap the watch calls back
// into the same loop, so the broker is served and told device-lost while
// the port is tried again. The device's data comes through liveState as for
// monitor (live_feed.h).
#include "cli/gateway/gateway.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "cli/console/clock.h"
#include "cli/console/exit_codes.h"
#include "cli/console/platform.h"
#include "cli/console/report.h"
#include "cli/console/run_frame.h"
#include "cli/device/device_session.h"
#include "cli/device/link_watch.h"
#include "cli/device/live_feed.h"
#include "cli/device/parameter_text.h"
#include "cli/gateway/discovery.h"
#include "cli/gateway/line_share.h"
#include "cli/gateway/messages.h"
#include "cli/gateway/metrics_page.h"
#include "cli/gateway/metrics_server.h"
#include "cli/gateway/mqtt_client.h"
#include "cli/gateway/password.h"
#include "link/command_frames.h"
#include "link/live_state.h"
#include "link/serial_link.h"
#include "params/parameter_file.h"
#include "params/parameter_set.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr int FLUSH_AT_END_MS = 2000;
constexpr int INFO_RETRY_MS = 10000;  // after a request that went unanswered
// A client of the share that sent a frame this recently may be in the middle
// of a download and its read-back: the gateway's own requests wait.
constexpr int64_t CLIENT_QUIET_MS = 2000;
constexpr int PAGE_EVERY_MS = 100;    // a fresh /metrics page
// After Home Assistant's "online": it subscribes to the configurations only
// once it is up.
constexpr int ANNOUNCE_DELAY_MS = 2000;
constexpr int REMOVE_WITHIN_MS = 10000;
constexpr const char* PASSWORD_VARIABLE = "ELQ770_MQTT_PASSWORD";

// The file's first line, or else the variable, which, set for a whole
// service, counts only with a user name. The variable leaves the
// environment either way. An exit code, a refusal reported.
int readPassword(const PublishOptions& options, Password* password) {
    bool variableSet = std::getenv(PASSWORD_VARIABLE) != nullptr;
    int taken = password->takeVariable(PASSWORD_VARIABLE);
    if (!options.passwordFile.empty()) return password->readFile(options.passwordFile);
    if (options.username.empty()) {
        password->wipe();
        if (variableSet)
            std::fprintf(stderr, "elq770ctl: %s is set but --username is not: connecting without a password\n",
                         PASSWORD_VARIABLE);
    }
    return taken;
}

class Gateway {
public:
    Gateway(const PublishOptions& options, const MqttSettings& settings)
        : options_(options),
          topic_(options.topicPrefix + "/" + options.name + "/"),
          watch_(options.port, [this] { return stopDue(); }, [this](const std::string& text) { note(text); }) {
        // The gateway's output is a log: no status line.
        frame_.hideStatus();
        if (!settings.brokers.empty())
            client_ = std::make_unique<MqttClient>(settings, [this](const std::string& text) { note(text); });
        watch_.setGapHooks({[this] {
                                ++figures_.linkGaps;
                                setStatus("device-lost");
                            },
                            [this] { serve(); }, [this] { setStatus("online"); }});
        discovery_ = {"", topic_, options.name};
        if (client_ && parseDiscovery(options.discovery, &discovery_.prefix)) followHomeAssistant();
    }
    int run(Password* password);

private:
    bool stopDue() const;
    void note(const std::string& text) const { frame_.note(text); }
    void serve();
    void takeMeasurements();
    void closeIntervalWhenDue(Clock::time_point now);
    void followParameterAnswers(Clock::time_point now);
    void setStatus(const char* status);
    void followShare();
    bool clientSending() const;
    void auditAnswer(const ParameterSet& answer);
    void setRetained(const std::string& leaf, const std::string& payload);
    void followHomeAssistant();
    void announce(const std::string& deviceText);
    void offerPage(Clock::time_point now);
    int end(int code);

    PublishOptions options_;
    std::string topic_;
    RunFrame frame_;
    std::unique_ptr<MqttClient> client_;  // none for an exporter alone
    std::unique_ptr<MetricsServer> metrics_;
    DeviceFigures figures_;
    Clock::time_point nextPage_;
    DiscoveryTarget discovery_;
    std::string announcedText_;  // the device text of the configurations out
    Clock::time_point announceAt_ = Clock::time_point::max();
    LinkWatch watch_;
    std::string status_;
    IntervalAggregate interval_;
    Clock::duration intervalLength_{};
    Clock::time_point intervalEnd_;
    uint32_t alarmsSeen_ = 0;
    // Parameter answers: any answer (ours, or the watch's after a reopen)
    // publishes info when it differs from the last; ours always does.
    ParameterAnswers answers_;
    uint32_t answersSeen_ = 0;
    bool textAwaited_ = false;
    Clock::time_point answerAt_;
    bool requestOpen_ = false;
    bool publishNextAnswer_ = true;
    Clock::time_point requestAt_;
    Clock::time_point nextRequest_;
    std::string lastInfo_;
    // The share: what the client wrote is audited against the parameters
    // known when it came (or at the last audit), once an answer shows them.
    LineShare share_;
    uint32_t sessionsSeen_ = 0;
    uint32_t writesSeen_ = 0;
    bool auditDue_ = false;      // writes seen, not yet read back by us
    bool auditReadBack_ = false;  // our request out for them
    bool answerKnown_ = false;
    ParameterSet auditBase_{};
    std::string auditClient_;
};

bool Gateway::stopDue() const {
    return frame_.endDue() || (client_ && client_->fatal() != 0);
}

void Gateway::setRetained(const std::string& leaf, const std::string& payload) {
    if (client_) client_->setRetained(topic_ + leaf, payload);
}

void Gateway::setStatus(const char* status) {
    if (status_ == status) return;
    status_ = status;
    figures_.up = status_ == "online";
    setRetained("status", status_);
}

// Home Assistant that has started again needs the configurations again.
// Nothing that arrives goes further than this.
void Gateway::followHomeAssistant() {
    client_->onMessage([this](const std::string& topic, const std::string& payload) {
        if (topic == discovery_.prefix + "/status" && payload == "online" && !announcedText_.empty())
            announceAt_ = Clock::now() + Ms(ANNOUNCE_DELAY_MS);
    });
}

// The configurations name the device by its text, so they go out once it
// is known, again when it changes, and again after Home Assistant's online.
void Gateway::announce(const std::string& deviceText) {
    announceAt_ = Clock::time_point::max();
    announcedText_ = deviceText;
    for (const auto& [topic, config] : discoveryConfigs(discovery_, deviceText)) client_->setRetained(topic, config);
}

void Gateway::offerPage(Clock::time_point now) {
    if (!metrics_ || now < nextPage_) return;
    nextPage_ = now + Ms(PAGE_EVERY_MS);
    GatewayFigures gateway;
    if (client_) {
        gateway = {true, client_->isConnected(), client_->queued(), client_->droppedTotal(), client_->reconnects(),
                   client_->lastPublish()};
    }
    figures_.maxPeak = liveState.maxPeak.load(std::memory_order_relaxed);
    figures_.minPeak = liveState.minPeak.load(std::memory_order_relaxed);
    if (figures_.parametersKnown) figures_.activeLimit = loadField(deviceParameters.activeLimit) + 1;
    metrics_->offer(metricsPage(options_.name, figures_, gateway));
}

void Gateway::takeMeasurements() {
    takeTrendSamples([this](int32_t percent) {
        interval_.addSample(percent);
        figures_.last = percent;
    });
    std::string time;
    uint32_t lost = takeAlarmWords(&alarmsSeen_, [&](uint16_t word) {
        if (time.empty()) time = isoTimestamp(nowEpochMs());
        interval_.addAlarm();
        ++figures_.alarmWords;
        if (client_) client_->publishQueued(topic_ + "alarm", alarmJson(time, word).dump());
    });
    figures_.alarmWords += lost;
    if (lost != 0)
        note("elq770ctl: " + options_.port + ": " + std::to_string(lost) + " alarm words came faster than taken");
}

// Interval ends are counted from the start, so they do not drift; ends
// passed while the loop was held up are skipped, not made up.
void Gateway::closeIntervalWhenDue(Clock::time_point now) {
    if (now < intervalEnd_) return;
    while (intervalEnd_ <= now) intervalEnd_ += intervalLength_;
    if (interval_.samples() == 0) return;
    nlohmann::ordered_json closed =
        interval_.close(isoTimestamp(nowEpochMs()), loadField(deviceParameters.activeLimit) + 1,
                        liveState.maxPeak.load(std::memory_order_relaxed), liveState.minPeak.load(std::memory_order_relaxed));
    figures_.intervalClosed = true;
    figures_.intervalMin = closed["min"].get<int32_t>();
    figures_.intervalMax = closed["max"].get<int32_t>();
    figures_.intervalMean = closed["mean"].get<double>();
    if (!client_) return;
    std::string payload = closed.dump();
    if (options_.qos == 1)
        client_->publishQueued(topic_ + "measurement", payload);
    else
        client_->publishAtMostOnce(topic_ + "measurement", payload);
}

// The answer counts when its last parameter word arrives; the text follows
// it and is awaited as info awaits it.
void Gateway::followParameterAnswers(Clock::time_point now) {
    uint32_t answers = answers_.seen();
    if (answers != answersSeen_) {
        answersSeen_ = answers;
        textAwaited_ = true;
        answerAt_ = now;
    }
    if (textAwaited_ && (deviceTextComplete() || now - answerAt_ >= Ms(TEXT_TIMEOUT_MS))) {
        textAwaited_ = false;
        requestOpen_ = false;
        figures_.parameters = snapshotParameters(deviceParameters);
        figures_.parametersKnown = true;
        std::string info = parameterJsonText(figures_.parameters);
        if (publishNextAnswer_ || info != lastInfo_) setRetained("info", info);
        std::string text = utf8FromCp1252(figures_.parameters.deviceText, sizeof figures_.parameters.deviceText);
        if (!discovery_.prefix.empty() && text != announcedText_) announce(text);
        auditAnswer(figures_.parameters);
        publishNextAnswer_ = false;
        lastInfo_ = info;
        nextRequest_ = now + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(options_.infoEveryMinutes * 60));
    }
    if (requestOpen_ && !textAwaited_ && now - requestAt_ >= Ms(REPLY_TIMEOUT_MS)) {
        requestOpen_ = false;
        note("elq770ctl: " + options_.port + ": no answer to the parameter request");
        nextRequest_ = now + Ms(INFO_RETRY_MS);
    }
    bool linkUp = status_ == "online";
    if (!requestOpen_ && !textAwaited_ && linkUp && (now >= nextRequest_ || auditDue_) && !clientSending()) {
        sendRequest();
        auditReadBack_ = auditDue_;
        requestOpen_ = true;
        publishNextAnswer_ = true;
        requestAt_ = now;
    }
}

bool Gateway::clientSending() const {
    return share_.clientPresent() && shareClockMs() - share_.lastFrameMs() < CLIENT_QUIET_MS;
}

// Main thread: the client's frames go out between the gateway's own, and
// a new client or a parameter write is noted for the audit.
void Gateway::followShare() {
    share_.forwardClientFrames();
    uint32_t sessions = share_.sessions();
    if (sessions != sessionsSeen_) {
        sessionsSeen_ = sessions;
        auditClient_ = share_.clientAddress(sessions);
    }
    uint32_t writes = share_.parameterWrites();
    if (writes != writesSeen_) {
        writesSeen_ = writes;
        auditDue_ = true;
    }
}

// Any complete answer while writes await their audit (the client's own
// read-back, or ours once it is quiet) is compared with the values before:
// one audit message for what changed. Ours ends the wait.
void Gateway::auditAnswer(const ParameterSet& answer) {
    if (auditDue_ && answerKnown_) {
        nlohmann::ordered_json changes = parameterChanges(auditBase_, answer);
        if (!changes.empty() && client_)
            client_->publishQueued(topic_ + "audit", auditJson(isoTimestamp(nowEpochMs()), auditClient_, changes).dump());
    }
    if (auditReadBack_) auditDue_ = auditReadBack_ = false;
    auditBase_ = answer;
    answerKnown_ = true;
}

void Gateway::serve() {
    Clock::time_point now = Clock::now();
    followShare();
    if (watch_.heard() && status_.empty()) setStatus("online");
    takeMeasurements();
    closeIntervalWhenDue(now);
    followParameterAnswers(now);
    if (now >= announceAt_) announce(announcedText_);
    offerPage(now);
    if (client_) client_->service();
}

int Gateway::end(int code) {
    share_.stop();
    watch_.close();
    metrics_.reset();
    if (!client_) return code;
    if (client_->fatal() != 0) return client_->fatal();
    client_->finish(FLUSH_AT_END_MS);
    return code;
}

int Gateway::run(Password* password) {
    ListenAddress address;
    if (!options_.metrics.empty() && parseListenAddress(options_.metrics, &address)) {
        metrics_ = std::make_unique<MetricsServer>();
        int listening = metrics_->start(address);
        if (listening != EXIT_DONE) return listening;
        offerPage(Clock::now());
    }
    int started = client_ ? client_->start(password) : EXIT_DONE;
    if (started != EXIT_DONE) return started;
    takeEveryMeasurement();
    if (!watch_.open()) return end(EXIT_PORT_NOT_OPENED);
    if (!options_.share.empty()) {
        std::string failed = share_.start(options_.share, options_.shareRaw, BAUD_RATE);
        if (!failed.empty()) {
            std::fprintf(stderr, "elq770ctl: --share %s\n", failed.c_str());
            return end(EXIT_PORT_NOT_OPENED);
        }
    }
    // The watch asked for the parameters as it opened the port.
    requestOpen_ = true;
    requestAt_ = Clock::now();
    skipTrendSamplesSoFar();
    alarmsSeen_ = liveState.alarmWordCount.load(std::memory_order_acquire);
    intervalLength_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.intervalSeconds));
    intervalEnd_ = Clock::now() + intervalLength_;
    while (!stopDue()) {
        int looked = watch_.look();
        if (looked != EXIT_DONE) return end(looked);
        serve();
    }
    return end(EXIT_DONE);
}

// Every URL is checked before anything starts; mqtt:// and mqtts:// are not
// mixed, since the TLS settings belong to the one client.
int brokerSettings(const PublishOptions& options, MqttSettings* settings) {
    for (const std::string& url : options.brokerUrls) {
        BrokerAddress broker;
        if (!parseBrokerUrl(url, &broker)) {
            report(url, "not a broker URL (mqtt://HOST[:PORT] or mqtts://HOST[:PORT])");
            return EXIT_USAGE;
        }
        if (!settings->brokers.empty() && broker.tls != settings->brokers.front().tls) {
            report(url, "the brokers are all mqtt:// or all mqtts://");
            return EXIT_USAGE;
        }
        settings->urls.push_back(url);
        settings->brokers.push_back(broker);
    }
    bool tlsOptions = !options.tlsCa.empty() || !options.tlsCert.empty() || !options.tlsKey.empty();
    if (tlsOptions && (settings->brokers.empty() || !settings->brokers.front().tls)) {
        report(settings->urls.empty() ? "--broker" : settings->urls.front(),
               "--tls-ca, --tls-cert and --tls-key need an mqtts:// broker");
        return EXIT_USAGE;
    }
    return EXIT_DONE;
}

// The options' own checks, before the port, a file or the network.
int checkGatewayOptions(const PublishOptions& options, MqttSettings* settings) {
    int brokers = brokerSettings(options, settings);
    if (brokers != EXIT_DONE) return brokers;
    std::string prefix;
    ListenAddress address;
    const char* fault = nullptr;
    if (settings->brokers.empty() && options.metrics.empty())
        fault = "--broker is needed unless --metrics is given";
    else if (!options.discovery.empty() && !parseDiscovery(options.discovery, &prefix))
        fault = "--discovery takes homeassistant or homeassistant:PREFIX";
    else if ((!options.discovery.empty() || options.discoveryRemove) && settings->brokers.empty())
        fault = "--discovery and --discovery-remove need --broker";
    else if (!options.metrics.empty() && !parseListenAddress(options.metrics, &address))
        fault = "--metrics takes [HOST:]PORT, PORT 1 to 65535";
    else if (!options.share.empty() && !parseListenAddress(options.share, &address))
        fault = "--share takes [HOST:]PORT, PORT 1 to 65535";
    else if (options.port.empty() && !options.discoveryRemove)
        fault = "--port is required";
    else if (!options.passwordFile.empty() && options.username.empty())
        fault = "a password needs --username";
    if (fault == nullptr) return EXIT_DONE;
    report(fault);
    return EXIT_USAGE;
}

// Empty retained messages on every configuration's topic clear them at the
// broker; the gateway's own topics are left as they are.
int removeDiscovery(const PublishOptions& options, MqttSettings settings, Password* password) {
    DiscoveryTarget target{"homeassistant", options.topicPrefix + "/" + options.name + "/", options.name};
    if (!options.discovery.empty()) parseDiscovery(options.discovery, &target.prefix);
    settings.clientId += "-remove";  // the running gateway keeps its session
    settings.willTopic.clear();
    RunFrame frame;
    frame.hideStatus();
    MqttClient client(settings, [&frame](const std::string& text) { frame.note(text); });
    int started = client.start(password);
    if (started != EXIT_DONE) return started;
    for (const std::string& topic : discoveryTopics(target)) client.setRetained(topic, "");
    Clock::time_point end = Clock::now() + Ms(REMOVE_WITHIN_MS);
    while (Clock::now() < end && client.fatal() == 0 && !frame.endDue() &&
           !(client.isConnected() && client.settled())) {
        client.service();
        std::this_thread::sleep_for(Ms(LinkWatch::LOOK_MS));
    }
    if (client.fatal() != 0) return client.fatal();
    if (!client.isConnected() || !client.settled()) {
        report("no broker took the removal within " + std::to_string(REMOVE_WITHIN_MS / 1000) + " s");
        client.finish(0);
        return EXIT_NO_ANSWER;
    }
    client.finish(FLUSH_AT_END_MS);
    frame.note("elq770ctl: removed the discovery configurations under " + target.prefix + "/sensor/" +
               discoveryNode(target) + "/");
    return EXIT_DONE;
}

}  // namespace

int runPublish(const PublishOptions& options) {
    MqttSettings settings;
    int checked = checkGatewayOptions(options, &settings);
    if (checked != EXIT_DONE) return checked;
    settings.clientId = options.clientId.empty() ? "elq770-" + options.name : options.clientId;
    settings.username = options.username;
    settings.tlsCa = options.tlsCa;
    settings.tlsCert = options.tlsCert;
    settings.tlsKey = options.tlsKey;
    settings.willTopic = options.topicPrefix + "/" + options.name + "/status";
    settings.buffer = options.buffer;
    settings.refusedRetry = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::ratio<60>>(options.refusedRetryMinutes));
    std::string discoveryPrefix;
    if (parseDiscovery(options.discovery, &discoveryPrefix)) settings.subscriptions.push_back(discoveryPrefix + "/status");
    Password password;
    int read = readPassword(options, &password);
    if (read != EXIT_DONE) return read;
    if (options.discoveryRemove) return removeDiscovery(options, settings, &password);
    Gateway gateway(options, settings);
    return gateway.run(&password);
}
