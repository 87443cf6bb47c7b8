// elq770ctl publish: the MQTT gateway (cli/gateway/gateway.h), where the
// build has it (ELQ_WITH_MQTT); publish_unavailable.cpp elsewhere.
#include "cli/commands/command_table.h"

#include <mosquitto.h>

#include <cstdio>
#include <cstring>

#include "cli/commands/command_support.h"
#include "cli/console/exit_codes.h"
#include "cli/console/report.h"
#include "cli/console/run_frame.h"
#include "cli/gateway/gateway.h"

namespace {

// What the command line gave; a run of the tool runs one subcommand once.
PublishOptions parsed;

// The longest topic the gateway publishes: PREFIX/NAME/measurement.
constexpr const char* LONGEST_LEAF = "measurement";
constexpr std::size_t MOST_STRING_BYTES = 65535;  // an MQTT string's two-byte length

// A name or prefix becomes a topic level: no wildcard, no level separator
// in a name.
std::string topicLevelError(const std::string& text, bool levelsAllowed) {
    if (text.empty()) return "must not be empty";
    if (text.find_first_of("+#") != std::string::npos) return "must not hold + or #";
    if (!levelsAllowed && text.find('/') != std::string::npos) return "must not hold /";
    return "";
}

// What libmosquitto would refuse in a topic, a client id or a user name, so
// that it is refused here rather than the gateway connecting without a will
// and publishing nothing: valid UTF-8, no control character (U+0000-U+001F,
// U+007F-U+009F), at most 65535 bytes. The library's own check, so the two
// cannot disagree.
std::string mqttStringError(const std::string& text) {
    if (text.size() > MOST_STRING_BYTES) return "longer than MQTT's 65535 bytes";
    if (mosquitto_validate_utf8(text.c_str(), static_cast<int>(text.size())) != MOSQ_ERR_SUCCESS)
        return "not valid UTF-8, or holds a control character (U+0000-U+001F, U+007F-U+009F)";
    return "";
}

// One line on stderr for the first text option the broker could not take;
// EXIT_DONE when all are fine.
int checkTextOptions(const PublishOptions& options) {
    std::string topic = options.topicPrefix + "/" + options.name + "/" + LONGEST_LEAF;
    struct Checked {
        const char* option;
        std::string error;
    };
    for (const Checked& checked : {Checked{"--name", mqttStringError(options.name)},
                                   Checked{"--topic-prefix", mqttStringError(options.topicPrefix)},
                                   Checked{"--client-id", mqttStringError(options.clientId)},
                                   Checked{"--username", mqttStringError(options.username)}}) {
        if (checked.error.empty()) continue;
        report(checked.option, checked.error);
        return EXIT_USAGE;
    }
    if (topic.size() > MOST_STRING_BYTES) {
        report("--topic-prefix and --name", std::string("the topic PREFIX/NAME/") + LONGEST_LEAF +
                                                " is longer than MQTT's 65535 bytes");
        return EXIT_USAGE;
    }
    return EXIT_DONE;
}

void addBrokerOptions(CLI::App* command) {
    command->add_option("--broker", parsed.brokerUrls,
                        "mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883); again for a broker to move to "
                        "when one fails; optional with --metrics")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--tls-ca", parsed.tlsCa, "certificate authority file for mqtts (default: the system's)");
    CLI::Option* cert = command->add_option("--tls-cert", parsed.tlsCert, "client certificate file for mqtts");
    CLI::Option* key = command->add_option("--tls-key", parsed.tlsKey, "the client certificate's key file");
    cert->needs(key);
    key->needs(cert);
    command->add_option("--username", parsed.username, "user name at the broker");
    command->add_option("--password-file", parsed.passwordFile,
                        "file whose first line is the password (else the variable ELQ770_MQTT_PASSWORD)");
    command->add_option("--client-id", parsed.clientId, "MQTT client id (default elq770-NAME)");
    command->add_option("--refused-retry", parsed.refusedRetryMinutes,
                        "minutes between attempts when the broker refuses the gateway after it has been connected "
                        "(default 5; a refusal at the first connection ends it, exit code 6)")
        ->check(finiteRange(0.05, 1440));
}

void setupPublish(CLI::App* command) {
    command->add_option("--port,-p", parsed.port, "serial port: /dev/ttyUSB0 (not with --discovery-remove)");
    addBrokerOptions(command);
    command->add_option("--name", parsed.name, "the device's name: topics under PREFIX/NAME/")
        ->required()
        ->check(CLI::Validator([](std::string& v) { return topicLevelError(v, false); }, "NAME"));
    command->add_option("--topic-prefix", parsed.topicPrefix, "first topic levels (default elq770)")
        ->check(CLI::Validator([](std::string& v) { return topicLevelError(v, true); }, "PREFIX"));
    command->add_option("--interval", parsed.intervalSeconds, "seconds per measurement message (default 1)")
        ->check(finiteRange(0.1, 3600));
    command->add_option("--qos", parsed.qos, "QoS of the measurement messages, 0 or 1 (default 1)")
        ->check(finiteRange(0, 1));
    command->add_option("--info-every", parsed.infoEveryMinutes, "minutes between info messages (default 10)")
        ->check(finiteRange(0.05, 1440));
    command->add_option("--metrics", parsed.metrics,
                        "[HOST:]PORT: serve Prometheus metrics at /metrics (HOST 127.0.0.1 unless given)");
    command->add_option("--discovery", parsed.discovery,
                        "homeassistant[:PREFIX]: announce the entities for Home Assistant (retained)");
    command->add_flag("--discovery-remove", parsed.discoveryRemove,
                      "clear the retained discovery configurations of --name and end");
    command
        ->add_option("--share", parsed.share,
                     "also serve the device's line over RFC 2217 to one client at a time on [HOST:]PORT "
                     "(HOST 127.0.0.1 unless given; no encryption, no password: reach it through ssh -L)")
;
    command->add_flag("--share-raw", parsed.shareRaw, "serve the line as raw TCP instead of RFC 2217")
        ->needs("--share");
    command->add_option("--buffer", parsed.buffer, "QoS 1 messages kept while the broker is away (default 3600)")
        ->check(finiteRange(1, 1000000));
}

int runPublishCommand() {
    int result = checkTextOptions(parsed);
    if (result != EXIT_DONE) return result;
    catchRunStops();
    return runPublish(parsed);
}

}  // namespace

const Command PUBLISH_COMMAND{
    "publish", "send the measurements, alarms and parameters to an MQTT broker until Ctrl-C (read only)",
    setupPublish, runPublishCommand};

std::string publishAvailability() { return ""; }
