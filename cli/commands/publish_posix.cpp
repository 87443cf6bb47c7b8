#include "cli/commands/publish.h"

#include <memory>

#include "cli/commands/command_support.h"
#include "cli/platform.h"
#include "cli/publish.h"

namespace {

// A name or prefix becomes a topic level: no wildcard, no level separator
// in a name.
std::string topicLevelError(const std::string& text, bool levelsAllowed) {
    if (text.empty()) return "must not be empty";
    if (text.find_first_of("+#") != std::string::npos) return "must not hold + or #";
    if (!levelsAllowed && text.find('/') != std::string::npos) return "must not hold /";
    return "";
}

void addBrokerOptions(CLI::App* command, PublishOptions* options) {
    command->add_option("--broker", options->brokerUrl, "mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883)")
        ->required();
    command->add_option("--tls-ca", options->tlsCa, "certificate authority file for mqtts (default: the system's)");
    CLI::Option* cert = command->add_option("--tls-cert", options->tlsCert, "client certificate file for mqtts");
    CLI::Option* key = command->add_option("--tls-key", options->tlsKey, "the client certificate's key file");
    cert->needs(key);
    key->needs(cert);
    command->add_option("--username", options->username, "user name at the broker");
    command->add_option("--password-file", options->passwordFile,
                        "file whose first line is the password (else the variable ELQ770_MQTT_PASSWORD)");
    command->add_option("--client-id", options->clientId, "MQTT client id (default elq770-NAME)");
}

}  // namespace

CLI::App* setupPublish(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<PublishOptions>();
    CLI::App* command = app.add_subcommand(
        "publish", "send the measurements, alarms and parameters to an MQTT broker until Ctrl-C (read only)");
    addPortOption(command, &options->port);
    addBrokerOptions(command, options.get());
    command->add_option("--name", options->name, "the device's name: topics under PREFIX/NAME/")
        ->required()
        ->check(CLI::Validator([](std::string& v) { return topicLevelError(v, false); }, "NAME"));
    command->add_option("--topic-prefix", options->topicPrefix, "first topic levels (default elq770)")
        ->check(CLI::Validator([](std::string& v) { return topicLevelError(v, true); }, "PREFIX"));
    command->add_option("--interval", options->intervalSeconds, "seconds per measurement message (default 1)")
        ->check(CLI::Range(0.1, 3600.0));
    command->add_option("--qos", options->qos, "QoS of the measurement messages, 0 or 1 (default 1)")
        ->check(CLI::IsMember({0, 1}));
    command->add_option("--info-every", options->infoEveryMinutes, "minutes between info messages (default 10)")
        ->check(CLI::Range(0.05, 1440.0));
    command->add_option("--buffer", options->buffer, "QoS 1 messages kept while the broker is away (default 3600)")
        ->check(CLI::Range(1, 1000000));
    command->callback([options, exitCode] {
        catchStopRequests(&publishStopRequested);
        *exitCode = runPublish(*options);
    });
    return command;
}

std::string publishAvailability() { return ""; }
