// elq770ctl ports: lists the serial ports, or asks each for a device.
#include "cli/commands/command_table.h"

#include <cstdio>

#include "cli/commands/command_support.h"
#include "cli/console/exit_codes.h"
#include "cli/console/platform.h"
#include "cli/console/report.h"
#include "cli/device/device_session.h"
#include "cli/device/parameter_text.h"
#include "link/command_frames.h"
#include "link/serial_link.h"
#include "params/parameter_file.h"

namespace {

struct PortsOptions {
    bool scan = false;
    std::vector<std::string> ports;  // empty: every port found
};

// What the command line gave; a run of the tool runs one subcommand once.
PortsOptions parsed;

// One line for the port: its device's text, "-" when none answers, or why
// it would not open.
void scanPort(const std::string& name) {
    forgetDevice();
    if (!openLinkByName(name.c_str(), BAUD_RATE)) {
        std::printf("%-16s (cannot open: %s)\n", name.c_str(), systemErrorText(lastSystemError()).c_str());
        return;
    }
    bool answered = requestParameters() != 0;
    ParameterSet device = snapshotParameters(deviceParameters);
    closeLink();
    std::printf("%-16s %s\n", name.c_str(),
                answered ? utf8FromCp1252(device.deviceText, sizeof device.deviceText).c_str() : "-");
    std::fflush(stdout);  // two seconds a port: show each as it is done
}

void setupPorts(CLI::App* command) {
    command->add_flag("--scan", parsed.scan, "ask each port for a device's identification (2 s each)");
    command->add_option("PORT", parsed.ports, "the ports to list or scan instead of every port found")
        ->check(portNameCheck());
}

int runPorts(const PortsOptions& options) {
    std::vector<std::string> names = options.ports.empty() ? listSerialPorts() : options.ports;
    if (names.empty()) report("no serial ports found");
    for (const std::string& name : names) {
        if (options.scan)
            scanPort(name);
        else
            std::printf("%s\n", name.c_str());
    }
    return EXIT_DONE;
}

}  // namespace

const Command PORTS_COMMAND{"ports", "list the serial ports, or scan them for devices",
                            setupPorts, [] { return runPorts(parsed); }};
