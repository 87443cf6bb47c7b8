#include "cli/commands/publish.h"

// The gateway needs libmosquitto, which the Windows build does not carry.
CLI::App* setupPublish(CLI::App&, int*) { return nullptr; }

std::string publishAvailability() { return "publish (the MQTT gateway): Linux only\n\n"; }
