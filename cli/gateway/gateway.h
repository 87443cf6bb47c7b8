// publish: the MQTT gateway. One process per device: the device's
// measurements, alarm words, state and parameters go to an MQTT broker
// under PREFIX/NAME/. Nothing that arrives over MQTT reaches the device.
// Linux only (libmosquitto, ELQ_WITH_MQTT): gateway.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct PublishOptions {
    std::string port;
    std::vector<std::string> brokerUrls;  // none with metrics alone: an exporter
    std::string metrics;                  // [HOST:]PORT of /metrics, "" for none
    std::string discovery;                // "homeassistant[:PREFIX]", "" for none
    bool discoveryRemove = false;
    std::string name;
    std::string tlsCa;
    std::string tlsCert;
    std::string tlsKey;
    std::string username;
    std::string passwordFile;  // else ELQ770_MQTT_PASSWORD, never the command line
    std::string topicPrefix = "elq770";
    double intervalSeconds = 1;
    int qos = 1;
    std::string clientId;  // "" for elq770-NAME
    double infoEveryMinutes = 10;
    std::size_t buffer = 3600;
    double refusedRetryMinutes = 5;  // between attempts after a refusal, once connected
    std::string share;      // [HOST:]PORT serving the line to one client, "" for none
    bool shareRaw = false;  // raw TCP there instead of RFC 2217
};

// Runs until a stop request (run_frame.h); an exit code: 0, 1 (malformed
// broker URL or options), 2 (port, metrics address or share
// address not opened), 3 (no
// line from the device at the start), 5 (password or TLS file unreadable) or
// 6 (the broker refused the first connection for good; once connected, a
// refusal is tried again). With discoveryRemove it clears the retained
// discovery configurations instead and ends (3 when no broker took them in
// time).
int runPublish(const PublishOptions& options);
