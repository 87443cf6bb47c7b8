// The gateway's /metrics page in Prometheus's text format 0.0.4, written by
// us from the loop's own figures: the device's (lines arriving, the last
// measurement, the interval's figures, the peaks, the counters, the sixteen
// parameters and the device text) and the MQTT connection's. Names follow
// Prometheus's practice: base units (a measurement in percent is a ratio
// 0..1), _total for counters, the device's name as the label device. The
// parameters keep the record's own units (Tr and Ts in tenths of a second),
// as info --json does. Main thread only; the page goes to the server's
// thread as a finished string (metrics_server.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "params/parameter_set.h"

// [HOST:]PORT as --metrics takes it: PORT alone is 127.0.0.1's; HOST is an
// address or a name, an IPv6 address in brackets.
struct ListenAddress {
    std::string host = "127.0.0.1";
    int port = 0;
};
// False for an empty host, a port outside 1..65535 or not a number.
bool parseListenAddress(const std::string& text, ListenAddress* address);

struct DeviceFigures {
    bool up = false;               // lines arriving (status online)
    int32_t last = -1;             // percent; -1 before the first
    bool intervalClosed = false;   // an interval with samples has ended
    int32_t intervalMin = 0;
    int32_t intervalMax = 0;
    double intervalMean = 0;
    int activeLimit = 0;           // 1 or 2; 0 before the parameters came
    int32_t maxPeak = -1;          // -1 (NO_VALUE) before the first report
    int32_t minPeak = -1;
    uint64_t alarmWords = 0;
    uint64_t linkGaps = 0;
    bool parametersKnown = false;
    ParameterSet parameters{};
};

struct GatewayFigures {
    bool present = false;  // a broker was given
    bool connected = false;
    std::size_t queued = 0;
    uint64_t dropped = 0;
    uint64_t reconnects = 0;
    double lastPublish = 0;  // seconds since the epoch; 0 before the first
};

// A label value with \, " and line breaks escaped as the format asks.
std::string labelValue(const std::string& text);

// The whole page for the device named name; a figure not known yet is left
// out rather than shown as a made-up 0.
std::string metricsPage(const std::string& name, const DeviceFigures& device, const GatewayFigures& gateway);
