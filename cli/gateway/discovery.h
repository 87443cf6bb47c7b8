// Home Assistant's MQTT discovery (also read by openHAB): one retained
// configuration per entity under PREFIX/sensor/NODE/ENTITY/config, pointing
// into the gateway's own topics. Main thread only; no network.
#pragma once

#include <string>
#include <utility>
#include <vector>

// "homeassistant" or "homeassistant:PREFIX" as --discovery takes it; false
// for another system, an empty prefix or one holding + or #.
bool parseDiscovery(const std::string& text, std::string* prefix);

struct DiscoveryTarget {
    std::string prefix;     // the discovery prefix, "homeassistant"
    std::string topicBase;  // the gateway's PREFIX/NAME/
    std::string name;       // --name
};

// The node id of the configurations' topics and the start of each
// unique_id: the gateway's topic prefix and name with every character
// outside [A-Za-z0-9_-] as '_' ("elq770_pump3").
std::string discoveryNode(const DiscoveryTarget& target);

// Where each configuration lies; they do not depend on the device, so that
// --discovery-remove finds them without it.
std::vector<std::string> discoveryTopics(const DiscoveryTarget& target);

// Each topic with its configuration for the device of this text: the
// measurement, both peaks, the active limit, the alarm words per interval
// and the device text. Unavailable unless status is "online", so that
// device-lost and offline both show as unavailable.
std::vector<std::pair<std::string, std::string>> discoveryConfigs(const DiscoveryTarget& target,
                                                                  const std::string& deviceText);
