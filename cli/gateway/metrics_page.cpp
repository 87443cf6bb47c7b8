#include "cli/gateway/metrics_page.h"

#include <algorithm>
#include <charconv>

#include "cli/device/parameter_text.h"
#include "params/parameter_values.h"

namespace {

bool allDigits(const std::string& text) {
    return !text.empty() && text.size() <= 5 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// One family: its HELP and TYPE lines, then the samples the caller adds.
class Page {
public:
    explicit Page(const std::string& name) : device_("device=\"" + labelValue(name) + "\"") {}

    void family(const char* metric, const char* type, const char* help) {
        text_ += std::string("# HELP ") + metric + " " + help + "\n# TYPE " + metric + " " + type + "\n";
    }
    void sample(const char* metric, double value, const std::string& labels = "") {
        // The shortest text that reads back as the same double: 0.41, not
        // 0.40999999999999998.
        char number[40];
        char* end = std::to_chars(number, number + sizeof number, value).ptr;
        text_ += std::string(metric) + "{" + device_ + labels + "} " + std::string(number, end) + "\n";
    }
    void one(const char* metric, const char* type, const char* help, double value) {
        family(metric, type, help);
        sample(metric, value);
    }
    const std::string& text() const { return text_; }

private:
    std::string device_;
    std::string text_;
};

double ratio(int32_t percent) { return percent / 100.0; }

void deviceFamilies(Page* page, const DeviceFigures& d) {
    page->one("elq770_device_up", "gauge", "1 while the device's lines arrive, 0 during a link gap", d.up ? 1 : 0);
    if (d.last >= 0) page->one("elq770_measurement_ratio", "gauge", "The last measurement (1 is 100 %)", ratio(d.last));
    if (d.intervalClosed) {
        page->one("elq770_interval_min_ratio", "gauge", "The last interval's lowest measurement", ratio(d.intervalMin));
        page->one("elq770_interval_max_ratio", "gauge", "The last interval's highest measurement", ratio(d.intervalMax));
        page->one("elq770_interval_mean_ratio", "gauge", "The last interval's mean measurement", d.intervalMean / 100.0);
    }
    if (d.activeLimit != 0) page->one("elq770_active_limit", "gauge", "The active limit, 1 or 2", d.activeLimit);
    if (d.maxPeak >= 0) page->one("elq770_peak_max_ratio", "gauge", "The maximum peak as last reported", ratio(d.maxPeak));
    if (d.minPeak >= 0) page->one("elq770_peak_min_ratio", "gauge", "The minimum peak as last reported", ratio(d.minPeak));
    page->one("elq770_alarm_words_total", "counter", "Alarm words received", static_cast<double>(d.alarmWords));
    page->one("elq770_link_gaps_total", "counter", "Link gaps: a second without a line", static_cast<double>(d.linkGaps));
    if (!d.parametersKnown) return;
    page->family("elq770_parameter", "gauge", "The device's parameters in the record's own units (Tr, Ts in 0.1 s)");
    for (const ParameterRange& parameter : PARAMETER_RANGES)
        page->sample("elq770_parameter", d.parameters.*parameter.field,
                     std::string(",name=\"") + parameter.name + "\"");
    page->family("elq770_device_info", "gauge", "The device's identification text, always 1");
    std::string text = utf8FromCp1252(d.parameters.deviceText, sizeof d.parameters.deviceText);
    page->sample("elq770_device_info", 1, ",text=\"" + labelValue(text) + "\"");
}

void gatewayFamilies(Page* page, const GatewayFigures& g) {
    page->one("elq770_mqtt_connected", "gauge", "1 while the gateway is connected to a broker", g.connected ? 1 : 0);
    page->one("elq770_mqtt_queued_messages", "gauge", "QoS 1 messages waiting for the broker",
              static_cast<double>(g.queued));
    page->one("elq770_mqtt_dropped_messages_total", "counter", "Messages dropped from the full queue",
              static_cast<double>(g.dropped));
    page->one("elq770_mqtt_reconnects_total", "counter", "Connections to a broker after the first",
              static_cast<double>(g.reconnects));
    if (g.lastPublish > 0)
        page->one("elq770_mqtt_last_publish_timestamp_seconds", "gauge", "When a broker last took a message",
                  g.lastPublish);
}

}  // namespace

bool parseListenAddress(const std::string& text, ListenAddress* address) {
    ListenAddress parsed;
    std::size_t colon = text.rfind(':');
    std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (colon != std::string::npos) {
        parsed.host = text.substr(0, colon);
        if (parsed.host.size() >= 2 && parsed.host.front() == '[' && parsed.host.back() == ']')
            parsed.host = parsed.host.substr(1, parsed.host.size() - 2);
        if (parsed.host.empty() || parsed.host.find_first_of("[]/ ") != std::string::npos) return false;
    }
    if (!allDigits(port)) return false;
    parsed.port = std::stoi(port);
    if (parsed.port < 1 || parsed.port > 65535) return false;
    *address = parsed;
    return true;
}

std::string labelValue(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '"') escaped += "\\\"";
        else if (c == '\n') escaped += "\\n";
        else escaped += c;
    }
    return escaped;
}

std::string metricsPage(const std::string& name, const DeviceFigures& device, const GatewayFigures& gateway) {
    Page page(name);
    deviceFamilies(&page, device);
    if (gateway.present) gatewayFamilies(&page, gateway);
    return page.text();
}
