#include "cli/gateway/discovery.h"

#include <nlohmann/json.hpp>

namespace {

constexpr const char* SYSTEM = "homeassistant";
constexpr const char* AVAILABLE = "{{ 'online' if value == 'online' else 'offline' }}";

struct Entity {
    const char* id;
    const char* name;
    const char* topic;     // under PREFIX/NAME/
    const char* field;     // in that topic's JSON
    const char* unit;      // "" for none
    bool measurement;      // state_class measurement
    bool diagnostic;
};

// A field that is null (a peak before its first report) renders as None,
// which Home Assistant's sensors take as unknown.
constexpr Entity ENTITIES[] = {
    {"measurement", "Measurement", "measurement", "last", "%", true, false},
    {"max_peak", "Maximum peak", "measurement", "maxPeak", "%", true, false},
    {"min_peak", "Minimum peak", "measurement", "minPeak", "%", true, false},
    {"active_limit", "Active limit", "measurement", "activeLimit", "", false, false},
    {"alarms", "Alarm words per interval", "measurement", "alarms", "", true, false},
    {"device_text", "Device text", "info", "deviceText", "", false, true},
};

std::string configTopic(const DiscoveryTarget& target, const Entity& entity) {
    return target.prefix + "/sensor/" + discoveryNode(target) + "/" + entity.id + "/config";
}

}  // namespace

bool parseDiscovery(const std::string& text, std::string* prefix) {
    std::string system = text.substr(0, text.find(':'));
    if (system != SYSTEM) return false;
    std::string given = text.size() > system.size() ? text.substr(system.size() + 1) : SYSTEM;
    if (given.empty() || given.find_first_of("+#") != std::string::npos) return false;
    *prefix = given;
    return true;
}

std::string discoveryNode(const DiscoveryTarget& target) {
    std::string node = target.topicBase;
    if (!node.empty() && node.back() == '/') node.pop_back();
    for (char& c : node) {
        bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!kept) c = '_';
    }
    return node;
}

std::vector<std::string> discoveryTopics(const DiscoveryTarget& target) {
    std::vector<std::string> topics;
    for (const Entity& entity : ENTITIES) topics.push_back(configTopic(target, entity));
    return topics;
}

std::vector<std::pair<std::string, std::string>> discoveryConfigs(const DiscoveryTarget& target,
                                                                  const std::string& deviceText) {
    std::string node = discoveryNode(target);
    nlohmann::ordered_json device = {{"identifiers", {node + " " + deviceText}}, {"name", target.name},
                                     {"model", "ELQ770"}};
    std::vector<std::pair<std::string, std::string>> configs;
    for (const Entity& entity : ENTITIES) {
        nlohmann::ordered_json config = {
            {"name", entity.name},
            {"unique_id", node + "_" + entity.id},
            {"object_id", node + "_" + entity.id},
            {"state_topic", target.topicBase + entity.topic},
            {"value_template", std::string("{{ value_json.") + entity.field + " }}"},
            {"availability", {{{"topic", target.topicBase + "status"}, {"value_template", AVAILABLE}}}},
            {"device", device}};
        if (*entity.unit != '\0') config["unit_of_measurement"] = entity.unit;
        if (entity.measurement) config["state_class"] = "measurement";
        if (entity.diagnostic) config["entity_category"] = "diagnostic";
        configs.emplace_back(configTopic(target, entity), config.dump());
    }
    return configs;
}
